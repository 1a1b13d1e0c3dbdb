#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "exif/exif_reader.h"
#include "tests/support/jpeg_builder.h"

namespace tavimo::exif {
namespace {

using testing::Entry;
using testing::JpegWithExif;
using testing::Order;
using testing::TempDir;
using testing::TiffWriter;

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

// The block as "tag:type:num:HEX" per record, then "le|be@off".
std::string Describe(const TagRecordList& list) {
  std::string out;
  for (const TagRecord& r : list.records) {
    out += r.tag + ":" + std::to_string(r.type) + ":" + std::to_string(r.num) + ":" + Hex(r.value) + " ";
  }
  out += (list.byteorder ? "le@" : "be@") + std::to_string(static_cast<long long>(list.off));
  return out;
}

ExifReader CameraReader() {
  ExifReader reader;
  reader.SetPointerTags({"8825", "8769"});
  return reader;
}

// The documented example, byte for byte: one GPS latitude, big-endian.
const std::string kWorkedExample(
    "\xFF\xD8\xFF\xE1\x00\x4C"
    "Exif\x00\x00"
    "MM\x00\x2A\x00\x00\x00\x08"
    "\x00\x01"
    "\x88\x25\x00\x04\x00\x00\x00\x01\x00\x00\x00\x1A"
    "\x00\x00\x00\x00"
    "\x00\x01"
    "\x00\x02\x00\x05\x00\x00\x00\x03\x00\x00\x00\x2C"
    "\x00\x00\x00\x00"
    "\x00\x00\x00\x27\x00\x00\x00\x01\x00\x00\x00\x36\x00\x00\x00\x01\x00\x00\x0D\x3A\x00\x00\x00\x64",
    80);

TEST(ReadTags, WorkedExampleGivesThreeItems) {
  const TagRecordList list = CameraReader().ReadTagsFromBytes(kWorkedExample);
  EXPECT_EQ(Describe(list),
            "8825:4:1:0000001A "
            "0002:5:3:0000002700000001000000360000000100000D3A00000064 be@13");
  EXPECT_EQ(Count(list), 3);
  EXPECT_EQ(ExifReader::ToDegreesText(ValueAt(list, IndexOf(list, "0002")), list.byteorder),
            "39.90940555556");
}

TEST(ReadTags, WorkedExampleLittleEndianGivesTheSameRecords) {
  TiffWriter w(Order::kLittle);
  const std::uint32_t ifd0 = w.AddDirectory({w.Long(0x8825, 26)});
  ASSERT_EQ(ifd0, 8u);
  ASSERT_EQ(w.AddDirectory({w.Rational3(0x0002, {{39, 1}, {54, 1}, {3386, 100}})}), 26u);
  const TagRecordList list = CameraReader().ReadTagsFromBytes(JpegWithExif(w.Bytes()));
  EXPECT_EQ(Describe(list),
            "8825:4:1:1A000000 "
            "0002:5:3:270000000100000036000000010000003A0D000064000000 le@13");
  EXPECT_EQ(ExifReader::ToDegreesText(ValueAt(list, IndexOf(list, "0002")), true),
            "39.90940555556");
}

// A camera block: IFD0 -> IFD1, then GPS, then Exif.
std::string CameraTiff(Order order) {
  TiffWriter w(order);
  const std::uint32_t ifd0 = w.AddDirectory(
      {TiffWriter::Ascii(0x010F, "Maker"), w.Long(0x8825, 0), w.Long(0x8769, 0)});
  const std::uint32_t ifd1 = w.AddDirectory({w.Long(0x0201, 0), w.Long(0x0202, 0)});
  w.Put32(TiffWriter::NextField(ifd0, 3), ifd1);
  const std::uint32_t gps = w.AddDirectory(
      {TiffWriter::Ascii(0x0001, "N"), w.Rational3(0x0002, {{39, 1}, {54, 1}, {3386, 100}}),
       TiffWriter::Ascii(0x0003, "E"), w.Rational3(0x0004, {{116, 1}, {23, 1}, {4567, 100}})});
  w.Put32(TiffWriter::ValueField(ifd0, 1), gps);
  const std::uint32_t exif = w.AddDirectory({TiffWriter::Ascii(0x9003, "2026:01:01 00:00:00")});
  w.Put32(TiffWriter::ValueField(ifd0, 2), exif);
  return w.Bytes();
}

std::vector<std::string> Tags(const TagRecordList& list) {
  std::vector<std::string> tags;
  for (const TagRecord& r : list.records) tags.push_back(r.tag);
  return tags;
}

TEST(ReadTags, BothOrdersWalkIfd0ChainThenGpsThenExif) {
  const std::vector<std::string> expected = {"010F", "8825", "8769", "0201", "0202",
                                             "0001", "0002", "0003", "0004", "9003"};
  for (Order order : {Order::kBig, Order::kLittle}) {
    const TagRecordList list = CameraReader().ReadTagsFromBytes(JpegWithExif(CameraTiff(order)));
    EXPECT_EQ(Tags(list), expected);
    EXPECT_EQ(list.byteorder, order == Order::kLittle);
    EXPECT_EQ(ValueAt(list, IndexOf(list, "010F")), std::string("Maker\0", 6));
    EXPECT_EQ(ValueAt(list, IndexOf(list, "9003")), std::string("2026:01:01 00:00:00\0", 20));
    EXPECT_EQ(ExifReader::ToDegreesText(ValueAt(list, IndexOf(list, "0004")), list.byteorder),
              "116.3960194444");
  }
}

TEST(ReadTags, WithoutPointerTagsReadsIfd0AndItsChainOnly) {
  const TagRecordList list = ExifReader().ReadTagsFromBytes(JpegWithExif(CameraTiff(Order::kBig)));
  EXPECT_EQ(Tags(list), (std::vector<std::string>{"010F", "8825", "8769", "0201", "0202"}));
}

TEST(ReadTags, NoBlockGivesTheTrailerAlone) {
  const ExifReader reader = CameraReader();
  const TempDir dir;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"no-exif", dir.Write("plain.jpg", testing::JpegWithoutExif())},
      {"empty", dir.Write("empty.jpg", "")},
      {"missing", dir.Path() + "/missing.jpg"},
      {"folder", dir.Path()},
  };
  for (const auto& [name, path] : files) {
    const TagRecordList list = reader.ReadTags(path);
    EXPECT_EQ(Describe(list), "le@5") << name;
    EXPECT_EQ(Count(list), 1) << name;
  }
}

