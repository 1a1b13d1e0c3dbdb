#include "exif/exif_reader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <set>

#include "exif/decimal_text.h"

namespace tavimo::exif {
namespace {

constexpr std::string_view kMarker("Exif\0\0", 6);
// The marker's first occurrence decides, so a file is searched head first and
// further only while the marker has not turned up, up to kSearchBytes: a
// JPEG's EXIF block stands among its first segments, and a file of gigabytes
// that is no photo must not be read to its end.
constexpr std::int64_t kHeadBytes = 16 * 1024;
constexpr std::int64_t kChunkBytes = 256 * 1024;
constexpr std::int64_t kSearchBytes = 16 * 1024 * 1024;
// An EXIF block, thumbnail included, fits in one APP1 segment of 64 KiB; a
// thumbnail said to be longer is cut there.
constexpr std::int64_t kMaxThumbnailBytes = 64 * 1024;
// A well-formed block holds a handful of directories whose values do not
// overlap. Crafted blocks can chain thousands of overlapping directories or
// point thousands of entries at the same 64 KiB; these bounds keep such a
// walk to a few megabytes instead of gigabytes.
constexpr int kMaxDirectories = 64;
constexpr std::int64_t kMaxValueBytes = 1 << 20;

// Positions are 1-based, as in the block's description; a start past the end
// or a length of 0 gives nothing, a negative length runs to the end.
std::string_view BufferRange(std::string_view bytes, std::int64_t start, std::int64_t length) {
  const auto size = static_cast<std::int64_t>(bytes.size());
  if (start < 1 || start > size || length == 0) return {};
  const std::int64_t available = size - start + 1;
  const std::int64_t take = length < 0 ? available : std::min(length, available);
  return bytes.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(take));
}

// Entry and value-area reads: a start below 1 counts as 1, a negative length
// gives nothing.
std::string_view AreaRange(std::string_view bytes, std::int64_t start, std::int64_t length) {
  if (length < 0) return {};
  return BufferRange(bytes, std::max<std::int64_t>(start, 1), length);
}

std::string HexTag(std::int64_t tag) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(4, '0');
  for (int i = 3; i >= 0; --i) {
    out[static_cast<std::size_t>(i)] = kDigits[tag & 0xF];
    tag >>= 4;
  }
  return out;
}

// Bytes already in memory, behind the same interface as ReadOnlyFile.
class MemoryBytes {
 public:
  explicit MemoryBytes(std::string_view bytes) : bytes_(bytes) {}
  std::int64_t Size() const { return static_cast<std::int64_t>(bytes_.size()); }
  std::string Read(std::int64_t offset, std::int64_t length) const {
    if (offset < 0 || offset >= Size() || length <= 0) return {};
    return std::string(bytes_.substr(static_cast<std::size_t>(offset),
                                     static_cast<std::size_t>(std::min(length, Size() - offset))));
  }

 private:
  std::string_view bytes_;
};

// A run of the file's bytes starting at 0-based `start`.
struct Window {
  std::string bytes;
  std::int64_t start = 0;
};

// 0-based position of the first marker within the file's first kSearchBytes,
// or -1. Reads the head first and further chunks only while the marker has
// not turned up; `window` ends up holding the bytes around the marker.
template <typename Bytes>
std::int64_t FindMarker(const Bytes& file, Window& window) {
  window.bytes = file.Read(0, kHeadBytes);
  window.start = 0;
  while (true) {
    const std::size_t found = window.bytes.find(kMarker);
    if (found != std::string::npos) return window.start + static_cast<std::int64_t>(found);
    const std::int64_t end = window.start + static_cast<std::int64_t>(window.bytes.size());
    if (end >= kSearchBytes) return -1;
    std::string more = file.Read(end, std::min(kChunkBytes, kSearchBytes - end));
    if (more.empty()) return -1;
    // Keep the last five bytes in view: a marker may straddle two reads.
    const std::size_t keep = std::min(window.bytes.size(), kMarker.size() - 1);
    window.bytes.erase(0, window.bytes.size() - keep);
    window.start = end - static_cast<std::int64_t>(keep);
    window.bytes += more;
  }
}

