// The stand-in's databases, SQL subset and views, checked through the Windows-shaped calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostplatform/control.h"
#include "hostplatform/win32.h"
#include "internal.h"

namespace {

using hostctl::Cell;
using hostctl::Column;
using hostctl::ColumnType;
using hostctl::Text;

const Cell kNull{};

class DatabaseStandIn : public testing::Test {
 protected:
  void SetUp() override {
    hostctl::Reset();
    database = hostctl::CreateDatabase();
    hostctl::AddRegistryTable(database);
    hostctl::AddRegistryRow(database, u"reg1", 1, u"Software\\A", u"Name1", u"value1");
    hostctl::AddRegistryRow(database, u"reg2", 2, u"Software\\B", std::nullopt, std::nullopt);
    hostctl::AddRegistryRow(database, u"reg3", -1, u"Software\\C", u"", u"#5", u"7");
    hostctl::AddRegistryRow(database, u"reg4", 2, u"Same", u"Same", u"x");
    session = hostctl::CreateSession();
    hostctl::SetActiveDatabase(session, database);
    databaseHandle = MsiGetActiveDatabase(session);
    ASSERT_NE(databaseHandle, 0u);
  }

  void TearDown() override { hostctl::Reset(); }

  MSIHANDLE OpenView(const Text& query) {
    MSIHANDLE view = 0;
    EXPECT_EQ(MsiDatabaseOpenViewW(databaseHandle, query.c_str(), &view), ERROR_SUCCESS)
        << hostctl::ToUtf8(query);
    return view;
  }

  static std::vector<Cell> Fields(MSIHANDLE record) {
    auto found = hostplatform::Find<hostplatform::Record>(record);
    if (!found) return {};
    return std::vector<Cell>(found->fields.begin() + 1, found->fields.end());
  }

  static MSIHANDLE MakeRecord(const std::vector<Cell>& fields) {
    auto record = std::make_shared<hostplatform::Record>();
    record->fields.push_back(kNull);
    record->fields.insert(record->fields.end(), fields.begin(), fields.end());
    return hostplatform::NewHandle(record);
  }

  // Every remaining row of an executed view, each record closed after reading; ends on 259.
  static std::vector<std::vector<Cell>> FetchAll(MSIHANDLE view) {
    std::vector<std::vector<Cell>> rows;
    for (;;) {
      MSIHANDLE record = 12345;
      UINT code = MsiViewFetch(view, &record);
      if (code != ERROR_SUCCESS) {
        EXPECT_EQ(code, ERROR_NO_MORE_ITEMS);
        EXPECT_EQ(record, 0u);
        return rows;
      }
      EXPECT_TRUE(std::holds_alternative<std::monostate>(
          hostplatform::Find<hostplatform::Record>(record)->fields[0]));
      rows.push_back(Fields(record));
      EXPECT_EQ(MsiCloseHandle(record), ERROR_SUCCESS);
    }
  }

  static std::vector<std::string> Keys(const std::vector<std::vector<Cell>>& rows) {
    std::vector<std::string> keys;
    for (const auto& row : rows) keys.push_back(hostctl::ToUtf8(std::get<Text>(row.at(0))));
    return keys;
  }

  static std::string ErrorColumn(MSIHANDLE view, MSIDBERROR* error) {
    char16_t buffer[64] = u"junk";
    DWORD capacity = 64;
    *error = MsiViewGetErrorW(view, buffer, &capacity);
    return hostctl::ToUtf8(Text(buffer, capacity));
  }

