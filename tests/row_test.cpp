// Applying one Registry row: roots, the value grammar, additive mode, and the lines in order.
#include "fixture.h"

namespace {

using hostctl::RegValue;
using msistd::CRecord;
using msistd::CSession;

const std::u16string kPrefix = u"Test: UpdateRegistryEntry: ";
const std::u16string kPath = u"Software\\Row";

class RowTest : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    msistd::SetInstallHandle(session);
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS})
      hostctl::CreateKey(root, kPath);
  }

  // A fetched-row record: Registry, Root, Key, Name, Value, Component_.
  static CRecord Row(std::optional<int> root, const std::u16string& key,
                     std::optional<std::u16string> name, std::optional<std::u16string> value) {
    CRecord row(6);
    row.Field(1).Value(u"Row");
    if (root) row.Field(2).Value(*root);
    row.Field(3).Value(key);
    if (name) row.Field(4).Value(*name);
    if (value) row.Field(5).Value(*value);
    row.Field(6).Value(u"Component");
    return row;
  }

  bool Apply(const CRecord& row, bool additive = false) {
    CSession s(session, false);
    s.LogPrefix(u"Test: ");
    bool result = UpdateRegistryEntry(s, row, additive);
    EXPECT_EQ(s.LogPrefix(), u"Test: ");
    EXPECT_EQ(OtherHandles(), 1u) << "only the row record stays open";
    EXPECT_EQ(hostctl::OpenKeyCount(), 0u);
    return result;
  }

  std::optional<RegValue> Stored(HKEY root = HKEY_CURRENT_USER) {
    return hostctl::Value(root, kPath, u"v");
  }
};

TEST_F(RowTest, RootCodesAndAllUsers) {
  struct Case {
    std::optional<int> root;
    std::optional<std::u16string> allUsers;
    HKEY expectedRoot;
    std::u16string line;
  };
  const Case cases[] = {
      {-1, u"1", HKEY_LOCAL_MACHINE, u"root: HKEY_LOCAL_MACHINE "},
      {-1, u"2", HKEY_CURRENT_USER, u"root: HKEY_CURRENT_USER "},
      {-1, u"", HKEY_CURRENT_USER, u"root: HKEY_CURRENT_USER "},
      {-1, std::nullopt, HKEY_CURRENT_USER, u"root: HKEY_CURRENT_USER "},
      {0, std::nullopt, HKEY_CLASSES_ROOT, u"root: HKEY_CLASSES_ROOT "},
      {1, u"1", HKEY_CURRENT_USER, u"root: HKEY_CURRENT_USER "},
      {2, std::nullopt, HKEY_LOCAL_MACHINE, u"root: HKEY_LOCAL_MACHINE "},
      {3, std::nullopt, HKEY_USERS, u"root: HKEY_USERS "},
  };
  for (const Case& c : cases) {
    SetUp();
    if (c.allUsers) hostctl::SetProperty(session, u"ALLUSERS", *c.allUsers);
    EXPECT_TRUE(Apply(Row(c.root, kPath, u"v", u"x")));
    EXPECT_EQ(hostctl::LogLines(session).front(), kPrefix + c.line);
    EXPECT_EQ(Stored(c.expectedRoot), (RegValue{REG_SZ, hostctl::Utf16Bytes(u"x", true)}));
  }
}

TEST_F(RowTest, UnresolvedRootTouchesNothing) {
  const std::optional<int> roots[] = {4, -2, std::nullopt};
  for (const auto& root : roots) {
    SetUp();
    hostctl::ClearCallLog();
    EXPECT_FALSE(Apply(Row(root, kPath, u"v", u"x")));
    EXPECT_EQ(hostctl::LogLines(session), Lines{kPrefix + u"Can't identify root for update"});
    EXPECT_EQ(hostctl::CallCount("RegOpenKeyExW"), 0u);
    EXPECT_FALSE(Stored());
  }
  CSession s(session, false);
  hostctl::ClearCallLog();
  EXPECT_FALSE(UpdateRegistryEntry(s, CRecord(), false));
  EXPECT_EQ(hostctl::CallCount("RegOpenKeyExW"), 0u);
}

