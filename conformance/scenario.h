// Conformance scenarios: the parser of the .scn files, the parser of ur-runner's output, and
// the one comparison of an outcome with a scenario's expectations, shared by the host runner
// and the Wine check so that both platforms are held to the same expectations.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace conformance {

using Text = std::u16string;
using Bytes = std::vector<uint8_t>;

// A registry key: root name (HKCR, HKCU, HKLM or HKU) and the path below it.
struct KeyRef {
  std::string root;
  Text path;
  bool operator==(const KeyRef& other) const { return root == other.root && path == other.path; }
};

struct RegistryValue {
  KeyRef key;
  Text name;
  std::string type;  // REG_SZ, REG_DWORD, ... or the decimal type number
  Bytes data;
};

// One raw row of the Registry table; a missing Key, Name or Value is a null field.
struct RegistryRow {
  Text registry;
  int root = 0;
  std::optional<Text> key, name, value;
};

struct Scenario {
  std::string name;
  std::string file;
  int line = 0;
  std::vector<std::string> calls;
  std::vector<bool> reopenBefore;  // per call: the call gets a newly opened session
  std::vector<std::pair<Text, Text>> properties;
  bool registryTable = true;
  std::vector<RegistryRow> rows;
  std::vector<KeyRef> clearKeys;  // the file's test trees, emptied before the scenario runs
  std::vector<KeyRef> givenKeys;
  std::vector<RegistryValue> givenValues;
  std::vector<Text> logs;
  bool checkDebug = false;
  std::vector<Text> debugs;
  std::vector<KeyRef> expectKeys;  // must exist, holding exactly the expected values
  std::vector<RegistryValue> expectValues;
  std::vector<KeyRef> expectNoKeys;
  // Why the scenario is known not to conform (a defect reported, not yet fixed): it passes
  // while it differs from its expectations and fails once it conforms, so the mark goes.
  std::string knownFailure;
};

// Thrown by the parsers with "file:line: what went wrong".
struct ParseError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::vector<Scenario> ParseScenarios(const std::string& content, const std::string& file);
std::vector<Scenario> ReadScenarioFile(const std::string& path);
// Every *.scn file of `directory`, in name order.
std::vector<std::string> ScenarioFiles(const std::string& directory);

// What one platform did for a scenario.
struct KeyState {
  KeyRef key;
  bool exists = false;
  std::vector<RegistryValue> values;
};
struct Outcome {
  std::vector<std::pair<std::string, uint32_t>> results;  // export and its result, in call order
  std::vector<Text> logs;                                // log lines written during the calls
  std::vector<Text> debugs;                              // debugger outputs during the calls
  std::vector<KeyState> keys;
  std::string error;  // the runner's own failure, if any
};

// The keys whose state the expectations name, each once, in order of first mention.
std::vector<KeyRef> KeysToCheck(const Scenario& scenario);

// The differences between the outcome and the expectations, one readable message each; empty
// when the outcome conforms. Every call must have returned 0.
std::vector<std::string> Compare(const Scenario& scenario, const Outcome& outcome);

// The verdict on one platform's outcome: "PASS", "XFAIL" (a known failure that still
// differs) or "FAIL", with the differences (or the reason the verdict is FAIL) in `details`.
std::string Verdict(const Scenario& scenario, const Outcome& outcome,
                    std::vector<std::string>& details);

// A log or debugger line with the system text of a report line (between " (" and "), call: ")
// replaced by "...": Windows, Wine and the stand-in word these texts differently.
Text MaskSystemText(const Text& line);

// ur-runner's output split into its runs, in order.
std::vector<Outcome> ParseRunnerOutput(const std::string& output);

// ur-runner arguments for a batch of scenarios (one run each, the packages named by
// `packagePath`), one argument per line in the runner's @FILE form.
std::string RunnerArguments(const std::vector<Scenario>& scenarios, const std::string& dll,
                            const std::vector<std::string>& packagePaths);

// The scenario's Registry table as IDT text for msibuild -i.
std::string RegistryIdt(const Scenario& scenario);

std::string Utf8(const Text& text);
std::string QuotedText(const Text& text);

// Registry type names and codes.
uint32_t TypeCode(const std::string& type);
std::string TypeName(uint32_t code);

}  // namespace conformance
