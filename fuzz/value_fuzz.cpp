// The conversions behind the value grammar: the integer after "#" and the bytes after "#x",
// each compared with an independent formulation on any text.
#include "UpdateRegistry.h"
#include "fuzz_input.h"
#include "reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const msistd::WString text = fuzzinput::Units(data, size);
  FUZZ_REQUIRE(ToInt32(text) == reference::ToInt32(text),
               std::to_string(ToInt32(text)) + " instead of " +
                   std::to_string(reference::ToInt32(text)));
  const std::vector<BYTE> bytes = HexBytes(text);
  FUZZ_REQUIRE(bytes.size() == (text.size() + 1) / 2, "byte count");
  FUZZ_REQUIRE(bytes == reference::HexBytes(text), "bytes differ");
  return 0;
}
