// The three exports end to end: every line they write, in order, and what they store.
#include <algorithm>

#include "fixture.h"

namespace {

using hostctl::RegValue;

const std::u16string kPath = u"Software\\Actions";

class ActionTest : public PackageTest {
 protected:
  void SetUp() override {
    PackageTest::SetUp();
    hostctl::CreateKey(HKEY_CURRENT_USER, kPath);
    hostctl::AddRegistryRow(database, u"First", 1, kPath, u"first", u"one");
    hostctl::AddRegistryRow(database, u"Second", 1, kPath, u"second", u"#2");
    hostctl::AddRegistryRow(database, u"Size", 1, kPath, u"size", u"#3");
  }

  // Runs an export and checks what every run must leave behind.
  Lines Run(UINT(WINAPI* action)(MSIHANDLE)) {
    EXPECT_EQ(action(session), 0u);
    EXPECT_TRUE(hostctl::IsHandleOpen(session));
    EXPECT_EQ(OtherHandles(), 0u);
    EXPECT_EQ(hostctl::OpenKeyCount(), 0u);
    EXPECT_EQ(hostctl::CoInitializeCalls(), 1);
    EXPECT_EQ(hostctl::CoUninitializeCalls(), 1);
    return hostctl::LogLines(session);
  }

  std::optional<RegValue> Stored(const std::u16string& name) {
    return hostctl::Value(HKEY_CURRENT_USER, kPath, name);
  }

  static std::u16string Query(const std::u16string& key) {
    return u"SELECT * FROM Registry WHERE Registry='" + key + u"'";
  }
  static std::u16string CantExecute(const std::u16string& prefix, const std::u16string& key) {
    return prefix + u"can't execute \"" + Query(key) +
           u"\" probable there isn't record with 'Registry' = '" + key + u"' in Registry table";
  }
  // The lines UpdateRegistryEntry writes for a row of kPath under HKEY_CURRENT_USER.
  static Lines RowLines(const std::u16string& prefix, const std::u16string& name,
                        const std::u16string& value, const Lines& typeLines) {
    const std::u16string p = prefix + u"UpdateRegistryEntry: ";
    Lines lines{p + u"root: HKEY_CURRENT_USER ", p + u"Reg_Key Name: \"" + kPath + u"\"",
                p + u"Reg_Value Name: \"" + name + u"\"", p + u"Reg_Value Value: \"" + value + u"\""};
    for (const auto& line : typeLines) lines.push_back(p + line);
    return lines;
  }
  static Lines Join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  }

  const std::u16string kPerform = u"PerformRegistryUpdate: ";
  const std::u16string kStart = kPerform + u"Start registry update ... ";
  const std::u16string kComplete = kPerform + u"Registry update complete! ";
  const std::u16string kNoRow = ReportLine(259, u"msistd::CView::Fetch",
                                           u"MsiViewFetch( MsiHandle(), &record )", kInstallLibFile, 474);
};

TEST_F(ActionTest, UpdateWithoutKeysWritesOnlyItsPropertyLine) {
  for (const char16_t* value : std::initializer_list<const char16_t*>{u"", nullptr}) {
    SetUp();
    if (value) hostctl::SetProperty(session, u"ZYB_UPDATE_REG_KEYS", value);
    EXPECT_EQ(Run(PerformRegistryUpdate),
              (Lines{kStart, kPerform + u"ZYB_UPDATE_REG_KEYS property isn't defined or is empty "}));
  }
}

TEST_F(ActionTest, UpdateWithOnlySeparatorsRunsNoQuery) {
  hostctl::SetProperty(session, u"ZYB_UPDATE_REG_KEYS", u";;;");
  EXPECT_EQ(Run(PerformRegistryUpdate), (Lines{kStart, kComplete}));
  EXPECT_EQ(hostctl::CallCount("MsiDatabaseOpenViewW"), 0u);
}

TEST_F(ActionTest, UpdateAppliesEveryListedRowInOrder) {
  hostctl::SetProperty(session, u"ZYB_UPDATE_REG_KEYS", u"Second;;First;");
  EXPECT_EQ(Run(PerformRegistryUpdate),
            Join({{kStart, kPerform + u"query: " + Query(u"Second")},
                  RowLines(kPerform, u"second", u"#2", {u"Value \"2\" will be stored as an integer (REG_DWORD)"}),
                  {kPerform + u"query: " + Query(u"First")},
                  RowLines(kPerform, u"first", u"one", {}),
                  {kComplete}}));
  EXPECT_EQ(Stored(u"second"), (RegValue{REG_DWORD, {2, 0, 0, 0}}));
  EXPECT_EQ(Stored(u"first"), (RegValue{REG_SZ, hostctl::Utf16Bytes(u"one", true)}));
}

