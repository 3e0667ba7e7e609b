// The stand-in registry gives the answers the platform gives for the cases the library meets.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "hostplatform/control.h"
#include "hostplatform/win32.h"

namespace {

using hostctl::Bytes;
using hostctl::Text;

const Text kPath = u"Software\\Example";

class RegistryStandIn : public ::testing::Test {
 protected:
  void SetUp() override { hostctl::Reset(); }
  void TearDown() override { hostctl::Reset(); }

  static HKEY Open(const Text& path, REGSAM access) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, access, &key), 0);
    return key;
  }
};

const BYTE* BytesOf(const char16_t* text) { return reinterpret_cast<const BYTE*>(text); }

TEST_F(RegistryStandIn, OpenOfMissingKeyAnswersNotFoundAndClearsTheHandle) {
  hostctl::CreateKey(HKEY_CURRENT_USER, u"Software");
  HKEY key = reinterpret_cast<HKEY>(uintptr_t{0x1234});
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Missing", 0, KEY_READ, &key), 2);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(hostctl::OpenKeyCount(), 0u);
}

TEST_F(RegistryStandIn, CallsOnKeyZeroOrAClosedHandleAnswerInvalidHandle) {
  hostctl::SetString(HKEY_CURRENT_USER, kPath, u"Name", u"v");
  HKEY closed = Open(kPath, KEY_ALL_ACCESS);
  ASSERT_EQ(RegCloseKey(closed), 0);

  DWORD size = 0;
  DWORD length = 16;
  char16_t name[16] = {};
  const std::vector<std::pair<const char*, std::function<LONG(HKEY)>>> calls = {
      {"RegOpenKeyExW",
       [](HKEY key) {
         HKEY result = nullptr;
         return RegOpenKeyExW(key, u"Software", 0, KEY_READ, &result);
       }},
      {"RegCreateKeyExW",
       [](HKEY key) {
         HKEY result = nullptr;
         return RegCreateKeyExW(key, u"Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &result,
                                nullptr);
       }},
      {"RegCloseKey", [](HKEY key) { return RegCloseKey(key); }},
      {"RegSetValueExW",
       [](HKEY key) { return RegSetValueExW(key, u"Name", 0, REG_SZ, BytesOf(u"x"), 2); }},
      {"RegQueryValueExW",
       [&](HKEY key) { return RegQueryValueExW(key, u"Name", nullptr, nullptr, nullptr, &size); }},
      {"RegDeleteValueW", [](HKEY key) { return RegDeleteValueW(key, u"Name"); }},
      {"RegEnumValueW",
       [&](HKEY key) {
         return RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
       }},
      {"RegEnumKeyExW",
       [&](HKEY key) {
         return RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
       }},
  };
  for (const auto& [function, call] : calls) {
    EXPECT_EQ(call(nullptr), 6) << function << " on key 0";
    EXPECT_EQ(call(closed), 6) << function << " on a closed handle";
  }
  EXPECT_EQ(hostctl::Value(HKEY_CURRENT_USER, kPath, u"Name"),
            (hostctl::RegValue{REG_SZ, hostctl::Utf16Bytes(u"v", true)}));
  EXPECT_EQ(hostctl::OpenKeyCount(), 0u);
}

