// SumARPPrevsizeAndTotalCost on fuzzed ZYB_ARP_PREVSIZE (line 0) and TOTAL_COST (line 1); a line
// that starts with byte 0x01, or is missing, leaves its property undefined. TOTAL_COST must come
// out as the unsigned 32-bit sum of both conversions, with the three lines in order.
#include "fuzz/action_checks.h"
#include "fuzz_input.h"
#include "reference.h"

namespace {

std::optional<hostctl::Text> PropertyLine(const std::vector<std::string>& lines, size_t index) {
  if (index >= lines.size() || (!lines[index].empty() && lines[index][0] == '\x01'))
    return std::nullopt;
  return fuzzinput::WithoutNul(fuzzinput::Units(lines[index]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hostctl::Reset();
  MSIHANDLE session = hostctl::CreateSession();
  std::vector<std::string> lines = fuzzinput::Lines(data, size);
  const auto previous = PropertyLine(lines, 0), total = PropertyLine(lines, 1);
  if (previous) hostctl::SetProperty(session, u"ZYB_ARP_PREVSIZE", *previous);
  if (total) hostctl::SetProperty(session, u"TOTAL_COST", *total);
  const actioncheck::Snapshot before = actioncheck::TakeSnapshot();

  UINT result = SumARPPrevsizeAndTotalCost(session);
  std::string problem = actioncheck::FrameProblem(result, session, 0, 0);
  FUZZ_REQUIRE(problem.empty(), problem);
  std::string change = actioncheck::UnexpectedChange(before, actioncheck::TakeSnapshot(), {});
  FUZZ_REQUIRE(change.empty(), change);

  const hostctl::Text previousText = previous.value_or(u""), totalText = total.value_or(u"");
  const hostctl::Text digits =
      previousText.compare(0, 1, u"#") == 0 ? previousText.substr(1) : previousText;
  const hostctl::Text sum =
      reference::Decimal(static_cast<uint32_t>(reference::ToInt32(digits)) +
                         static_cast<uint32_t>(reference::ToInt32(totalText)));
  FUZZ_REQUIRE(hostctl::Property(session, u"TOTAL_COST") == sum, "TOTAL_COST");

  const hostctl::Text prefix = u"GetTotalARPSize: ";
  const std::vector<hostctl::Text> expected = {
      prefix + u"ARP previous size (property \"ZYB_ARP_PREVSIZE\") =  " + previousText +
          u"; total cost (property \"TOTAL_COST\") =  " + totalText,
      prefix + u"New TOTAL_COST value = " + sum, prefix + u"Size calculation complete"};
  std::vector<hostctl::Text> logged = hostctl::LogLines(session);
  FUZZ_REQUIRE(logged.size() == expected.size(), "line count");
  for (size_t i = 0; i < logged.size(); ++i)
    FUZZ_REQUIRE(logged[i] == expected[i], "line " + std::to_string(i));
  return 0;
}