TEST_F(RowTest, ValueGrammar) {
  using B = hostctl::Bytes;
  auto sz = [](const std::u16string& text) { return hostctl::Utf16Bytes(text, true); };
  const std::u16string kBinary = u"Value will be stored as a hexadecimal value (REG_BINARY)";
  const std::u16string kExpand = u"Value will be stored as an expandable string (REG_EXPAND_SZ)";
  auto integer = [](const std::u16string& data) {
    return u"Value \"" + data + u"\" will be stored as an integer (REG_DWORD)";
  };
  struct Case {
    std::optional<std::u16string> value;
    RegValue stored;
    std::optional<std::u16string> typeLine;
  };
  const Case cases[] = {
      {u"#%%SystemRoot%\\x", {REG_EXPAND_SZ, sz(u"%SystemRoot%\\x")}, kExpand},
      {u"#%", {REG_EXPAND_SZ, sz(u"")}, kExpand},
      {u"#x0A0B", {REG_BINARY, B{0x0A, 0x0B}}, kBinary},
      {u"#xABC", {REG_BINARY, B{0x0A, 0xBC}}, kBinary},
      {u"#xabcdef", {REG_BINARY, B{0xAB, 0xCD, 0xEF}}, kBinary},
      {u"#xZZ12", {REG_BINARY, B{0x00, 0x12}}, kBinary},
      {u"#x", {REG_BINARY, B{}}, kBinary},
      {u"##42", {REG_SZ, sz(u"#42")}, std::nullopt},
      {u"##x1", {REG_SZ, sz(u"#x1")}, std::nullopt},
      {u"#12abc", {REG_DWORD, B{12, 0, 0, 0}}, integer(u"12abc")},
      {u"#-5", {REG_DWORD, B{0xFB, 0xFF, 0xFF, 0xFF}}, integer(u"-5")},
      {u"#", {REG_DWORD, B{0, 0, 0, 0}}, integer(u"")},
      {u"#4294967296", {REG_DWORD, B{0xFF, 0xFF, 0xFF, 0x7F}}, integer(u"4294967296")},
      {u"#-4294967296", {REG_DWORD, B{0, 0, 0, 0x80}}, integer(u"-4294967296")},
      {u"#+7", {REG_DWORD, B{7, 0, 0, 0}}, integer(u"+7")},
      {u"# 9", {REG_DWORD, B{9, 0, 0, 0}}, integer(u" 9")},
      {u"#X12", {REG_DWORD, B{0, 0, 0, 0}}, integer(u"X12")},
      {u"plain", {REG_SZ, sz(u"plain")}, std::nullopt},
      {u" leading blank", {REG_SZ, sz(u" leading blank")}, std::nullopt},
      {u"a#b", {REG_SZ, sz(u"a#b")}, std::nullopt},
      {std::nullopt, {REG_SZ, sz(u"")}, std::nullopt},
  };
  for (const Case& c : cases) {
    SetUp();
    hostctl::SetString(HKEY_CURRENT_USER, kPath, u"v", u"previous");
    EXPECT_TRUE(Apply(Row(1, kPath, u"v", c.value)));
    std::string label = hostctl::ToUtf8(c.value.value_or(u"<null>"));
    EXPECT_EQ(Stored(), c.stored) << label;
    Lines expected{kPrefix + u"root: HKEY_CURRENT_USER ", kPrefix + u"Reg_Key Name: \"" + kPath + u"\"",
                   kPrefix + u"Reg_Value Name: \"v\"",
                   kPrefix + u"Reg_Value Value: \"" + c.value.value_or(u"") + u"\""};
    if (c.typeLine) expected.push_back(kPrefix + *c.typeLine);
    EXPECT_EQ(hostctl::LogLines(session), expected) << label;
  }
}

TEST_F(RowTest, IntegerConversion) {
  const std::pair<std::u16string, int32_t> cases[] = {
      {u"", 0},           {u"abc", 0},           {u"  12", 12},
      {u"\t\n-3x", -3},   {u"+7", 7},            {u"- 5", 0},
      {u"0x10", 0},       {u"007", 7},           {u"2147483647", 2147483647},
      {u"2147483648", 2147483647},               {u"-2147483648", INT32_MIN},
      {u"-2147483649", INT32_MIN},               {u"99999999999999999999999", 2147483647},
      {u"--1", 0},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ToInt32(text), value) << hostctl::ToUtf8(text);
}

