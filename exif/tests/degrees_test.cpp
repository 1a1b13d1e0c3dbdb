#include <gtest/gtest.h>

#include <ostream>

#include <string>

#include "exif/exif_reader.h"
#include "tests/support/jpeg_builder.h"

namespace tavimo::exif {
namespace {

using testing::Order;
using testing::TiffWriter;

struct DegreesCase {
  const char* name;
  std::string (*value)(const TiffWriter&);
  int type;
  const char* text;
};

void PrintTo(const DegreesCase& c, std::ostream* out) { *out << c.name; }

class DegreesTable : public ::testing::TestWithParam<DegreesCase> {};

// Every case is checked in both byte orders with the same text.
TEST_P(DegreesTable, GivesTheText) {
  for (Order order : {Order::kBig, Order::kLittle}) {
    const TiffWriter w(order);
    EXPECT_EQ(ExifReader::ToDegreesText(GetParam().value(w), order == Order::kLittle,
                                        GetParam().type),
              GetParam().text)
        << (order == Order::kBig ? "big-endian" : "little-endian");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, DegreesTable,
    ::testing::Values(
        DegreesCase{"Beijing", [](const TiffWriter& w) { return w.Rationals({{39, 1}, {54, 1}, {3386, 100}}); },
                    kTypeRational, "39.90940555556"},
        DegreesCase{"East", [](const TiffWriter& w) { return w.Rationals({{116, 1}, {23, 1}, {4567, 100}}); },
                    kTypeRational, "116.3960194444"},
        DegreesCase{"Empty", [](const TiffWriter&) { return std::string(); }, kTypeRational, "0"},
        DegreesCase{"ThreeBytes", [](const TiffWriter&) { return std::string("\x01\x02\x03", 3); },
                    kTypeRational, "0"},
        // A camera writes 0/0 for a part it does not use: that part counts as 0.
        DegreesCase{"SecondsUnused", [](const TiffWriter& w) { return w.Rationals({{39, 1}, {54, 1}, {0, 0}}); },
                    kTypeRational, "39.9"},
        DegreesCase{"NikonMinutes",
                    [](const TiffWriter& w) { return w.Rationals({{48, 1}, {5332358, 100000}, {0, 0}}); },
                    kTypeRational, "48.88872633333"},
        DegreesCase{"DegreesUnused", [](const TiffWriter& w) { return w.Rationals({{0, 0}, {54, 1}, {0, 1}}); },
                    kTypeRational, "-1.#IND"},
        DegreesCase{"AllUnused", [](const TiffWriter& w) { return w.Rationals({{0, 0}, {0, 0}, {0, 0}}); },
                    kTypeRational, "-1.#IND"},
        DegreesCase{"SecondsOverZero", [](const TiffWriter& w) { return w.Rationals({{39, 1}, {54, 1}, {5, 0}}); },
                    kTypeRational, "1.#INF"},
        // Missing parts are not unused ones: the value is broken.
        DegreesCase{"OneRational", [](const TiffWriter& w) { return w.Rationals({{39, 1}}); },
                    kTypeRational, "-1.#IND"},
        DegreesCase{"FiveNumbers",
                    [](const TiffWriter& w) { return w.Rationals({{39, 1}, {54, 1}}) + w.U32(7); },
                    kTypeRational, "1.#INF"},
        DegreesCase{"ThirtyBytes",
                    [](const TiffWriter& w) {
                      return w.Rationals({{39, 1}, {54, 1}, {3386, 100}}) + std::string("\x7F\x01\x02\x03\x04\x05", 6);
                    },
                    kTypeRational, "39.90940555556"},
        // RATIONAL parts are unsigned: a drone's seconds of 2612251927/70000000.
        DegreesCase{"DroneSeconds",
                    [](const TiffWriter& w) { return w.Rationals({{38, 1}, {32, 1}, {2612251927U, 70000000}}); },
                    kTypeRational, "38.54369941241"},
        DegreesCase{"UnsignedDenominator",
                    [](const TiffWriter& w) { return w.Rationals({{10, 1}, {0, 1}, {4294967295U, 4294967295U}}); },
                    kTypeRational, "10.00027777778"},
        // SRATIONAL parts are signed: 4294967295 is -1.
        DegreesCase{"SignedDenominator",
                    [](const TiffWriter& w) { return w.Rationals({{10, 4294967295U}, {0, 1}, {0, 1}}); },
                    kTypeSRational, "-10"},
        DegreesCase{"SignedNumerator",
                    [](const TiffWriter& w) { return w.Rationals({{38, 1}, {32, 1}, {356213376, 10000000}}); },
                    kTypeSRational, "38.54322814933"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ToDegreesText, TypeDefaultsToRational) {
  const TiffWriter w(Order::kBig);
  EXPECT_EQ(ExifReader::ToDegreesText(w.Rationals({{1, 4294967295U}, {0, 1}, {0, 1}}), false),
            "2.328306437081e-010");
}

TEST(ToInteger, ReadsEitherOrder) {
  const std::string bytes("\x01\x02\x03\x04", 4);
  EXPECT_EQ(ExifReader::ToInteger(bytes, false), 0x01020304);
  EXPECT_EQ(ExifReader::ToInteger(bytes, true), 0x04030201);
  EXPECT_EQ(ExifReader::ToInteger("", false), 0);
  EXPECT_EQ(ExifReader::ToInteger(std::string("\xFF\xFF", 2), true), 65535);
  EXPECT_EQ(ExifReader::ToInteger(std::string("\xFF\xFF\xFF\xFF", 4), false), 4294967295);
}

TEST(ToInteger, KeepsTheLastEightBytesOfTheOrderedSequence) {
  const std::string nine("\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9);
  EXPECT_EQ(ExifReader::ToInteger(nine, false), 0x0203040506070809);
  EXPECT_EQ(ExifReader::ToInteger(nine, true), 0x0807060504030201);
  EXPECT_EQ(ExifReader::ToInteger(std::string(8, '\xFF'), false), -1);
}

TEST(ReverseBytes, ReversesAnyLength) {
  EXPECT_EQ(ExifReader::ReverseBytes(""), "");
  EXPECT_EQ(ExifReader::ReverseBytes("a"), "a");
  EXPECT_EQ(ExifReader::ReverseBytes("abc"), "cba");
}

TEST(UnitSize, FollowsTheTiffTypes) {
  const int expected[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 0};
  for (int type = 0; type <= 13; ++type) EXPECT_EQ(ExifReader::UnitSize(type), expected[type]) << type;
  EXPECT_EQ(ExifReader::UnitSize(65535), 0);
  EXPECT_EQ(ExifReader::UnitSize(-1), 0);
}

}  // namespace
}  // namespace tavimo::exif
