// Registry keys and values: sharing, opening, creating, listing, and every value operation
// with its report and trace lines.
#include <functional>

#include "fixture.h"

namespace {

using hostctl::Bytes;
using hostctl::RegValue;
using msistd::CRegistryKey;
using msistd::CRegistryValue;

const std::u16string kPath = u"Software\\Test";

class RegistryTest : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    msistd::SetInstallHandle(session);
    hostctl::CreateKey(HKEY_CURRENT_USER, kPath);
  }
  CRegistryKey Key() { return CRegistryKey(HKEY_CURRENT_USER, kPath, KEY_ALL_ACCESS); }
  std::optional<RegValue> Stored(const std::u16string& name) {
    return hostctl::Value(HKEY_CURRENT_USER, kPath, name);
  }
  static std::u16string Report(UINT code, const std::u16string& function,
                               const std::u16string& call, int line) {
    return ReportLine(code, function, call, kRegistryLibFile, line);
  }
  const std::u16string kExists = u"RegQueryValueEx( key.HKey(), name.c_str(), 0, 0, 0, 0 )";
  const std::u16string kSize = u"RegQueryValueEx( key.HKey(), name.c_str(), 0, 0, value, &size )";
};

TEST_F(RegistryTest, OpeningAMissingKeyReportsAndLeavesItInvalid) {
  {
    CRegistryKey key(HKEY_CURRENT_USER, u"Software\\Missing", KEY_ALL_ACCESS);
    EXPECT_FALSE(key.IsValid());
    EXPECT_EQ(key.RefCount(), 0);
  }
  EXPECT_EQ(hostctl::CallCount("RegCloseKey"), 0u);
  EXPECT_FALSE(hostctl::KeyExists(HKEY_CURRENT_USER, u"Software\\Missing"));
  EXPECT_EQ(hostctl::LogLines(session),
            Lines{Report(2, u"msistd::CHKEY::CHKEY",
                         u"RegOpenKeyEx( root, name.c_str(), 0, access, &hKey )", 44)});
}

TEST_F(RegistryTest, KeyIsClosedWhenItsLastValueGoes) {
  {
    CRegistryValue value = Key().Value(u"v");
    EXPECT_EQ(hostctl::OpenKeyCount(), 1u);
  }
  EXPECT_EQ(hostctl::OpenKeyCount(), 0u);
  EXPECT_EQ(hostctl::CallCount("RegCloseKey"), 1u);
}

TEST_F(RegistryTest, CreateOpensOrCreatesAndReportsARefusal) {
  CRegistryKey existing = CRegistryKey::Create(HKEY_CURRENT_USER, kPath);
  EXPECT_EQ(existing.RefCount(), 1);
  CRegistryKey created = CRegistryKey::Create(HKEY_CURRENT_USER, u"Software\\New\\Deep");
  EXPECT_TRUE(created.IsValid());
  EXPECT_TRUE(hostctl::KeyExists(HKEY_CURRENT_USER, u"Software\\New\\Deep"));
  hostctl::DenyAccess(HKEY_LOCAL_MACHINE, u"Software\\Locked");
  CRegistryKey refused = CRegistryKey::Create(HKEY_LOCAL_MACHINE, u"Software\\Locked\\Sub");
  EXPECT_FALSE(refused.IsValid());
  EXPECT_EQ(hostctl::LogLines(session),
            Lines{Report(5, u"msistd::CRegistryKey::Create",
                         u"RegCreateKeyEx( root, name.c_str(), 0, 0, 0, KEY_ALL_ACCESS, 0, &key, 0 )",
                         148)});
}

TEST_F(RegistryTest, ListingsLeaveOutTheDefaultValueAndStopAtAnOverlongName) {
  hostctl::SetString(HKEY_CURRENT_USER, kPath, u"", u"default");
  hostctl::SetDword(HKEY_CURRENT_USER, kPath, u"b", 1);
  hostctl::SetDword(HKEY_CURRENT_USER, kPath, u"a", 2);
  hostctl::CreateKey(HKEY_CURRENT_USER, kPath + u"\\first");
  hostctl::CreateKey(HKEY_CURRENT_USER, kPath + u"\\" + std::u16string(255, u'x'));
  hostctl::CreateKey(HKEY_CURRENT_USER, kPath + u"\\after");
  EXPECT_EQ(Key().ValueNames(), (Lines{u"b", u"a"}));
  EXPECT_EQ(Key().SubKeyNames(), Lines{u"first"});
  hostctl::ClearCallLog();
  EXPECT_TRUE(CRegistryKey().ValueNames().empty());
  EXPECT_TRUE(CRegistryKey().SubKeyNames().empty());
  EXPECT_TRUE(hostctl::CallLog().empty());
}