TEST_F(RegistryStandIn, EveryCallIsLoggedAndCanBeMadeToFail) {
  HKEY key = Open(u"", KEY_ALL_ACCESS);
  DWORD size = 0;
  DWORD length = 16;
  char16_t name[16] = {};
  const std::vector<std::pair<const char*, std::function<LONG()>>> calls = {
      {"RegOpenKeyExW",
       [] {
         HKEY result = nullptr;
         return RegOpenKeyExW(HKEY_CURRENT_USER, u"", 0, KEY_READ, &result);
       }},
      {"RegCreateKeyExW",
       [] {
         HKEY result = nullptr;
         return RegCreateKeyExW(HKEY_CURRENT_USER, u"Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &result, nullptr);
       }},
      {"RegCloseKey", [&] { return RegCloseKey(key); }},
      {"RegSetValueExW", [&] { return RegSetValueExW(key, u"Name", 0, REG_SZ, BytesOf(u"x"), 2); }},
      {"RegQueryValueExW",
       [&] { return RegQueryValueExW(key, u"Name", nullptr, nullptr, nullptr, &size); }},
      {"RegDeleteValueW", [&] { return RegDeleteValueW(key, u"Name"); }},
      {"RegEnumValueW",
       [&] { return RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr); }},
      {"RegEnumKeyExW",
       [&] { return RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr); }},
  };
  for (const auto& [function, call] : calls) {
    hostctl::ClearCallLog();
    hostctl::FailCall(function, 1627);
    EXPECT_EQ(call(), 1627) << function;
    EXPECT_EQ(hostctl::CallLog(), std::vector<std::string>{function});
  }
  // The failed calls did no work: no key created, no value written, the handle still open.
  EXPECT_FALSE(hostctl::KeyExists(HKEY_CURRENT_USER, u"Sub"));
  EXPECT_TRUE(hostctl::ValueNames(HKEY_CURRENT_USER, u"").empty());
  EXPECT_EQ(hostctl::OpenKeyCount(), 1u);
  EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(RegistryStandIn, SubkeyPathsAreChecked) {
  const Text longest(255, u'k');
  const Text tooLong(256, u'k');
  struct Case {
    Text path;
    LONG expected;      // the create's answer
    LONG expectedOpen;  // the open's answer
  };
  const Case cases[] = {
      {u"\\Software", 161, 161},
      {u"Software\\" + tooLong, 87, 2},
      {tooLong, 87, 2},
      {u"Software\\" + longest, 0, 0},
  };
  for (const Case& c : cases) {
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, c.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &created, nullptr),
              c.expected)
        << hostctl::ToUtf8(c.path);
    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, c.path.c_str(), 0, KEY_READ, &opened),
              c.expectedOpen)
        << hostctl::ToUtf8(c.path);
    EXPECT_EQ(created != nullptr, c.expected == 0);
    EXPECT_EQ(opened != nullptr, c.expected == 0);
    RegCloseKey(created);
    RegCloseKey(opened);
  }
  EXPECT_EQ(hostctl::SubKeyNames(HKEY_CURRENT_USER, u"Software"), std::vector<Text>{longest});
}

TEST_F(RegistryStandIn, CreateMakesEveryMissingKeyAndTellsWhetherItExisted) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Vendor\\Product", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition),
            0);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_TRUE(hostctl::KeyExists(HKEY_LOCAL_MACHINE, u"Software\\Vendor"));
  ASSERT_EQ(RegSetValueExW(key, u"Version", 0, REG_SZ, BytesOf(u"1.0"), 8), 0);
  EXPECT_EQ(hostctl::Value(HKEY_LOCAL_MACHINE, u"Software\\Vendor\\Product", u"Version"),
            (hostctl::RegValue{REG_SZ, hostctl::Utf16Bytes(u"1.0", true)}));

  HKEY again = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\vendor\\product", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &again, &disposition),
            0);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(hostctl::SubKeyNames(HKEY_LOCAL_MACHINE, u"Software"), std::vector<Text>{u"Vendor"});
  EXPECT_EQ(RegCloseKey(key), 0);
  EXPECT_EQ(RegCloseKey(again), 0);
}