// The bytes of [offset, offset + length) of the file, from the window where it
// holds them, else read; cut at the end of the file.
template <typename Bytes>
std::string ReadVia(const Bytes& file, const Window& window, std::int64_t offset,
                    std::int64_t length) {
  const std::int64_t window_end = window.start + static_cast<std::int64_t>(window.bytes.size());
  if (offset >= window.start && offset + length <= window_end) {
    return window.bytes.substr(static_cast<std::size_t>(offset - window.start),
                               static_cast<std::size_t>(length));
  }
  return file.Read(offset, length);
}

struct Block {
  std::string tiff;  // the APP1 segment without its length field and marker
  double off = 5;    // 1-based file position of the TIFF header
};

template <typename Bytes>
Block FindBlock(const Bytes& file) {
  Block block;
  Window window;
  const std::int64_t marker = FindMarker(file, window);
  if (marker < 0) return block;
  block.off = static_cast<double>(marker + 7);
  // A marker in the first two bytes leaves no room for the length field: no block.
  if (marker < 2) return block;
  const std::string length_field = ReadVia(file, window, marker - 2, 2);
  const std::int64_t segment_length = ExifReader::ToInteger(length_field, false);
  // The segment counts its length field; what follows the 8 bytes of length
  // and marker is the TIFF data.
  if (segment_length > 8) block.tiff = ReadVia(file, window, marker + 6, segment_length - 8);
  return block;
}

// A directory position already read, or beyond the cap, reads as empty.
class DirectoryGuard {
 public:
  bool Admit(std::int64_t position) {
    if (static_cast<int>(seen_.size()) >= kMaxDirectories) return false;
    return seen_.insert(position).second;
  }

 private:
  std::set<std::int64_t> seen_;
};

std::vector<TagRecord> DecodeWithinBudget(std::string_view entries, std::string_view area,
                                          std::int64_t area_start, bool little_endian,
                                          std::int64_t& budget);

// Buffer position of a TIFF offset. Offsets are 32-bit; one of 2^31 or more
// lies past the end of any block.
std::int64_t PositionOf(std::int64_t offset) {
  constexpr std::int64_t kPastEnd = std::int64_t{1} << 32;
  const auto low = static_cast<std::uint32_t>(offset);
  return low >= 0x80000000U ? kPastEnd : std::int64_t{low} + 1;
}

TagRecordList Walk(std::string_view tiff, double off, const std::vector<std::string>& pointer_tags) {
  TagRecordList list;
  list.off = off;
  list.byteorder = !(tiff.size() >= 2 && tiff[0] == 'M' && tiff[1] == 'M');
  const bool le = list.byteorder;
  std::size_t queue_next = 0;
  DirectoryGuard guard;
  std::int64_t budget = kMaxValueBytes;

  std::int64_t cur = PositionOf(ExifReader::ToInteger(BufferRange(tiff, 5, 4), le));
  while (true) {
    std::int64_t next = 0;
    if (guard.Admit(cur)) {
      const std::int64_t n = ExifReader::ToInteger(BufferRange(tiff, cur, 2), le);
      const std::string_view entries = BufferRange(tiff, cur + 2, 12 * n);
      const std::int64_t p = cur + 2 + 12 * n;
      next = ExifReader::ToInteger(BufferRange(tiff, p, 4), le);
      const std::string_view area = BufferRange(tiff, p + 4, (next + 1) - (p + 4));
      auto records = DecodeWithinBudget(entries, area, p + 4, le, budget);
      list.records.insert(list.records.end(), std::make_move_iterator(records.begin()),
                          std::make_move_iterator(records.end()));
    }
    cur = PositionOf(next);
    if (next != 0) continue;
    if (queue_next >= pointer_tags.size()) break;
    const std::string& wanted = pointer_tags[queue_next++];
    bool matched = false;
    for (const TagRecord& record : list.records) {
      if (record.tag == wanted) {
        cur = PositionOf(ExifReader::ToInteger(record.value, le));
        matched = true;
      }
    }
    if (!matched) break;
  }
  return list;
}

