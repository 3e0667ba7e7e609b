// The path form: line 0 is the current directory, line 1 the path; a third line makes the
// buffer allocation fail. The full path is what GetFullPathNameW gives for the path without its
// trailing separators, the directory and file parts put back together give it, and the three
// helpers agree with the four-argument form.
#include "fuzz_input.h"
#include "sources/stdInstallLib.h"

namespace {

using msistd::WString;

WString Trimmed(WString path) {
  while (path.size() > 3 && (path.back() == u'\\' || path.back() == u'/')) path.pop_back();
  return path;
}

WString DirectFullPath(const WString& path) {
  std::vector<msistd::WChar> buffer(path.size() + 4096);
  LPWSTR filePart = nullptr;
  DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(),
                                  &filePart);
  return length == 0 || length >= buffer.size() ? WString() : WString(buffer.data(), length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hostctl::Reset();
  std::vector<std::string> lines = fuzzinput::Lines(data, size);
  const hostctl::Text current = fuzzinput::WithoutNul(fuzzinput::Units(lines[0]));
  if (!current.empty()) hostctl::SetCurrentDirectory(current);
  const WString path = lines.size() > 1 ? fuzzinput::Units(lines[1]) : WString();
  const WString copy = Trimmed(path);
  const bool allocationFails = lines.size() > 2;
  if (allocationFails) hostctl::FailAlways("HeapAlloc", 0);

  WString full, directory, file;
  const bool formed = msistd::_format(path, full, directory, file);
  const WString expected = DirectFullPath(copy.c_str());
  if (!formed) {
    FUZZ_REQUIRE(full == copy && directory == copy && file == copy, "failure leaves the path");
    FUZZ_REQUIRE(allocationFails || expected.empty(), "failed although the path resolves");
    return 0;
  }
  FUZZ_REQUIRE(!allocationFails, "formed without a buffer");
  FUZZ_REQUIRE(full == expected, "full path");
  FUZZ_REQUIRE(directory + file == full || (directory == full && file == full), "parts");
  FUZZ_REQUIRE(msistd::FullPath(path) == full, "FullPath");
  FUZZ_REQUIRE(msistd::DirectoryPart(path) == directory, "DirectoryPart");
  FUZZ_REQUIRE(msistd::FilePart(path) == file, "FilePart");
  return 0;
}
