// The key-list split: the first line gives the separator characters, the rest the text. The
// pieces are the non-empty runs between separators, untrimmed, in order, so putting them back
// together gives the text without its separators.
#include <cstring>

#include "fuzz_input.h"
#include "sources/stdInstallLib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* newline = static_cast<const uint8_t*>(std::memchr(data, '\n', size));
  size_t separatorsSize = newline ? static_cast<size_t>(newline - data) : 0;
  size_t textStart = newline ? separatorsSize + 1 : 0;
  const msistd::WString separators = fuzzinput::Units(data, separatorsSize);
  const msistd::WString text = fuzzinput::Units(data + textStart, size - textStart);

  const msistd::WStringList pieces = msistd::Split(text, separators);
  FUZZ_REQUIRE(pieces == msistd::CInstaller().Split(text, separators), "the two forms differ");

  msistd::WString joined, expected;
  for (const msistd::WString& piece : pieces) {
    FUZZ_REQUIRE(!piece.empty(), "empty piece");
    for (char16_t unit : piece)
      FUZZ_REQUIRE(separators.find(unit) == msistd::WString::npos, "separator inside a piece");
    joined += piece;
  }
  size_t runs = 0;
  bool inRun = false;
  for (char16_t unit : text) {
    bool separator = separators.find(unit) != msistd::WString::npos;
    if (!separator) expected += unit;
    if (!separator && !inRun) ++runs;
    inRun = !separator;
  }
  FUZZ_REQUIRE(joined == expected, "pieces do not rebuild the text");
  FUZZ_REQUIRE(pieces.size() == runs, "piece count");
  return 0;
}
