// Installer-wide operations, temporary names, and feature and component state and cost.
#include "fixture.h"

namespace {

using msistd::CInstaller;
using msistd::CRecord;
using msistd::CSession;

const std::u16string kProduct = u"{11111111-2222-3333-4444-555555555555}";
const std::u16string kOther = u"{99999999-2222-3333-4444-555555555555}";
const std::u16string kUnknown = u"{00000000-0000-0000-0000-000000000000}";
const std::u16string kShared = u"{AAAAAAAA-2222-3333-4444-555555555555}";
const std::u16string kOwn = u"{BBBBBBBB-2222-3333-4444-555555555555}";

std::u16string Report(UINT code, const std::u16string& function, const std::u16string& call,
                      int line) {
  return ReportLine(code, function, call, kInstallLibFile, line);
}

hostctl::Product MakeProduct(const std::u16string& code, const std::u16string& name) {
  hostctl::Product product;
  product.code = code;
  product.info = {{u"ProductName", name}, {u"VersionString", u"2.5.1"}};
  product.properties = {{u"ProductName", name}, {u"MARK", u"marked"}};
  hostctl::Feature main;
  main.name = u"Main";
  main.installed = INSTALLSTATE_LOCAL;
  main.useCount = 7;
  product.features = {main};
  hostctl::Component shared;
  shared.name = u"Shared";
  shared.code = kShared;
  shared.keyPath = u"C:\\Program Files\\App\\shared.dll";
  shared.installed = INSTALLSTATE_LOCAL;
  product.components = {shared};
  return product;
}

class InstallerTest : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    msistd::SetInstallHandle(session);
  }
  CInstaller installer;
};

TEST_F(InstallerTest, EnumerationsEndAtTheFirstNonZeroCodeAndReportIt) {
  const std::u16string kComponents = u"msistd::CInstaller::Components";
  const std::u16string kComponentsCall = u"MsiEnumComponents( i, guid )";
  const std::u16string kClients = u"msistd::CInstaller::ComponentClients";
  const std::u16string kClientsCall = u"MsiEnumClients( component.c_str(), i, guid )";
  EXPECT_EQ(installer.Components(), msistd::WStringList{});
  EXPECT_EQ(installer.ComponentClients(kShared), msistd::WStringList{});
  EXPECT_EQ(hostctl::LogLines(session), (Lines{Report(259, kComponents, kComponentsCall, 899),
                                               Report(1607, kClients, kClientsCall, 912)}));

  hostctl::Product first = MakeProduct(kProduct, u"First");
  hostctl::Component own;
  own.name = u"Own";
  own.code = kOwn;
  own.installed = INSTALLSTATE_LOCAL;
  first.components.push_back(own);
  hostctl::AddProduct(first);
  hostctl::AddProduct(MakeProduct(kOther, u"Second"));
  SetUp();
  hostctl::AddProduct(first);
  hostctl::AddProduct(MakeProduct(kOther, u"Second"));
  EXPECT_EQ(installer.Components(), (msistd::WStringList{kShared, kOwn}));
  EXPECT_EQ(installer.ComponentClients(kShared), (msistd::WStringList{kProduct, kOther}));
  EXPECT_EQ(installer.ComponentClients(kOwn), (msistd::WStringList{kProduct}));
  EXPECT_EQ(hostctl::LogLines(session), (Lines{Report(259, kComponents, kComponentsCall, 899),
                                               Report(259, kClients, kClientsCall, 912),
                                               Report(259, kClients, kClientsCall, 912)}));
}

TEST_F(InstallerTest, TextReadsReportNothingAndGiveEmptyTextForUnknowns) {
  hostctl::AddProduct(MakeProduct(kProduct, u"First"));
  hostctl::SetFileVersion(u"C:\\app\\tool.dll", u"1.2.3.4", u"1033");
  EXPECT_EQ(installer.ComponentPath(kProduct, kShared), u"C:\\Program Files\\App\\shared.dll");
  EXPECT_EQ(installer.ProductInfo(kProduct, u"VersionString"), u"2.5.1");
  EXPECT_EQ(installer.FileVersion(u"C:\\app\\tool.dll", false), u"1.2.3.4");
  EXPECT_EQ(installer.FileVersion(u"C:\\app\\tool.dll", true), u"1033");
  EXPECT_EQ(installer.ComponentPath(kUnknown, kShared), u"");
  EXPECT_EQ(installer.ProductInfo(kUnknown, u"VersionString"), u"");
  EXPECT_EQ(installer.ProductInfo(kProduct, u"NoSuchProperty"), u"");
  EXPECT_EQ(installer.FileVersion(u"C:\\app\\none.dll", false), u"");
  EXPECT_EQ(hostctl::LogLines(session), Lines{});
}