  hostctl::DatabaseId database = 0;
  MSIHANDLE session = 0;
  MSIHANDLE databaseHandle = 0;
};

TEST_F(DatabaseStandIn, ActiveDatabaseIsANewHandlePerCallAndZeroWithoutOne) {
  hostctl::ClearCallLog();
  MSIHANDLE second = MsiGetActiveDatabase(session);
  EXPECT_NE(second, 0u);
  EXPECT_NE(second, databaseHandle);
  EXPECT_EQ(MsiCloseHandle(second), ERROR_SUCCESS);

  EXPECT_EQ(MsiGetActiveDatabase(0), 0u);
  EXPECT_EQ(MsiGetActiveDatabase(databaseHandle), 0u);  // a handle, but not a session
  MSIHANDLE bare = hostctl::CreateSession();
  size_t open = hostctl::OpenHandleCount();
  EXPECT_EQ(MsiGetActiveDatabase(bare), 0u);
  EXPECT_EQ(hostctl::OpenHandleCount(), open);
  EXPECT_EQ(hostctl::CallCount("MsiGetActiveDatabase"), 4u);
}

TEST_F(DatabaseStandIn, OpenDatabaseByRegisteredPath) {
  hostctl::RegisterDatabasePath(u"C:\\Pkg\\Test.msi", database);
  MSIHANDLE opened = 0;
  ASSERT_EQ(MsiOpenDatabaseW(u"c:\\pkg\\TEST.msi", MSIDBOPEN_READONLY, &opened), ERROR_SUCCESS);
  MSIHANDLE view = 0;
  ASSERT_EQ(MsiDatabaseOpenViewW(opened, u"SELECT * FROM Registry", &view), ERROR_SUCCESS);
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
  EXPECT_EQ(FetchAll(view).size(), 4u);

  MSIHANDLE missing = 77;
  EXPECT_EQ(MsiOpenDatabaseW(u"C:\\Pkg\\Other.msi", MSIDBOPEN_TRANSACT, &missing),
            ERROR_OPEN_FAILED);
  EXPECT_EQ(missing, 0u);
}

TEST_F(DatabaseStandIn, SelectByKeyFetchesOneWholeRowThenNoMoreItems) {
  MSIHANDLE view = OpenView(u"SELECT * FROM Registry WHERE Registry='reg2'");
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
  MSIHANDLE record = 0;
  ASSERT_EQ(MsiViewFetch(view, &record), ERROR_SUCCESS);
  std::vector<Cell> expected{Text(u"reg2"), 2,     Text(u"Software\\B"),
                             kNull,         kNull, Text(u"Component")};
  EXPECT_EQ(Fields(record), expected);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(
      hostplatform::Find<hostplatform::Record>(record)->fields[0]));

  MSIHANDLE next = 99;
  EXPECT_EQ(MsiViewFetch(view, &next), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(next, 0u);
  EXPECT_EQ(MsiViewFetch(view, &next), ERROR_NO_MORE_ITEMS);
}

TEST_F(DatabaseStandIn, EmptyTextIsStoredAsNull) {
  // reg3 was added with Name "" : the installer keeps no empty texts.
  MSIHANDLE view = OpenView(u"SELECT Name, Value FROM Registry WHERE Registry='reg3'");
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
  auto rows = FetchAll(view);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (std::vector<Cell>{kNull, Text(u"#5")}));
}

struct QueryCase {
  const char* query;
  UINT openCode;
  std::vector<std::string> keys;  // Registry keys selected, in order
};

