#include "app/inspect.h"

#include "app/json_text.h"

namespace tavimo::app {
namespace {

void AppendHex(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const std::size_t at = out.size();
  out.resize(at + 2 * bytes.size());
  char* cursor = out.data() + at;
  for (unsigned char c : bytes) {
    *cursor++ = kDigits[c >> 4];
    *cursor++ = kDigits[c & 0xF];
  }
}

}  // namespace

std::string InspectLine(const exif::ExifReader& reader, const std::string& path) {
  std::string out;
  AppendInspectLine(reader, path, out);
  return out;
}

void AppendInspectLine(const exif::ExifReader& reader, const std::string& path, std::string& out) {
  const exif::TagRecordList list = reader.ReadTags(path);
  // Every field but the path is digits, hex or a degrees text, so the line is
  // written directly; thousands of files are inspected at a time.
  out += R"({"file":)";
  // A name that is not UTF-8 keeps its bytes as escapes.
  AppendJsonString(out, path);
  out += list.byteorder ? R"(,"byteorder":true,"off":)" : R"(,"byteorder":false,"off":)";
  out += std::to_string(static_cast<std::int64_t>(list.off));
  out += R"(,"records":[)";
  std::size_t value_bytes = 0;
  for (const exif::TagRecord& record : list.records) value_bytes += record.value.size();
  out.reserve(out.size() + list.records.size() * 48 + value_bytes * 2 + 128);
  for (std::size_t i = 0; i < list.records.size(); ++i) {
    const exif::TagRecord& record = list.records[i];
    out += i == 0 ? R"({"tag":")" : R"(,{"tag":")";
    out += record.tag;
    out += R"(","type":)";
    out += std::to_string(record.type);
    out += R"(,"num":)";
    out += std::to_string(record.num);
    out += R"(,"value":")";
    AppendHex(out, record.value);
    out += R"("})";
  }
  out += R"(],"longitude":")";
  out += exif::DegreesTextOf(list, "0004");
  out += R"(","latitude":")";
  out += exif::DegreesTextOf(list, "0002");
  out += R"(","thumbnail":)";
  out += std::to_string(reader.ReadThumbnail(path, list).size());
  out += '}';
}

}  // namespace tavimo::app