TEST_F(InstallerTest, OpeningGivesOwningSessionsOrHandleZeroAfterAReport) {
  hostctl::AddProduct(MakeProduct(kProduct, u"First"));
  hostctl::RegisterPackage(u"C:\\pkg\\app.msi", MakeProduct(kOther, u"Packaged"));
  {
    CSession product = installer.OpenProduct(kProduct);
    ASSERT_TRUE(product.IsValid());
    EXPECT_EQ(product.LogPrefix(), u"");
    EXPECT_EQ(product.ProductProperty(u"MARK"), u"marked");
    CSession package =
        installer.OpenPackage(u"C:\\pkg\\app.msi", MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE);
    EXPECT_EQ(package.ProductProperty(u"ProductName"), u"Packaged");
    EXPECT_EQ(OtherHandles(), 2u);
  }
  EXPECT_EQ(OtherHandles(), 0u);
  EXPECT_FALSE(installer.OpenProduct(kUnknown).IsValid());
  EXPECT_FALSE(installer.OpenPackage(u"C:\\pkg\\missing.msi", 0).IsValid());
  EXPECT_EQ(CSession(session, false).ProductProperty(u"MARK"), u"");
  EXPECT_EQ(hostctl::LogLines(session),
            (Lines{Report(1605, u"msistd::CInstaller::OpenProduct",
                          u"MsiOpenProduct( product.c_str(), &session )", 965),
                   Report(2, u"msistd::CInstaller::OpenPackage",
                          u"MsiOpenPackageEx( path.c_str(), options, &package )", 972)}));
}

TEST_F(InstallerTest, OpenDatabaseOpensThePathWithTheModePassedThrough) {
  hostctl::RegisterDatabasePath(u"C:\\pkg\\app.msi", hostctl::CreateDatabase());
  EXPECT_TRUE(installer.OpenDatabase(u"C:\\pkg\\app.msi", MSIDBOPEN_READONLY).IsValid());
  EXPECT_FALSE(installer.OpenDatabase(u"C:\\pkg\\none.msi", MSIDBOPEN_READONLY).IsValid());
  EXPECT_EQ(hostctl::LogLines(session).size(), 1u);
}

TEST_F(InstallerTest, ConfigurationAndInstallationReturnAndReportTheCode) {
  hostctl::RegisterPackage(u"C:\\pkg\\app.msi", MakeProduct(kProduct, u"First"));
  EXPECT_EQ(installer.InstallProduct(u"C:\\pkg\\app.msi", u"MARK=1"), 0u);
  ASSERT_TRUE(hostctl::InstalledProduct(kProduct));
  EXPECT_EQ(hostctl::CommandLines(kProduct), (std::vector<std::u16string>{u"MARK=1"}));
  EXPECT_EQ(installer.ConfigureFeature(kProduct, u"Main", INSTALLSTATE_SOURCE), 0u);
  EXPECT_EQ(installer.FeatureState(kProduct, u"Main"), INSTALLSTATE_SOURCE);
  EXPECT_EQ(installer.ConfigureProductEx(kProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_LOCAL,
                                         u"REINSTALL=ALL"),
            0u);
  EXPECT_EQ(installer.FeatureState(kProduct, u"Main"), INSTALLSTATE_LOCAL);
  EXPECT_EQ(installer.ConfigureProduct(kProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT), 0u);
  EXPECT_FALSE(hostctl::InstalledProduct(kProduct));
  EXPECT_EQ(hostctl::LogLines(session), Lines{});

  EXPECT_EQ(installer.ConfigureProduct(kProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_LOCAL), 1605u);
  EXPECT_EQ(installer.ConfigureProductEx(kProduct, 0, INSTALLSTATE_LOCAL, u""), 1605u);
  EXPECT_EQ(installer.ConfigureFeature(kProduct, u"Main", INSTALLSTATE_LOCAL), 1605u);
  EXPECT_EQ(installer.InstallProduct(u"C:\\pkg\\none.msi", u""), 2u);
  EXPECT_EQ(
      hostctl::LogLines(session),
      (Lines{
          Report(1605, u"msistd::CInstaller::ConfigureProduct",
                 u"MsiConfigureProduct( product.c_str(), level, state )", 983),
          Report(1605, u"msistd::CInstaller::ConfigureProductEx",
                 u"MsiConfigureProductEx( product.c_str(), level, state, command.c_str() )", 988),
          Report(1605, u"msistd::CInstaller::ConfigureFeature",
                 u"MsiConfigureFeature( product.c_str(), feature.c_str(), state )", 993),
          Report(2, u"msistd::CInstaller::InstallProduct",
                 u"MsiInstallProduct( path.c_str(), propertyValues.c_str() )", 998)}));
}