TEST_F(DatabaseStandIn, QueryDialect) {
  const UINT kBad = ERROR_BAD_QUERY_SYNTAX;
  const std::vector<std::string> kAll{"reg1", "reg2", "reg3", "reg4"};
  const QueryCase cases[] = {
      {"SELECT * FROM Registry", 0, kAll},
      {"select * from `Registry` where `Registry` = 'reg1'", 0, {"reg1"}},
      {"SELECT * FROM Registry WHERE Registry='a' OR Registry<>''", 0, kAll},
      {"SELECT * FROM Registry WHERE Registry='a'b'", kBad, {}},
      {"SELECT * FROM Registry WHERE Registry='unterminated", kBad, {}},
      {"SELECT * FROM Missing", kBad, {}},
      {"SELECT * FROM registry", kBad, {}},
      {"SELECT Nope FROM Registry", kBad, {}},
      {"SELECT * FROM Registry WHERE Nope='x'", kBad, {}},
      {"SELECT * FROM Registry WHERE registry='reg1'", kBad, {}},
      {"SELECT *, Key FROM Registry", kBad, {}},
      {"SELECT * Registry", kBad, {}},
      {"SELECT * FROM Registry Registry", kBad, {}},
      {"SELECT * FROM Registry WHERE Root=", kBad, {}},
      {"SELECT * FROM Registry WHERE Root=99999999999", kBad, {}},
      {"SELECT * FROM Registry WHERE (Root=1", kBad, {}},
      {"SELECT * FROM Registry WHERE Root=1 AND", kBad, {}},
      {"SELECT * FROM Registry WHERE Root==1", kBad, {}},
      {"SELECT * FROM Registry WHERE Root=1;", kBad, {}},
      {"SELECT * FROM Other.Registry", kBad, {}},
      {"SELECT * FROM Registry WHERE Other.Root=1", kBad, {}},
      {"", kBad, {}},
      {"SELECT * FROM Registry WHERE Root=-1", 0, {"reg3"}},
      {"SELECT * FROM Registry WHERE Root>=1 AND Root<2", 0, {"reg1"}},
      {"SELECT * FROM Registry WHERE Root>1", 0, {"reg2", "reg4"}},
      {"SELECT * FROM Registry WHERE Root<=1", 0, {"reg1", "reg3"}},
      {"SELECT * FROM Registry WHERE Root<>2", 0, {"reg1", "reg3"}},
      {"SELECT * FROM Registry WHERE Registry>'reg2'", 0, {"reg3", "reg4"}},
      // AND binds tighter than OR; parentheses regroup.
      {"SELECT * FROM Registry WHERE Registry='reg1' OR Registry='reg2' AND Root=99", 0, {"reg1"}},
      {"SELECT * FROM Registry WHERE (Registry='reg1' OR Registry='reg2') AND Root=2", 0, {"reg2"}},
      {"SELECT * FROM Registry WHERE Root=2 AND (Name IS NULL OR Value='x')", 0, {"reg2", "reg4"}},
      {"SELECT * FROM Registry WHERE Name IS NULL", 0, {"reg2", "reg3"}},
      {"SELECT * FROM Registry WHERE Name is not null", 0, {"reg1", "reg4"}},
      {"SELECT * FROM Registry WHERE Name=''", 0, {"reg2", "reg3"}},
      {"SELECT * FROM Registry WHERE Value<>''", 0, {"reg1", "reg3", "reg4"}},
      {"SELECT * FROM Registry WHERE Key=Name", 0, {"reg4"}},
      {"SELECT * FROM Registry WHERE Registry.Key = `Name`", 0, {"reg4"}},
      {"SELECT * FROM Registry WHERE Component_=7", 0, {"reg3"}},
      {"SELECT * FROM Registry WHERE Root='2'", 0, {"reg2", "reg4"}},
      {"SELECT * FROM Registry WHERE Root='two'", 0, {}},
      {"SELECT * FROM Registry WHERE Root<>'two'", 0, kAll},
      {"SELECT * FROM Registry WHERE Name='Name1'", 0, {"reg1"}},
      {"SELECT * FROM Registry WHERE Name='name1'", 0, {}},
      {"SELECT * FROM Registry ORDER BY Root", 0, {"reg3", "reg1", "reg2", "reg4"}},
      {"SELECT * FROM Registry WHERE Root>0 ORDER BY Root, Key", 0, {"reg1", "reg4", "reg2"}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.query);
    Text query = hostctl::FromUtf8(test.query);
    MSIHANDLE view = 55;
    ASSERT_EQ(MsiDatabaseOpenViewW(databaseHandle, query.c_str(), &view), test.openCode);
    if (test.openCode != ERROR_SUCCESS) {
      EXPECT_EQ(view, 0u);
      continue;
    }
    ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
    EXPECT_EQ(Keys(FetchAll(view)), test.keys);
    EXPECT_EQ(MsiCloseHandle(view), ERROR_SUCCESS);
  }
}

