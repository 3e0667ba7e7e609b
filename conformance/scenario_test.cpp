// The scenario format, the runner's output form and the comparison: what the two platform
// runs rely on to be held to the same expectations.
#include <gtest/gtest.h>

#include <functional>

#include "conformance/scenario.h"

namespace {

using namespace conformance;

const char kFile[] =
    "# a comment\n"
    "clear HKCU \"Software\\\\T\"\n"
    "scenario first\n"
    "  call PerformRegistryUpdate\n"
    "  call UpdateARPSize\n"
    "  property ZYB_UPDATE_REG_KEYS \"A; \"\n"
    "  row \"A\" -1 \"Software\\\\T\" null \"#x0A\"\n"
    "  given value HKCU \"Software\\\\T\\\\S\" \"n\" REG_DWORD 05000000\n"
    "  log \"line \\\"one\\\" \"\n"
    "  log \"tab\\there\\n\\u0001\"\n"
    "  expect value HKCU \"Software\\\\T\" \"\" REG_BINARY 0a\n"
    "  expect key HKCU \"Software\\\\T\\\\S\"\n"
    "  expect nokey HKCU \"Software\\\\T\\\\Gone\"\n"
    "end\n"
    "scenario second\n"
    "  call SumARPPrevsizeAndTotalCost\n"
    "  no-registry-table\n"
    "  no-debug\n"
    "end\n";

TEST(ScenarioFormat, ParsesEveryItem) {
  std::vector<Scenario> all = ParseScenarios(kFile, "f.scn");
  ASSERT_EQ(all.size(), 2u);
  const Scenario& s = all[0];
  EXPECT_EQ(s.name, "first");
  EXPECT_EQ(s.line, 3);
  EXPECT_EQ(s.calls, (std::vector<std::string>{"PerformRegistryUpdate", "UpdateARPSize"}));
  ASSERT_EQ(s.properties.size(), 1u);
  EXPECT_EQ(s.properties[0].second, u"A; ");
  ASSERT_EQ(s.rows.size(), 1u);
  EXPECT_EQ(s.rows[0].root, -1);
  EXPECT_FALSE(s.rows[0].name.has_value());
  EXPECT_EQ(s.rows[0].value, Text(u"#x0A"));
  EXPECT_EQ(s.logs, (std::vector<Text>{u"line \"one\" ", u"tab\there\n\u0001"}));
  ASSERT_EQ(s.givenValues.size(), 1u);
  EXPECT_EQ(s.givenValues[0].data, (Bytes{5, 0, 0, 0}));
  EXPECT_EQ(KeysToCheck(s), (std::vector<KeyRef>{{"HKCU", u"Software\\T\\S"},
                                                  {"HKCU", u"Software\\T"},
                                                  {"HKCU", u"Software\\T\\Gone"}}));
  EXPECT_FALSE(s.checkDebug);
  EXPECT_FALSE(all[1].registryTable);
  EXPECT_TRUE(all[1].checkDebug);
  EXPECT_EQ(all[1].clearKeys, s.clearKeys);
}

TEST(ScenarioFormat, RejectsWhatCannotRunTheSameOnBothPlatforms) {
  const char* bad[] = {
      "scenario a\n  call X\n",                                                   // no end
      "scenario a\nend\n",                                                        // no call
      "scenario a\n  call X\n  expect key HKCU \"Elsewhere\"\nend\n",            // not cleared
      "clear HKCU \"T\"\nscenario a\n  call X\n  row \"A\" x \"k\" null null\nend\n",  // root
      "clear HKCU \"T\"\nscenario a\n  call X\n  row \"A\" 1 \"a\\tb\" null null\nend\n",
      "clear HKCU \"T\"\nscenario a\n  call X\n  expect value HKCU \"T\" \"v\" REG_SZ 0\nend\n",
      "scenario a\n  call X\n  log \"unterminated\nend\n",
      "scenario a b\n  call X\nend\n",
  };
  for (const char* text : bad) EXPECT_THROW(ParseScenarios(text, "bad.scn"), ParseError) << text;
}

TEST(ScenarioFormat, MasksOnlyTheSystemTextOfReportLines) {
  EXPECT_EQ(MaskSystemText(u"Error:  error code: 2 (File not found.\r\n), call: X( a ), line:1\n"),
            u"Error:  error code: 2 (...), call: X( a ), line:1\n");
  EXPECT_EQ(MaskSystemText(u"P: Reg_Value Value: \"a (b)\""), u"P: Reg_Value Value: \"a (b)\"");
}

Outcome Conforming() {
  Outcome outcome;
  outcome.results = {{"PerformRegistryUpdate", 0}, {"UpdateARPSize", 0}};
  outcome.logs = {u"line \"one\" ", u"tab\there\n\u0001"};
  outcome.keys = {{{"HKCU", u"Software\\T\\S"}, true, {}},
                  {{"HKCU", u"Software\\T"}, true, {{{"HKCU", u"Software\\T"}, u"", "REG_BINARY", {0x0A}}}},
                  {{"HKCU", u"Software\\T\\Gone"}, false, {}}};
  return outcome;
}

TEST(ScenarioComparison, FindsEveryKindOfDifference) {
  const Scenario s = ParseScenarios(kFile, "f.scn")[0];
  EXPECT_TRUE(Compare(s, Conforming()).empty());

  std::vector<std::function<void(Outcome&)>> faults = {
      [](Outcome& o) { o.results[1].second = 1; },
      [](Outcome& o) { o.results.pop_back(); },
      [](Outcome& o) { o.logs[0] += u" "; },
      [](Outcome& o) { o.logs.push_back(u"extra"); },
      [](Outcome& o) { o.keys[0].exists = false; },
      [](Outcome& o) { o.keys[0].values.push_back({o.keys[0].key, u"extra", "REG_SZ", {}}); },
      [](Outcome& o) { o.keys[1].values[0].type = "REG_SZ"; },
      [](Outcome& o) { o.keys[1].values[0].data.push_back(0); },
      [](Outcome& o) { o.keys[2].exists = true; },
      [](Outcome& o) { o.keys.pop_back(); },
      [](Outcome& o) { o.error = "runner failed"; },
  };
  for (size_t i = 0; i < faults.size(); ++i) {
    Outcome outcome = Conforming();
    faults[i](outcome);
    EXPECT_FALSE(Compare(s, outcome).empty()) << "fault " << i;
  }
}

TEST(ScenarioComparison, AKnownFailurePassesOnlyWhileItDiffers) {
  Scenario s = ParseScenarios(kFile, "f.scn")[0];
  std::vector<std::string> details;
  Outcome differing = Conforming();
  differing.logs.clear();
  EXPECT_EQ(Verdict(s, Conforming(), details), "PASS");
  EXPECT_EQ(Verdict(s, differing, details), "FAIL");
  s = ParseScenarios(std::string(kFile).insert(std::string(kFile).find("  log "),
                                               "  known-failure \"reported\"\n"),
                     "f.scn")[0];
  EXPECT_EQ(s.knownFailure, "reported");
  EXPECT_EQ(Verdict(s, differing, details), "XFAIL");
  EXPECT_EQ(Verdict(s, Conforming(), details), "FAIL");
}

TEST(RunnerOutput, SplitsRunsAndKeepsOnlyWhatTheCallsWrote) {
  const std::string output =
      "package \"a.msi\"\n"
      "log \"=== Logging started ===\"\n"
      "call PerformRegistryUpdate\n"
      "log \"one\\r\\n\"\n"
      "debug \"one\"\n"
      "result PerformRegistryUpdate 0\n"
      "key HKCU \"Software\\\\T\"\n"
      "value HKCU \"Software\\\\T\" \"v\" REG_DWORD 2a000000\n"
      "nokey HKLM \"X\"\n"
      "end\n"
      "package \"b.msi\"\n"
      "error \"package not found\"\n";
  std::vector<Outcome> runs = ParseRunnerOutput(output);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].logs, std::vector<Text>{u"one\r\n"});
  EXPECT_EQ(runs[0].debugs, std::vector<Text>{u"one"});
  ASSERT_EQ(runs[0].keys.size(), 2u);
  EXPECT_TRUE(runs[0].keys[0].exists);
  ASSERT_EQ(runs[0].keys[0].values.size(), 1u);
  EXPECT_EQ(runs[0].keys[0].values[0].data, (Bytes{0x2a, 0, 0, 0}));
  EXPECT_FALSE(runs[0].keys[1].exists);
  EXPECT_EQ(runs[1].error, "package not found");
  EXPECT_THROW(ParseRunnerOutput("call X\n"), ParseError);
}

