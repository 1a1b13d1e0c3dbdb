#include "exif/decimal_text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace tavimo::exif {
namespace {

constexpr std::uint64_t kIndefiniteBits = 0xFFF8000000000000ULL;
constexpr int kKeptDigits = 13;
constexpr int kFirstDigits = 17;

std::string NonNumberText(double value) {
  if (std::isinf(value)) return value < 0 ? "-1.#INF" : "1.#INF";
  if (std::bit_cast<std::uint64_t>(value) == kIndefiniteBits) return "-1.#IND";
  return std::signbit(value) ? "-1.#QNAN" : "1.#QNAN";
}

}  // namespace

std::string DecimalText(double value) {
  if (!std::isfinite(value)) return NonNumberText(value);
  if (value == 0) return "0";

  // The exact expansion rounded to 17 significant digits: "d.dddddddddddddddde±x".
  char buffer[48];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                    std::chars_format::scientific, kFirstDigits - 1);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t e_at = text.find('e');
  std::string digits;
  digits.reserve(kFirstDigits);
  for (char c : text.substr(0, e_at)) {
    if (c != '.') digits.push_back(c);
  }
  int exponent = std::atoi(std::string(text.substr(e_at + 1)).c_str());

  // Cut to 13 digits, rounding up when the 14th is 5 or more.
  const bool round_up = digits[kKeptDigits] >= '5';
  digits.resize(kKeptDigits);
  if (round_up) {
    int i = kKeptDigits - 1;
    while (i >= 0 && digits[static_cast<std::size_t>(i)] == '9') digits[static_cast<std::size_t>(i--)] = '0';
    if (i >= 0) {
      ++digits[static_cast<std::size_t>(i)];
    } else {
      digits.insert(digits.begin(), '1');
      digits.pop_back();
      ++exponent;
    }
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = value < 0 ? "-" : "";
  if (exponent >= -4 && exponent <= 12) {
    if (exponent < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += digits;
    } else {
      const auto int_len = static_cast<std::size_t>(exponent) + 1;
      if (digits.size() <= int_len) {
        out += digits;
        out.append(int_len - digits.size(), '0');
      } else {
        out += digits.substr(0, int_len);
        out += '.';
        out += digits.substr(int_len);
      }
    }
    return out;
  }
  out += digits[0];
  if (digits.size() > 1) {
    out += '.';
    out += digits.substr(1);
  }
  const int magnitude = std::abs(exponent);
  out += exponent < 0 ? "e-" : "e+";
  out += static_cast<char>('0' + magnitude / 100);
  out += static_cast<char>('0' + magnitude / 10 % 10);
  out += static_cast<char>('0' + magnitude % 10);
  return out;
}

}  // namespace tavimo::exif