TEST_F(DatabaseStandIn, ParameterMarkersTakeTheExecuteRecordsFieldsInOrder) {
  MSIHANDLE view = OpenView(u"SELECT * FROM Registry WHERE Root=? AND Registry<>?");
  MSIHANDLE parameters = MakeRecord({2, Text(u"reg2")});
  ASSERT_EQ(MsiViewExecute(view, parameters), ERROR_SUCCESS);
  EXPECT_EQ(Keys(FetchAll(view)), std::vector<std::string>{"reg4"});

  ASSERT_EQ(MsiViewClose(view), ERROR_SUCCESS);
  MSIHANDLE other = MakeRecord({Text(u"-1"), Text(u"reg2")});  // numeric text for an integer column
  ASSERT_EQ(MsiViewExecute(view, other), ERROR_SUCCESS);
  EXPECT_EQ(Keys(FetchAll(view)), std::vector<std::string>{"reg3"});

  MSIHANDLE tooFew = MakeRecord({2});
  EXPECT_EQ(MsiViewExecute(view, 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MsiViewExecute(view, tooFew), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MsiViewExecute(view, 987654), ERROR_INVALID_HANDLE);
}

TEST_F(DatabaseStandIn, ColumnListSelectsFieldsAndColumnInfoDescribesThem) {
  MSIHANDLE view = OpenView(u"SELECT `Value`, Registry, Root FROM Registry WHERE Registry='reg1'");
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
  EXPECT_EQ(FetchAll(view), (std::vector<std::vector<Cell>>{{Text(u"value1"), Text(u"reg1"), 1}}));

  MSIHANDLE names = 0;
  ASSERT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, &names), ERROR_SUCCESS);
  EXPECT_EQ(Fields(names), (std::vector<Cell>{Text(u"Value"), Text(u"Registry"), Text(u"Root")}));

  hostctl::AddTable(database, u"Mixed",
                    {{u"Id", ColumnType::Int32, false, true},
                     {u"Count", ColumnType::Int32, true},
                     {u"Small", ColumnType::Int16, true},
                     {u"Data", ColumnType::Stream, false},
                     {u"Extra", ColumnType::Stream, true}});
  hostctl::AddRow(database, u"Mixed", {7, kNull, -3, hostctl::Bytes{1, 2, 0}, kNull});
  const std::pair<const char16_t*, std::vector<Cell>> expectations[] = {
      {u"SELECT * FROM Registry",
       {Text(u"s72"), Text(u"i2"), Text(u"s255"), Text(u"S255"), Text(u"S0"), Text(u"s72")}},
      {u"SELECT * FROM Mixed", {Text(u"i4"), Text(u"I4"), Text(u"I2"), Text(u"v0"), Text(u"V0")}},
  };
  for (const auto& [query, types] : expectations) {
    MSIHANDLE all = OpenView(query);
    MSIHANDLE info = 0;
    ASSERT_EQ(MsiViewGetColumnInfo(all, MSICOLINFO_TYPES, &info), ERROR_SUCCESS);
    EXPECT_EQ(Fields(info), types);
  }

  MSIHANDLE mixed = OpenView(u"SELECT * FROM Mixed WHERE Count IS NULL AND Id=7");
  ASSERT_EQ(MsiViewExecute(mixed, 0), ERROR_SUCCESS);
  EXPECT_EQ(FetchAll(mixed),
            (std::vector<std::vector<Cell>>{{7, kNull, -3, hostctl::Bytes{1, 2, 0}, kNull}}));
}

TEST_F(DatabaseStandIn, ViewOutlivesItsDatabaseHandle) {
  MSIHANDLE view = OpenView(u"SELECT Registry FROM Registry WHERE Root=2");
  ASSERT_EQ(MsiCloseHandle(databaseHandle), ERROR_SUCCESS);
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
  EXPECT_EQ(Keys(FetchAll(view)), (std::vector<std::string>{"reg2", "reg4"}));
}

