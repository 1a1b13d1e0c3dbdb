#include "catalogue/folder_scan.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <utility>

#include "geo/conversion.h"

namespace tavimo::catalogue {
namespace {

namespace fs = std::filesystem;

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

std::vector<std::string> ListPhotoFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  // Symbolic links to folders are not followed, so no tree can loop.
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
    const fs::directory_entry& entry = *it;
    std::error_code ignored;
    if (!HasJpgSuffix(entry.path().filename().string()) || !entry.is_regular_file(ignored)) continue;
    names.push_back(entry.path().lexically_relative(folder).generic_string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

CoordinateList ReadPhotoPosition(const exif::ExifReader& reader, geo::ScriptHost& host, const std::string& path) {
  const exif::TagRecordList records = reader.ReadTags(path);
  const std::string position =
      SignedDegrees(records, "0004", "0003", 'W') + "," + SignedDegrees(records, "0002", "0001", 'S');
  const std::string result = geo::ConvertToGcj02(host, position);
  // A position that cannot be read counts as none, so the photo shows among
  // those without one instead of nowhere.
  if (result.empty()) return {0, 0};
  return SplitCoordinates(result);
}

void ScanFolder(PhotoTables& tables, const exif::ExifReader& reader, geo::ScriptHost& host) {
  std::vector<std::string> names = ListPhotoFiles(tables.current_folder);
  tables.photo_names = names;
  std::vector<CoordinateList> table;
  table.reserve(names.size());
  PointList points;
  for (const std::string& name : names) {
    CoordinateList coordinates = ReadPhotoPosition(reader, host, tables.current_folder + name);
    if (OnMap(coordinates)) points.push_back(coordinates);
    table.push_back(std::move(coordinates));
  }
  tables.map_points.Replace(std::move(points));
  tables.photo_table = std::move(table);
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