TEST_F(InstallerTest, InternalUIReadsWithoutChangingAndSetsReturningThePrevious) {
  EXPECT_EQ(installer.InternalUI(), INSTALLUILEVEL_DEFAULT);
  EXPECT_EQ(installer.InternalUI(), INSTALLUILEVEL_DEFAULT);
  EXPECT_EQ(installer.InternalUI(INSTALLUILEVEL_NONE), INSTALLUILEVEL_DEFAULT);
  EXPECT_EQ(installer.InternalUI(), INSTALLUILEVEL_NONE);
  EXPECT_EQ(hostctl::InternalUILevel(), INSTALLUILEVEL_NONE);
}

TEST_F(InstallerTest, FeatureUsageAndStatePassThePlatformsAnswers) {
  hostctl::AddProduct(MakeProduct(kProduct, u"First"));
  EXPECT_EQ(installer.FeatureUsageCount(kProduct, u"Main"), 7u);
  EXPECT_EQ(installer.FeatureState(kProduct, u"Main"), INSTALLSTATE_LOCAL);
  EXPECT_EQ(installer.FeatureState(kUnknown, u"Main"), INSTALLSTATE_UNKNOWN);
  EXPECT_EQ(installer.FeatureState(u"not a code", u"Main"), INSTALLSTATE_INVALIDARG);
  EXPECT_EQ(hostctl::LogLines(session), Lines{});
  EXPECT_EQ(installer.FeatureUsageCount(kProduct, u"None"), 0u);
  EXPECT_EQ(hostctl::LogLines(session),
            (Lines{Report(1606, u"msistd::CInstaller::FeatureUsageCount",
                          u"MsiGetFeatureUsage( product.c_str(), feature.c_str(), &count, &date )",
                          1045)}));
}

TEST_F(InstallerTest, LastErrorRecordIsHandedOutOnceAndOwned) {
  EXPECT_FALSE(installer.LastErrorRecord().IsValid());
  hostctl::SetLastErrorRecord({2227, std::u16string(u"Registry")});
  {
    CRecord record = installer.LastErrorRecord();
    ASSERT_TRUE(record.IsValid());
    EXPECT_EQ(record.Field(1).Int(), 2227);
    EXPECT_EQ(record.Field(2).String(), u"Registry");
    EXPECT_EQ(record.RefCount(), 1);
  }
  EXPECT_FALSE(installer.LastErrorRecord().IsValid());
  EXPECT_EQ(OtherHandles(), 0u);
}

