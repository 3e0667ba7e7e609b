// Hostile package contents: huge and numerous keys, texts outside the BMP and full of format
// characters, odd or null Registry fields, unreachable keys, a missing Registry table and size
// properties that are no numbers. Every run must return 0, write exactly its lines, leave no
// handle or key open, keep COM balanced and change nothing the applied rows do not name.
#include <functional>

#include "fixture.h"
#include "fuzz/action_checks.h"

namespace {

using actioncheck::Target;
using hostctl::RegValue;
using Text = std::u16string;

const Text kPath = u"Software\\Hostile";
const Text kPerform = u"PerformRegistryUpdate: ";
const Text kRow = kPerform + u"UpdateRegistryEntry: ";
const Text kStart = kPerform + u"Start registry update ... ";
const Text kComplete = kPerform + u"Registry update complete! ";

Text Query(const Text& key) { return u"SELECT * FROM Registry WHERE Registry='" + key + u"'"; }

RegValue Sz(const Text& text) { return {REG_SZ, hostctl::Utf16Bytes(text, true)}; }

// The report lines of a key that cannot be opened and of the refused text write after it.
Text OpenReport(UINT code) {
  return ReportLine(code, u"msistd::CHKEY::CHKEY",
                    u"RegOpenKeyEx( root, name.c_str(), 0, access, &hKey )", kRegistryLibFile, 44);
}
Text RefusedTextWrite() {
  return ReportLine(
      6, u"msistd::CRegistryValue::Value",
      u"RegSetValueEx( key.HKey(), name.c_str(), 0, type, (const unsigned char*)value.c_str(), "
      u"(DWORD)value.length() * sizeof( value[0] ) )",
      kRegistryLibFile, 342);
}
Text NoRow() {
  return ReportLine(259, u"msistd::CView::Fetch", u"MsiViewFetch( MsiHandle(), &record )",
                    kInstallLibFile, 474);
}

class HostileTest : public PackageTest {
 protected:
  void SetUp() override {
    PackageTest::SetUp();
    hostctl::CreateKey(HKEY_CURRENT_USER, kPath);
    hostctl::CreateKey(HKEY_LOCAL_MACHINE, kPath);
  }

  // Runs an export with the checks every run must pass; `allowed` lists what it may write.
  Lines Run(UINT(WINAPI* action)(MSIHANDLE), const std::vector<Target>& allowed) {
    const actioncheck::Snapshot before = actioncheck::TakeSnapshot();
    const int initialized = hostctl::CoInitializeCalls();
    const int uninitialized = hostctl::CoUninitializeCalls();
    const size_t known = hostctl::LogLines(session).size();
    UINT result = action(session);
    EXPECT_EQ(actioncheck::FrameProblem(result, session, initialized, uninitialized), "");
    EXPECT_EQ(actioncheck::UnexpectedChange(before, actioncheck::TakeSnapshot(), allowed), "");
    Lines lines = hostctl::LogLines(session);
    return Lines(lines.begin() + static_cast<std::ptrdiff_t>(known), lines.end());
  }

  Lines Update(const Text& keys, const std::vector<Target>& allowed) {
    hostctl::SetProperty(session, u"ZYB_UPDATE_REG_KEYS", keys);
    return Run(PerformRegistryUpdate, allowed);
  }

};

// The lines of one applied row whose key opens; `extra` follows the value line.
Lines RowLines(const Text& root, const Text& key, const Text& name, const Text& value,
               const Lines& extra = {}) {
  Lines lines{kRow + u"root: " + root + u" ", kRow + u"Reg_Key Name: \"" + key + u"\"",
              kRow + u"Reg_Value Name: \"" + name + u"\"", kRow + u"Reg_Value Value: \"" + value + u"\""};
  lines.insert(lines.end(), extra.begin(), extra.end());
  return lines;
}

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// One Registry row per case, applied by PerformRegistryUpdate through its key.
TEST_F(HostileTest, RowsWithHostileFieldsWriteOnlyWhatTheyName) {
  const Text clef = u"\U0001D11E";  // outside the BMP: a surrogate pair
  const Text longComponent(256, u'k');
  const Text megabyte(1 << 20, u'v');
  const Text hexMegabyte = [] {
    Text hex;
    for (int i = 0; i < (1 << 20); ++i) hex += u"0123456789abcdef"[i % 16];
    return hex;
  }();
  const std::vector<uint8_t> hexBytes = [] {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < (1 << 19); ++i) bytes.push_back(i % 8 * 0x22 + 0x01);
    return bytes;
  }();

