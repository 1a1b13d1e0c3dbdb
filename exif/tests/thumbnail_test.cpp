#include <gtest/gtest.h>

#include <ostream>

#include <string>

#include "exif/exif_reader.h"
#include "tests/support/jpeg_builder.h"

namespace tavimo::exif {
namespace {

using testing::JpegWithExif;
using testing::Order;
using testing::TempDir;
using testing::TiffWriter;

// A file whose TIFF header is at 1-based position 13, whose IFD0 carries the
// given 0201/0202 entries, padded with a counting pattern to `size` bytes.
std::string ThumbnailFile(Order order, std::optional<std::uint32_t> start,
                          std::optional<std::uint32_t> length, std::size_t size) {
  TiffWriter w(order);
  std::vector<testing::Entry> entries;
  if (start) entries.push_back(w.Long(0x0201, *start));
  if (length) entries.push_back(w.Long(0x0202, *length));
  w.AddDirectory(entries);
  std::string file = JpegWithExif(w.Bytes());
  for (std::size_t i = file.size(); i < size; ++i) file += static_cast<char>(i * 7 % 251);
  return file;
}

std::string Slice(const std::string& file, std::size_t first_1based, std::size_t count) {
  return file.substr(first_1based - 1, count);
}

TEST(ReadThumbnail, CutsLengthBytesAtTheHeaderPlusStart) {
  const TempDir dir;
  ExifReader reader;
  for (Order order : {Order::kBig, Order::kLittle}) {
    const std::string file = ThumbnailFile(order, 512, 4000, 6000);
    const std::string thumbnail = reader.ReadThumbnail(dir.Write("t.jpg", file));
    EXPECT_EQ(thumbnail, Slice(file, 525, 4000));
    EXPECT_EQ(reader.ReadThumbnailFromBytes(file), thumbnail);
  }
}

TEST(ReadThumbnail, FollowsTheIfd1OfACameraBlock) {
  const std::string thumb = "\xFF\xD8 tiny thumbnail \xFF\xD9";
  const std::string file = JpegWithExif(testing::PhotoBlock({Order::kBig, testing::GpsFix{116.4, 39.9}, thumb}));
  ExifReader reader;
  reader.SetPointerTags({"8825", "8769"});
  EXPECT_EQ(reader.ReadThumbnailFromBytes(file), thumb);
}

struct ThumbnailCase {
  const char* name;
  std::optional<std::uint32_t> start;
  std::optional<std::uint32_t> length;
  std::size_t first;  // 1-based position of the expected bytes; 0 for none
  std::size_t count;
};

void PrintTo(const ThumbnailCase& c, std::ostream* out) { *out << c.name; }

class ThumbnailEdges : public ::testing::TestWithParam<ThumbnailCase> {};

TEST_P(ThumbnailEdges, GivesTheRangeOrNothing) {
  const std::string file = ThumbnailFile(Order::kBig, GetParam().start, GetParam().length, 3000);
  const std::string expected = GetParam().first ? Slice(file, GetParam().first, GetParam().count) : "";
  EXPECT_EQ(ExifReader().ReadThumbnailFromBytes(file), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ThumbnailEdges,
    ::testing::Values(
        ThumbnailCase{"NoTags", std::nullopt, std::nullopt, 0, 0},
        ThumbnailCase{"StartWithoutLength", 512, std::nullopt, 0, 0},
        // Without 0201 the range starts at the TIFF header itself.
        ThumbnailCase{"LengthWithoutStart", std::nullopt, 100, 13, 100},
        ThumbnailCase{"RunsPastTheEnd", 2900, 500, 2913, 88},
        ThumbnailCase{"StartsPastTheEnd", 5000, 10, 0, 0},
        // A length of 2^31 or more is negative: the range runs to the end.
        ThumbnailCase{"NegativeLength", 1000, 0x80000000U, 1013, 1988},
        // A negative start reaching before the file reads nothing.
        ThumbnailCase{"BeforeTheFile", 0xFFFFFF00U, 10, 0, 0},
        ThumbnailCase{"BeforeTheHeader", 0xFFFFFFFCU, 4, 9, 4}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ReadThumbnail, NeverLongerThanAnExifBlockHasRoomFor) {
  // A negative length runs to the end of the file, here 300 KB away.
  const std::string file = ThumbnailFile(Order::kLittle, 100, 0xFFFFFFFFU, 300'000);
  const TempDir dir;
  const std::string path = dir.Write("t.jpg", file);
  const ReadOnlyFile open(path);
  ExifReader reader;
  for (const std::string& thumbnail : {reader.ReadThumbnail(path), reader.ReadThumbnailFromBytes(file),
                                       reader.ReadThumbnail(open, reader.ReadTags(open))}) {
    EXPECT_EQ(thumbnail, Slice(file, 113, 64 * 1024));
  }
}

TEST(ReadThumbnail, NothingForFilesWithoutABlock) {
  const TempDir dir;
  ExifReader reader;
  reader.SetPointerTags({"8825", "8769"});
  EXPECT_EQ(reader.ReadThumbnail(dir.Write("plain.jpg", testing::JpegWithoutExif())), "");
  EXPECT_EQ(reader.ReadThumbnail(dir.Path() + "/missing.jpg"), "");
  // The documented GPS example has no thumbnail directory.
  TiffWriter w(Order::kBig);
  w.AddDirectory({w.Long(0x8825, 26)});
  w.AddDirectory({w.Rational3(0x0002, {{39, 1}, {54, 1}, {3386, 100}})});
  EXPECT_EQ(reader.ReadThumbnailFromBytes(JpegWithExif(w.Bytes())), "");
}

}  // namespace
}  // namespace tavimo::exif