TEST_F(RowTest, AdditiveModeAddsToTheStoredInteger) {
  auto addition = [](const std::u16string& data, const std::u16string& previous) {
    return kPrefix + u"New value \"" + data + u"\" will be added to previous registry value \"" +
           previous + u"\" and will be stored as an integer (REG_DWORD)";
  };
  struct Case {
    const char* name;
    std::optional<RegValue> before;
    std::u16string value;
    uint32_t after;
    Lines between;  // what stands between the value line and the end
  };
  const std::u16string missingReport =
      ReportLine(2, u"msistd::CRegistryValue::Exists",
                 u"RegQueryValueEx( key.HKey(), name.c_str(), 0, 0, 0, 0 )", kRegistryLibFile, 215);
  const Case cases[] = {
      {"5 + 3", RegValue{REG_DWORD, {5, 0, 0, 0}}, u"#3", 8, {addition(u"3", u"5")}},
      {"wraps", RegValue{REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}}, u"#1", 0, {addition(u"1", u"-1")}},
      {"missing", std::nullopt, u"#7", 7, {missingReport, addition(u"7", u"0")}},
      {"text replaced", RegValue{REG_SZ, hostctl::Utf16Bytes(u"12", true)}, u"#3", 3,
       {u"CRegistryValue::Dword: Wrong value type", addition(u"3", u"0")}},
  };
  for (const Case& c : cases) {
    SetUp();
    if (c.before) hostctl::SetValue(HKEY_CURRENT_USER, kPath, u"v", c.before->type, c.before->data);
    EXPECT_TRUE(Apply(Row(1, kPath, u"v", c.value), true));
    uint32_t after = c.after;
    EXPECT_EQ(Stored(), (RegValue{REG_DWORD, {static_cast<uint8_t>(after), static_cast<uint8_t>(after >> 8),
                                              static_cast<uint8_t>(after >> 16),
                                              static_cast<uint8_t>(after >> 24)}}))
        << c.name;
    Lines lines = hostctl::LogLines(session);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(Lines(lines.begin() + 4, lines.end()), c.between) << c.name;
  }
  SetUp();
  hostctl::SetString(HKEY_CURRENT_USER, kPath, u"v", u"old");
  Apply(Row(1, kPath, u"v", u"new text"), true);
  EXPECT_EQ(Stored(), (RegValue{REG_SZ, hostctl::Utf16Bytes(u"new text", true)}));
}

TEST_F(RowTest, MissingKeyIsNotCreatedAndItsReportsStandWhereTheCallsAre) {
  const std::u16string missing = u"Software\\Missing";
  EXPECT_TRUE(Apply(Row(1, missing, u"v", u"#1")));
  EXPECT_FALSE(hostctl::KeyExists(HKEY_CURRENT_USER, missing));
  EXPECT_EQ(
      hostctl::LogLines(session),
      (Lines{kPrefix + u"root: HKEY_CURRENT_USER ", kPrefix + u"Reg_Key Name: \"" + missing + u"\"",
             ReportLine(2, u"msistd::CHKEY::CHKEY",
                        u"RegOpenKeyEx( root, name.c_str(), 0, access, &hKey )", kRegistryLibFile, 44),
             kPrefix + u"Reg_Value Name: \"v\"", kPrefix + u"Reg_Value Value: \"#1\"",
             kPrefix + u"Value \"1\" will be stored as an integer (REG_DWORD)",
             ReportLine(6, u"msistd::CRegistryValue::Value",
                        u"RegSetValueEx( key.HKey(), name.c_str(), 0, REG_DWORD, (const unsigned "
                        u"char*)&value, sizeof( value ) )",
                        kRegistryLibFile, 349)}));
}

TEST_F(RowTest, DeniedKeyIsReportedAndLeftUnchanged) {
  hostctl::SetString(HKEY_LOCAL_MACHINE, kPath, u"v", u"kept");
  hostctl::DenyAccess(HKEY_LOCAL_MACHINE, kPath);
  EXPECT_TRUE(Apply(Row(2, kPath, u"v", u"new")));
  EXPECT_EQ(Stored(HKEY_LOCAL_MACHINE), (RegValue{REG_SZ, hostctl::Utf16Bytes(u"kept", true)}));
  EXPECT_EQ(hostctl::LogLines(session)[2],
            ReportLine(5, u"msistd::CHKEY::CHKEY",
                       u"RegOpenKeyEx( root, name.c_str(), 0, access, &hKey )", kRegistryLibFile, 44));
}

TEST_F(RowTest, PropertyReferencesAreResolvedBeforeUse) {
  hostctl::SetProperty(session, u"SUB", u"Row");
  hostctl::SetProperty(session, u"NAME", u"v");
  hostctl::SetProperty(session, u"DATA", u"#21");
  Apply(Row(1, u"Software\\[SUB]", u"[NAME]", u"[DATA]"));
  EXPECT_EQ(Stored(), (RegValue{REG_DWORD, {21, 0, 0, 0}}));
  Lines lines = hostctl::LogLines(session);
  EXPECT_EQ(lines[1], kPrefix + u"Reg_Key Name: \"Software\\Row\"");
  EXPECT_EQ(lines[2], kPrefix + u"Reg_Value Name: \"v\"");
  EXPECT_EQ(lines[3], kPrefix + u"Reg_Value Value: \"#21\"");
}

TEST_F(RowTest, NullNameWritesTheDefaultValue) {
  Apply(Row(1, kPath, std::nullopt, u"d"));
  EXPECT_EQ(hostctl::Value(HKEY_CURRENT_USER, kPath, u""),
            (RegValue{REG_SZ, hostctl::Utf16Bytes(u"d", true)}));
}

}  // namespace