std::vector<TagRecord> DecodeWithinBudget(std::string_view entries, std::string_view area,
                                          std::int64_t area_start, bool little_endian,
                                          std::int64_t& budget) {
  std::vector<TagRecord> records;
  const std::size_t count = entries.size() / 12;
  records.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view entry = entries.substr(12 * i, 12);
    TagRecord record;
    record.tag = HexTag(ExifReader::ToInteger(entry.substr(0, 2), little_endian));
    record.type = static_cast<std::int32_t>(ExifReader::ToInteger(entry.substr(2, 2), little_endian));
    record.num = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(ExifReader::ToInteger(entry.substr(4, 4), little_endian)));
    const std::int64_t total = std::int64_t{record.num} * ExifReader::UnitSize(record.type);
    if (total > 4) {
      const std::int64_t offset = ExifReader::ToInteger(entry.substr(8, 4), little_endian);
      const std::string_view value = AreaRange(area, offset - area_start + 2, total);
      const auto take = std::min<std::int64_t>(static_cast<std::int64_t>(value.size()), budget);
      record.value.assign(value.substr(0, static_cast<std::size_t>(take)));
      budget -= take;
    } else {
      record.value.assign(entry.substr(8, 4));
    }
    records.push_back(std::move(record));
  }
  return records;
}

template <typename Bytes>
TagRecordList ReadFrom(const Bytes& file, const std::vector<std::string>& pointer_tags) {
  const Block block = FindBlock(file);
  return Walk(block.tiff, block.off, pointer_tags);
}

// The thumbnail named by the records: `length` bytes at off + start, where
// start and length are the signed values of 0201 and 0202; a negative length
// runs to the end of the file. Never more than kMaxThumbnailBytes.
template <typename Bytes>
std::string ThumbnailFrom(const Bytes& file, const TagRecordList& list) {
  const bool le = list.byteorder;
  const auto start = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(ExifReader::ToInteger(ValueAt(list, IndexOf(list, "0201")), le)));
  const auto length = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(ExifReader::ToInteger(ValueAt(list, IndexOf(list, "0202")), le)));
  const std::int64_t position = static_cast<std::int64_t>(list.off) + start;  // 1-based
  if (position < 1 || length == 0) return {};
  const std::int64_t offset = position - 1;
  return file.Read(offset, std::min(length < 0 ? file.Size() - offset : std::int64_t{length}, kMaxThumbnailBytes));
}

// Quotient of two parts of a rational, as IEEE division gives it, without
// dividing by zero in C++.
double Quotient(double numerator, double denominator) {
  if (denominator != 0) return numerator / denominator;
  if (numerator == 0) return std::numeric_limits<double>::quiet_NaN();
  return numerator > 0 ? std::numeric_limits<double>::infinity()
                       : -std::numeric_limits<double>::infinity();
}

}  // namespace

std::int64_t Count(const TagRecordList& list) {
  return static_cast<std::int64_t>(list.records.size()) + 1;
}

std::int64_t IndexOf(const TagRecordList& list, std::string_view tag) {
  for (std::size_t i = 0; i < list.records.size(); ++i) {
    if (list.records[i].tag == tag) return static_cast<std::int64_t>(i) + 1;
  }
  return -1;
}

const TagRecord* RecordAt(const TagRecordList& list, std::int64_t position) {
  if (position < 1 || position > static_cast<std::int64_t>(list.records.size())) return nullptr;
  return &list.records[static_cast<std::size_t>(position - 1)];
}

std::string_view ValueAt(const TagRecordList& list, std::int64_t position) {
  const TagRecord* record = RecordAt(list, position);
  return record ? std::string_view(record->value) : std::string_view();
}

std::int32_t TypeAt(const TagRecordList& list, std::int64_t position) {
  const TagRecord* record = RecordAt(list, position);
  return record ? record->type : 0;
}

int OrientationOf(const TagRecordList& list) {
  constexpr std::string_view kOrientationTag = "0112";
  const std::int64_t at = IndexOf(list, kOrientationTag);
  if (at < 0) return 1;
  const auto value = ExifReader::ToInteger(ValueAt(list, at).substr(0, 2), list.byteorder);
  return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
}

