// CInstaller::CompareVersions on three fuzzed version texts (lines 0 to 2): the answer is -1, 0
// or 1, a text equals itself, swapping the texts negates the answer, the order is transitive,
// and a trailing ".0" piece changes nothing for texts made of digits and dots.
#include "fuzz_input.h"
#include "sources/stdInstallLib.h"

namespace {

bool Numeric(const msistd::WString& text) {
  if (text.empty()) return false;
  size_t digits = 0;
  for (char16_t unit : text) {
    if (unit == u'.') {
      if (digits == 0) return false;
      digits = 0;
    } else if (unit >= u'0' && unit <= u'9' && ++digits <= 9) {
      continue;
    } else {
      return false;
    }
  }
  return digits > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> lines = fuzzinput::Lines(data, size);
  lines.resize(3);
  const msistd::WString a = fuzzinput::Units(lines[0]), b = fuzzinput::Units(lines[1]),
                        c = fuzzinput::Units(lines[2]);
  const msistd::CInstaller installer;
  auto compare = [&](const msistd::WString& x, const msistd::WString& y) {
    int answer = installer.CompareVersions(x, y);
    FUZZ_REQUIRE(answer >= -1 && answer <= 1, std::to_string(answer));
    return answer;
  };
  FUZZ_REQUIRE(compare(a, a) == 0, "reflexive");
  FUZZ_REQUIRE(compare(a, b) == -compare(b, a), "antisymmetric");
  if (compare(a, b) <= 0 && compare(b, c) <= 0) FUZZ_REQUIRE(compare(a, c) <= 0, "transitive");
  if (Numeric(a)) FUZZ_REQUIRE(compare(a, a + u".0") == 0, "a trailing .0 counts");
  return 0;
}