TEST_F(ActionTest, UpdateAppliesAKeyListedTwiceTwice) {
  hostctl::SetProperty(session, u"ZYB_UPDATE_REG_KEYS", u"First;First");
  Lines lines = Run(PerformRegistryUpdate);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kPerform + u"query: " + Query(u"First")), 2);
  EXPECT_EQ(hostctl::CallCount("RegSetValueExW"), 2u);
}

TEST_F(ActionTest, UpdateOfAKeyWithoutARowReportsTheEndOfRows) {
  hostctl::SetProperty(session, u"ZYB_UPDATE_REG_KEYS", u" First ");
  EXPECT_EQ(Run(PerformRegistryUpdate),
            (Lines{kStart, kPerform + u"query: " + Query(u" First "), kNoRow,
                   kPerform + u"UpdateRegistryEntry: Can't identify root for update", kComplete}));
  EXPECT_FALSE(Stored(u"first"));
}

TEST_F(ActionTest, UpdateWithoutARegistryTableCannotOpenTheView) {
  hostctl::DatabaseId empty = hostctl::CreateDatabase();
  hostctl::SetActiveDatabase(session, empty);
  hostctl::SetProperty(session, u"ZYB_UPDATE_REG_KEYS", u"First;Second");
  auto openReport = ReportLine(1615, u"msistd::CDatabase::OpenView",
                               u"MsiDatabaseOpenView( MsiHandle(), query.c_str(), &view )",
                               kInstallLibFile, 628);
  EXPECT_EQ(Run(PerformRegistryUpdate),
            (Lines{kStart, kPerform + u"query: " + Query(u"First"), openReport,
                   CantExecute(kPerform, u"First"), kPerform + u"query: " + Query(u"Second"),
                   openReport, CantExecute(kPerform, u"Second"), kComplete}));
}

TEST_F(ActionTest, UpdateWhoseExecutionFailsReportsTwiceThenCannotExecute) {
  hostctl::SetProperty(session, u"ZYB_UPDATE_REG_KEYS", u"First;Second");
  hostctl::FailCall("MsiViewExecute", ERROR_FUNCTION_FAILED);
  Lines lines = Run(PerformRegistryUpdate);
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 5),
            (Lines{kStart, kPerform + u"query: " + Query(u"First"),
                   ReportLine(1627, u"msistd::CView::Execute", u"MsiViewExecute( MsiHandle(), 0 )",
                              kInstallLibFile, 468),
                   ReportLine(1627, u"PerformRegistryUpdate", u"view.Execute()", kModuleFile, 142,
                              u"Error: "),
                   CantExecute(kPerform, u"First")}));
  EXPECT_FALSE(Stored(u"first"));
  EXPECT_EQ(Stored(u"second"), (RegValue{REG_DWORD, {2, 0, 0, 0}}));
}

TEST_F(ActionTest, KeysWithAnApostropheAreNeverQueried) {
  hostctl::SetProperty(session, u"ZYB_UPDATE_REG_KEYS", u"x' OR Registry<>'");
  hostctl::SetProperty(session, u"ZYB_ARP_SIZE_REG_KEY", u"x' OR Registry<>'");
  const std::u16string key = u"x' OR Registry<>'";
  EXPECT_EQ(Run(PerformRegistryUpdate),
            (Lines{kStart, kPerform + u"query: " + Query(key), CantExecute(kPerform, key), kComplete}));
  SetUp();
  hostctl::SetProperty(session, u"ZYB_ARP_SIZE_REG_KEY", key);
  const std::u16string arp = u"Update ARP Size: ";
  EXPECT_EQ(Run(UpdateARPSize), (Lines{arp + u"query: " + Query(key), CantExecute(arp, key),
                                       arp + u"Complete ARP size updating"}));
  EXPECT_EQ(hostctl::CallCount("MsiDatabaseOpenViewW"), 0u);
  EXPECT_TRUE(hostctl::ValueNames(HKEY_CURRENT_USER, kPath).empty());
}