TEST_F(RegistryTest, WritesStoreExactBytesPerType) {
  struct Case {
    const char* name;
    std::function<void(const CRegistryValue&)> write;
    RegValue stored;
  };
  const Case cases[] = {
      {"text", [](const CRegistryValue& v) { v.Value(u"abc", REG_SZ); },
       {REG_SZ, {'a', 0, 'b', 0, 'c', 0, 0, 0}}},
      {"empty text", [](const CRegistryValue& v) { v.Value(u"", REG_SZ); }, {REG_SZ, {0, 0}}},
      {"expandable", [](const CRegistryValue& v) { v.Value(u"%T%", REG_EXPAND_SZ); },
       {REG_EXPAND_SZ, {'%', 0, 'T', 0, '%', 0, 0, 0}}},
      {"binary text", [](const CRegistryValue& v) { v.Value(u"0A", REG_BINARY); },
       {REG_BINARY, {'0', 0, 'A', 0}}},
      {"integer", [](const CRegistryValue& v) { v.Value(DWORD(42)); }, {REG_DWORD, {42, 0, 0, 0}}},
      {"bytes", [](const CRegistryValue& v) { v.Value(std::vector<BYTE>{0x0A, 0x0B}, REG_BINARY); },
       {REG_BINARY, {0x0A, 0x0B}}},
      {"no bytes", [](const CRegistryValue& v) { v.Value(std::vector<BYTE>{}, REG_BINARY); },
       {REG_BINARY, {}}},
  };
  for (const Case& c : cases) {
    c.write(Key().Value(u"v"));
    EXPECT_EQ(Stored(u"v"), c.stored) << c.name;
  }
  EXPECT_TRUE(hostctl::LogLines(session).empty());
}

TEST_F(RegistryTest, TextReadsBackAfterTheSizeReport) {
  Key().Value(u"v").Value(u"abc", REG_SZ);
  EXPECT_EQ(Key().Value(u"v").Value(), u"abc");
  hostctl::SetValue(HKEY_CURRENT_USER, kPath, u"bare", REG_SZ, {'x', 0, 'y', 0});
  EXPECT_EQ(Key().Value(u"bare").Value(), u"xy");
  hostctl::SetValue(HKEY_CURRENT_USER, kPath, u"env", REG_EXPAND_SZ,
                    hostctl::Utf16Bytes(u"%TEMP%\\x", true));
  EXPECT_EQ(Key().Value(u"env").Value(), u"%TEMP%\\x");
  Lines sizeReports(3, Report(234, u"msistd::CRegistryValue::Size", kSize, 229));
  EXPECT_EQ(hostctl::LogLines(session), sizeReports);
}

TEST_F(RegistryTest, ReadersGiveNeutralResultsWithTheirTraceOrReport) {
  hostctl::SetValue(HKEY_CURRENT_USER, kPath, u"multi", REG_MULTI_SZ, {'a', 0, 0, 0, 0, 0});
  hostctl::SetValue(HKEY_CURRENT_USER, kPath, u"empty", REG_SZ, {});
  hostctl::SetString(HKEY_CURRENT_USER, kPath, u"text", u"5");
  EXPECT_EQ(Key().Value(u"multi").Value(), u"");
  EXPECT_EQ(Key().Value(u"empty").Value(), u"");
  EXPECT_EQ(Key().Value(u"text").Dword(), 0u);
  EXPECT_EQ(Key().Value(u"missing").Dword(), 0u);
  EXPECT_EQ(Key().Value(u"empty").MapData(), nullptr);
  EXPECT_EQ(Key().Value(u"empty").Size(), 0u);
  EXPECT_EQ(hostctl::LogLines(session),
            (Lines{u"CRegistryValue::Value: Wrong value type", u"CRegistryValue::Value: Zero size data",
                   u"CRegistryValue::Dword: Wrong value type",
                   Report(2, u"msistd::CRegistryValue::Exists", kExists, 215),
                   u"CRegistryValue::MapData: Zero size data"}));
}

TEST_F(RegistryTest, DwordRoundTripAndAFailedReadGivesZero) {
  Key().Value(u"n").Value(DWORD(42));
  EXPECT_EQ(Key().Value(u"n").Dword(), 42u);
  hostctl::FailCall("RegQueryValueExW", ERROR_ACCESS_DENIED, 3);  // Exists, Type, then the read
  EXPECT_EQ(Key().Value(u"n").Dword(), 0u);
}