TEST_F(RegistryStandIn, NamesCompareCaseInsensitivelyAndKeepTheirCreatedCase) {
  hostctl::SetString(HKEY_CURRENT_USER, u"Software\\MyApp", u"InstallDir", u"C:\\App");
  HKEY key = Open(u"SOFTWARE\\myapp", KEY_ALL_ACCESS);
  DWORD type = 0;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"INSTALLDIR", nullptr, &type, nullptr, &size), 0);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 14u);  // C:\App and its terminator

  ASSERT_EQ(RegSetValueExW(key, u"installdir", 0, REG_EXPAND_SZ, BytesOf(u"%X%\0"), 8), 0);
  EXPECT_EQ(hostctl::ValueNames(HKEY_CURRENT_USER, u"Software\\MyApp"),
            std::vector<Text>{u"InstallDir"});
  EXPECT_EQ(hostctl::Value(HKEY_CURRENT_USER, u"software\\MYAPP", u"InstallDir"),
            (hostctl::RegValue{REG_EXPAND_SZ, hostctl::Utf16Bytes(u"%X%", true)}));
  EXPECT_EQ(hostctl::SubKeyNames(HKEY_CURRENT_USER, u"Software"), std::vector<Text>{u"MyApp"});
  EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(RegistryStandIn, StringsWrittenWithoutTerminatorGainOneWhenTheNextUnitIsNul) {
  static const char16_t kAbc[] = u"abc";
  static const char16_t kAbcd[] = u"abcd";
  static const char16_t kMulti[] = u"a\0b\0";  // two strings and the list end, then a NUL
  struct Case {
    const char* what;
    DWORD type;
    const char16_t* data;
    DWORD size;
    DWORD stored;
  };
  const Case cases[] = {
      {"REG_SZ abc, 6 bytes", REG_SZ, kAbc, 6, 8},
      {"REG_EXPAND_SZ abc, 6 bytes", REG_EXPAND_SZ, kAbc, 6, 8},
      {"REG_MULTI_SZ a b, 6 bytes", REG_MULTI_SZ, kMulti, 6, 8},
      {"REG_SZ abc with its terminator", REG_SZ, kAbc, 8, 8},
      {"REG_MULTI_SZ with its terminator", REG_MULTI_SZ, kMulti, 10, 10},
      {"REG_SZ ab followed by c", REG_SZ, kAbcd, 4, 4},
      {"REG_SZ abc followed by d", REG_SZ, kAbcd, 6, 6},
      {"REG_SZ odd count", REG_SZ, kAbc, 5, 5},
      {"REG_SZ empty", REG_SZ, kAbc + 3, 0, 0},
      {"REG_BINARY", REG_BINARY, kAbc, 6, 6},
      {"REG_NONE", REG_NONE, kAbc, 6, 6},
  };
  HKEY key = Open(u"", KEY_ALL_ACCESS);
  for (const Case& c : cases) {
    ASSERT_EQ(RegSetValueExW(key, u"v", 0, c.type, BytesOf(c.data), c.size), 0) << c.what;
    Bytes expected(BytesOf(c.data), BytesOf(c.data) + c.size);
    expected.resize(c.stored, 0);
    EXPECT_EQ(hostctl::Value(HKEY_CURRENT_USER, u"", u"v"), (hostctl::RegValue{c.type, expected}))
        << c.what;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"v", nullptr, nullptr, nullptr, &size), 0) << c.what;
    EXPECT_EQ(size, c.stored) << c.what;
  }
  EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(RegistryStandIn, QueryReportsTheSizeWhenTheBufferIsMissingOrTooSmall) {
  const Bytes data = {1, 2, 3, 4, 5, 6};
  hostctl::SetValue(HKEY_CURRENT_USER, kPath, u"Data", REG_BINARY, data);
  hostctl::SetValue(HKEY_CURRENT_USER, kPath, u"Empty", REG_BINARY, {});
  HKEY key = Open(kPath, KEY_READ);
  struct Case {
    const char* what;
    const char16_t* name;
    bool withBuffer;
    DWORD capacity;
    LONG expected;
    DWORD size;
    bool copied;
  };
  const Case cases[] = {
      {"zero-length buffer", u"Data", true, 0, 234, 6, false},
      {"buffer one byte short", u"Data", true, 5, 234, 6, false},
      {"no buffer", u"Data", false, 0, 0, 6, false},
      {"exact buffer", u"Data", true, 6, 0, 6, true},
      {"larger buffer", u"Data", true, 16, 0, 6, true},
      {"0-byte value, zero-length buffer", u"Empty", true, 0, 0, 0, false},
  };
  for (const Case& c : cases) {
    Bytes buffer(16, 0xCC);
    DWORD size = c.capacity;
    DWORD type = 99;
    EXPECT_EQ(RegQueryValueExW(key, c.name, nullptr, &type, c.withBuffer ? buffer.data() : nullptr,
                               &size),
              c.expected)
        << c.what;
    EXPECT_EQ(size, c.size) << c.what;
    EXPECT_EQ(type, REG_BINARY) << c.what;
    Bytes expected(16, 0xCC);
    if (c.copied) std::copy(data.begin(), data.end(), expected.begin());
    EXPECT_EQ(buffer, expected) << c.what;
  }
  EXPECT_EQ(RegQueryValueExW(key, u"Data", nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(RegistryStandIn, MissingValuesAnswerNotFoundAndDeleteRemovesOnlyTheNamedValue) {
  hostctl::SetDword(HKEY_CURRENT_USER, kPath, u"Keep", 7);
  hostctl::SetDword(HKEY_CURRENT_USER, kPath, u"Drop", 8);
  HKEY key = Open(kPath, KEY_ALL_ACCESS);
  DWORD size = 4;
  DWORD data = 0;
  EXPECT_EQ(
      RegQueryValueExW(key, u"Missing", nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size),
      2);
  EXPECT_EQ(RegDeleteValueW(key, u"Missing"), 2);
  EXPECT_EQ(RegDeleteValueW(key, u"DROP"), 0);
  EXPECT_EQ(RegDeleteValueW(key, u"Drop"), 2);
  EXPECT_EQ(hostctl::ValueNames(HKEY_CURRENT_USER, kPath), std::vector<Text>{u"Keep"});
  EXPECT_EQ(RegQueryValueExW(key, u"Keep", nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size),
            0);
  EXPECT_EQ(data, 7u);
  EXPECT_EQ(hostctl::Value(HKEY_CURRENT_USER, kPath, u"Drop"), std::nullopt);
  EXPECT_EQ(hostctl::Value(HKEY_CURRENT_USER, u"Software\\Nowhere", u"Keep"), std::nullopt);
  EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(RegistryStandIn, NullNameIsTheDefaultValueAndOverlongNamesAreRefused) {
  HKEY key = Open(u"", KEY_ALL_ACCESS);
  ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, BytesOf(u"d"), 4), 0);
  EXPECT_EQ(hostctl::Value(HKEY_CURRENT_USER, u"", u""),
            (hostctl::RegValue{REG_SZ, hostctl::Utf16Bytes(u"d", true)}));
  const Text longest(16383, u'n');
  const Text tooLong(16384, u'n');
  EXPECT_EQ(RegSetValueExW(key, longest.c_str(), 0, REG_SZ, BytesOf(u"x"), 4), 0);
  EXPECT_EQ(RegSetValueExW(key, tooLong.c_str(), 0, REG_SZ, BytesOf(u"x"), 4), 87);
  EXPECT_EQ(hostctl::ValueNames(HKEY_CURRENT_USER, u""), (std::vector<Text>{u"", longest}));
  EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(RegistryStandIn, DeniedKeyRefusesWriteRightsAndWrites) {
  hostctl::SetString(HKEY_CURRENT_USER, u"Software\\Locked", u"Name", u"old");
  HKEY before = Open(u"Software\\Locked", KEY_ALL_ACCESS);
  hostctl::DenyAccess(HKEY_CURRENT_USER, u"Software\\Locked");

  struct Case {
    REGSAM access;
    LONG expected;
  };
  const Case cases[] = {
      {KEY_ALL_ACCESS, 5},     {KEY_WRITE, 5}, {KEY_SET_VALUE, 5},
      {KEY_CREATE_SUB_KEY, 5}, {KEY_READ, 0},  {KEY_QUERY_VALUE, 0},
  };
  for (const Case& c : cases) {
    HKEY key = reinterpret_cast<HKEY>(uintptr_t{0x1234});
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Locked", 0, c.access, &key), c.expected)
        << std::hex << c.access;
    EXPECT_EQ(key != nullptr, c.expected == 0) << std::hex << c.access;
    if (key) RegCloseKey(key);
  }

  HKEY reader = Open(u"software\\locked", KEY_READ);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(reader, u"Name", nullptr, nullptr, nullptr, &size), 0);
  EXPECT_EQ(RegSetValueExW(reader, u"Name", 0, REG_SZ, BytesOf(u"new"), 8), 5);
  EXPECT_EQ(RegDeleteValueW(reader, u"Name"), 5);
  // A handle opened with write rights before the key was denied cannot write either.
  EXPECT_EQ(RegSetValueExW(before, u"Name", 0, REG_SZ, BytesOf(u"new"), 8), 5);
  EXPECT_EQ(RegDeleteValueW(before, u"Name"), 5);
  EXPECT_EQ(hostctl::Value(HKEY_CURRENT_USER, u"Software\\Locked", u"Name"),
            (hostctl::RegValue{REG_SZ, hostctl::Utf16Bytes(u"old", true)}));

  HKEY created = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Locked", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &created, nullptr),
            5);
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Locked\\Sub\\Deeper", 0, nullptr, 0,
                            KEY_READ, nullptr, &created, nullptr),
            5);
  EXPECT_EQ(created, nullptr);
  EXPECT_FALSE(hostctl::KeyExists(HKEY_CURRENT_USER, u"Software\\Locked\\Sub"));
  DWORD disposition = 0;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Locked", 0, nullptr, 0, KEY_READ,
                            nullptr, &created, &disposition),
            0);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

  EXPECT_EQ(hostctl::OpenKeyCount(), 3u);
  for (HKEY key : {before, reader, created}) EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(RegistryStandIn, HandlesWithoutTheNeededRightAreRefused) {
  hostctl::SetDword(HKEY_CURRENT_USER, kPath, u"Count", 1);
  hostctl::CreateKey(HKEY_CURRENT_USER, kPath + u"\\Sub");
  HKEY reader = Open(kPath, KEY_READ);
  HKEY writer = Open(kPath, KEY_SET_VALUE);
  const DWORD two = 2;
  const BYTE* twoBytes = reinterpret_cast<const BYTE*>(&two);
  DWORD size = 0;
  DWORD length = 16;
  char16_t name[16] = {};
  EXPECT_EQ(RegSetValueExW(reader, u"Count", 0, REG_DWORD, twoBytes, 4), 5);
  EXPECT_EQ(RegDeleteValueW(reader, u"Count"), 5);
  EXPECT_EQ(RegQueryValueExW(writer, u"Count", nullptr, nullptr, nullptr, &size), 5);
  EXPECT_EQ(RegEnumValueW(writer, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 5);
  EXPECT_EQ(RegEnumKeyExW(writer, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 5);
  EXPECT_EQ(RegSetValueExW(writer, u"Count", 0, REG_DWORD, twoBytes, 4), 0);
  EXPECT_EQ(hostctl::Value(HKEY_CURRENT_USER, kPath, u"Count"),
            (hostctl::RegValue{REG_DWORD, {2, 0, 0, 0}}));
  EXPECT_EQ(RegCloseKey(reader), 0);
  EXPECT_EQ(RegCloseKey(writer), 0);
}

TEST_F(RegistryStandIn, ValuesEnumerateInInsertionOrderThenNoMoreItems) {
  hostctl::SetString(HKEY_CURRENT_USER, kPath, u"Zeta", u"z");
  hostctl::SetString(HKEY_CURRENT_USER, kPath, u"", u"default");
  hostctl::SetDword(HKEY_CURRENT_USER, kPath, u"Alpha", 0x01020304);
  HKEY key = Open(kPath, KEY_READ);

  struct Expected {
    Text name;
    DWORD type;
    Bytes data;
  };
  const Expected expected[] = {
      {u"Zeta", REG_SZ, hostctl::Utf16Bytes(u"z", true)},
      {u"", REG_SZ, hostctl::Utf16Bytes(u"default", true)},
      {u"Alpha", REG_DWORD, {4, 3, 2, 1}},
  };
  for (DWORD index = 0; index < 3; ++index) {
    char16_t name[8];
    std::fill(std::begin(name), std::end(name), u'#');
    DWORD length = 8;
    DWORD type = 0;
    Bytes data(32, 0);
    DWORD size = 32;
    ASSERT_EQ(RegEnumValueW(key, index, name, &length, nullptr, &type, data.data(), &size), 0);
    EXPECT_EQ(Text(name, length), expected[index].name);
    EXPECT_EQ(name[length], 0);
    EXPECT_EQ(type, expected[index].type);
    data.resize(size);
    EXPECT_EQ(data, expected[index].data);
  }
  char16_t name[8];
  DWORD length = 8;
  EXPECT_EQ(RegEnumValueW(key, 3, name, &length, nullptr, nullptr, nullptr, nullptr), 259);

  // "Zeta" needs 5 units with its terminator.
  length = 4;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 234);
  length = 5;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(length, 4u);
  DWORD size = 1;
  Bytes small(1, 0xCC);
  length = 8;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, small.data(), &size), 234);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(small, Bytes{0xCC});
  EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(RegistryStandIn, SubkeysEnumerateInCreationOrderWithinTheNameLimit) {
  const Text longest(255, u'L');
  for (const Text& sub : {Text(u"Zulu"), Text(u"alpha"), longest, Text(u"Mike")})
    hostctl::CreateKey(HKEY_CURRENT_USER, kPath + u"\\" + sub);
  hostctl::CreateKey(HKEY_CURRENT_USER, kPath + u"\\Zulu\\Nested");
  HKEY key = Open(kPath, KEY_READ);

  std::vector<char16_t> name(256, u'#');
  struct Case {
    DWORD index;
    DWORD capacity;
    LONG expected;
    Text name;
  };
  const Case cases[] = {
      {0, 255, 0, u"Zulu"}, {1, 255, 0, u"alpha"}, {2, 255, 234, u""}, {2, 256, 0, longest},
      {3, 255, 0, u"Mike"}, {4, 255, 259, u""},    {0, 4, 234, u""},   {0, 5, 0, u"Zulu"},
  };
  for (const Case& c : cases) {
    DWORD length = c.capacity;
    FILETIME lastWrite = {0, 0};
    EXPECT_EQ(
        RegEnumKeyExW(key, c.index, name.data(), &length, nullptr, nullptr, nullptr, &lastWrite),
        c.expected)
        << c.index << " in " << c.capacity;
    if (c.expected != 0) continue;
    EXPECT_EQ(Text(name.data(), length), c.name) << c.index;
    EXPECT_EQ(name[length], 0) << c.index;
    EXPECT_NE(lastWrite.dwHighDateTime, 0u) << c.index;
  }
  EXPECT_EQ(RegCloseKey(key), 0);
}