TEST(RunnerOutput, ArgumentsCarryEveryTextQuoted) {
  Scenario s = ParseScenarios(kFile, "f.scn")[0];
  std::string args = RunnerArguments({s}, "C:\\x\\UpdateRegistry.dll", {"packages\\first.msi"});
  EXPECT_EQ(args,
            "--dll\n\"C:\\\\x\\\\UpdateRegistry.dll\"\n--package\n\"packages\\\\first.msi\"\n"
            "--clear-key\n\"HKCU\\\\Software\\\\T\"\n"
            "--set-hex\n\"HKCU\\\\Software\\\\T\\\\S\"\n\"n\"\nREG_DWORD\n05000000\n"
            "--property\n\"ZYB_UPDATE_REG_KEYS=A; \"\n"
            "--call\nPerformRegistryUpdate\n--call\nUpdateARPSize\n"
            "--dump-key\n\"HKCU\\\\Software\\\\T\\\\S\"\n--dump-key\n\"HKCU\\\\Software\\\\T\"\n"
            "--dump-key\n\"HKCU\\\\Software\\\\T\\\\Gone\"\n");
  EXPECT_EQ(RegistryIdt(s),
            "Registry\tRoot\tKey\tName\tValue\tComponent_\r\ns72\ti2\tl255\tL255\tL0\ts72\r\n"
            "Registry\tRegistry\r\nA\t-1\tSoftware\\T\t\t#x0A\tC\r\n");
}

}  // namespace
