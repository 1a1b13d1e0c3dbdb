#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tavimo::testing {

enum class Order { kLittle, kBig };

// One directory entry. A value longer than 4 bytes goes to the directory's
// value area and the entry points at it; `field`, when set, is written as the
// raw 4-byte value field instead (offsets that point anywhere).
struct Entry {
  std::uint16_t tag = 0;
  std::uint16_t type = 0;
  std::uint32_t num = 0;
  std::string value;
  std::optional<std::uint32_t> field;
};

// Writes a TIFF block byte by byte in either byte order.
class TiffWriter {
 public:
  // Starts with the header: "II*\0" or "MM\0*" and the offset of IFD0.
  explicit TiffWriter(Order order, std::uint32_t ifd0_offset = 8);

  std::string U16(std::uint16_t value) const;
  std::string U32(std::uint32_t value) const;
  std::string Rationals(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> parts) const;

  Entry Long(std::uint16_t tag, std::uint32_t value) const;
  Entry Short(std::uint16_t tag, std::uint16_t value) const;
  Entry Rational3(std::uint16_t tag,
                  std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> parts) const;
  static Entry Ascii(std::uint16_t tag, std::string_view text);

  // Writes a directory at the current end: count, entries, next offset, then
  // the values that do not fit inline. Returns the directory's offset.
  std::uint32_t AddDirectory(const std::vector<Entry>& entries, std::uint32_t next = 0);
  // Offsets of a directory's next-directory field and of entry i's value field.
  static std::uint32_t NextField(std::uint32_t directory, std::size_t entry_count);
  static std::uint32_t ValueField(std::uint32_t directory, std::size_t entry);

  void Put32(std::uint32_t at, std::uint32_t value);
  void Append(std::string_view raw);
  std::uint32_t Size() const;
  const std::string& Bytes() const;

 private:
  Order order_;
  std::string bytes_;
};

// A JPEG stream: start of image, an APP1 segment holding "Exif\0\0" and the
// block (its length field counting itself), then `rest` or a tiny image body.
std::string JpegWithExif(std::string_view tiff, std::string_view rest = {});
// A JPEG stream with a JFIF segment and no EXIF block.
std::string JpegWithoutExif();

// A position in signed decimal degrees, written as degrees, minutes and
// seconds with N/S and E/W references.
struct GpsFix {
  double longitude = 0;
  double latitude = 0;
};

// A camera-like block: IFD0 (Make, GPS and Exif pointers), IFD1 with the
// thumbnail when there is one, the GPS directory when there is a fix, and an
// Exif directory with the time taken.
struct PhotoSpec {
  Order order = Order::kLittle;
  std::optional<GpsFix> gps;
  std::string thumbnail;  // a complete JPEG stream, or empty for none
  int orientation = 0;    // EXIF orientation (tag 0112) in IFD0; 0 for none
};
std::string PhotoBlock(const PhotoSpec& spec);

// The degrees/minutes/seconds rationals (seconds in 1/10000) of |degrees|.
std::vector<std::pair<std::uint32_t, std::uint32_t>> ToDms(double degrees);

// A scratch folder removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const;
  // Writes `bytes` to Path()/name (sub-folders made as needed); returns the full path.
  std::string Write(const std::string& name, std::string_view bytes) const;

 private:
  std::string path_;
};

}  // namespace tavimo::testing
