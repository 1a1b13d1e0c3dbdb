#include "app/inspect.h"

#include <nlohmann/json.hpp>

namespace tavimo::app {
namespace {

std::string UpperHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

std::string DegreesOf(const exif::TagRecordList& list, std::string_view tag) {
  const std::int64_t at = exif::IndexOf(list, tag);
  return exif::ExifReader::ToDegreesText(exif::ValueAt(list, at), list.byteorder,
                                         at < 0 ? exif::kTypeRational : exif::TypeAt(list, at));
}

}  // namespace

std::string InspectLine(const exif::ExifReader& reader, const std::string& path) {
  const exif::TagRecordList list = reader.ReadTags(path);
  nlohmann::ordered_json records = nlohmann::ordered_json::array();
  for (const exif::TagRecord& record : list.records) {
    records.push_back({{"tag", record.tag},
                       {"type", record.type},
                       {"num", record.num},
                       {"value", UpperHex(record.value)}});
  }
  const nlohmann::ordered_json line = {
      {"file", path},
      {"byteorder", list.byteorder},
      {"off", static_cast<std::int64_t>(list.off)},
      {"records", std::move(records)},
      {"longitude", DegreesOf(list, "0004")},
      {"latitude", DegreesOf(list, "0002")},
      {"thumbnail", reader.ReadThumbnail(path).size()},
  };
  // Paths are bytes: a name that is not UTF-8 is shown with U+FFFD, not refused.
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace tavimo::app
