#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "exif/file_access.h"

namespace tavimo::exif {

// TIFF field types the reader names.
inline constexpr int kTypeRational = 5;
inline constexpr int kTypeSRational = 10;

// One directory entry: tag as four upper-case hex digits, the raw type and
// count, and the value's bytes in the block's byte order.
struct TagRecord {
  std::string tag;
  std::int32_t type = 0;
  std::int32_t num = 0;
  std::string value;
};

// The records of one EXIF block in walk order, plus the trailer: the block's
// byte order and the 1-based file position of its TIFF header.
struct TagRecordList {
  std::vector<TagRecord> records;
  bool byteorder = true;
  double off = 5;
};

// Number of items including the trailer, which sits at the last position.
std::int64_t Count(const TagRecordList& list);
// 1-based position of the first record carrying `tag`; -1 when none does.
std::int64_t IndexOf(const TagRecordList& list, std::string_view tag);
// The record at 1-based `position`; nullptr outside the records.
const TagRecord* RecordAt(const TagRecordList& list, std::int64_t position);
// The value at 1-based `position`; empty outside the records.
std::string_view ValueAt(const TagRecordList& list, std::int64_t position);
// The type at 1-based `position`; 0 outside the records.
std::int32_t TypeAt(const TagRecordList& list, std::int64_t position);
// ToDegreesText of the first record carrying `tag`, read by that record's
// type; "0" when no record carries it.
std::string DegreesTextOf(const TagRecordList& list, std::string_view tag);

// The photo's EXIF orientation (tag 0112 of IFD0), 1 to 8; 1 when it has
// none or an out-of-range one.
int OrientationOf(const TagRecordList& list);

class ExifReader {
 public:
  // Records of the file's EXIF block, found by the first "Exif\0\0" marker in
  // its first 16 MiB; only the trailer ("off" 5) when the file cannot be read
  // or has no block there. FIFOs and devices are not read.
  TagRecordList ReadTags(const std::string& path) const;
  // The same for a file already open; its status then tells whether a read failed.
  TagRecordList ReadTags(const ReadOnlyFile& file) const;
  // The same walk over bytes already in memory; only the trailer when none.
  TagRecordList ReadTagsFromBytes(std::string_view file) const;
  // The tags whose values lead to sub-directories, tried in this order.
  void SetPointerTags(std::vector<std::string> tags);
  const std::vector<std::string>& PointerTags() const;

  // Bytes as an integer (last 8 count); 0 for no bytes.
  static std::int64_t ToInteger(std::string_view bytes, bool little_endian);
  // Bytes in reverse order; empty for empty.
  static std::string ReverseBytes(std::string_view bytes);
  // Records of one directory's whole entries; empty for no whole entry.
  static std::vector<TagRecord> DecodeDirectory(std::string_view entries, std::string_view area,
                                                std::int64_t area_start, bool little_endian);
  // Bytes per unit of a TIFF field type; 0 for an unknown type.
  static int UnitSize(std::int64_t type);
  // Decimal degrees of a GPS degrees/minutes/seconds value; "0" for a value
  // under 4 bytes, a non-number text ("-1.#IND", "1.#INF") for a broken one.
  static std::string ToDegreesText(std::string_view value, bool little_endian,
                                   std::int64_t type = kTypeRational);
  // The embedded thumbnail's bytes (tags 0201/0202), at most 64 KiB (an EXIF
  // block's room); empty when there is none.
  std::string ReadThumbnail(const std::string& path) const;
  // The same, from the records ReadTags already gave for `path`; empty when none.
  std::string ReadThumbnail(const std::string& path, const TagRecordList& records) const;
  // The same for a file already open.
  std::string ReadThumbnail(const ReadOnlyFile& file, const TagRecordList& records) const;
  // The same for a file already in memory; empty when there is none.
  std::string ReadThumbnailFromBytes(std::string_view file) const;

 private:
  std::vector<std::string> pointer_tags_;
};

}  // namespace tavimo::exif