TEST_F(ActionTest, SumAddsThePreviousSizeToTheTotalCost) {
  struct Case {
    std::optional<std::u16string> previous, total;
    std::u16string sum;
  };
  const Case cases[] = {
      {u"100", u"250", u"350"},          {u"#100", u"250", u"350"},
      {std::nullopt, u"250", u"250"},    {u"-1", std::nullopt, u"4294967295"},
      {u"abc", u"#250", u"0"},           {u"2147483647", u"1", u"2147483648"},
      {u" 12 ", u"0030", u"42"},
  };
  const std::u16string p = u"GetTotalARPSize: ";
  for (const Case& c : cases) {
    SetUp();
    if (c.previous) hostctl::SetProperty(session, u"ZYB_ARP_PREVSIZE", *c.previous);
    if (c.total) hostctl::SetProperty(session, u"TOTAL_COST", *c.total);
    EXPECT_EQ(Run(SumARPPrevsizeAndTotalCost),
              (Lines{p + u"ARP previous size (property \"ZYB_ARP_PREVSIZE\") =  " +
                         c.previous.value_or(u"") + u"; total cost (property \"TOTAL_COST\") =  " +
                         c.total.value_or(u""),
                     p + u"New TOTAL_COST value = " + c.sum, p + u"Size calculation complete"}));
    EXPECT_EQ(hostctl::Property(session, u"TOTAL_COST"), c.sum);
  }
}

TEST_F(ActionTest, SumReportsARefusedWriteAndShowsTheUnchangedValue) {
  hostctl::SetProperty(session, u"ZYB_ARP_PREVSIZE", u"100");
  hostctl::SetProperty(session, u"TOTAL_COST", u"250");
  hostctl::FailCall("MsiSetPropertyW", ERROR_FUNCTION_FAILED);
  Lines lines = Run(SumARPPrevsizeAndTotalCost);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], ReportLine(1627, u"msistd::CProperty::Value",
                                 u"MsiSetProperty( session.MsiHandle(), name.c_str(), "
                                 u"valueStream.str().c_str() )",
                                 kInstallLibFile, 263));
  EXPECT_EQ(lines[2], u"GetTotalARPSize: New TOTAL_COST value = 250");
}

TEST_F(ActionTest, ArpSizeAddsToTheStoredIntegerOrReplacesText) {
  const std::u16string arp = u"Update ARP Size: ";
  hostctl::SetDword(HKEY_CURRENT_USER, kPath, u"size", 5);
  hostctl::SetProperty(session, u"ZYB_ARP_SIZE_REG_KEY", u"Size");
  EXPECT_EQ(Run(UpdateARPSize),
            Join({{arp + u"query: " + Query(u"Size")},
                  RowLines(arp, u"size", u"#3",
                           {u"New value \"3\" will be added to previous registry value \"5\" and will "
                            u"be stored as an integer (REG_DWORD)"}),
                  {arp + u"Complete ARP size updating"}}));
  EXPECT_EQ(Stored(u"size"), (RegValue{REG_DWORD, {8, 0, 0, 0}}));

  SetUp();
  hostctl::SetDword(HKEY_CURRENT_USER, kPath, u"first", 5);
  hostctl::SetProperty(session, u"ZYB_ARP_SIZE_REG_KEY", u"First");
  Run(UpdateARPSize);
  EXPECT_EQ(Stored(u"first"), (RegValue{REG_SZ, hostctl::Utf16Bytes(u"one", true)}));
}

TEST_F(ActionTest, ArpSizeEdgeLines) {
  const std::u16string arp = u"Update ARP Size: ";
  EXPECT_EQ(Run(UpdateARPSize), Lines{arp + u"ZYB_ARP_SIZE_REG_KEY property isn't defined or is empty "});

  SetUp();
  hostctl::SetProperty(session, u"ZYB_ARP_SIZE_REG_KEY", u"Size;First");
  EXPECT_EQ(Run(UpdateARPSize),
            (Lines{arp + u"query: " + Query(u"Size;First"), kNoRow,
                   arp + u"UpdateRegistryEntry: Can't identify root for update",
                   arp + u"Complete ARP size updating"}));

  SetUp();
  hostctl::SetProperty(session, u"ZYB_ARP_SIZE_REG_KEY", u"Size");
  hostctl::FailCall("MsiViewExecute", ERROR_FUNCTION_FAILED);
  EXPECT_EQ(Run(UpdateARPSize),
            (Lines{arp + u"query: " + Query(u"Size"),
                   ReportLine(1627, u"msistd::CView::Execute", u"MsiViewExecute( MsiHandle(), 0 )",
                              kInstallLibFile, 468),
                   ReportLine(1627, u"UpdateARPSize", u"view.Execute()", kModuleFile, 211, u"Error: "),
                   CantExecute(arp, u"Size"), arp + u"Complete ARP size updating"}));
  EXPECT_FALSE(Stored(u"size"));
}

}  // namespace