TEST_F(DatabaseStandIn, FetchNeedsAnExecutedViewAndExecuteRestarts) {
  MSIHANDLE view = OpenView(u"SELECT Registry FROM Registry WHERE Root=2");
  MSIHANDLE record = 5;
  EXPECT_EQ(MsiViewFetch(view, &record), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(record, 0u);

  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
  ASSERT_EQ(MsiViewFetch(view, &record), ERROR_SUCCESS);
  EXPECT_EQ(Fields(record), std::vector<Cell>{Text(u"reg2")});
  MsiCloseHandle(record);
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);  // again without closing: from the start
  EXPECT_EQ(Keys(FetchAll(view)), (std::vector<std::string>{"reg2", "reg4"}));

  ASSERT_EQ(MsiViewClose(view), ERROR_SUCCESS);
  EXPECT_EQ(MsiViewFetch(view, &record), ERROR_FUNCTION_FAILED);
  hostctl::AddRegistryRow(database, u"reg5", 2, u"New", std::nullopt, std::nullopt);
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
  EXPECT_EQ(Keys(FetchAll(view)), (std::vector<std::string>{"reg2", "reg4", "reg5"}));
}

TEST_F(DatabaseStandIn, InvalidHandlesAreRefused) {
  MSIHANDLE view = OpenView(u"SELECT * FROM Registry");
  MSIHANDLE closed = OpenView(u"SELECT * FROM Registry");
  ASSERT_EQ(MsiCloseHandle(closed), ERROR_SUCCESS);
  MSIHANDLE record = MakeRecord({Text(u"x")});
  for (MSIHANDLE bad : {MSIHANDLE{0}, closed, session, record}) {
    SCOPED_TRACE(bad);
    MSIHANDLE out = 42;
    EXPECT_EQ(MsiDatabaseOpenViewW(bad, u"SELECT * FROM Registry", &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(MsiViewExecute(bad, 0), ERROR_INVALID_HANDLE);
    out = 42;
    EXPECT_EQ(MsiViewFetch(bad, &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(out, 0u);
    out = 42;
    EXPECT_EQ(MsiViewGetColumnInfo(bad, MSICOLINFO_NAMES, &out), ERROR_INVALID_HANDLE);
    EXPECT_EQ(out, 0u);
    EXPECT_EQ(MsiViewClose(bad), ERROR_INVALID_HANDLE);
    EXPECT_EQ(MsiViewModify(bad, MSIMODIFY_INSERT, record), ERROR_INVALID_HANDLE);
    DWORD capacity = 10;
    char16_t buffer[10];
    EXPECT_EQ(MsiViewGetErrorW(bad, buffer, &capacity), MSIDBERROR_INVALIDARG);
  }
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, 0), ERROR_INVALID_HANDLE);
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, view), ERROR_INVALID_HANDLE);
}

