#include "catalogue/folder_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <utility>

#include "geo/conversion.h"

namespace tavimo::catalogue {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

bool HasJpgSuffix(const std::string& name) {
  if (name.size() < 4) return false;
  const std::string_view tail = std::string_view(name).substr(name.size() - 4);
  return tail[0] == '.' && (tail[1] | 0x20) == 'j' && (tail[2] | 0x20) == 'p' && (tail[3] | 0x20) == 'g';
}

// The degrees text of the first record carrying `tag`, negated when the
// first `reference` record begins with `negative` and the text is a finite,
// non-zero number ("0" and the "1.#..." texts stay as they are).
std::string SignedDegrees(const exif::TagRecordList& list, std::string_view tag, std::string_view reference,
                          char negative) {
  std::string text = exif::DegreesTextOf(list, tag);
  const std::string_view ref = exif::ValueAt(list, exif::IndexOf(list, reference));
  if (ref.empty() || ref[0] != negative || text == "0" || text.find('#') != std::string::npos) return text;
  return text[0] == '-' ? text.substr(1) : "-" + text;
}

CoordinateList SplitCoordinates(const std::string& text) {
  CoordinateList coordinates;
  std::size_t from = 0;
  while (from <= text.size()) {
    const std::size_t comma = std::min(text.find(',', from), text.size());
    double value = 0;
    // The pieces are the engine's number texts; anything else reads as 0.
    const auto [end, error] = std::from_chars(text.data() + from, text.data() + comma, value);
    coordinates.push_back(error == std::errc() && end == text.data() + comma ? value : 0.0);
    from = comma + 1;
  }
  return coordinates;
}

// An error that means the thing is no longer there (or was replaced by a
// file where a folder was): nothing to report, it has left the folder.
bool Vanished(int error) { return error == ENOENT || error == ENOTDIR; }

// A folder whose entries are being read, and its path relative to the
// scanned folder: empty, or ending with "/".
struct OpenFolder {
  DIR* stream = nullptr;
  std::string prefix;
};

// Walks a folder tree depth first, one descriptor per level, each folder
// opened relative to the one above it.
class TreeWalk {
 public:
  explicit TreeWalk(FolderListing& listing) : listing_(listing) {}
  TreeWalk(const TreeWalk&) = delete;
  TreeWalk& operator=(const TreeWalk&) = delete;
  ~TreeWalk() {
    for (const OpenFolder& folder : open_) ::closedir(folder.stream);
  }

  // Lists the folder open as `fd`, which the walk takes over.
  void Run(int fd) {
    if (!Enter(fd, "")) return;
    while (!open_.empty()) {
      errno = 0;
      const dirent* entry = ::readdir(open_.back().stream);
      if (entry != nullptr) {
        Visit(*entry);
        continue;
      }
      if (errno != 0) Fail(open_.back().prefix, errno);
      ::closedir(open_.back().stream);
      open_.pop_back();
    }
  }

 private:
  bool Enter(int fd, std::string prefix) {
    DIR* stream = ::fdopendir(fd);
    if (stream == nullptr) {
      Fail(prefix, errno);
      ::close(fd);
      return false;
    }
    open_.push_back({stream, std::move(prefix)});
    return true;
  }

  void Visit(const dirent& entry) {
    const std::string name = entry.d_name;
    if (name == "." || name == "..") return;
    const int at = ::dirfd(open_.back().stream);
    const std::string relative = open_.back().prefix + name;
    unsigned char type = entry.d_type;
    if (type == DT_UNKNOWN) {
      struct stat info {};
      if (::fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        type = static_cast<unsigned char>(IFTODT(info.st_mode));
      }
    }
    if (type == DT_DIR) {
      // Symbolic links to folders are not followed, so no tree can loop.
      const int fd = ::openat(at, name.c_str(), kFolderFlags | O_NOFOLLOW);
      if (fd >= 0) {
        Enter(fd, relative + "/");
      } else if (!Vanished(errno)) {
        Fail(relative + "/", errno);
      }
      return;
    }
    if (!HasJpgSuffix(name)) return;
    if (type == DT_REG) {
      listing_.names.push_back(relative);
      return;
    }
    // A link, or an entry whose kind could not be looked up: what it leads to decides.
    struct stat target {};
    if (::fstatat(at, name.c_str(), &target, 0) == 0) {
      if (S_ISREG(target.st_mode)) listing_.names.push_back(relative);
      return;
    }
    const int error = errno;
    struct stat self {};
    // A name that is itself gone has left the folder; a broken link has not.
    if (::fstatat(at, name.c_str(), &self, AT_SYMLINK_NOFOLLOW) != 0 && Vanished(errno)) return;
    Fail(relative, error);
  }