TEST_F(InstallerTest, CompareVersions) {
  struct Case {
    std::u16string first;
    std::u16string second;
    int expected;
  };
  const Case cases[] = {
      {u"1.2", u"1.2.0", 0},
      {u"1.10", u"1.9", 1},
      {u"1.9", u"1.10", -1},
      {u"1..2", u"1.2", 0},
      {u"1.2abc", u"1.2", 0},
      {u"", u"0", 0},
      {u"1.-1", u"1.0", -1},
      {u"9.0", u"1.0", 1},
      {u"1. 3", u"1.3", 0},
      {u"99999999999", u"2147483647", 0},
      {u"-99999999999", u"-2147483648", 0},
      {u"1.+2", u"1.2", 0},
      {u"1.x", u"1.0", 0},
      {u"1.0.1", u"1", 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(installer.CompareVersions(c.first, c.second), c.expected)
        << hostctl::ToUtf8(c.first) << " vs " << hostctl::ToUtf8(c.second);
}

TEST_F(InstallerTest, TempFileNameAppendsTheSuffixAndLeavesNoFile) {
  hostctl::MakeDirectory(u"C:\\tmp");
  std::u16string name = msistd::TempFileName(u"C:\\tmp", u"urx", u".part");
  ASSERT_GT(name.size(), 5u);
  EXPECT_EQ(name.rfind(u"C:\\tmp\\urx", 0), 0u) << hostctl::ToUtf8(name);
  EXPECT_EQ(name.substr(name.size() - 9), u".tmp.part") << hostctl::ToUtf8(name);
  EXPECT_EQ(hostctl::DirectoryEntries(u"C:\\tmp"), std::vector<std::u16string>{});
  EXPECT_EQ(hostctl::CallCount("DeleteFileW"), 1u);
  EXPECT_EQ(msistd::TempFileName(u"C:\\none", u"urx", u".part"), u"");
  EXPECT_EQ(hostctl::LogLines(session), Lines{u"Can't generate temp file name"});
}

class StateTest : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    msistd::SetInstallHandle(session);
    hostctl::Feature parent;
    parent.name = u"Main";
    parent.installed = INSTALLSTATE_ABSENT;
    parent.cost = 100;
    hostctl::Feature child;
    child.name = u"Child";
    child.parent = u"Main";
    child.cost = 20;
    child.validStates = (1u << INSTALLSTATE_LOCAL) | (1u << INSTALLSTATE_ABSENT);
    hostctl::AddFeature(session, parent);
    hostctl::AddFeature(session, child);
    hostctl::Component part;
    part.name = u"Part";
    part.installed = INSTALLSTATE_LOCAL;
    part.action = INSTALLSTATE_SOURCE;
    part.costs = {{u"C:", 8, 2}, {u"D:", 16, 0}};
    hostctl::AddComponent(session, part);
  }
  CSession Session() const { return CSession(session, false); }
};

TEST_F(StateTest, ComponentCostsListOneRecordPerDriveWithItsReports) {
  std::vector<CRecord> costs = Session().ComponentCosts(u"Part", INSTALLSTATE_LOCAL);
  ASSERT_EQ(costs.size(), 2u);
  const std::u16string kDrives[] = {u"C:", u"D:"};
  const int kCosts[] = {8, 16};
  const int kTemp[] = {2, 0};
  for (size_t i = 0; i < costs.size(); ++i) {
    EXPECT_EQ(costs[i].FieldCount(), 3u);
    EXPECT_EQ(costs[i].Field(1).String(), kDrives[i]);
    EXPECT_EQ(costs[i].Field(2).Int(), kCosts[i]);
    EXPECT_EQ(costs[i].Field(3).Int(), kTemp[i]);
    EXPECT_EQ(costs[i].RefCount(), 1);
  }
  const std::u16string kFunction = u"msistd::CSession::ComponentCosts";
  const std::u16string kCall =
      u"MsiEnumComponentCosts( MsiHandle(), component.c_str(), i, state, _T(\"\"), &len, &Cost, "
      u"&TempCost )";
  EXPECT_EQ(hostctl::LogLines(session),
            (Lines{Report(234, kFunction, kCall, 768), Report(234, kFunction, kCall, 768),
                   Report(259, kFunction, kCall, 768)}));
  EXPECT_EQ(Session().ComponentCosts(u"Part", INSTALLSTATE_ABSENT)[1].Field(2).Int(), -16);
  costs.clear();
  EXPECT_EQ(OtherHandles(), 0u);
}

TEST_F(StateTest, ComponentCostsOfAnUnknownComponentAreEmptyAfterOneLine) {
  EXPECT_TRUE(Session().ComponentCosts(u"None", INSTALLSTATE_LOCAL).empty());
  EXPECT_EQ(hostctl::LogLines(session).size(), 1u);
  EXPECT_EQ(hostctl::LogLines(session)[0].rfind(u"Internal call: error code: 1607 (", 0), 0u);
}