TEST_F(DatabaseStandIn, InsertAndDuplicateKeyNamesTheErrorColumn) {
  MSIHANDLE view = OpenView(u"SELECT * FROM Registry");
  MSIHANDLE row = MakeRecord({Text(u"reg9"), 3, Text(u"K"), kNull, Text(u"v"), Text(u"C")});
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, row), ERROR_FUNCTION_FAILED);  // not executed
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
  ASSERT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, row), ERROR_SUCCESS);
  auto rows = hostctl::Rows(database, u"Registry");
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[4],
            (std::vector<Cell>{Text(u"reg9"), 3, Text(u"K"), kNull, Text(u"v"), Text(u"C")}));

  MSIDBERROR error = MSIDBERROR_FUNCTIONERROR;
  EXPECT_EQ(ErrorColumn(view, &error), "");
  EXPECT_EQ(error, MSIDBERROR_NOERROR);

  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, row), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(hostctl::Rows(database, u"Registry").size(), 5u);
  EXPECT_EQ(ErrorColumn(view, &error), "Registry");
  EXPECT_GT(error, MSIDBERROR_NOERROR);

  char16_t small[4];
  DWORD capacity = 4;
  EXPECT_EQ(MsiViewGetErrorW(view, small, &capacity), MSIDBERROR_MOREDATA);
  EXPECT_EQ(capacity, 8u);

  // A value that does not fit its column is refused and named; a null key is refused.
  MSIHANDLE wide = MakeRecord({Text(u"reg10"), 40000, Text(u"K"), kNull, kNull, Text(u"C")});
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, wide), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(ErrorColumn(view, &error), "Root");
  MSIHANDLE word = MakeRecord({Text(u"reg10"), Text(u"two"), Text(u"K"), kNull, kNull, Text(u"C")});
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, word), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(ErrorColumn(view, &error), "Root");
  MSIHANDLE keyless = MakeRecord({Text(u""), 1, Text(u"K"), kNull, kNull, Text(u"C")});
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, keyless), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(ErrorColumn(view, &error), "Registry");
  EXPECT_EQ(hostctl::Rows(database, u"Registry").size(), 5u);

  MSIHANDLE fine = MakeRecord({Text(u"reg11"), Text(u"2"), Text(u"K"), kNull, kNull, Text(u"C")});
  ASSERT_EQ(MsiViewModify(view, MSIMODIFY_INSERT, fine), ERROR_SUCCESS);
  EXPECT_EQ(hostctl::Rows(database, u"Registry").back()[1], Cell(2));
  EXPECT_EQ(ErrorColumn(view, &error), "");  // a later modify clears the error
  EXPECT_EQ(MsiViewModify(view, static_cast<MSIMODIFY>(99), fine), ERROR_INVALID_PARAMETER);
}

TEST_F(DatabaseStandIn, UpdateRefreshAndDeleteWorkOnFetchedRows) {
  MSIHANDLE view = OpenView(u"SELECT Registry, Value FROM Registry WHERE Root=2");
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
  MSIHANDLE reg2 = 0;
  MSIHANDLE reg4 = 0;
  ASSERT_EQ(MsiViewFetch(view, &reg2), ERROR_SUCCESS);
  ASSERT_EQ(MsiViewFetch(view, &reg4), ERROR_SUCCESS);

  hostplatform::Find<hostplatform::Record>(reg2)->fields[2] = Text(u"changed");
  ASSERT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, reg2), ERROR_SUCCESS);
  EXPECT_EQ(hostctl::Rows(database, u"Registry")[1],
            (std::vector<Cell>{Text(u"reg2"), 2, Text(u"Software\\B"), kNull, Text(u"changed"),
                               Text(u"Component")}));

  hostplatform::Find<hostplatform::Record>(reg2)->fields[2] = Text(u"scribbled");
  ASSERT_EQ(MsiViewModify(view, MSIMODIFY_REFRESH, reg2), ERROR_SUCCESS);
  EXPECT_EQ(Fields(reg2), (std::vector<Cell>{Text(u"reg2"), Text(u"changed")}));

  // UPDATE keeps the key; only REPLACE may move a row to another key.
  hostplatform::Find<hostplatform::Record>(reg2)->fields[1] = Text(u"reg2b");
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, reg2), ERROR_FUNCTION_FAILED);
  ASSERT_EQ(MsiViewModify(view, MSIMODIFY_REPLACE, reg2), ERROR_SUCCESS);
  EXPECT_EQ(Keys(hostctl::Rows(database, u"Registry")),
            (std::vector<std::string>{"reg1", "reg3", "reg4", "reg2b"}));

  ASSERT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, reg4), ERROR_SUCCESS);
  EXPECT_EQ(Keys(hostctl::Rows(database, u"Registry")),
            (std::vector<std::string>{"reg1", "reg3", "reg2b"}));
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, reg4), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_REFRESH, reg4), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, reg4), ERROR_FUNCTION_FAILED);

  // Records that did not come from this view stand for no row.
  MSIHANDLE made = MakeRecord({Text(u"reg1"), Text(u"x")});
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_UPDATE, made), ERROR_FUNCTION_FAILED);
  MSIHANDLE otherView = OpenView(u"SELECT Registry, Value FROM Registry WHERE Root=2");
  ASSERT_EQ(MsiViewExecute(otherView, 0), ERROR_SUCCESS);
  EXPECT_EQ(MsiViewModify(otherView, MSIMODIFY_DELETE, reg2), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(hostctl::Rows(database, u"Registry").size(), 3u);
}