TEST_F(RegistryTest, MapDataIsZeroedWhenTheReadFails) {
  hostctl::SetValue(HKEY_CURRENT_USER, kPath, u"bin", REG_BINARY, {1, 2, 3});
  void* data = Key().Value(u"bin").MapData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(Bytes(static_cast<BYTE*>(data), static_cast<BYTE*>(data) + 3), (Bytes{1, 2, 3}));
  CRegistryValue::UnmapData(data);
  hostctl::FailCall("RegQueryValueExW", ERROR_ACCESS_DENIED, 3);  // Exists, Size, then the read
  data = Key().Value(u"bin").MapData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(Bytes(static_cast<BYTE*>(data), static_cast<BYTE*>(data) + 3), (Bytes{0, 0, 0}));
  CRegistryValue::UnmapData(data);
  CRegistryValue::UnmapData(nullptr);
  hostctl::FailCall("HeapAlloc", 0, 2);  // the first one formats the size report's echo
  EXPECT_EQ(Key().Value(u"bin").MapData(), nullptr);
  EXPECT_EQ(hostctl::LogLines(session).back(), u"CRegistryValue::MapData: Can't allocate memory");
}

TEST_F(RegistryTest, DeleteTestsExistenceFirst) {
  hostctl::SetDword(HKEY_CURRENT_USER, kPath, u"n", 1);
  EXPECT_EQ(Key().Value(u"n").Delete(), 0);
  EXPECT_FALSE(Stored(u"n"));
  hostctl::ClearCallLog();
  EXPECT_EQ(Key().Value(u"n").Delete(), 0);
  EXPECT_EQ(hostctl::CallCount("RegDeleteValueW"), 0u);
  EXPECT_EQ(hostctl::LogLines(session),
            Lines{Report(2, u"msistd::CRegistryValue::Exists", kExists, 215)});
}

TEST_F(RegistryTest, CopyMakesTheValueEqualToItsSource) {
  hostctl::SetValue(HKEY_CURRENT_USER, kPath, u"src", REG_BINARY, {9, 8, 7});
  hostctl::SetString(HKEY_CURRENT_USER, kPath, u"dst", u"old");
  Key().Value(u"dst").Copy(Key().Value(u"src"));
  EXPECT_EQ(Stored(u"dst"), (RegValue{REG_BINARY, {9, 8, 7}}));

  hostctl::SetValue(HKEY_CURRENT_USER, kPath, u"empty", REG_SZ, {});
  Key().Value(u"dst").Copy(Key().Value(u"empty"));
  EXPECT_EQ(Stored(u"dst"), (RegValue{REG_BINARY, {9, 8, 7}}));

  Key().Value(u"dst").Copy(Key().Value(u"missing"));
  EXPECT_FALSE(Stored(u"dst"));
}

TEST_F(RegistryTest, EveryOperationOnAnInvalidKeyIsRefusedAndReported) {
  CRegistryKey missing(HKEY_CURRENT_USER, u"Software\\Missing", KEY_ALL_ACCESS);
  CRegistryValue value = missing.Value(u"v");
  value.Value(u"text", REG_SZ);
  value.Value(DWORD(1));
  EXPECT_EQ(value.Dword(), 0u);
  // The debugger output keeps each report as composed (the installer log formats it, so a
  // "[0]" in a call text is read there as a field reference).
  Lines debug = hostctl::DebugOutput();
  auto reported = [&](const std::u16string& line) {
    return std::find(debug.begin(), debug.end(), line) != debug.end();
  };
  EXPECT_TRUE(reported(Report(6, u"msistd::CRegistryValue::Value",
                              u"RegSetValueEx( key.HKey(), name.c_str(), 0, type, (const unsigned "
                              u"char*)value.c_str(), (DWORD)value.length() * sizeof( value[0] ) )",
                              342)));
  EXPECT_TRUE(reported(Report(6, u"msistd::CRegistryValue::Value",
                              u"RegSetValueEx( key.HKey(), name.c_str(), 0, REG_DWORD, (const "
                              u"unsigned char*)&value, sizeof( value ) )",
                              349)));
  EXPECT_TRUE(reported(Report(6, u"msistd::CRegistryValue::Exists", kExists, 215)));
  EXPECT_EQ(hostctl::LogLines(session).size(), 4u);
  EXPECT_FALSE(hostctl::KeyExists(HKEY_CURRENT_USER, u"Software\\Missing"));
}

}  // namespace