TEST_F(StateTest, ComponentCostsStopAtAnEntryWithoutADrive) {
  // An installer that keeps answering ERROR_MORE_DATA to a zero-length buffer, as Wine's does.
  hostctl::FailCall("MsiEnumComponentCostsW", ERROR_MORE_DATA, 7);
  std::vector<CRecord> costs = Session().ComponentCosts(u"Part", INSTALLSTATE_LOCAL);
  EXPECT_EQ(costs.size(), 2u);
}

TEST_F(StateTest, StateGettersAndSetters) {
  CSession s = Session();
  EXPECT_EQ(s.ComponentCurrentState(u"Part"), INSTALLSTATE_LOCAL);
  EXPECT_EQ(s.ComponentRequestState(u"Part"), INSTALLSTATE_SOURCE);
  EXPECT_EQ(s.ComponentRequestState(u"Part", INSTALLSTATE_ABSENT), 0u);
  EXPECT_EQ(s.ComponentRequestState(u"Part"), INSTALLSTATE_ABSENT);
  EXPECT_EQ(s.FeatureCurrentState(u"Main"), INSTALLSTATE_ABSENT);
  EXPECT_EQ(s.FeatureRequestState(u"Main"), INSTALLSTATE_UNKNOWN);
  EXPECT_EQ(s.FeatureRequestState(u"Main", INSTALLSTATE_LOCAL), 0u);
  EXPECT_EQ(s.FeatureRequestState(u"Main"), INSTALLSTATE_LOCAL);
  EXPECT_EQ(s.FeatureValidStates(u"Child"),
            (1u << INSTALLSTATE_LOCAL) | (1u << INSTALLSTATE_ABSENT));
  EXPECT_EQ(hostctl::LogLines(session), Lines{});

  EXPECT_EQ(s.ComponentCurrentState(u"None"), -1);
  EXPECT_EQ(s.FeatureRequestState(u"Child", INSTALLSTATE_SOURCE), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(s.FeatureValidStates(u"None"), 0u);
  EXPECT_EQ(
      hostctl::LogLines(session),
      (Lines{
          Report(1607, u"msistd::CSession::ComponentCurrentState",
                 u"MsiGetComponentState( MsiHandle(), component.c_str(), &current, &action )", 785),
          Report(1627, u"msistd::CSession::FeatureRequestState",
                 u"MsiSetFeatureState( MsiHandle(), feature.c_str(), action )", 820),
          Report(1606, u"msistd::CSession::FeatureValidStates",
                 u"MsiGetFeatureValidStates( MsiHandle(), feature.c_str(), &state )", 826)}));
}

TEST_F(StateTest, FeatureCostPassesTreeAndStateThrough) {
  struct Case {
    int tree;
    int state;
    int expected;
  };
  const Case cases[] = {
      {MSICOSTTREE_SELFONLY, INSTALLSTATE_LOCAL, 100},
      {MSICOSTTREE_CHILDREN, INSTALLSTATE_LOCAL, 120},
      {MSICOSTTREE_PARENTS, INSTALLSTATE_LOCAL, 100},
      {MSICOSTTREE_SELFONLY, INSTALLSTATE_ABSENT, 0},
      {MSICOSTTREE_SELFONLY, INSTALLSTATE_SOURCE, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Session().FeatureCost(u"Main", c.tree, c.state), c.expected)
        << c.tree << "/" << c.state;
  EXPECT_EQ(Session().FeatureCost(u"Child", MSICOSTTREE_PARENTS, INSTALLSTATE_LOCAL), 120);
  EXPECT_EQ(hostctl::LogLines(session), Lines{});
  EXPECT_EQ(Session().FeatureCost(u"Main", MSICOSTTREE_RESERVED, INSTALLSTATE_LOCAL), 0);
  EXPECT_EQ(
      hostctl::LogLines(session),
      (Lines{Report(87, u"msistd::CSession::FeatureCost",
                    u"MsiGetFeatureCost( MsiHandle(), feature.c_str(), costTree, state, &cost )",
                    833)}));
}

}  // namespace