TEST_F(DatabaseStandIn, AssignUpdatesOrInsertsByKeyAndSeekFindsByKey) {
  MSIHANDLE view = OpenView(u"SELECT Registry, Root, Key, Component_ FROM Registry");
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);
  MSIHANDLE existing = MakeRecord({Text(u"reg1"), 3, Text(u"Moved"), Text(u"C")});
  MSIHANDLE fresh = MakeRecord({Text(u"reg7"), 0, Text(u"K"), Text(u"C")});
  ASSERT_EQ(MsiViewModify(view, MSIMODIFY_ASSIGN, existing), ERROR_SUCCESS);
  ASSERT_EQ(MsiViewModify(view, MSIMODIFY_ASSIGN, fresh), ERROR_SUCCESS);
  auto rows = hostctl::Rows(database, u"Registry");
  ASSERT_EQ(rows.size(), 5u);
  // Columns outside the view keep their values on update and are null on insert.
  EXPECT_EQ(rows[0], (std::vector<Cell>{Text(u"reg1"), 3, Text(u"Moved"), Text(u"Name1"),
                                        Text(u"value1"), Text(u"C")}));
  EXPECT_EQ(rows[4], (std::vector<Cell>{Text(u"reg7"), 0, Text(u"K"), kNull, kNull, Text(u"C")}));

  MSIHANDLE probe = MakeRecord({Text(u"reg3"), kNull, kNull, kNull});
  ASSERT_EQ(MsiViewModify(view, MSIMODIFY_SEEK, probe), ERROR_SUCCESS);
  EXPECT_EQ(Fields(probe),
            (std::vector<Cell>{Text(u"reg3"), -1, Text(u"Software\\C"), Text(u"7")}));
  ASSERT_EQ(MsiViewModify(view, MSIMODIFY_DELETE, probe), ERROR_SUCCESS);
  MSIHANDLE absent = MakeRecord({Text(u"nope"), kNull, kNull, kNull});
  EXPECT_EQ(MsiViewModify(view, MSIMODIFY_SEEK, absent), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(hostctl::Rows(database, u"Registry").size(), 4u);
}

TEST_F(DatabaseStandIn, RowsDeletedAfterExecuteAreNotFetched) {
  MSIHANDLE reader = OpenView(u"SELECT Registry FROM Registry");
  MSIHANDLE writer = OpenView(u"SELECT Registry FROM Registry WHERE Registry='reg2'");
  ASSERT_EQ(MsiViewExecute(reader, 0), ERROR_SUCCESS);
  ASSERT_EQ(MsiViewExecute(writer, 0), ERROR_SUCCESS);
  MSIHANDLE reg2 = 0;
  ASSERT_EQ(MsiViewFetch(writer, &reg2), ERROR_SUCCESS);
  ASSERT_EQ(MsiViewModify(writer, MSIMODIFY_DELETE, reg2), ERROR_SUCCESS);
  EXPECT_EQ(Keys(FetchAll(reader)), (std::vector<std::string>{"reg1", "reg3", "reg4"}));
}

