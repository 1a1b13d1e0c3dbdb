#include "tests/support/jpeg_builder.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace tavimo::testing {

TiffWriter::TiffWriter(Order order, std::uint32_t ifd0_offset) : order_(order) {
  bytes_ = order == Order::kLittle ? std::string("II*\0", 4) : std::string("MM\0*", 4);
  bytes_ += U32(ifd0_offset);
}

std::string TiffWriter::U16(std::uint16_t value) const {
  std::string out(2, '\0');
  out[0] = static_cast<char>(value >> 8);
  out[1] = static_cast<char>(value & 0xFF);
  if (order_ == Order::kLittle) std::swap(out[0], out[1]);
  return out;
}

std::string TiffWriter::U32(std::uint32_t value) const {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
  if (order_ == Order::kLittle) return std::string(out.rbegin(), out.rend());
  return out;
}

std::string TiffWriter::Rationals(
    std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> parts) const {
  std::string out;
  for (const auto& [numerator, denominator] : parts) out += U32(numerator) + U32(denominator);
  return out;
}

Entry TiffWriter::Long(std::uint16_t tag, std::uint32_t value) const {
  return {tag, 4, 1, U32(value), std::nullopt};
}

Entry TiffWriter::Short(std::uint16_t tag, std::uint16_t value) const {
  return {tag, 3, 1, U16(value) + std::string(2, '\0'), std::nullopt};
}

Entry TiffWriter::Rational3(std::uint16_t tag,
                            std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> parts) const {
  return {tag, 5, 3, Rationals(parts), std::nullopt};
}

Entry TiffWriter::Ascii(std::uint16_t tag, std::string_view text) {
  std::string value(text);
  value += '\0';
  return {tag, 2, static_cast<std::uint32_t>(value.size()), value, std::nullopt};
}

std::uint32_t TiffWriter::AddDirectory(const std::vector<Entry>& entries, std::uint32_t next) {
  const std::uint32_t at = Size();
  std::uint32_t area = NextField(at, entries.size()) + 4;
  std::string values;
  bytes_ += U16(static_cast<std::uint16_t>(entries.size()));
  for (const Entry& entry : entries) {
    bytes_ += U16(entry.tag) + U16(entry.type) + U32(entry.num);
    if (entry.field) {
      bytes_ += U32(*entry.field);
    } else if (entry.value.size() <= 4) {
      std::string inline_value = entry.value;
      inline_value.resize(4, '\0');
      bytes_ += inline_value;
    } else {
      bytes_ += U32(area + static_cast<std::uint32_t>(values.size()));
      values += entry.value;
    }
  }
  bytes_ += U32(next);
  bytes_ += values;
  return at;
}

std::uint32_t TiffWriter::NextField(std::uint32_t directory, std::size_t entry_count) {
  return directory + 2 + 12 * static_cast<std::uint32_t>(entry_count);
}

std::uint32_t TiffWriter::ValueField(std::uint32_t directory, std::size_t entry) {
  return directory + 2 + 12 * static_cast<std::uint32_t>(entry) + 8;
}

void TiffWriter::Put32(std::uint32_t at, std::uint32_t value) {
  if (at + 4 > bytes_.size()) throw std::out_of_range("Put32 past the end of the block");
  bytes_.replace(at, 4, U32(value));
}

void TiffWriter::Append(std::string_view raw) { bytes_ += raw; }

std::uint32_t TiffWriter::Size() const { return static_cast<std::uint32_t>(bytes_.size()); }

const std::string& TiffWriter::Bytes() const { return bytes_; }

namespace {

const std::string kSoi("\xFF\xD8", 2);
const std::string kEoi("\xFF\xD9", 2);

std::string Segment(char marker, std::string_view payload) {
  const auto length = static_cast<std::uint32_t>(payload.size() + 2);
  if (length > 0xFFFF) throw std::length_error("segment longer than 65535 bytes");
  std::string out = "\xFF";
  out += marker;
  out += static_cast<char>(length >> 8);
  out += static_cast<char>(length & 0xFF);
  out += payload;
  return out;
}

}  // namespace

std::string JpegWithExif(std::string_view tiff, std::string_view rest) {
  std::string payload("Exif\0\0", 6);
  payload += tiff;
  std::string out = kSoi + Segment('\xE1', payload);
  out += rest.empty() ? std::string_view(kEoi) : rest;
  return out;
}

std::string JpegWithoutExif() {
  return kSoi + Segment('\xE0', std::string("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14)) + kEoi;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> ToDms(double degrees) {
  degrees = std::fabs(degrees);
  const double whole = std::floor(degrees);
  const double minutes_exact = (degrees - whole) * 60;
  const double minutes = std::floor(minutes_exact);
  const double seconds = (minutes_exact - minutes) * 60;
  return {{static_cast<std::uint32_t>(whole), 1},
          {static_cast<std::uint32_t>(minutes), 1},
          {static_cast<std::uint32_t>(std::llround(seconds * 10000)), 10000}};
}

std::string PhotoBlock(const PhotoSpec& spec) {
  TiffWriter w(spec.order);
  std::vector<Entry> ifd0 = {TiffWriter::Ascii(0x010F, "Tavimo"), w.Long(0x8825, 0),
                             w.Long(0x8769, 0)};
  if (!spec.gps) ifd0.erase(ifd0.begin() + 1);
  if (spec.orientation != 0) ifd0.insert(ifd0.begin() + 1, w.Short(0x0112, static_cast<std::uint16_t>(spec.orientation)));
  const std::uint32_t ifd0_at = w.AddDirectory(ifd0);
  const std::size_t exif_entry = ifd0.size() - 1;
  const std::size_t gps_entry = exif_entry - 1;

  if (!spec.thumbnail.empty()) {
    const std::uint32_t ifd1_at = w.AddDirectory(
        {w.Short(0x0103, 6), w.Long(0x0201, 0),
         w.Long(0x0202, static_cast<std::uint32_t>(spec.thumbnail.size()))});
    w.Put32(TiffWriter::NextField(ifd0_at, ifd0.size()), ifd1_at);
    w.Put32(TiffWriter::ValueField(ifd1_at, 1), w.Size());
    w.Append(spec.thumbnail);
  }
  if (spec.gps) {
    const auto lat = ToDms(spec.gps->latitude);
    const auto lng = ToDms(spec.gps->longitude);
    const std::uint32_t gps_at = w.AddDirectory({
        {0x0000, 1, 4, std::string("\x02\x03\x00\x00", 4), std::nullopt},
        TiffWriter::Ascii(0x0001, spec.gps->latitude < 0 ? "S" : "N"),
        w.Rational3(0x0002, {lat[0], lat[1], lat[2]}),
        TiffWriter::Ascii(0x0003, spec.gps->longitude < 0 ? "W" : "E"),
        w.Rational3(0x0004, {lng[0], lng[1], lng[2]}),
    });
    w.Put32(TiffWriter::ValueField(ifd0_at, gps_entry), gps_at);
  }
  const std::uint32_t exif_at = w.AddDirectory({TiffWriter::Ascii(0x9003, "2026:05:01 10:00:00")});
  w.Put32(TiffWriter::ValueField(ifd0_at, exif_entry), exif_at);
  return w.Bytes();
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavimo-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temp folder");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

const std::string& TempDir::Path() const { return path_; }

std::string TempDir::Write(const std::string& name, std::string_view bytes) const {
  const std::filesystem::path full = std::filesystem::path(path_) / name;
  std::filesystem::create_directories(full.parent_path());
  std::ofstream out(full, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + full.string());
  return full.string();
}

}  // namespace tavimo::testing