TEST_F(RegistryStandIn, OpenHandlesAreCountedUntilClosedAndRootsAreNot) {
  hostctl::CreateKey(HKEY_CURRENT_USER, kPath);
  EXPECT_EQ(hostctl::OpenKeyCount(), 0u);
  HKEY first = Open(kPath, KEY_READ);
  HKEY second = Open(kPath, KEY_READ);
  HKEY empty = nullptr;
  HKEY null = nullptr;
  ASSERT_EQ(RegOpenKeyExW(first, u"", 0, KEY_READ, &empty), 0);
  ASSERT_EQ(RegOpenKeyExW(first, nullptr, 0, KEY_READ, &null), 0);
  EXPECT_EQ(hostctl::OpenKeyCount(), 4u);
  EXPECT_NE(first, second);
  EXPECT_NE(empty, first);
  EXPECT_NE(null, first);

  // The new handles refer to the same key.
  HKEY writer = Open(kPath, KEY_SET_VALUE);
  ASSERT_EQ(RegSetValueExW(writer, u"V", 0, REG_SZ, BytesOf(u"x"), 4), 0);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(empty, u"V", nullptr, nullptr, nullptr, &size), 0);
  EXPECT_EQ(RegQueryValueExW(null, u"V", nullptr, nullptr, nullptr, &size), 0);
  EXPECT_EQ(hostctl::OpenKeyCount(), 5u);

  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS})
    EXPECT_EQ(RegCloseKey(root), 0);
  EXPECT_EQ(RegCloseKey(first), 0);
  EXPECT_EQ(hostctl::OpenKeyCount(), 4u);
  EXPECT_EQ(RegCloseKey(first), 6);
  EXPECT_EQ(RegCloseKey(nullptr), 6);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(uintptr_t{0x1234})), 6);
  EXPECT_EQ(hostctl::OpenKeyCount(), 4u);
  hostctl::Reset();
  EXPECT_EQ(hostctl::OpenKeyCount(), 0u);
  EXPECT_EQ(RegCloseKey(second), 6);
  EXPECT_FALSE(hostctl::KeyExists(HKEY_CURRENT_USER, kPath));
}

TEST_F(RegistryStandIn, RootsAreSeparateTrees) {
  hostctl::SetDword(HKEY_LOCAL_MACHINE, kPath, u"Where", 1);
  for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_USERS}) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(root, kPath.c_str(), 0, KEY_READ, &key), 2);
  }
  HKEY key = Open(u"", KEY_READ);
  HKEY sub = nullptr;
  EXPECT_EQ(RegOpenKeyExW(key, u"Software", 0, KEY_READ, &sub), 2);
  EXPECT_EQ(RegCloseKey(key), 0);
  EXPECT_EQ(hostctl::SubKeyNames(HKEY_LOCAL_MACHINE, u""), std::vector<Text>{u"Software"});
}

}  // namespace
