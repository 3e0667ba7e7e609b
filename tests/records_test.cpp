// Records, their fields, and the buffered text fetch every text read goes through.
#include "fixture.h"

namespace {

using msistd::CRecord;

class RecordTest : public StandInTest {};

TEST_F(RecordTest, NullFieldReadsAsEmptyTextNullIntegerAndNull) {
  CRecord record(2);
  EXPECT_EQ(record.Field(1).String(), u"");
  EXPECT_EQ(record.Field(1).Int(), MSI_NULL_INTEGER);
  EXPECT_TRUE(record.Field(1).IsNull());
  record.Field(1).Value(5);
  record.Field(2).Value(u"text");
  EXPECT_EQ(record.Field(1).String(), u"5");
  EXPECT_EQ(record.Field(1).Int(), 5);
  EXPECT_EQ(record.Field(2).String(), u"text");
  EXPECT_EQ(record.Field(2).DataSize(), 4u);
  EXPECT_EQ(record.FieldCount(), 2u);
  EXPECT_EQ(record.ClearData(), 0u);
  EXPECT_TRUE(record.Field(2).IsNull());
}

TEST_F(RecordTest, TemplateFormatsAgainstTheSessionItWasCreatedFor) {
  hostctl::SetProperty(session, u"FOO", u"bar");
  msistd::CSession s(session, false);
  CRecord record = s.Installer().CreateRecord(1);
  record.Field(0).Value(u"a[FOO]b[1]");
  record.Field(1).Value(u"x");
  EXPECT_EQ(record.Format(), u"abarbx");
  CRecord unbound(1);
  unbound.Field(0).Value(u"a[FOO]b[1]");
  unbound.Field(1).Value(u"x");
  EXPECT_EQ(unbound.Format(), u"a[FOO]bx");
}

TEST_F(RecordTest, FieldKeepsTheRecordOpenAfterTheRecordIsGone) {
  MSIHANDLE raw = 0;
  {
    auto* record = new CRecord(1);
    raw = record->MsiHandle();
    CRecord::CRecordField field = record->Field(1);
    delete record;
    EXPECT_EQ(field.Value(u"still here"), 0u);
    EXPECT_EQ(field.String(), u"still here");
    EXPECT_TRUE(hostctl::IsHandleOpen(raw));
  }
  EXPECT_FALSE(hostctl::IsHandleOpen(raw));
  EXPECT_EQ(hostctl::CallCount("MsiCloseHandle"), 1u);
}

TEST_F(RecordTest, RefusedWritesAreReportedWithTheirLines) {
  msistd::SetInstallHandle(session);
  CRecord record(1);
  EXPECT_EQ(record.Field(2).Value(u"x"), ERROR_INVALID_FIELD);
  CRecord empty;
  EXPECT_EQ(empty.Field(1).Value(3), ERROR_INVALID_HANDLE);
  EXPECT_EQ(empty.ClearData(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(hostctl::LogLines(session),
            (Lines{ReportLine(1616, u"msistd::CRecord::CRecordField::Value",
                              u"MsiRecordSetString( record.MsiHandle(), field, value.c_str() )",
                              kInstallLibFile, 301),
                   ReportLine(6, u"msistd::CRecord::CRecordField::Value",
                              u"MsiRecordSetInteger( record.MsiHandle(), field, value )",
                              kInstallLibFile, 306),
                   ReportLine(6, u"msistd::CRecord::ClearData", u"MsiRecordClearData( MsiHandle() )",
                              kInstallLibFile, 414)}));
}

// A text source whose length and content can change between the two calls of a fetch.
struct ScriptedFetcher {
  DWORD firstLength;
  std::u16string secondText;
  bool secondWrites = true;
  mutable int calls = 0;
  UINT Fetch(WCHAR* buffer, DWORD* capacity) const {
    ++calls;
    if (calls == 1) {
      *capacity = firstLength;
      return firstLength == 0 ? 0 : ERROR_MORE_DATA;
    }
    if (!secondWrites) return ERROR_FUNCTION_FAILED;
    size_t n = std::min<size_t>(secondText.size(), *capacity - 1);
    secondText.copy(buffer, n);
    buffer[n] = 0;
    *capacity = static_cast<DWORD>(secondText.size());
    return 0;
  }
};

TEST_F(RecordTest, FetchAsksForTheLengthThenReadsOnce) {
  struct Case {
    const char* name;
    ScriptedFetcher fetcher;
    std::u16string expected;
    int calls;
    size_t allocations;
  };
  Case cases[] = {
      {"empty", {0, u"never read"}, u"", 1, 0},
      {"grown", {5, u"abcdefg"}, u"abcde", 2, 1},
      {"shrunk", {5, u"abc"}, u"abc", 2, 1},
      {"failed second call", {5, u"abcde", false}, u"", 2, 1},
  };
  for (Case& c : cases) {
    hostctl::ClearCallLog();
    EXPECT_EQ(msistd::_format(c.fetcher), c.expected) << c.name;
    EXPECT_EQ(c.fetcher.calls, c.calls) << c.name;
    EXPECT_EQ(hostctl::CallCount("HeapAlloc"), c.allocations) << c.name;
    EXPECT_EQ(hostctl::CallCount("HeapFree"), c.allocations) << c.name;
  }
}

TEST_F(RecordTest, FetchGivesTheEmptyTextWhenTheBufferCannotBeAllocated) {
  ScriptedFetcher fetcher{5, u"abcde"};
  hostctl::FailCall("HeapAlloc", 0);
  EXPECT_EQ(msistd::_format(fetcher), u"");
  EXPECT_EQ(fetcher.calls, 1);
}

}  // namespace