TEST_F(DatabaseStandIn, EveryHandleIsCountedAndClosingReleasesIt) {
  const size_t before = hostctl::OpenHandleCount();  // session and database
  ASSERT_EQ(before, 2u);
  MSIHANDLE view = OpenView(u"SELECT * FROM Registry WHERE Registry=?");
  MSIHANDLE parameters = MakeRecord({Text(u"reg1")});
  ASSERT_EQ(MsiViewExecute(view, parameters), ERROR_SUCCESS);
  MSIHANDLE record = 0;
  ASSERT_EQ(MsiViewFetch(view, &record), ERROR_SUCCESS);
  MSIHANDLE names = 0;
  ASSERT_EQ(MsiViewGetColumnInfo(view, MSICOLINFO_NAMES, &names), ERROR_SUCCESS);
  MSIHANDLE second = MsiGetActiveDatabase(session);
  MSIHANDLE none = 0;
  EXPECT_EQ(MsiViewFetch(view, &none), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(MsiDatabaseOpenViewW(databaseHandle, u"SELECT * FROM Nowhere", &none),
            ERROR_BAD_QUERY_SYNTAX);
  EXPECT_EQ(hostctl::OpenHandleCount(), before + 5);

  for (MSIHANDLE handle : {view, parameters, record, names, second, databaseHandle, session})
    EXPECT_EQ(MsiCloseHandle(handle), ERROR_SUCCESS);
  EXPECT_EQ(hostctl::OpenHandleCount(), 0u);
  EXPECT_EQ(MsiCloseHandle(view), ERROR_INVALID_HANDLE);
}

TEST_F(DatabaseStandIn, ArmedFailuresReturnTheirCodeAndNoHandle) {
  hostctl::FailCall("MsiDatabaseOpenViewW", ERROR_FUNCTION_FAILED);
  MSIHANDLE view = 3;
  EXPECT_EQ(MsiDatabaseOpenViewW(databaseHandle, u"SELECT * FROM Registry", &view),
            ERROR_FUNCTION_FAILED);
  EXPECT_EQ(view, 0u);
  view = OpenView(u"SELECT * FROM Registry");
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS);

  hostctl::FailCall("MsiViewFetch", ERROR_NOT_ENOUGH_MEMORY, 2);
  MSIHANDLE record = 0;
  EXPECT_EQ(MsiViewFetch(view, &record), ERROR_SUCCESS);
  MsiCloseHandle(record);
  EXPECT_EQ(MsiViewFetch(view, &record), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(record, 0u);
  ASSERT_EQ(MsiViewFetch(view, &record), ERROR_SUCCESS);
  EXPECT_EQ(Fields(record)[0], Cell(Text(u"reg2")));  // the failed call consumed no row

  hostctl::FailCall("MsiGetActiveDatabase", 0);
  size_t open = hostctl::OpenHandleCount();
  EXPECT_EQ(MsiGetActiveDatabase(session), 0u);
  EXPECT_EQ(hostctl::OpenHandleCount(), open);
}

TEST_F(DatabaseStandIn, ControlInterfaceRefusesRowsThatDoNotFit) {
  using Row = std::vector<Cell>;
  const Row cases[] = {
      {Text(u"short")},
      {Text(u"regX"), Text(u"1"), Text(u"K"), kNull, kNull, Text(u"C")},  // text for an integer
      {Text(u"regX"), 40000, Text(u"K"), kNull, kNull, Text(u"C")},       // beyond a 16-bit column
      {Text(u"regX"), 1, 5, kNull, kNull, Text(u"C")},                    // integer for a text
      {Text(u"reg1"), 1, Text(u"K"), kNull, kNull, Text(u"C")},           // duplicate key
  };
  for (const auto& row : cases)
    EXPECT_THROW(hostctl::AddRow(database, u"Registry", row), std::invalid_argument);
  EXPECT_THROW(hostctl::AddRow(database + 1, u"Registry", cases[1]), std::invalid_argument);
  EXPECT_THROW(hostctl::AddRegistryTable(database), std::invalid_argument);
  EXPECT_THROW(hostctl::Rows(database, u"Nope"), std::invalid_argument);
  EXPECT_EQ(hostctl::Rows(database, u"Registry").size(), 4u);
}

}  // namespace
