#include "app/json_text.h"

namespace tavimo::app {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr unsigned char kFirstNonAscii = 0x80;
constexpr unsigned char kLastContinuation = 0xBF;
constexpr unsigned char kFirstPrintable = 0x20;

// Bytes of the well-formed UTF-8 sequence at the start of `bytes` (Unicode's
// table 3-7: no overlong forms, no surrogates, nothing past U+10FFFF); 0 when
// none starts there.
std::size_t SequenceLength(std::string_view bytes) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = at(0);
  if (lead < kFirstNonAscii) return 1;
  std::size_t length = 0;
  unsigned char low = kFirstNonAscii;     // the second byte's range
  unsigned char high = kLastContinuation;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong below
    if (lead == 0xED) high = 0x9F;  // surrogates above
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong below
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF above
  } else {
    return 0;
  }
  if (bytes.size() < length || at(1) < low || at(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (at(i) < kFirstNonAscii || at(i) > kLastContinuation) return 0;
  }
  return length;
}

void AppendUnicodeEscape(std::string& out, unsigned int high_byte, unsigned char low_byte) {
  out += "\\u";
  out += kHexDigits[(high_byte >> 4) & 0xF];
  out += kHexDigits[high_byte & 0xF];
  out += kHexDigits[low_byte >> 4];
  out += kHexDigits[low_byte & 0xF];
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view bytes) {
  constexpr unsigned int kSurrogateEscapeHigh = 0xDC;
  out += '"';
  while (!bytes.empty()) {
    const std::size_t length = SequenceLength(bytes);
    const auto c = static_cast<unsigned char>(bytes[0]);
    if (length == 0) {
      AppendUnicodeEscape(out, kSurrogateEscapeHigh, c);
      bytes.remove_prefix(1);
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < kFirstPrintable) {
          AppendUnicodeEscape(out, 0, c);
        } else {
          out.append(bytes.substr(0, length));
        }
    }
    bytes.remove_prefix(length);
  }
  out += '"';
}

}  // namespace tavimo::app
