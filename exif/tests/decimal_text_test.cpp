#include "exif/decimal_text.h"

#include <gtest/gtest.h>

#include <ostream>

#include <bit>
#include <cstdint>
#include <limits>

namespace tavimo::exif {
namespace {

struct TextCase {
  double value;
  const char* text;
};

// Test names show the expected text, not the case's bytes.
void PrintTo(const TextCase& c, std::ostream* out) { *out << c.text; }

class DecimalTextTable : public ::testing::TestWithParam<TextCase> {};

TEST_P(DecimalTextTable, WritesTheValue) {
  EXPECT_EQ(DecimalText(GetParam().value), GetParam().text);
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Values, DecimalTextTable,
    ::testing::Values(
        TextCase{((45.67 / 60) + 23) / 60 + 116, "116.3960194444"},
        TextCase{((33.86 / 60) + 54) / 60 + 39, "39.90940555556"},
        TextCase{0, "0"}, TextCase{-0.0, "0"}, TextCase{1, "1"}, TextCase{22.5, "22.5"},
        TextCase{1.0 / 3, "0.3333333333333"}, TextCase{0.0001, "0.0001"},
        TextCase{0.00001, "1e-005"}, TextCase{1234567890123, "1234567890123"},
        TextCase{12345678901234, "1.234567890123e+013"}, TextCase{-2.5, "-2.5"},
        TextCase{kInf, "1.#INF"}, TextCase{-kInf, "-1.#INF"},
        // Two roundings: 17 digits give ...67499999 -> ...675, then half up.
        TextCase{178.61769025675, "178.6176902568"},
        // A carry through every digit moves the exponent.
        TextCase{9.99999999999996, "10"}, TextCase{999999999999.96, "1000000000000"},
        TextCase{9999999999999.6, "1e+013"}, TextCase{0.000099999999999996, "0.0001"},
        TextCase{100, "100"}, TextCase{1e12, "1000000000000"}, TextCase{1.5e-7, "1.5e-007"},
        TextCase{-123.456e-10, "-1.23456e-008"}, TextCase{1e300, "1e+300"},
        TextCase{std::numeric_limits<double>::denorm_min(), "4.940656458412e-324"},
        TextCase{0.1 + 0.2, "0.3"}, TextCase{2.0 / 3, "0.6666666666667"}));

TEST(DecimalText, InvalidOperationNotANumberIsIndefinite) {
  const double indefinite = std::bit_cast<double>(std::uint64_t{0xFFF8000000000000});
  EXPECT_EQ(DecimalText(indefinite), "-1.#IND");
}

TEST(DecimalText, OtherNotANumbersAreQuiet) {
  EXPECT_EQ(DecimalText(std::numeric_limits<double>::quiet_NaN()), "1.#QNAN");
  EXPECT_EQ(DecimalText(std::bit_cast<double>(std::uint64_t{0xFFF8000000000001})), "-1.#QNAN");
}

}  // namespace
}  // namespace tavimo::exif