TEST(ReadTags, FileAndMemoryGiveTheSameList) {
  const TempDir dir;
  const std::string bytes = JpegWithExif(CameraTiff(Order::kBig));
  const ExifReader reader = CameraReader();
  EXPECT_EQ(Describe(reader.ReadTags(dir.Write("a.jpg", bytes))), Describe(reader.ReadTagsFromBytes(bytes)));
}

TEST(ReadTags, WithoutGpsPointerTheExifDirectoryIsNotRead) {
  TiffWriter w(Order::kBig);
  const std::uint32_t ifd0 = w.AddDirectory({w.Long(0x8769, 0)});
  const std::uint32_t ifd1 = w.AddDirectory({w.Long(0x0201, 0)});
  w.Put32(TiffWriter::NextField(ifd0, 1), ifd1);
  w.Put32(TiffWriter::ValueField(ifd0, 0), w.AddDirectory({TiffWriter::Ascii(0x9003, "x")}));
  const TagRecordList list = CameraReader().ReadTagsFromBytes(JpegWithExif(w.Bytes()));
  EXPECT_EQ(Tags(list), (std::vector<std::string>{"8769", "0201"}));
}

TEST(ReadTags, LaterOfTwoGpsPointersWins) {
  TiffWriter w(Order::kLittle);
  const std::uint32_t ifd0 = w.AddDirectory({w.Long(0x8825, 0), w.Long(0x8825, 0)});
  const std::uint32_t first = w.AddDirectory({w.Long(0x0001, 1)});
  const std::uint32_t second = w.AddDirectory({w.Long(0x0002, 2)});
  w.Put32(TiffWriter::ValueField(ifd0, 0), first);
  w.Put32(TiffWriter::ValueField(ifd0, 1), second);
  const TagRecordList list = CameraReader().ReadTagsFromBytes(JpegWithExif(w.Bytes()));
  EXPECT_EQ(Tags(list), (std::vector<std::string>{"8825", "8825", "0002"}));
}

