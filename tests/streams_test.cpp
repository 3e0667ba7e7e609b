// Record streams, writing a stream to a file, and extracting a Binary row.
#include <cstdlib>
#include <cstring>

#include "fixture.h"

namespace {

using hostctl::Bytes;
using msistd::CDatabase;
using msistd::CRecord;

const std::u16string kReadStreamCall =
    u"MsiRecordReadStream( record.MsiHandle(), field, buffer, len )";
const std::u16string kMapStreamCall = u"ReadStream( (char*)map, &len )";
const std::u16string kCantMap = u"CRecord::CRecordField::WriteStreamToFile: Can't map stream";
const std::u16string kCantCreate = u"CRecord::CRecordField::WriteStreamToFile: Can't create file";
const std::u16string kCantWrite = u"CRecord::CRecordField::WriteStreamToFile: Can't write to file";
const std::u16string kDeleting = u"CRecord::CRecordField::WriteStreamToFile: deleting file...";
const std::u16string kZeroSize = u"CRecord::CRecordField::MapStream: DataSize() returned zero";
const Bytes kHello = {'h', 'e', 'l', 'l', 'o'};

class StreamTest : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    msistd::SetInstallHandle(session);
    hostctl::MakeDirectory(u"C:\\out");
  }

  // A one-field record whose field 1 holds `contents` as its stream.
  static CRecord StreamRecord(const Bytes& contents) {
    hostctl::PutFile(u"C:\\in\\stream.bin", contents);
    CRecord record(1);
    EXPECT_EQ(record.Field(1).SetStream(u"C:\\in\\stream.bin"), 0u);
    return record;
  }

  static std::u16string Report(UINT code, const std::u16string& function,
                               const std::u16string& call, int line) {
    return ReportLine(code, function, call, kInstallLibFile, line);
  }
};

TEST_F(StreamTest, MapStreamGivesTheStreamFollowedByTenZeros) {
  CRecord record = StreamRecord(kHello);
  EXPECT_EQ(record.Field(1).DataSize(), 5u);
  char* map = record.Field(1).MapStream();
  ASSERT_NE(map, nullptr);
  const char kExpected[15] = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(std::memcmp(map, kExpected, sizeof kExpected), 0);
  std::free(map);
  EXPECT_EQ(hostctl::LogLines(session), Lines{});
}

TEST_F(StreamTest, MapStreamOfAnEmptyFieldIsNullAfterOneLine) {
  CRecord record(1);
  EXPECT_EQ(record.Field(1).MapStream(), nullptr);
  EXPECT_EQ(hostctl::LogLines(session), Lines{kZeroSize});
}

TEST_F(StreamTest, MapStreamKeepsZerosWhereAFailedReadWroteNothing) {
  CRecord record = StreamRecord(kHello);
  hostctl::FailCall("MsiRecordReadStream", ERROR_FUNCTION_FAILED);
  char* map = record.Field(1).MapStream();
  ASSERT_NE(map, nullptr);
  const char kZeros[15] = {};
  EXPECT_EQ(std::memcmp(map, kZeros, sizeof kZeros), 0);
  std::free(map);
  EXPECT_EQ(
      hostctl::LogLines(session),
      (Lines{Report(1627, u"msistd::CRecord::CRecordField::ReadStream", kReadStreamCall, 281),
             Report(1627, u"msistd::CRecord::CRecordField::MapStream", kMapStreamCall, 343)}));
}