  struct Case {
    const char* what;
    Text id;
    std::optional<int> root;
    Text key;
    std::optional<Text> valueName, value;
    Lines lines;                       // between the query line and the closing line
    std::optional<Target> written;     // the one value the row may write
    std::optional<RegValue> stored;    // what it then holds (nullopt: left absent)
    std::function<void()> prepare = [] {};
  };
  const Case cases[] = {
      {"non-BMP and format characters in key, name and value", clef + u"]id[{%}", 1,
       kPath + u"\\" + clef + u"{x}%", u"n" + clef + u"[\\[]", u"v{" + clef + u"}%[\\]]",
       RowLines(u"HKEY_CURRENT_USER", kPath + u"\\" + clef + u"{x}%", u"n" + clef + u"[",
                u"v{" + clef + u"}%]"),
       Target{HKEY_CURRENT_USER, kPath + u"\\" + clef + u"{x}%", u"n" + clef + u"["},
       Sz(u"v{" + clef + u"}%]"),
       [&] { hostctl::CreateKey(HKEY_CURRENT_USER, kPath + u"\\" + clef + u"{x}%"); }},
      {"lone surrogates in the value", u"Lone", 2, kPath, u"lone", Text(u"\xD800x\xDC00", 3),
       RowLines(u"HKEY_LOCAL_MACHINE", kPath, u"lone", Text(u"\xD800x\xDC00", 3)),
       Target{HKEY_LOCAL_MACHINE, kPath, u"lone"}, Sz(Text(u"\xD800x\xDC00", 3))},
      {"a Value of 1 MiB", u"Big", 1, kPath, u"big", megabyte,
       RowLines(u"HKEY_CURRENT_USER", kPath, u"big", megabyte), Target{HKEY_CURRENT_USER, kPath, u"big"},
       Sz(megabyte)},
      {"a binary Value of 1 MiB of digits", u"BigHex", 1, kPath, u"hex", u"#x" + hexMegabyte,
       RowLines(u"HKEY_CURRENT_USER", kPath, u"hex", u"#x" + hexMegabyte,
                {kRow + u"Value will be stored as a hexadecimal value (REG_BINARY)"}),
       Target{HKEY_CURRENT_USER, kPath, u"hex"}, RegValue{REG_BINARY, hexBytes}},
      {"null Name and Value: the key's default value, empty", u"Nulls", 1, kPath, std::nullopt,
       std::nullopt, RowLines(u"HKEY_CURRENT_USER", kPath, u"", u""),
       Target{HKEY_CURRENT_USER, kPath, u""}, Sz(u"")},
      {"a Key that formats to nothing opens the root itself", u"EmptyKey", 1, u"[UNSET]", u"v",
       u"x", RowLines(u"HKEY_CURRENT_USER", u"", u"v", u"x"), Target{HKEY_CURRENT_USER, u"", u"v"},
       Sz(u"x")},
      {"root 4", u"Root4", 4, kPath, u"v", u"x", {kRow + u"Can't identify root for update"}, std::nullopt, std::nullopt},
      {"root -2", u"RootMinus2", -2, kPath, u"v", u"x", {kRow + u"Can't identify root for update"}, std::nullopt, std::nullopt},
      {"root 32767", u"RootMax", 32767, kPath, u"v", u"x", {kRow + u"Can't identify root for update"}, std::nullopt, std::nullopt},
      {"a key component of 256 characters", u"LongComponent", 1,
       kPath + u"\\" + longComponent, u"v", u"x",
       Join({{kRow + u"root: HKEY_CURRENT_USER ",
              kRow + u"Reg_Key Name: \"" + kPath + u"\\" + longComponent + u"\"",
              OpenReport(ERROR_FILE_NOT_FOUND), kRow + u"Reg_Value Name: \"v\"",
              kRow + u"Reg_Value Value: \"x\"", RefusedTextWrite()}}),
       std::nullopt, std::nullopt},
      {"a key whose write access is denied", u"Denied", 1, kPath + u"\\Denied", u"v", u"x",
       Join({{kRow + u"root: HKEY_CURRENT_USER ",
              kRow + u"Reg_Key Name: \"" + kPath + u"\\Denied\"", OpenReport(ERROR_ACCESS_DENIED),
              kRow + u"Reg_Value Name: \"v\"", kRow + u"Reg_Value Value: \"x\"", RefusedTextWrite()}}),
       Target{HKEY_CURRENT_USER, kPath + u"\\Denied", u"v"}, Sz(u"kept"),
       [&] {
         hostctl::SetString(HKEY_CURRENT_USER, kPath + u"\\Denied", u"v", u"kept");
         hostctl::DenyAccess(HKEY_CURRENT_USER, kPath + u"\\Denied");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    c.prepare();
    hostctl::AddRow(database, u"Registry",
                    {c.id, c.root ? hostctl::Cell(*c.root) : hostctl::Cell(), c.key,
                     c.valueName ? hostctl::Cell(*c.valueName) : hostctl::Cell(),
                     c.value ? hostctl::Cell(*c.value) : hostctl::Cell(), Text(u"Component")});
    std::vector<Target> allowed;
    if (c.written) allowed.push_back(*c.written);
    EXPECT_EQ(Update(c.id, allowed),
              Join({{kStart, kPerform + u"query: " + Query(c.id)}, c.lines, {kComplete}}));
    if (c.written) {
      EXPECT_EQ(hostctl::Value(c.written->root, c.written->key, c.written->name), c.stored);
    }
  }
}

TEST_F(HostileTest, KeyListsOfExtremeSize) {
  hostctl::AddRegistryRow(database, u"First", 1, kPath, u"first", u"#1");
  const Text giant(1 << 20, u'k');
  const Text thousand(1000, u'q');
  struct Case {
    const char* name;
    Text list;
    Lines lines;
  };
  const Lines first = Join({{kPerform + u"query: " + Query(u"First")},
                            RowLines(u"HKEY_CURRENT_USER", kPath, u"first", u"#1",
                                     {kRow + u"Value \"1\" will be stored as an integer (REG_DWORD)"})});
  auto noRow = [](const Text& key) {
    return Lines{kPerform + u"query: " + Query(key), NoRow(), kRow + u"Can't identify root for update"};
  };
  const Case cases[] = {
      {"a list of 1 MiB around one row", u"First;" + giant + u";First",
       Join({{kStart}, first, noRow(giant), first, {kComplete}})},
      {"a key of 1,000 characters", thousand, Join({{kStart}, noRow(thousand), {kComplete}})},
      {"brackets, braces, percent and a surrogate pair in a listed key",
       u"]k[{%}\U0001D11E;First", Join({{kStart}, noRow(u"]k[{%}\U0001D11E"), first, {kComplete}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Update(c.list, {{HKEY_CURRENT_USER, kPath, u"first"}}), c.lines);
  }
  EXPECT_EQ(hostctl::Value(HKEY_CURRENT_USER, kPath, u"first"), (RegValue{REG_DWORD, {1, 0, 0, 0}}));
}

// Ten thousand keys naming a hundred rows, each a hundred times (the stand-in scans the whole
// table for every query, so a table of ten thousand rows would only measure that scan).
TEST_F(HostileTest, TenThousandKeysAreEachApplied) {
  const int kRows = 100, kKeys = 10000;
  std::vector<Target> allowed;
  for (int i = 0; i < kRows; ++i) {
    const Text n = msistd::ToDecimal(static_cast<int32_t>(i));
    hostctl::AddRegistryRow(database, u"K" + n, 1, kPath, u"v" + n, u"#" + n);
    allowed.push_back({HKEY_CURRENT_USER, kPath, u"v" + n});
  }
  Text list;
  for (int i = 0; i < kKeys; ++i) list += u"K" + msistd::ToDecimal(static_cast<int32_t>(i % kRows)) + u";";
  const Lines lines = Update(list, allowed);
  ASSERT_EQ(lines.size(), 2u + 6u * kKeys);
  EXPECT_EQ(lines.back(), kComplete);
  EXPECT_EQ(lines[6 * 9999 + 1], kPerform + u"query: " + Query(u"K99"));
  EXPECT_EQ(lines[6 * 9999 + 6], kRow + u"Value \"99\" will be stored as an integer (REG_DWORD)");
  EXPECT_EQ(hostctl::CallCount("RegSetValueExW"), size_t{kKeys});
  EXPECT_EQ(hostctl::ValueNames(HKEY_CURRENT_USER, kPath).size(), size_t{kRows});
  EXPECT_EQ(hostctl::Value(HKEY_CURRENT_USER, kPath, u"v66"), (RegValue{REG_DWORD, {66, 0, 0, 0}}));
}

// The Root column holds integers; a record can still carry text or nothing in its place. Text
// that reads as a number counts as that number (the installer converts it), other text as null.
TEST_F(HostileTest, RootFieldWithTextOrNothing) {
  msistd::SetInstallHandle(session);
  struct Case {
    std::optional<Text> root;
    bool applied;
    Text rootLine;
  };
  const Case cases[] = {
      {u"2", true, u"root: HKEY_LOCAL_MACHINE "},
      {u"HKLM", false, u"Can't identify root for update"},
      {u" 2", false, u"Can't identify root for update"},
      {std::nullopt, false, u"Can't identify root for update"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hostctl::ToUtf8(c.root.value_or(u"(null)")));
    msistd::CRecord row(6);
    if (c.root) row.Field(2).Value(*c.root);
    row.Field(3).Value(kPath);
    row.Field(4).Value(u"v");
    row.Field(5).Value(u"x");
    msistd::CSession caller(session, false);
    caller.LogPrefix(u"Test: ");
    const actioncheck::Snapshot before = actioncheck::TakeSnapshot();
    const size_t known = hostctl::LogLines(session).size();
    EXPECT_EQ(UpdateRegistryEntry(caller, row, false), c.applied);
    const Lines lines = hostctl::LogLines(session);
    ASSERT_GT(lines.size(), known);
    EXPECT_EQ(lines[known], u"Test: UpdateRegistryEntry: " + c.rootLine);
    EXPECT_EQ(lines.size() - known, c.applied ? 4u : 1u);
    std::vector<Target> allowed;
    if (c.applied) allowed.push_back({HKEY_LOCAL_MACHINE, kPath, u"v"});
    EXPECT_EQ(actioncheck::UnexpectedChange(before, actioncheck::TakeSnapshot(), allowed), "");
    EXPECT_EQ(OtherHandles(), 1u) << "only the row record";
    EXPECT_EQ(hostctl::OpenKeyCount(), 0u);
  }
  EXPECT_EQ(hostctl::Value(HKEY_LOCAL_MACHINE, kPath, u"v"), Sz(u"x"));
}

TEST_F(HostileTest, PackageWithoutRegistryTable) {
  hostctl::SetActiveDatabase(session, hostctl::CreateDatabase());
  const Text openReport = ReportLine(1615, u"msistd::CDatabase::OpenView",
                                     u"MsiDatabaseOpenView( MsiHandle(), query.c_str(), &view )",
                                     kInstallLibFile, 628);
  auto cantExecute = [](const Text& prefix, const Text& key) {
    return prefix + u"can't execute \"" + Query(key) +
           u"\" probable there isn't record with 'Registry' = '" + key + u"' in Registry table";
  };
  EXPECT_EQ(Update(u"A", {}),
            (Lines{kStart, kPerform + u"query: " + Query(u"A"), openReport,
                   cantExecute(kPerform, u"A"), kComplete}));
  const Text arp = u"Update ARP Size: ";
  hostctl::SetProperty(session, u"ZYB_ARP_SIZE_REG_KEY", u"Size");
  EXPECT_EQ(Run(UpdateARPSize, {}), (Lines{arp + u"query: " + Query(u"Size"), openReport,
                                           cantExecute(arp, u"Size"),
                                           arp + u"Complete ARP size updating"}));
}

TEST_F(HostileTest, SizePropertiesThatAreNoNumbers) {
  struct Case {
    Text previous, total, sum;
  };
  const Case cases[] = {
      {u"abc", u"xyz", u"0"},
      {u"   ", u"\t\r\n", u"0"},
      {u"", u"", u"0"},
      {u"99999999999999999999", u"1", u"2147483648"},
      {u"#99999999999", u"99999999999", u"4294967294"},
      {u"-99999999999999999999", u"-1", u"2147483647"},
      {u"# 5", u" +7 ", u"12"},
      {u"#-", u"+", u"0"},
      {u"##5", u"#5", u"0"},
      {u"\uFF11\uFF12", u"\U0001D7D9", u"0"},  // fullwidth and mathematical digits are no digits
      {u"12abc", u"0x10", u"12"},
  };
  const Text p = u"GetTotalARPSize: ";
  for (const Case& c : cases) {
    SCOPED_TRACE(hostctl::ToUtf8(c.previous + u" / " + c.total));
    SetUp();
    hostctl::SetProperty(session, u"ZYB_ARP_PREVSIZE", c.previous);
    hostctl::SetProperty(session, u"TOTAL_COST", c.total);
    EXPECT_EQ(Run(SumARPPrevsizeAndTotalCost, {}),
              (Lines{p + u"ARP previous size (property \"ZYB_ARP_PREVSIZE\") =  " + c.previous +
                         u"; total cost (property \"TOTAL_COST\") =  " + c.total,
                     p + u"New TOTAL_COST value = " + c.sum, p + u"Size calculation complete"}));
    EXPECT_EQ(hostctl::Property(session, u"TOTAL_COST"), c.sum);
  }
}

}  // namespace