// Which bytes an entry keeps: its own value field up to a total of 4 bytes,
// else num x unit size bytes from the value area.
struct InlineCase {
  const char* name;
  std::uint16_t type;
  std::uint32_t num;
  const char* value_hex;
};

void PrintTo(const InlineCase& c, std::ostream* out) { *out << c.name; }

class ValuePlacement : public ::testing::TestWithParam<InlineCase> {};

TEST_P(ValuePlacement, KeepsFieldOrTakesFromArea) {
  TiffWriter w(Order::kBig);
  // The field holds 4E 00 00 00 or, read as an offset, points at the 8 bytes
  // 11..18 that follow the directory.
  const std::uint32_t area = TiffWriter::NextField(8, 1) + 4;
  w.AddDirectory({Entry{0x0001, GetParam().type, GetParam().num, "", area}});
  ASSERT_EQ(w.Size(), area);
  w.Append("\x11\x12\x13\x14\x15\x16\x17\x18");
  const TagRecordList list = ExifReader().ReadTagsFromBytes(JpegWithExif(w.Bytes()));
  ASSERT_EQ(list.records.size(), 1u);
  EXPECT_EQ(Hex(list.records[0].value), GetParam().value_hex);
}

INSTANTIATE_TEST_SUITE_P(
    Totals, ValuePlacement,
    ::testing::Values(InlineCase{"AsciiTwo", 2, 2, "0000001A"}, InlineCase{"OneLong", 4, 1, "0000001A"},
                      InlineCase{"TwoShorts", 3, 2, "0000001A"}, InlineCase{"FourBytes", 1, 4, "0000001A"},
                      InlineCase{"FiveBytes", 1, 5, "1112131415"},
                      InlineCase{"OneRational", 5, 1, "1112131415161718"},
                      InlineCase{"RationalPastArea", 5, 2, "1112131415161718"},
                      InlineCase{"UnknownType", 13, 100, "0000001A"},
                      InlineCase{"NegativeCount", 4, 0xFFFFFFFF, "0000001A"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ReadTags, AsciiOfTwoKeepsItsPaddingBytes) {
  TiffWriter w(Order::kLittle);
  w.AddDirectory({TiffWriter::Ascii(0x0001, "N")});
  const TagRecordList list = ExifReader().ReadTagsFromBytes(JpegWithExif(w.Bytes()));
  EXPECT_EQ(Describe(list), "0001:2:2:4E000000 le@13");
}

TEST(ReadTags, ValueAreaEndsWhereTheNextDirectoryBegins) {
  // IFD0's 8-byte values: one inside its area, one running into IFD1, one at IFD1.
  TiffWriter w(Order::kBig);
  const std::uint32_t area = TiffWriter::NextField(8, 3) + 4;
  const std::uint32_t ifd1 = area + 12;
  w.AddDirectory({Entry{0x0001, 5, 1, "", area}, Entry{0x0002, 5, 1, "", area + 8},
                  Entry{0x0003, 5, 1, "", ifd1}},
                 ifd1);
  w.Append("AAAAAAAABBBB");
  ASSERT_EQ(w.AddDirectory({w.Long(0x0004, 4)}), ifd1);
  const TagRecordList list = ExifReader().ReadTagsFromBytes(JpegWithExif(w.Bytes()));
  EXPECT_EQ(Tags(list), (std::vector<std::string>{"0001", "0002", "0003", "0004"}));
  EXPECT_EQ(list.records[0].value, "AAAAAAAA");
  EXPECT_EQ(list.records[1].value, "BBBB");
  EXPECT_EQ(list.records[2].value, "");
}

TEST(ReadTags, DirectlyFollowingDirectoryLeavesAnEmptyArea) {
  TiffWriter w(Order::kLittle);
  const std::uint32_t ifd1 = TiffWriter::NextField(8, 1) + 4;
  w.AddDirectory({Entry{0x0001, 7, 6, "", ifd1}}, ifd1);
  w.AddDirectory({w.Long(0x0002, 2)});
  const TagRecordList list = ExifReader().ReadTagsFromBytes(JpegWithExif(w.Bytes()));
  ASSERT_EQ(Tags(list), (std::vector<std::string>{"0001", "0002"}));
  EXPECT_EQ(list.records[0].value, "");
}

TEST(ReadTags, TruncatedDirectoryYieldsItsWholeEntries) {
  TiffWriter w(Order::kBig);
  w.AddDirectory({w.Long(0x0001, 1), w.Long(0x0002, 2), w.Long(0x0003, 3)});
  // Promise five entries, keep two and a half.
  std::string block = w.Bytes();
  block[9] = 5;
  block.resize(8 + 2 + 12 * 2 + 6);
  const TagRecordList list = ExifReader().ReadTagsFromBytes(JpegWithExif(block));
  EXPECT_EQ(Describe(list), "0001:4:1:00000001 0002:4:1:00000002 be@13");
}

TEST(ReadTags, SegmentLengthPastTheEndStopsAtTheLastByte) {
  std::string file = JpegWithExif(CameraTiff(Order::kLittle));
  file[4] = '\xFF';
  file[5] = '\xFF';
  file.resize(file.size() - 2);  // no end-of-image: the block runs to the end
  const TagRecordList list = CameraReader().ReadTagsFromBytes(file);
  EXPECT_EQ(Count(list), 11);
}

TEST(ReadTags, ShortSegmentCutsTheBlock) {
  // A segment length of 8 leaves no TIFF data at all.
  std::string file = JpegWithExif(CameraTiff(Order::kBig));
  file[4] = 0;
  file[5] = 8;
  EXPECT_EQ(Describe(CameraReader().ReadTagsFromBytes(file)), "le@13");
}

TEST(ReadTags, SelfLoopingChainEnds) {
  TiffWriter w(Order::kLittle);
  w.AddDirectory({w.Long(0x0001, 1)}, 8);
  const TagRecordList list = CameraReader().ReadTagsFromBytes(JpegWithExif(w.Bytes()));
  EXPECT_EQ(Tags(list), (std::vector<std::string>{"0001"}));
}

TEST(ReadTags, PointerBackToIfd0DoesNotRepeatIt) {
  TiffWriter w(Order::kBig);
  w.AddDirectory({w.Long(0x8825, 8), w.Long(0x8769, 8)});
  const TagRecordList list = CameraReader().ReadTagsFromBytes(JpegWithExif(w.Bytes()));
  EXPECT_EQ(Tags(list), (std::vector<std::string>{"8825", "8769"}));
}

TEST(ReadTags, OffsetsOfTwoToThe31OrMoreReadNothing) {
  for (std::uint32_t offset : {0x80000000U, 0xFFFFFFFEU, 0xFFFFFFFFU}) {
    TiffWriter w(Order::kBig);
    w.AddDirectory({w.Long(0x8825, offset), Entry{0x0001, 7, 8, "", offset}}, offset);
    const TagRecordList list = CameraReader().ReadTagsFromBytes(JpegWithExif(w.Bytes()));
    ASSERT_EQ(Tags(list), (std::vector<std::string>{"8825", "0001"})) << offset;
    EXPECT_EQ(list.records[1].value, "") << offset;
  }
  TiffWriter header_only(Order::kBig, 0xFFFFFFFF);
  EXPECT_EQ(Describe(CameraReader().ReadTagsFromBytes(JpegWithExif(header_only.Bytes()))), "be@13");
}

TEST(ReadTags, MarkerFarBehindTheHeadIsFound) {
  // Far behind the head, and straddling the boundaries of the reads behind it.
  const std::string block = JpegWithExif(CameraTiff(Order::kLittle)).substr(2);
  const ExifReader reader = CameraReader();
  const TempDir dir;
  for (std::size_t lead : {std::size_t{100}, std::size_t{16 * 1024 - 9}, std::size_t{16 * 1024 + 256 * 1024 - 9},
                           std::size_t{3'000'000}}) {
    const std::string file = std::string("\xFF\xD8", 2) + std::string(lead, '\x55') + block;
    const TagRecordList list = reader.ReadTags(dir.Write("far.jpg", file));
    EXPECT_EQ(Count(list), 11) << lead;
    EXPECT_EQ(list.off, static_cast<double>(2 + lead + 10 + 1)) << lead;
  }
}

TEST(ReadTags, FirstMarkerDecidesEvenOutsideAnApp1Segment) {
  // "Exif\0\0" inside a comment before the real block: its two preceding
  // bytes read as the length, here 0x0000, so the block is empty.
  std::string file = std::string("\xFF\xD8\xFF\xFE\x00\x00", 6) + std::string("Exif\0\0", 6) +
                     JpegWithExif(CameraTiff(Order::kBig)).substr(2);
  EXPECT_EQ(Describe(CameraReader().ReadTagsFromBytes(file)), "le@13");
}

TEST(ReadTags, MarkerAtTheVeryStartGivesNoBlock) {
  std::string file = std::string("Exif\0\0", 6) + CameraTiff(Order::kBig);
  EXPECT_EQ(Describe(CameraReader().ReadTagsFromBytes(file)), "le@7");
}

TEST(ReadTags, OverlappingValuesAreBounded) {
  // 2000 entries that each name the same 40,000 bytes would copy 80 MB;
  // the walk copies at most a megabyte of values per block.
  TiffWriter w(Order::kLittle);
  const std::uint32_t area = TiffWriter::NextField(8, 2000) + 4;
  std::vector<Entry> entries(2000, Entry{0x0001, 7, 40000, "", area});
  w.AddDirectory(entries);
  w.Append(std::string(40000, 'v'));
  const TagRecordList list = ExifReader().ReadTagsFromBytes(JpegWithExif(w.Bytes()));
  ASSERT_EQ(list.records.size(), 2000u);
  std::size_t total = 0;
  for (const TagRecord& r : list.records) total += r.value.size();
  EXPECT_EQ(total, std::size_t{1} << 20);
  EXPECT_EQ(list.records[0].value.size(), 40000u);
}

TEST(TagRecordList, LookupsGiveEmptyValuesOutsideTheRecords) {
  const TagRecordList list = CameraReader().ReadTagsFromBytes(kWorkedExample);
  EXPECT_EQ(IndexOf(list, "0002"), 2);
  EXPECT_EQ(IndexOf(list, "0004"), -1);
  EXPECT_EQ(IndexOf(list, "88"), -1);
  for (std::int64_t position : {std::int64_t{-1}, std::int64_t{0}, std::int64_t{3}, std::int64_t{99}}) {
    EXPECT_EQ(ValueAt(list, position), "") << position;
    EXPECT_EQ(TypeAt(list, position), 0) << position;
    EXPECT_EQ(RecordAt(list, position), nullptr) << position;
  }
  EXPECT_EQ(TypeAt(list, 2), 5);
}

TEST(ExifReader, CopiesKeepTheirOwnPointerTags) {
  ExifReader reader = CameraReader();
  const ExifReader copy = reader;
  reader.SetPointerTags({});
  EXPECT_EQ(copy.PointerTags(), (std::vector<std::string>{"8825", "8769"}));
  EXPECT_TRUE(reader.PointerTags().empty());
}

}  // namespace
}  // namespace tavimo::exif