std::string DegreesTextOf(const TagRecordList& list, std::string_view tag) {
  const std::int64_t at = IndexOf(list, tag);
  return ExifReader::ToDegreesText(ValueAt(list, at), list.byteorder, at < 0 ? kTypeRational : TypeAt(list, at));
}

TagRecordList ExifReader::ReadTags(const std::string& path) const { return ReadTags(ReadOnlyFile(path)); }

TagRecordList ExifReader::ReadTags(const ReadOnlyFile& file) const { return ReadFrom(file, pointer_tags_); }

TagRecordList ExifReader::ReadTagsFromBytes(std::string_view file) const {
  return ReadFrom(MemoryBytes(file), pointer_tags_);
}

void ExifReader::SetPointerTags(std::vector<std::string> tags) { pointer_tags_ = std::move(tags); }

const std::vector<std::string>& ExifReader::PointerTags() const { return pointer_tags_; }

std::int64_t ExifReader::ToInteger(std::string_view bytes, bool little_endian) {
  // Only the last 8 bytes of the byte sequence, most significant first, count:
  // the final 8 read big-endian, the first 8 read little-endian.
  const std::size_t count = std::min<std::size_t>(bytes.size(), 8);
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = little_endian ? count - 1 - i : bytes.size() - count + i;
    value = (value << 8) | static_cast<unsigned char>(bytes[at]);
  }
  return static_cast<std::int64_t>(value);
}

std::string ExifReader::ReverseBytes(std::string_view bytes) {
  return std::string(bytes.rbegin(), bytes.rend());
}

std::vector<TagRecord> ExifReader::DecodeDirectory(std::string_view entries, std::string_view area,
                                                   std::int64_t area_start, bool little_endian) {
  std::int64_t unbounded = std::numeric_limits<std::int64_t>::max();
  return DecodeWithinBudget(entries, area, area_start, little_endian, unbounded);
}

int ExifReader::UnitSize(std::int64_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

std::string ExifReader::ToDegreesText(std::string_view value, bool little_endian,
                                      std::int64_t type) {
  const std::size_t count = std::min<std::size_t>(value.size() / 4, 6);
  if (count == 0) return "0";
  double numbers[6] = {};
  for (std::size_t i = 0; i < count; ++i) {
    const auto raw = static_cast<std::uint32_t>(ToInteger(value.substr(4 * i, 4), little_endian));
    // RATIONAL parts are unsigned; SRATIONAL and anything else read signed.
    numbers[i] = type == kTypeRational ? static_cast<double>(raw)
                                       : static_cast<double>(static_cast<std::int32_t>(raw));
  }
  // Cameras write 0/0 for a minutes or seconds part they do not use; a part
  // that is missing altogether stays a broken value.
  const auto part = [&](std::size_t i, bool unused_is_zero) {
    const bool stored = count >= 2 * i + 2;
    if (unused_is_zero && stored && numbers[2 * i] == 0 && numbers[2 * i + 1] == 0) return 0.0;
    return Quotient(numbers[2 * i], numbers[2 * i + 1]);
  };
  const double d = part(0, false);
  const double m = part(1, true);
  const double s = part(2, true);
  double degrees = ((s / 60) + m) / 60 + d;
  // Every not-a-number here comes from an invalid operation (0/0, inf - inf).
  if (std::isnan(degrees)) degrees = -std::numeric_limits<double>::quiet_NaN();
  return DecimalText(degrees);
}

std::string ExifReader::ReadThumbnail(const std::string& path) const {
  const ReadOnlyFile file(path);
  return ThumbnailFrom(file, ReadFrom(file, pointer_tags_));
}

std::string ExifReader::ReadThumbnail(const std::string& path, const TagRecordList& records) const {
  return ReadThumbnail(ReadOnlyFile(path), records);
}

std::string ExifReader::ReadThumbnail(const ReadOnlyFile& file, const TagRecordList& records) const {
  return ThumbnailFrom(file, records);
}

std::string ExifReader::ReadThumbnailFromBytes(std::string_view file) const {
  const MemoryBytes bytes(file);
  return ThumbnailFrom(bytes, ReadFrom(bytes, pointer_tags_));
}

}  // namespace tavimo::exif
