// The three exports on a package built from fuzzed lines, run in install order
// (SumARPPrevsizeAndTotalCost, PerformRegistryUpdate, UpdateARPSize) on one session. Lines:
//   P NAME=VALUE                     a property
//   R id|root|key[|name[|value]]      a Registry row (root in decimal; text gives a null cell)
//   K root|path   D root|path         an existing key (root 0..3); D also denies writes to it
//   V root|path|name|number           a REG_DWORD already stored
//   N                                 the package has no Registry table
// After each export: result 0, the install handle still open and no other handle, no registry
// key open, one CoInitialize and one CoUninitialize, and no registry change besides the values
// named by the rows that export applies.
#include <stdexcept>

#include "fuzz/action_checks.h"
#include "fuzz_input.h"
#include "sources/stdInstallLib.h"

namespace {

using actioncheck::Target;
using hostctl::Text;

struct RegistryRow {
  Text id;
  int root;
  Text key;
  Text name, value;
};

struct Package {
  std::vector<RegistryRow> rows;
  bool hasTable = true;
};

bool UsablePath(const Text& path) {
  if (path.empty() || path[0] == u'\\' || path.find(u'\0') != Text::npos) return false;
  size_t component = 0;
  for (char16_t unit : path) {
    component = unit == u'\\' ? 0 : component + 1;
    if (component > 255) return false;
  }
  return !actioncheck::CanonicalPath(path).empty();
}

HKEY RootDigit(const std::string& field) {
  return actioncheck::kRoots[field.empty() ? 1 : static_cast<uint8_t>(field[0]) % 4];
}

Package Build(const uint8_t* data, size_t size, MSIHANDLE session) {
  Package package;
  hostctl::DatabaseId database = hostctl::CreateDatabase();
  std::vector<std::string> lines = fuzzinput::Lines(data, size);
  for (const std::string& line : lines)
    if (line == "N") package.hasTable = false;
  if (package.hasTable) hostctl::AddRegistryTable(database);
  hostctl::SetActiveDatabase(session, database);

  for (const std::string& line : lines) {
    if (line.empty()) continue;
    std::vector<std::string> fields = fuzzinput::Fields(line.substr(1));
    if (line[0] == 'P') {
      Text property = fuzzinput::WithoutNul(fuzzinput::Units(line.substr(1)));
      size_t equals = property.find(u'=');
      if (equals != 0 && equals != Text::npos)
        hostctl::SetProperty(session, property.substr(0, equals), property.substr(equals + 1));
    } else if (line[0] == 'R' && package.hasTable && fields.size() >= 3 &&
               package.rows.size() < 32) {
      std::optional<int> root = fuzzinput::RootCode(fields[1]);
      auto cell = [&](size_t i) { return fuzzinput::UpToNul(fuzzinput::Units(fields[i])); };
      RegistryRow row{cell(0), root.value_or(MSI_NULL_INTEGER), cell(2),
                      fields.size() > 3 ? cell(3) : Text(), fields.size() > 4 ? cell(4) : Text()};
      std::vector<hostctl::Cell> cells{row.id};
      cells.push_back(root ? hostctl::Cell(*root) : hostctl::Cell());
      cells.push_back(row.key);
      cells.push_back(fields.size() > 3 ? hostctl::Cell(row.name) : hostctl::Cell());
      cells.push_back(fields.size() > 4 ? hostctl::Cell(row.value) : hostctl::Cell());
      cells.push_back(Text(u"Component"));
      try {
        hostctl::AddRow(database, u"Registry", cells);
        package.rows.push_back(row);
      } catch (const std::invalid_argument&) {
        // A row the table cannot hold (a duplicate key, a null or over-long cell) is left out,
        // as a package could not carry it either.
      }
    } else if ((line[0] == 'K' || line[0] == 'D') && fields.size() >= 2) {
      Text path = fuzzinput::Units(fields[1]);
      if (!UsablePath(path)) continue;
      hostctl::CreateKey(RootDigit(fields[0]), path);
      if (line[0] == 'D') hostctl::DenyAccess(RootDigit(fields[0]), path);
    } else if (line[0] == 'V' && fields.size() >= 4) {
      Text path = fuzzinput::Units(fields[1]);
      if (!UsablePath(path)) continue;
      hostctl::SetDword(RootDigit(fields[0]), path, fuzzinput::WithoutNul(fuzzinput::Units(fields[2])),
                        static_cast<uint32_t>(std::strtoul(fields[3].c_str(), nullptr, 10)));
    }
  }
  return package;
}

// The values the rows with these keys may write, resolved as the export resolves them now.
std::vector<Target> Targets(const Package& package, const std::vector<Text>& keys,
                            MSIHANDLE session) {
  msistd::CSession formatter(session, false);
  auto format = [&](const Text& text) { return text.empty() ? text : formatter.Format(text); };
  const bool allUsers = hostctl::Property(session, u"ALLUSERS") == u"1";
  std::vector<Target> targets;
  for (const Text& key : keys)
    for (const RegistryRow& row : package.rows)
      if (row.id == key)
        if (HKEY root = actioncheck::RootOf(row.root, allUsers))
          targets.push_back({root, format(row.key), format(row.name)});
  return targets;
}

void Run(UINT(WINAPI* action)(MSIHANDLE), const char* name, MSIHANDLE session,
         const std::vector<Target>& targets) {
  const actioncheck::Snapshot before = actioncheck::TakeSnapshot();
  const int initialized = hostctl::CoInitializeCalls(),
            uninitialized = hostctl::CoUninitializeCalls();
  UINT result = action(session);
  std::string problem = actioncheck::FrameProblem(result, session, initialized, uninitialized);
  FUZZ_REQUIRE(problem.empty(), std::string(name) + ": " + problem);
  std::string change =
      actioncheck::UnexpectedChange(before, actioncheck::TakeSnapshot(), targets);
  FUZZ_REQUIRE(change.empty(), std::string(name) + ": " + change);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hostctl::Reset();
  msistd::SetInstallHandle(0);
  MSIHANDLE session = hostctl::CreateSession();
  const Package package = Build(data, size, session);

  Run(SumARPPrevsizeAndTotalCost, "SumARPPrevsizeAndTotalCost", session, {});

  const Text keyList = hostctl::Property(session, u"ZYB_UPDATE_REG_KEYS");
  size_t linesBefore = hostctl::LogLines(session).size();
  Run(PerformRegistryUpdate, "PerformRegistryUpdate", session,
      Targets(package, msistd::Split(keyList, u";"), session));
  std::vector<Text> lines = hostctl::LogLines(session);
  FUZZ_REQUIRE(lines.size() >= linesBefore + 2, "PerformRegistryUpdate: too few lines");
  FUZZ_REQUIRE(lines[linesBefore] == u"PerformRegistryUpdate: Start registry update ... ",
               "PerformRegistryUpdate: first line");
  FUZZ_REQUIRE(lines.back() == (keyList.empty()
                                    ? u"PerformRegistryUpdate: ZYB_UPDATE_REG_KEYS property "
                                      u"isn't defined or is empty "
                                    : u"PerformRegistryUpdate: Registry update complete! "),
               "PerformRegistryUpdate: last line");

  const Text arpKey = hostctl::Property(session, u"ZYB_ARP_SIZE_REG_KEY");
  Run(UpdateARPSize, "UpdateARPSize", session, Targets(package, {arpKey}, session));

  FUZZ_REQUIRE(msistd::installHandle == session, "install handle not stored");
  MsiCloseHandle(session);
  FUZZ_REQUIRE(hostctl::OpenHandleCount() == 0, "handles left after closing the session");
  return 0;
}