TEST_F(StreamTest, WriteStreamToFile) {
  struct Case {
    const char* name;
    Bytes stream;
    std::u16string path;
    std::optional<Bytes> before;  // a file already there
    void (*arm)();
    bool result;
    Lines lines;
    std::optional<Bytes> after;  // the file afterwards; none when there is none
  };
  const Bytes kLonger(20, 'x');
  Case cases[] = {
      {"new file", kHello, u"C:\\out\\a.bin", std::nullopt, [] {}, true, {}, kHello},
      {"replaces a longer file", kHello, u"C:\\out\\a.bin", kLonger, [] {}, true, {}, kHello},
      {"missing folder",
       kHello,
       u"C:\\none\\a.bin",
       std::nullopt,
       [] {},
       false,
       {kCantCreate},
       std::nullopt},
      {"refused write",
       kHello,
       u"C:\\out\\a.bin",
       std::nullopt,
       [] { hostctl::FailCall("WriteFile", FALSE); },
       false,
       {kCantWrite, kDeleting},
       std::nullopt},
      {"short write",
       kHello,
       u"C:\\out\\a.bin",
       std::nullopt,
       [] { hostctl::ShortenNextWrite(2); },
       false,
       {kCantWrite, kDeleting},
       std::nullopt},
      {"failed read",
       kHello,
       u"C:\\out\\a.bin",
       std::nullopt,
       [] { hostctl::FailCall("MsiRecordReadStream", ERROR_FUNCTION_FAILED); },
       false,
       {Report(1627, u"msistd::CRecord::CRecordField::ReadStream", kReadStreamCall, 281),
        Report(1627, u"msistd::CRecord::CRecordField::MapStream", kMapStreamCall, 343), kCantMap},
       std::nullopt},
      {"empty stream",
       {},
       u"C:\\out\\a.bin",
       std::nullopt,
       [] {},
       false,
       {kZeroSize, kCantMap},
       std::nullopt},
  };
  for (const Case& c : cases) {
    SetUp();
    CRecord record = c.stream.empty() ? CRecord(1) : StreamRecord(c.stream);
    if (c.before) hostctl::PutFile(c.path, *c.before);
    c.arm();
    EXPECT_EQ(record.Field(1).WriteStreamToFile(c.path), c.result) << c.name;
    EXPECT_EQ(hostctl::LogLines(session), c.lines) << c.name;
    if (c.path.rfind(u"C:\\out\\", 0) == 0) {
      EXPECT_EQ(hostctl::FileContents(c.path), c.after) << c.name;
    }
    EXPECT_EQ(hostctl::OpenFileCount(), 0u) << c.name;
  }
}

