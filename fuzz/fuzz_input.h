// How the fuzz targets read their input: lines of bytes turned into UTF-16 texts. A byte below
// 0xC0 is one code unit of that value, so seeds stay readable and the fuzzer's dictionary of
// ASCII tokens works; a byte from 0xC0 on takes the next two bytes as one raw code unit (high
// byte first), which reaches lone and paired surrogates and every other unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "hostplatform/control.h"

namespace fuzzinput {

using hostctl::Text;

inline Text Units(const uint8_t* data, size_t size) {
  Text text;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] >= 0xC0 && i + 2 < size) {
      text += static_cast<char16_t>((data[i + 1] << 8) | data[i + 2]);
      i += 2;
    } else {
      text += static_cast<char16_t>(data[i]);
    }
  }
  return text;
}

inline Text Units(const std::string& bytes) {
  return Units(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// The input cut at each line feed (a trailing line feed ends the last line, no extra line).
inline std::vector<std::string> Lines(const uint8_t* data, size_t size) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\n') {
      if (i + 1 < size) lines.emplace_back();
    } else {
      lines.back() += static_cast<char>(data[i]);
    }
  }
  return lines;
}

// Fields of a line separated by "|"; the field count tells which optional fields are present.
inline std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == '|')
      fields.emplace_back();
    else
      fields.back() += c;
  }
  return fields;
}

// A record field or a table cell ends at its first NUL (they are set as terminated texts).
inline Text UpToNul(const Text& text) { return text.substr(0, text.find(u'\0')); }

// Installer properties never hold a NUL (they are set and read as terminated texts).
inline Text WithoutNul(Text text) {
  Text clean;
  for (char16_t unit : text)
    if (unit != 0) clean += unit;
  return clean;
}

// A decimal Root code; nullopt (a null cell) when the text is not a number. Codes outside the
// column's 16-bit range wrap into it, as the package's i2 column would hold them.
inline std::optional<int> RootCode(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  long code = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != 0) return std::nullopt;
  return static_cast<int16_t>(static_cast<uint16_t>(code & 0xFFFF));
}

}  // namespace fuzzinput

namespace fuzzinput {

// Stops the run with a message; libFuzzer then keeps the input that got here as a crash.
[[noreturn]] inline void Fail(const std::string& what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what.c_str());
  std::abort();
}

}  // namespace fuzzinput

#define FUZZ_REQUIRE(condition, what) \
  ((condition) ? void() : fuzzinput::Fail(std::string(#condition) + ": " + (what), __FILE__, __LINE__))
