// Independent formulations of the module's conversions, for the fuzz targets to compare with.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "hostplatform/control.h"

namespace reference {

using hostctl::Text;

// The C library's base-10 conversion, clamped to 32 bits. Only ASCII can be white space, a sign
// or a digit, so the text is cut at its first other unit (or NUL) before strtoll sees it.
inline int32_t ToInt32(const Text& text) {
  std::string ascii;
  for (char16_t unit : text) {
    if (unit == 0 || unit >= 0x80) break;
    ascii += static_cast<char>(unit);
  }
  long long value = std::strtoll(ascii.c_str(), nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

inline int HexValue(char16_t unit) {
  if (unit >= u'0' && unit <= u'9') return unit - u'0';
  if (unit >= u'a' && unit <= u'f') return unit - u'a' + 10;
  if (unit >= u'A' && unit <= u'F') return unit - u'A' + 10;
  return 0;
}

// Hex digits read in pairs after a "0" is put in front of an odd count.
inline std::vector<uint8_t> HexBytes(const Text& text) {
  Text padded = (text.size() % 2 ? Text(u"0") : Text()) + text;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < padded.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(HexValue(padded[i]) << 4 | HexValue(padded[i + 1])));
  return bytes;
}

// Unsigned decimal text.
inline Text Decimal(uint32_t value) {
  std::string digits = std::to_string(value);
  return Text(digits.begin(), digits.end());
}

}  // namespace reference