TEST_F(StreamTest, WriteStreamToFileCreatesWithTheDocumentedFlags) {
  CRecord record = StreamRecord(kHello);
  hostctl::PutFile(u"C:\\out\\held.bin", {});
  // A reader that shares reading and writing does not stop the write; one that shares
  // nothing does.
  HANDLE reader =
      CreateFileW(u"C:\\out\\held.bin", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(record.Field(1).WriteStreamToFile(u"C:\\out\\held.bin"));
  EXPECT_TRUE(CloseHandle(reader));
  HANDLE exclusive = CreateFileW(u"C:\\out\\held.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_FALSE(record.Field(1).WriteStreamToFile(u"C:\\out\\held.bin"));
  EXPECT_TRUE(CloseHandle(exclusive));
  EXPECT_EQ(hostctl::FileContents(u"C:\\out\\held.bin"), kHello);
}

class BinaryTest : public StreamTest {
 protected:
  void SetUp() override {
    StreamTest::SetUp();
    database = hostctl::CreateDatabase();
    hostctl::AddTable(database, u"Binary",
                      {{u"Name", hostctl::ColumnType::Text, false, true, 72},
                       {u"Data", hostctl::ColumnType::Stream, false, false, 0}});
    hostctl::AddRow(database, u"Binary", {std::u16string(u"First"), Bytes{1, 2, 3}});
    hostctl::AddRow(database, u"Binary", {std::u16string(u"Tiny"), kHello});
    hostctl::SetActiveDatabase(session, database);
  }

  static std::u16string QueryLine(const std::u16string& name) {
    return u"CDatabase::StreamFileFromBinary: SELECT * FROM Binary WHERE `Name`='" + name + u"'";
  }

  hostctl::DatabaseId database = 0;
};

TEST_F(BinaryTest, StreamFileFromBinary) {
  struct Case {
    const char* name;
    std::u16string row;
    void (*arm)();
    bool result;
    Lines linesAfterQuery;
    std::optional<Bytes> file;
  };
  Case cases[] = {
      {"present", u"Tiny", [] {}, true, {}, kHello},
      {"absent",
       u"Nope",
       [] {},
       false,
       {Report(259, u"msistd::CView::Fetch", u"MsiViewFetch( MsiHandle(), &record )", 474),
        u"CDatabase::StreamFileFromBinary: Can't fetch data"},
       std::nullopt},
      {"quote",
       u"Ti'ny",
       [] {},
       false,
       {u"CDatabase::StreamFileFromBinary: Cant' create view"},
       std::nullopt},
      // Without the quote check this name would select the first row and extract it.
      {"widening quote",
       u"x' OR `Name`<>'",
       [] {},
       false,
       {u"CDatabase::StreamFileFromBinary: Cant' create view"},
       std::nullopt},
      {"refused execute",
       u"Tiny",
       [] { hostctl::FailCall("MsiViewExecute", ERROR_FUNCTION_FAILED); },
       false,
       {Report(1627, u"msistd::CView::Execute", u"MsiViewExecute( MsiHandle(), 0 )", 468),
        Report(1627, u"msistd::CDatabase::StreamFileFromBinary", u"view.Execute()", 644)},
       std::nullopt},
  };
  for (const Case& c : cases) {
    SetUp();
    c.arm();
    bool result = msistd::CSession(session, false)
                      .Database()
                      .StreamFileFromBinary(c.row, u"C:\\out\\row.bin");
    EXPECT_EQ(result, c.result) << c.name;
    Lines expected{QueryLine(c.row)};
    expected.insert(expected.end(), c.linesAfterQuery.begin(), c.linesAfterQuery.end());
    EXPECT_EQ(hostctl::LogLines(session), expected) << c.name;
    EXPECT_EQ(hostctl::FileContents(u"C:\\out\\row.bin"), c.file) << c.name;
    EXPECT_EQ(OtherHandles(), 0u) << c.name;
  }
}

TEST_F(BinaryTest, AQuotedNameNeverReachesTheDatabase) {
  msistd::CSession(session, false)
      .Database()
      .StreamFileFromBinary(u"x' OR `Name`<>'", u"C:\\out\\r");
  EXPECT_EQ(hostctl::CallCount("MsiDatabaseOpenViewW"), 0u);
}

TEST_F(BinaryTest, AViewThatCannotBeOpenedIsReportedAndRefused) {
  hostctl::FailCall("MsiDatabaseOpenViewW", ERROR_BAD_QUERY_SYNTAX);
  EXPECT_FALSE(
      msistd::CSession(session, false).Database().StreamFileFromBinary(u"Tiny", u"C:\\out\\r"));
  EXPECT_EQ(hostctl::LogLines(session),
            (Lines{QueryLine(u"Tiny"),
                   Report(1615, u"msistd::CDatabase::OpenView",
                          u"MsiDatabaseOpenView( MsiHandle(), query.c_str(), &view )", 628),
                   u"CDatabase::StreamFileFromBinary: Cant' create view"}));
}

TEST_F(StreamTest, StreamCallsReportWithTheirOwnLines) {
  CRecord record(1);
  EXPECT_EQ(record.Field(1).SetStream(u"C:\\in\\missing.bin"), ERROR_PATH_NOT_FOUND);
  hostctl::MakeDirectory(u"C:\\in");
  EXPECT_EQ(record.Field(1).SetStream(u"C:\\in\\missing.bin"), ERROR_FILE_NOT_FOUND);
  CRecord empty;
  char buffer[4];
  DWORD len = sizeof buffer;
  EXPECT_EQ(empty.Field(1).ReadStream(buffer, &len), ERROR_INVALID_HANDLE);
  const std::u16string kSetCall = u"MsiRecordSetStream( record.MsiHandle(), field, path.c_str() )";
  EXPECT_EQ(hostctl::LogLines(session),
            (Lines{Report(3, u"msistd::CRecord::CRecordField::SetStream", kSetCall, 286),
                   Report(2, u"msistd::CRecord::CRecordField::SetStream", kSetCall, 286),
                   Report(6, u"msistd::CRecord::CRecordField::ReadStream", kReadStreamCall, 281)}));
}

// The stand-in reads streams as Wine's installer was seen to: a read goes on where the last one
// ended, and asking without a buffer gives the whole size and starts over.
TEST_F(StreamTest, StandInReadsStreamsInPieces) {
  CRecord record = StreamRecord(kHello);
  MSIHANDLE raw = record.MsiHandle();
  char buffer[16] = {};
  DWORD len = 2;
  ASSERT_EQ(MsiRecordReadStream(raw, 1, buffer, &len), 0u);
  EXPECT_EQ(std::string(buffer, len), "he");
  len = sizeof buffer;
  ASSERT_EQ(MsiRecordReadStream(raw, 1, buffer, &len), 0u);
  EXPECT_EQ(std::string(buffer, len), "llo");
  len = sizeof buffer;
  ASSERT_EQ(MsiRecordReadStream(raw, 1, buffer, &len), 0u);
  EXPECT_EQ(len, 0u);
  ASSERT_EQ(MsiRecordReadStream(raw, 1, nullptr, &len), 0u);
  EXPECT_EQ(len, 5u);
  len = sizeof buffer;
  ASSERT_EQ(MsiRecordReadStream(raw, 1, buffer, &len), 0u);
  EXPECT_EQ(len, 5u);
  CRecord text(1);
  text.Field(1).Value(u"text");
  len = sizeof buffer;
  EXPECT_EQ(MsiRecordReadStream(text.MsiHandle(), 1, buffer, &len), ERROR_INVALID_DATATYPE);
  text.Field(1).Value(u"");
  EXPECT_EQ(MsiRecordReadStream(text.MsiHandle(), 1, buffer, &len), ERROR_INVALID_DATA);
}

}  // namespace
