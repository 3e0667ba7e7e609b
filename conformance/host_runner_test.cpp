// Runs every conformance scenario against the host stand-in: the session, its properties and
// Registry table and the registry before are built through the control interface, the exports
// run in order, and the outcome is held to the same comparison as the Wine run.
#include <gtest/gtest.h>

#include <cctype>
#include <iostream>
#include <map>
#include <ostream>

#include "UpdateRegistry.h"
#include "conformance/scenario.h"
#include "hostplatform/control.h"
#include "sources/stdInstallLib.h"

namespace conformance {
// Test names and failure messages show the scenario by its name, not its bytes.
void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }
}  // namespace conformance

namespace {

using conformance::KeyRef;
using conformance::Outcome;
using conformance::Scenario;

HKEY RootKey(const std::string& root) {
  static const std::map<std::string, HKEY> kRoots = {{"HKCR", HKEY_CLASSES_ROOT},
                                                     {"HKCU", HKEY_CURRENT_USER},
                                                     {"HKLM", HKEY_LOCAL_MACHINE},
                                                     {"HKU", HKEY_USERS}};
  return kRoots.at(root);
}

using Export = UINT(WINAPI*)(MSIHANDLE);
Export FindExport(const std::string& name) {
  static const std::map<std::string, Export> kExports = {
      {"PerformRegistryUpdate", &PerformRegistryUpdate},
      {"SumARPPrevsizeAndTotalCost", &SumARPPrevsizeAndTotalCost},
      {"UpdateARPSize", &UpdateARPSize}};
  auto found = kExports.find(name);
  return found == kExports.end() ? nullptr : found->second;
}

// An empty text cell is null in a real package (the database stores no empty strings).
hostctl::Cell TextCell(const std::optional<conformance::Text>& text) {
  if (!text || text->empty()) return std::monostate{};
  return *text;
}

// Every scenario of the suite; a file that does not parse leaves its message in `error`.
std::vector<Scenario> AllScenarios(std::string* error = nullptr) {
  std::vector<Scenario> all;
  try {
    for (const std::string& file : conformance::ScenarioFiles(CONFORMANCE_SCENARIO_DIR)) {
      std::vector<Scenario> scenarios = conformance::ReadScenarioFile(file);
      all.insert(all.end(), scenarios.begin(), scenarios.end());
    }
  } catch (const conformance::ParseError& e) {
    if (error != nullptr) *error = e.what();
  }
  return all;
}

class Conformance : public ::testing::TestWithParam<Scenario> {};

TEST_P(Conformance, StandInMatchesTheExpectations) {
  const Scenario& s = GetParam();
  SCOPED_TRACE(s.file + ":" + std::to_string(s.line) + ": scenario " + s.name);
  hostctl::Reset();
  msistd::SetInstallHandle(0);

  hostctl::DatabaseId database = hostctl::CreateDatabase();
  if (s.registryTable) {
    hostctl::AddRegistryTable(database);
    for (const conformance::RegistryRow& row : s.rows)
      hostctl::AddRow(database, u"Registry",
                      {row.registry, row.root, TextCell(row.key), TextCell(row.name),
                       TextCell(row.value), conformance::Text(u"C")});
  }
  auto openSession = [&] {
    MSIHANDLE session = hostctl::CreateSession();
    for (const auto& [name, value] : s.properties) hostctl::SetProperty(session, name, value);
    hostctl::SetActiveDatabase(session, database);
    return session;
  };
  MSIHANDLE session = openSession();
  for (const KeyRef& key : s.givenKeys) hostctl::CreateKey(RootKey(key.root), key.path);
  for (const auto& value : s.givenValues)
    hostctl::SetValue(RootKey(value.key.root), value.key.path, value.name,
                      conformance::TypeCode(value.type), value.data);
  hostctl::ClearDebugOutput();

  Outcome outcome;
  for (size_t i = 0; i < s.calls.size(); ++i) {
    Export action = FindExport(s.calls[i]);
    ASSERT_NE(action, nullptr) << "no export named " << s.calls[i];
    if (s.reopenBefore[i]) {
      // As the runner does: the new session is opened before the old one closes, so the
      // call gets another handle.
      std::vector<conformance::Text> lines = hostctl::LogLines(session);
      outcome.logs.insert(outcome.logs.end(), lines.begin(), lines.end());
      MSIHANDLE reopened = openSession();
      MsiCloseHandle(session);
      session = reopened;
    }
    outcome.results.emplace_back(s.calls[i], action(session));
  }
  std::vector<conformance::Text> lines = hostctl::LogLines(session);
  outcome.logs.insert(outcome.logs.end(), lines.begin(), lines.end());
  outcome.debugs = hostctl::DebugOutput();
  for (const KeyRef& key : conformance::KeysToCheck(s)) {
    conformance::KeyState state{key, hostctl::KeyExists(RootKey(key.root), key.path), {}};
    for (const auto& name : hostctl::ValueNames(RootKey(key.root), key.path)) {
      auto value = hostctl::Value(RootKey(key.root), key.path, name);
      state.values.push_back({key, name, conformance::TypeName(value->type), value->data});
    }
    outcome.keys.push_back(state);
  }

  std::vector<std::string> details;
  const std::string verdict = conformance::Verdict(s, outcome, details);
  if (verdict == "FAIL") {
    for (const std::string& detail : details) ADD_FAILURE() << detail;
  } else if (verdict == "XFAIL") {
    for (const std::string& detail : details) std::cout << "[ XFAIL    ] " << detail << "\n";
  }
  EXPECT_TRUE(hostctl::IsHandleOpen(session)) << "an action closed the install handle";
  EXPECT_EQ(hostctl::OpenHandleCount(), 1u) << "handles left open besides the session";
  EXPECT_EQ(hostctl::OpenKeyCount(), 0u) << "registry keys left open";
  EXPECT_EQ(hostctl::CoInitializeCalls(), static_cast<int>(s.calls.size()));
  EXPECT_EQ(hostctl::CoUninitializeCalls(), static_cast<int>(s.calls.size()));
  msistd::SetInstallHandle(0);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Conformance, ::testing::ValuesIn(AllScenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           std::string name;
                           for (char c : info.param.name) name += std::isalnum(c) ? c : '_';
                           return name;
                         });

// The files parse, and every scenario name is used once (the Wine run matches runs by order,
// reports by name).
TEST(ConformanceFiles, ParseWithUniqueScenarioNames) {
  std::string error;
  std::vector<Scenario> all = AllScenarios(&error);
  EXPECT_EQ(error, "");
  ASSERT_FALSE(all.empty());
  std::map<std::string, std::string> seen;
  for (const Scenario& s : all) {
    auto [it, added] = seen.emplace(s.name, s.file);
    EXPECT_TRUE(added) << s.name << " in " << s.file << " and " << it->second;
  }
}

}  // namespace
