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

#include "catalogue/scan_job.h"
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

// A file's size and modification time.
FileStamp StampOf(const struct stat& info) {
  constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
  return {static_cast<std::int64_t>(info.st_size),
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * kNanosPerSecond + info.st_mtim.tv_nsec};
}

// A degrees text as a number; not a number for the "1.#..." texts of broken values.
double NumberOf(const std::string& text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() ? value : std::nan("");
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
  // Photos go to `found` in the order met, failures to `listing`'s report.
  TreeWalk(FolderListing& listing, const std::atomic<bool>* cancelled,
           std::vector<std::pair<std::string, FileStamp>>& found)
      : listing_(listing), cancelled_(cancelled), found_(found) {}
  TreeWalk(const TreeWalk&) = delete;
  TreeWalk& operator=(const TreeWalk&) = delete;
  ~TreeWalk() {
    for (const OpenFolder& folder : open_) ::closedir(folder.stream);
  }

  // Lists the folder open as `fd`, which the walk takes over.
  void Run(int fd) {
    if (!Enter(fd, "")) return;
    while (!open_.empty() && (cancelled_ == nullptr || !*cancelled_)) {
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
    // What it is, or for a link what it leads to, decides; its size and time go with it.
    struct stat target {};
    if (::fstatat(at, name.c_str(), &target, 0) == 0) {
      if (S_ISREG(target.st_mode)) found_.push_back({relative, StampOf(target)});
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
  const std::atomic<bool>* cancelled_;
  std::vector<std::pair<std::string, FileStamp>>& found_;
  std::vector<OpenFolder> open_;
};

bool ByName(const ReadFailure& a, const ReadFailure& b) { return a.name < b.name; }

}  // namespace

std::shared_ptr<const PointList> MapPointStore::Snapshot() const {
  std::shared_ptr<const Chunks> chunks;
  {
    const std::lock_guard lock(mutex_);
    chunks = chunks_;
  }
  if (chunks->empty()) return std::make_shared<const PointList>();
  if (chunks->size() == 1) return chunks->front();
  // Joined outside the lock; kept for the next reader unless the list changed meanwhile.
  auto joined = std::make_shared<PointList>();
  for (const auto& chunk : *chunks) joined->insert(joined->end(), chunk->begin(), chunk->end());
  std::shared_ptr<const PointList> whole = std::move(joined);
  const std::lock_guard lock(mutex_);
  if (chunks_ == chunks) chunks_ = std::make_shared<const Chunks>(Chunks{whole});
  return whole;
}

void MapPointStore::Replace(PointList points) {
  auto replacement = std::make_shared<const Chunks>(Chunks{std::make_shared<const PointList>(std::move(points))});
  std::shared_ptr<const Chunks> old;
  {
    const std::lock_guard lock(mutex_);
    old = std::exchange(chunks_, std::move(replacement));
  }
  // The old list is released here, outside the lock, unless a reader still holds it.
}

void MapPointStore::Append(PointList points) {
  if (points.empty()) return;
  auto piece = std::make_shared<const PointList>(std::move(points));
  std::shared_ptr<const Chunks> old;
  const std::lock_guard lock(mutex_);
  auto grown = std::make_shared<Chunks>(*chunks_);
  grown->push_back(std::move(piece));
  old = std::exchange(chunks_, std::move(grown));
}

FolderListing ListPhotoFiles(const std::string& folder, const std::atomic<bool>* cancelled) {
  FolderListing listing;
  const int fd = exif::OpenPath(folder, kFolderFlags);
  if (fd < 0) {
    listing.report.folder_gone = Vanished(errno);
    listing.report.folder_error = exif::SystemErrorText(errno);
    return listing;
  }
  std::vector<std::pair<std::string, FileStamp>> found;
  TreeWalk(listing, cancelled, found).Run(fd);
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  listing.names.reserve(found.size());
  listing.stamps.reserve(found.size());
  for (auto& [name, stamp] : found) {
    listing.names.push_back(std::move(name));
    listing.stamps.push_back(stamp);
  }
  std::sort(listing.report.failures.begin(), listing.report.failures.end(), ByName);
  return listing;
}

PhotoFacts ReadPhotoFacts(const exif::ExifReader& reader, geo::ScriptHost& host, const exif::ReadOnlyFile& photo) {
  PhotoFacts facts;
  const exif::TagRecordList records = reader.ReadTags(photo);
  const std::string lng = SignedDegrees(records, "0004", "0003", 'W');
  const std::string lat = SignedDegrees(records, "0002", "0001", 'S');
  const std::string result = geo::ConvertToGcj02(host, lng + "," + lat);
  // A position that cannot be read counts as none, so the photo shows among
  // those without one instead of nowhere.
  const CoordinateList gcj02 = result.empty() ? CoordinateList{0, 0} : SplitCoordinates(result);
  facts.gcj02 = {gcj02.empty() ? 0 : gcj02[0], gcj02.size() < 2 ? 0 : gcj02[1]};
  facts.wgs84 = {NumberOf(lng), NumberOf(lat)};
  facts.orientation = static_cast<std::uint8_t>(exif::OrientationOf(records));
  facts.has_thumbnail = exif::IndexOf(records, "0201") >= 0 && exif::IndexOf(records, "0202") >= 0;
  if (photo.Status() != exif::FileStatus::kOk) {
    facts.status = PhotoStatus::kUnreadable;
  } else if (records.records.empty()) {
    facts.status = PhotoStatus::kNoExif;
  } else if (OnMap(gcj02)) {
    facts.status = PhotoStatus::kLocated;
  } else if (result.empty() || lng.find('#') != std::string::npos || lat.find('#') != std::string::npos) {
    facts.status = PhotoStatus::kGpsUnreadable;
  } else {
    facts.status = PhotoStatus::kNoGps;
  }
  return facts;
}

CoordinateList ReadPhotoPosition(const exif::ExifReader& reader, geo::ScriptHost& host,
                                 const exif::ReadOnlyFile& photo) {
  const PhotoFacts facts = ReadPhotoFacts(reader, host, photo);
  return {facts.gcj02.lng, facts.gcj02.lat};
}

ScanReport ScanListedPhotos(PhotoTables& tables, FolderListing listing, const exif::ExifReader& reader,
                            geo::ScriptHost& host) {
  auto shared = std::make_shared<const FolderListing>(std::move(listing));
  TablesBuilder builder(tables, shared);
  std::vector<PhotoResult> results;
  results.reserve(shared->names.size());
  for (std::uint32_t id = 0; id < shared->names.size(); ++id) {
    results.push_back(ReadListedPhoto(reader, host, tables.current_folder, id, shared->names[id]));
  }
  builder.Add(std::move(results));
  builder.Publish();
  return builder.Report();
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
