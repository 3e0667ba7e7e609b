// The host stand-in's answers that the library depends on: records and formatting, the text
// buffer convention, sessions, system texts, full path names, the heap and COM counts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include "hostplatform/control.h"
#include "hostplatform/win32.h"

namespace {

using hostctl::Text;

class HostPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { hostctl::Reset(); }
  void TearDown() override { hostctl::Reset(); }
};

// A record field as a test writes it: null, an integer or a text.
using Field = std::variant<std::monostate, int, const char16_t*>;

MSIHANDLE MakeRecord(const char16_t* pattern, const std::vector<Field>& fields) {
  MSIHANDLE record = MsiCreateRecord(static_cast<UINT>(fields.size()));
  if (pattern) {
    EXPECT_EQ(MsiRecordSetStringW(record, 0, pattern), ERROR_SUCCESS);
  }
  for (UINT index = 0; index < fields.size(); ++index) {
    const Field& field = fields[index];
    if (const auto* number = std::get_if<int>(&field)) {
      EXPECT_EQ(MsiRecordSetInteger(record, index + 1, *number), ERROR_SUCCESS);
    } else if (const auto* text = std::get_if<const char16_t*>(&field)) {
      EXPECT_EQ(MsiRecordSetStringW(record, index + 1, *text), ERROR_SUCCESS);
    }
  }
  return record;
}

// The library's two-call fetch: ask for the length, then read exactly that many characters.
template <class Fetch>
Text FetchText(Fetch fetch) {
  WCHAR probe[1] = {u'\0'};
  DWORD length = 0;
  fetch(probe, &length);
  std::vector<WCHAR> buffer(length + 1, u'#');
  DWORD capacity = length + 1;
  EXPECT_EQ(fetch(buffer.data(), &capacity), ERROR_SUCCESS);
  EXPECT_EQ(capacity, length);
  EXPECT_EQ(buffer[length], u'\0');
  return Text(buffer.data(), length);
}

Text Format(MSIHANDLE session, MSIHANDLE record) {
  return FetchText([&](LPWSTR buffer, LPDWORD capacity) {
    return MsiFormatRecordW(session, record, buffer, capacity);
  });
}

TEST_F(HostPlatformTest, RecordGetIntegerReadsIntegersAndDecimalTexts) {
  MSIHANDLE record =
      MakeRecord(nullptr, {5, std::monostate(), u"12", u"-7", u"12a", u"", -2147483647});
  const struct {
    UINT field;
    int expected;
  } cases[] = {
      {1, 5},           {2, MSI_NULL_INTEGER}, {3, 12},
      {4, -7},          {5, MSI_NULL_INTEGER}, {6, MSI_NULL_INTEGER},
      {7, -2147483647}, {8, MSI_NULL_INTEGER},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MsiRecordGetInteger(record, c.field), c.expected) << "field " << c.field;
  EXPECT_EQ(MsiCloseHandle(record), ERROR_SUCCESS);
}