  void Fail(const std::string& relative, int error) {
    if (relative.empty()) {
      listing_.report.folder_error = exif::SystemErrorText(error);
    } else {
      listing_.report.failures.push_back({relative, exif::SystemErrorText(error)});
    }
  }

  FolderListing& listing_;
  std::vector<OpenFolder> open_;
};

bool ByName(const ReadFailure& a, const ReadFailure& b) { return a.name < b.name; }

}  // namespace

std::shared_ptr<const PointList> MapPointStore::Snapshot() const {
  const std::lock_guard lock(mutex_);
  return points_;
}

void MapPointStore::Replace(PointList points) {
  auto replacement = std::make_shared<const PointList>(std::move(points));
  std::shared_ptr<const PointList> old;
  {
    const std::lock_guard lock(mutex_);
    old = std::exchange(points_, std::move(replacement));
  }
  // The old list is released here, outside the lock, unless a reader still holds it.
}

FolderListing ListPhotoFiles(const std::string& folder) {
  FolderListing listing;
  const int fd = exif::OpenPath(folder, kFolderFlags);
  if (fd < 0) {
    listing.report.folder_gone = Vanished(errno);
    listing.report.folder_error = exif::SystemErrorText(errno);
    return listing;
  }
  TreeWalk(listing).Run(fd);
  std::sort(listing.names.begin(), listing.names.end());
  std::sort(listing.report.failures.begin(), listing.report.failures.end(), ByName);
  return listing;
}

CoordinateList ReadPhotoPosition(const exif::ExifReader& reader, geo::ScriptHost& host,
                                 const exif::ReadOnlyFile& photo) {
  const exif::TagRecordList records = reader.ReadTags(photo);
  const std::string position =
      SignedDegrees(records, "0004", "0003", 'W') + "," + SignedDegrees(records, "0002", "0001", 'S');
  const std::string result = geo::ConvertToGcj02(host, position);
  // A position that cannot be read counts as none, so the photo shows among
  // those without one instead of nowhere.
  if (result.empty()) return {0, 0};
  return SplitCoordinates(result);
}

ScanReport ScanListedPhotos(PhotoTables& tables, FolderListing listing, const exif::ExifReader& reader,
                            geo::ScriptHost& host) {
  ScanReport report = std::move(listing.report);
  std::vector<std::string> names;
  std::vector<CoordinateList> table;
  names.reserve(listing.names.size());
  table.reserve(listing.names.size());
  PointList points;
  for (std::string& name : listing.names) {
    const exif::ReadOnlyFile photo(tables.current_folder + name);
    // Removed, or replaced by something that is no photo, since it was listed.
    if (photo.Status() == exif::FileStatus::kMissing || photo.Status() == exif::FileStatus::kNotRegular) continue;
    CoordinateList coordinates = ReadPhotoPosition(reader, host, photo);
    if (photo.Status() != exif::FileStatus::kOk) report.failures.push_back({name, photo.Reason()});
    if (OnMap(coordinates)) points.push_back(coordinates);
    names.push_back(std::move(name));
    table.push_back(std::move(coordinates));
  }
  std::sort(report.failures.begin(), report.failures.end(), ByName);
  tables.photo_names = std::move(names);
  tables.map_points.Replace(std::move(points));
  tables.photo_table = std::move(table);
  return report;
}

ScanReport ScanFolder(PhotoTables& tables, const exif::ExifReader& reader, geo::ScriptHost& host) {
  return ScanListedPhotos(tables, ListPhotoFiles(tables.current_folder), reader, host);
}

bool OnMap(const CoordinateList& coordinates) {
  constexpr double kThreshold = 1e-7;
  return !coordinates.empty() && std::fabs(coordinates[0]) > kThreshold;
}

std::string CoordinateText(double value) { return value == 0 ? "0.0" : geo::EcmaNumberText(value); }

std::string CoordinateTextAt(const CoordinateList& coordinates, std::size_t index) {
  return index < coordinates.size() ? CoordinateText(coordinates[index]) : std::string();
}

}  // namespace tavimo::catalogue