TEST_F(HostPlatformTest, RecordCallsRefuseZeroAndClosedHandles) {
  MSIHANDLE closed = MsiCreateRecord(1);
  ASSERT_NE(closed, 0u);
  ASSERT_EQ(MsiCloseHandle(closed), ERROR_SUCCESS);
  for (MSIHANDLE handle : {MSIHANDLE{0}, closed}) {
    SCOPED_TRACE(handle);
    WCHAR buffer[4] = {};
    DWORD capacity = 4;
    EXPECT_EQ(MsiRecordGetFieldCount(handle), 4294967295u);
    EXPECT_EQ(MsiRecordIsNull(handle, 1), FALSE);
    EXPECT_EQ(MsiRecordGetInteger(handle, 1), MSI_NULL_INTEGER);
    EXPECT_EQ(MsiRecordSetStringW(handle, 1, u"x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiRecordSetInteger(handle, 1, 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiRecordClearData(handle), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiRecordGetStringW(handle, 1, buffer, &capacity), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiRecordDataSize(handle, 1), 0u);
    EXPECT_EQ(MsiCloseHandle(handle), ERROR_INVALID_HANDLE);
  }
  EXPECT_EQ(hostctl::OpenHandleCount(), 0u);
}

TEST_F(HostPlatformTest, RecordFieldsKeepTheirKindAndRange) {
  MSIHANDLE record = MakeRecord(nullptr, {u"abc", 42, std::monostate()});
  EXPECT_EQ(MsiRecordGetFieldCount(record), 3u);
  EXPECT_EQ(MsiRecordDataSize(record, 1), 3u);
  EXPECT_EQ(MsiRecordDataSize(record, 2), sizeof(int));
  EXPECT_EQ(MsiRecordDataSize(record, 3), 0u);
  EXPECT_EQ(MsiRecordIsNull(record, 2), FALSE);
  EXPECT_EQ(MsiRecordIsNull(record, 3), TRUE);
  EXPECT_EQ(MsiRecordIsNull(record, 4), TRUE);
  EXPECT_EQ(MsiRecordSetStringW(record, 4, u"x"), ERROR_INVALID_FIELD);
  EXPECT_EQ(MsiRecordSetInteger(record, 4, 1), ERROR_INVALID_FIELD);

  // The empty text and MSI_NULL_INTEGER both make a field null.
  EXPECT_EQ(MsiRecordSetStringW(record, 1, u""), ERROR_SUCCESS);
  EXPECT_EQ(MsiRecordSetInteger(record, 2, MSI_NULL_INTEGER), ERROR_SUCCESS);
  EXPECT_EQ(MsiRecordIsNull(record, 1), TRUE);
  EXPECT_EQ(MsiRecordIsNull(record, 2), TRUE);

  EXPECT_EQ(MsiRecordSetStringW(record, 0, u"t"), ERROR_SUCCESS);
  EXPECT_EQ(MsiRecordSetInteger(record, 3, 9), ERROR_SUCCESS);
  EXPECT_EQ(MsiRecordClearData(record), ERROR_SUCCESS);
  for (UINT field = 0; field <= 3; ++field) EXPECT_EQ(MsiRecordIsNull(record, field), TRUE);
  EXPECT_EQ(MsiCloseHandle(record), ERROR_SUCCESS);
}

TEST_F(HostPlatformTest, RecordGetStringGivesIntegersInDecimal) {
  MSIHANDLE record = MakeRecord(nullptr, {5, -12, std::monostate()});
  WCHAR probe[1] = {u'z'};
  DWORD capacity = 0;
  EXPECT_EQ(MsiRecordGetStringW(record, 1, probe, &capacity), ERROR_MORE_DATA);
  EXPECT_EQ(capacity, 1u);
  EXPECT_EQ(probe[0], u'z');  // nothing fits in no room
  auto field = [&](UINT index) {
    return FetchText([&](LPWSTR buffer, LPDWORD size) {
      return MsiRecordGetStringW(record, index, buffer, size);
    });
  };
  EXPECT_EQ(field(1), u"5");
  EXPECT_EQ(field(2), u"-12");
  EXPECT_EQ(field(3), u"");
  EXPECT_EQ(MsiCloseHandle(record), ERROR_SUCCESS);
}

TEST_F(HostPlatformTest, TextBufferConventionCopiesWhatFitsAndReportsTheLength) {
  MSIHANDLE session = hostctl::CreateSession();
  hostctl::SetProperty(session, u"FOO", u"bar");
  const struct {
    DWORD capacity;
    UINT result;
    Text written;  // the buffer up to and including what the call wrote
  } cases[] = {
      {0, ERROR_MORE_DATA, u""},
      {1, ERROR_MORE_DATA, Text(1, u'\0')},
      {2, ERROR_MORE_DATA, Text(u"b\0", 2)},
      {3, ERROR_MORE_DATA, Text(u"ba\0", 3)},
      {4, ERROR_SUCCESS, Text(u"bar\0", 4)},
      {5, ERROR_SUCCESS, Text(u"bar\0", 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.capacity);
    WCHAR buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    DWORD capacity = c.capacity;
    EXPECT_EQ(MsiGetPropertyW(session, u"FOO", buffer, &capacity), c.result);
    EXPECT_EQ(capacity, 3u);
    EXPECT_EQ(Text(buffer, c.written.size()), c.written);
    EXPECT_EQ(buffer[c.written.size()], u'#') << "wrote beyond the text and terminator";
  }

  DWORD capacity = 0;
  EXPECT_EQ(MsiGetPropertyW(session, u"FOO", nullptr, &capacity), ERROR_SUCCESS);
  EXPECT_EQ(capacity, 3u);
  WCHAR buffer[4];
  EXPECT_EQ(MsiGetPropertyW(session, u"FOO", buffer, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MsiCloseHandle(session), ERROR_SUCCESS);
}

TEST_F(HostPlatformTest, FormatRecordResolvesTemplates) {
  MSIHANDLE session = hostctl::CreateSession();
  hostctl::SetProperty(session, u"FOO", u"bar");
  hostctl::SetProperty(session, u"INNER", u"FOO");
  hostctl::SetProperty(session, u"RAW", u"[FOO][1]");
  const struct {
    bool withSession;
    const char16_t* pattern;  // null: the template field stays null
    std::vector<Field> fields;
    Text expected;
  } cases[] = {
      {true, u"a[FOO]b[1]c[UNKNOWN]d[\\[]e[~]f", {u"x"}, Text(u"abarbxcd[e\0f", 12)},
      {false, u"a[FOO]b[1]c[UNKNOWN]d[\\[]e[~]f", {u"x"}, u"a[FOO]bxc[UNKNOWN]d[\\[]e[~]f"},
      {true, nullptr, {std::monostate()}, u"1:  "},
      {true, u"", {u"x"}, u"1: x "},
      {false, nullptr, {5, u"two", std::monostate()}, u"1: 5 2: two 3:  "},
      {true, nullptr, {u"[FOO]"}, u"1: [FOO] "},
      // Field references: integers in decimal, null and out-of-range fields empty.
      {true, u"<[1]|[2]|[3]|[01]>", {7, std::monostate()}, u"<7|||7>"},
      // [0] is the template itself, inserted as written, with or without a session.
      {true, u"a[0]b", {}, u"aa[0]bb"},
      {false, u"<[00]|[1]>", {u"x"}, u"<<[00]|[1]>|x>"},
      // Nesting resolves the inner bracket first and uses its value as the outer name.
      {true, u"[[INNER]]", {}, u"bar"},
      {false, u"[[1]]", {u"x"}, u"[x]"},
      // Values are inserted verbatim, never formatted again.
      {true, u"[RAW]", {u"x"}, u"[FOO][1]"},
      {true, u"[1]", {u"[FOO]"}, u"[FOO]"},
      // Unmatched brackets stay literal; an empty pair stays as written.
      {true, u"a[FOO", {}, u"a[FOO"},
      {true, u"a]b[[FOO]", {}, u"a]b[bar"},
      {true, u"[]", {}, u"[]"},
      {true, u"[\\]][\\\\]", {}, u"]\\"},
      // Environment, file, component and other forms have no value on the host.
      {true, u"<[%PATH]|[#File]|[!File]|[$Comp]>", {}, u"<|||>"},
      // Property names are case-sensitive.
      {true, u"[foo]", {}, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(hostctl::ToUtf8(c.pattern ? c.pattern : u"(null)"));
    MSIHANDLE record = MakeRecord(c.pattern, c.fields);
    EXPECT_EQ(Format(c.withSession ? session : 0, record), c.expected);
    EXPECT_EQ(MsiCloseHandle(record), ERROR_SUCCESS);
  }
  EXPECT_EQ(MsiCloseHandle(session), ERROR_SUCCESS);
}

TEST_F(HostPlatformTest, FormatRecordRefusesInvalidHandles) {
  MSIHANDLE session = hostctl::CreateSession();
  MSIHANDLE record = MakeRecord(u"x", {});
  WCHAR buffer[8] = {};
  DWORD capacity = 8;
  EXPECT_EQ(MsiFormatRecordW(session, 0, buffer, &capacity), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiFormatRecordW(session, session, buffer, &capacity), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiFormatRecordW(record, record, buffer, &capacity), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiCloseHandle(session), ERROR_SUCCESS);
  EXPECT_EQ(MsiFormatRecordW(session, record, buffer, &capacity), ERROR_INVALID_HANDLE);
  EXPECT_EQ(capacity, 8u);
  EXPECT_EQ(MsiCloseHandle(record), ERROR_SUCCESS);
}

TEST_F(HostPlatformTest, ProcessMessageKeepsFormattedMessagesPerSessionInOrder) {
  MSIHANDLE session = hostctl::CreateSession();
  MSIHANDLE other = hostctl::CreateSession();
  hostctl::SetProperty(session, u"FOO", u"bar");
  MSIHANDLE record = MakeRecord(u"log [FOO] [1]", {u"x"});
  EXPECT_EQ(MsiProcessMessage(session, INSTALLMESSAGE_INFO, record), 0);
  EXPECT_EQ(MsiProcessMessage(session, INSTALLMESSAGE_ACTIONSTART, record), 0);
  EXPECT_EQ(MsiRecordSetStringW(record, 1, u"y"), ERROR_SUCCESS);
  EXPECT_EQ(MsiProcessMessage(session, INSTALLMESSAGE_INFO, record), 0);

  const std::vector<hostctl::Message> messages = hostctl::Messages(session);
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0].type, INSTALLMESSAGE_INFO);
  EXPECT_EQ(messages[0].text, u"log bar x");
  EXPECT_EQ(messages[1].type, INSTALLMESSAGE_ACTIONSTART);
  EXPECT_EQ(hostctl::LogLines(session), (std::vector<Text>{u"log bar x", u"log bar y"}));
  EXPECT_TRUE(hostctl::Messages(other).empty());

  EXPECT_EQ(MsiProcessMessage(0, INSTALLMESSAGE_INFO, record), 6);
  EXPECT_EQ(MsiProcessMessage(session, INSTALLMESSAGE_INFO, 0), 6);
  EXPECT_EQ(MsiProcessMessage(record, INSTALLMESSAGE_INFO, record), 6);
  EXPECT_EQ(hostctl::Messages(session).size(), 3u);

  // The messages stay readable after the session handle is closed.
  EXPECT_EQ(MsiCloseHandle(session), ERROR_SUCCESS);
  EXPECT_EQ(MsiProcessMessage(session, INSTALLMESSAGE_INFO, record), 6);
  EXPECT_EQ(hostctl::LogLines(session).size(), 2u);
  EXPECT_EQ(MsiCloseHandle(record), ERROR_SUCCESS);
  EXPECT_EQ(MsiCloseHandle(other), ERROR_SUCCESS);
  EXPECT_EQ(hostctl::OpenHandleCount(), 0u);
}

TEST_F(HostPlatformTest, PropertiesSetReadAndRemove) {
  MSIHANDLE session = hostctl::CreateSession();
  auto property = [&](const char16_t* name) {
    return FetchText([&](LPWSTR buffer, LPDWORD capacity) {
      return MsiGetPropertyW(session, name, buffer, capacity);
    });
  };
  EXPECT_EQ(property(u"UNSET"), u"");
  WCHAR buffer[2] = {u'#', u'#'};
  DWORD capacity = 2;
  EXPECT_EQ(MsiGetPropertyW(session, u"UNSET", buffer, &capacity), ERROR_SUCCESS);
  EXPECT_EQ(capacity, 0u);
  EXPECT_EQ(buffer[0], u'\0');

  EXPECT_EQ(MsiSetPropertyW(session, u"P", u"value"), ERROR_SUCCESS);
  EXPECT_EQ(property(u"P"), u"value");
  EXPECT_EQ(hostctl::Property(session, u"P"), u"value");
  EXPECT_EQ(property(u"p"), u"");
  EXPECT_EQ(MsiSetPropertyW(session, u"P", u""), ERROR_SUCCESS);
  EXPECT_EQ(hostctl::Property(session, u"P"), u"");
  EXPECT_EQ(MsiSetPropertyW(session, u"Q", u"q"), ERROR_SUCCESS);
  EXPECT_EQ(MsiSetPropertyW(session, u"Q", nullptr), ERROR_SUCCESS);
  EXPECT_EQ(property(u"Q"), u"");

  EXPECT_EQ(MsiSetPropertyW(session, u"", u"x"), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(MsiSetPropertyW(0, u"P", u"x"), ERROR_INVALID_HANDLE);
  capacity = 2;
  EXPECT_EQ(MsiGetPropertyW(0, u"P", buffer, &capacity), ERROR_INVALID_HANDLE);
  MSIHANDLE record = MsiCreateRecord(1);
  EXPECT_EQ(MsiSetPropertyW(record, u"P", u"x"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiCloseHandle(record), ERROR_SUCCESS);
  EXPECT_EQ(MsiCloseHandle(session), ERROR_SUCCESS);
  EXPECT_EQ(MsiSetPropertyW(session, u"P", u"x"), ERROR_INVALID_HANDLE);
}

TEST_F(HostPlatformTest, DirectoryPathsOfKnownAndUnknownDirectories) {
  MSIHANDLE session = hostctl::CreateSession();
  hostctl::SetTargetPath(session, u"INSTALLDIR", u"C:\\Program Files\\App\\");
  hostctl::SetSourcePath(session, u"SourceDir", u"D:\\media\\");
  auto target = [&](const char16_t* name) {
    return FetchText([&](LPWSTR buffer, LPDWORD capacity) {
      return MsiGetTargetPathW(session, name, buffer, capacity);
    });
  };
  EXPECT_EQ(target(u"INSTALLDIR"), u"C:\\Program Files\\App\\");
  EXPECT_EQ(FetchText([&](LPWSTR buffer, LPDWORD capacity) {
              return MsiGetSourcePathW(session, u"SourceDir", buffer, capacity);
            }),
            u"D:\\media\\");

  WCHAR buffer[4] = {};
  DWORD capacity = 0;
  EXPECT_EQ(MsiGetTargetPathW(session, u"NOPE", buffer, &capacity), 267u);
  EXPECT_EQ(MsiGetSourcePathW(session, u"INSTALLDIR", buffer, &capacity), 267u);
  EXPECT_EQ(capacity, 0u);
  EXPECT_EQ(MsiSetTargetPathW(session, u"NOPE", u"C:\\x"), 267u);
  EXPECT_EQ(MsiSetTargetPathW(session, u"INSTALLDIR", u"E:\\other"), ERROR_SUCCESS);
  EXPECT_EQ(target(u"INSTALLDIR"), u"E:\\other\\");
  EXPECT_EQ(MsiGetTargetPathW(0, u"INSTALLDIR", buffer, &capacity), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiSetTargetPathW(0, u"INSTALLDIR", u"C:\\"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiGetSourcePathW(0, u"SourceDir", buffer, &capacity), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiCloseHandle(session), ERROR_SUCCESS);
}

TEST_F(HostPlatformTest, DoActionRecordsActionsAndTakesInjectedFailures) {
  MSIHANDLE session = hostctl::CreateSession();
  EXPECT_EQ(MsiDoActionW(session, u"CostInitialize"), ERROR_SUCCESS);
  hostctl::FailCall("MsiDoActionW", ERROR_FUNCTION_FAILED);
  EXPECT_EQ(MsiDoActionW(session, u"Failing"), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(MsiDoActionW(session, u"CostFinalize"), ERROR_SUCCESS);
  EXPECT_EQ(MsiDoActionW(0, u"CostFinalize"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(hostctl::ActionsRun(session), (std::vector<Text>{u"CostInitialize", u"CostFinalize"}));
  EXPECT_EQ(hostctl::CallCount("MsiDoActionW"), 4u);
  EXPECT_EQ(MsiCloseHandle(session), ERROR_SUCCESS);
}

TEST_F(HostPlatformTest, InjectedFailuresLeaveBuffersAlone) {
  MSIHANDLE session = hostctl::CreateSession();
  hostctl::SetProperty(session, u"P", u"v");
  hostctl::FailCall("MsiGetPropertyW", ERROR_FUNCTION_FAILED, 2);
  WCHAR buffer[4] = {u'#', u'#', u'#', u'#'};
  DWORD capacity = 4;
  EXPECT_EQ(MsiGetPropertyW(session, u"P", buffer, &capacity), ERROR_SUCCESS);
  buffer[0] = u'#';
  capacity = 4;
  EXPECT_EQ(MsiGetPropertyW(session, u"P", buffer, &capacity), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(capacity, 4u);
  EXPECT_EQ(buffer[0], u'#');
  hostctl::FailCall("MsiCreateRecord", 0);
  EXPECT_EQ(MsiCreateRecord(1), 0u);
  EXPECT_EQ(hostctl::OpenHandleCount(), 1u);
  EXPECT_EQ(MsiCloseHandle(session), ERROR_SUCCESS);
}

TEST_F(HostPlatformTest, FormatMessageAllocatesSystemTexts) {
  const struct {
    DWORD code;
    const char16_t* text;  // null: no text
  } cases[] = {
      {0, u"The operation completed successfully.\r\n"},
      {2, u"The system cannot find the file specified.\r\n"},
      {6, u"The handle is invalid.\r\n"},
      {234, u"More data is available.\r\n"},
      {1615, u"SQL query syntax invalid or unsupported.\r\n"},
      {1627, u"Function failed during execution.\r\n"},
      {99999, nullptr},
      {0x80070005u, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    LPWSTR text = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                  nullptr, c.code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (c.text) {
      ASSERT_NE(text, nullptr);
      EXPECT_EQ(length, std::char_traits<char16_t>::length(c.text));
      EXPECT_EQ(Text(text), c.text);
    } else {
      EXPECT_EQ(length, 0u);
      EXPECT_EQ(text, nullptr);
    }
    EXPECT_EQ(LocalFree(text), nullptr);
  }
  int notAllocatedHere = 0;
  EXPECT_EQ(LocalFree(&notAllocatedHere), &notAllocatedHere);
}

TEST_F(HostPlatformTest, GetFullPathFollowsWindowsRules) {
  const struct {
    const char16_t* current;
    const char16_t* path;
    const char16_t* full;
    const char16_t* file;  // null: no file part
  } cases[] = {
      {u"C:\\", u"C:\\", u"C:\\", nullptr},
      {u"C:\\", u"C:\\dir\\sub", u"C:\\dir\\sub", u"sub"},
      {u"C:\\", u"C:\\dir\\sub\\", u"C:\\dir\\sub\\", nullptr},
      {u"C:\\work", u"file.txt", u"C:\\work\\file.txt", u"file.txt"},
      {u"C:\\work\\", u"a\\..\\b\\.\\c", u"C:\\work\\b\\c", u"c"},
      {u"C:\\work", u"..\\..\\..\\x", u"C:\\x", u"x"},
      {u"C:\\work", u".", u"C:\\work", u"work"},
      {u"C:\\work", u"C:/a//b/", u"C:\\a\\b\\", nullptr},
      {u"C:\\work", u"\\top", u"C:\\top", u"top"},
      {u"C:\\work", u"C:rel", u"C:\\work\\rel", u"rel"},
      {u"C:\\work", u"D:", u"D:\\", nullptr},
      {u"C:\\work", u"D:rel", u"D:\\rel", u"rel"},
      {u"C:\\work", u"C:\\dir\\name. ", u"C:\\dir\\name", u"name"},
      {u"C:\\work", u"\\\\server\\share\\x\\..\\y", u"\\\\server\\share\\y", u"y"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(hostctl::ToUtf8(Text(c.current) + u" + " + c.path));
    hostctl::SetCurrentDirectory(c.current);
    LPWSTR filePart = reinterpret_cast<LPWSTR>(1);
    DWORD needed = GetFullPathNameW(c.path, 0, nullptr, &filePart);
    DWORD length = std::char_traits<char16_t>::length(c.full);
    EXPECT_EQ(needed, length + 1);
    EXPECT_EQ(filePart, nullptr);
    std::vector<WCHAR> buffer(needed + 1, u'#');
    EXPECT_EQ(GetFullPathNameW(c.path, needed - 1, buffer.data(), &filePart), length + 1);
    EXPECT_EQ(buffer[0], u'#');
    ASSERT_EQ(GetFullPathNameW(c.path, needed, buffer.data(), &filePart), length);
    EXPECT_EQ(Text(buffer.data()), c.full);
    if (c.file) {
      ASSERT_NE(filePart, nullptr);
      EXPECT_EQ(Text(filePart), c.file);
    } else {
      EXPECT_EQ(filePart, nullptr);
    }
  }
  EXPECT_EQ(GetFullPathNameW(u"", 0, nullptr, nullptr), 0u);
}

TEST_F(HostPlatformTest, CurrentDirectoryIsTheDriveRootAfterResetAndResolvesRelatively) {
  WCHAR buffer[32];
  EXPECT_EQ(GetFullPathNameW(u"x", 32, buffer, nullptr), 4u);
  EXPECT_EQ(Text(buffer), u"C:\\x");
  hostctl::SetCurrentDirectory(u"D:\\a\\");
  hostctl::SetCurrentDirectory(u"b");
  EXPECT_EQ(GetFullPathNameW(u"x", 32, buffer, nullptr), 8u);
  EXPECT_EQ(Text(buffer), u"D:\\a\\b\\x");
  hostctl::Reset();
  EXPECT_EQ(GetFullPathNameW(u"x", 32, buffer, nullptr), 4u);
}

TEST_F(HostPlatformTest, HeapAllocationsCanBeMadeToFail) {
  HANDLE heap = GetProcessHeap();
  ASSERT_NE(heap, nullptr);
  auto* zeroed = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 64));
  ASSERT_NE(zeroed, nullptr);
  EXPECT_EQ(std::count(zeroed, zeroed + 64, 0), 64);
  std::memset(zeroed, 0xAB, 64);  // real memory: the sanitizer checks the bounds

  hostctl::FailCall("HeapAlloc", 0, 2);
  void* first = HeapAlloc(heap, 0, 8);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(HeapAlloc(heap, 0, 8), nullptr);
  void* third = HeapAlloc(heap, 0, 8);
  EXPECT_NE(third, nullptr);

  EXPECT_EQ(HeapFree(heap, 0, zeroed), TRUE);
  EXPECT_EQ(HeapFree(heap, 0, first), TRUE);
  EXPECT_EQ(HeapFree(heap, 0, third), TRUE);
  EXPECT_EQ(HeapFree(heap, 0, third), FALSE);
  EXPECT_EQ(HeapFree(heap, 0, nullptr), TRUE);
}

TEST_F(HostPlatformTest, DebugOutputAndComCallsAreCounted) {
  OutputDebugStringW(u"one");
  OutputDebugStringW(u"");
  OutputDebugStringW(u"\n");
  EXPECT_EQ(hostctl::DebugOutput(), (std::vector<Text>{u"one", u"", u"\n"}));
  hostctl::ClearDebugOutput();
  EXPECT_TRUE(hostctl::DebugOutput().empty());

  EXPECT_EQ(CoInitialize(nullptr), 0);
  EXPECT_EQ(CoInitialize(nullptr), 1);  // already initialised on this thread
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(CoInitialize(nullptr), 0);  // the last CoUninitialize ended COM
  hostctl::FailCall("CoInitialize", static_cast<int32_t>(0x80004005));
  EXPECT_EQ(CoInitialize(nullptr), static_cast<HRESULT>(0x80004005));
  EXPECT_EQ(hostctl::CoInitializeCalls(), 4);
  EXPECT_EQ(hostctl::CoUninitializeCalls(), 2);
  hostctl::Reset();
  EXPECT_EQ(hostctl::CoInitializeCalls(), 0);
  EXPECT_TRUE(hostctl::CallLog().empty());
}

}  // namespace
