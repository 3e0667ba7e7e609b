// Summary information: opening, reading properties by type, changing and persisting them.
#include "fixture.h"

namespace {

using msistd::CSummaryInfo;

const std::u16string kGetCall =
    u"MsiSummaryInfoGetProperty( info.MsiHandle(), property, &type, &value, &ftime, _T(\"\"), "
    u"&len )";

std::u16string Report(UINT code, const std::u16string& function, const std::u16string& call,
                      int line) {
  return ReportLine(code, function, call, kInstallLibFile, line);
}

hostctl::SummaryValue Integer(UINT type, int value) {
  hostctl::SummaryValue v;
  v.type = type;
  v.integer = value;
  return v;
}

hostctl::SummaryValue TextValue(const std::u16string& text) {
  hostctl::SummaryValue v;
  v.type = VT_LPSTR;
  v.text = text;
  return v;
}

class SummaryTest : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    msistd::SetInstallHandle(session);
    database = hostctl::CreateDatabase();
    hostctl::RegisterDatabasePath(u"C:\\pkg\\app.msi", database);
    hostctl::SetSummaryProperty(database, PID_TITLE, TextValue(u"Installation Database"));
    hostctl::SetSummaryProperty(database, PID_CODEPAGE, Integer(VT_I2, 1252));
    hostctl::SetSummaryProperty(database, PID_PAGECOUNT, Integer(VT_I4, 65535));
    hostctl::SetSummaryProperty(database, PID_WORDCOUNT, Integer(VT_I4, 65536));
    hostctl::SummaryValue created;
    created.type = VT_FILETIME;
    created.time = {0x89ABCDEFu, 0x01D00000u};
    hostctl::SetSummaryProperty(database, PID_CREATE_DTM, created);
  }

  hostctl::DatabaseId database = 0;
};

TEST_F(SummaryTest, PropertiesReadByType) {
  CSummaryInfo info(u"C:\\pkg\\app.msi", 0);
  ASSERT_TRUE(info.IsValid());
  EXPECT_EQ(info.PropertyCount(), 5u);
  struct Case {
    UINT id;
    UINT type;
    int integer;
    short low;
    std::u16string text;
  };
  const Case cases[] = {
      {PID_CODEPAGE, VT_I2, 1252, 1252, u""}, {PID_PAGECOUNT, VT_I4, 65535, -1, u""},
      {PID_WORDCOUNT, VT_I4, 65536, 0, u""},  {PID_CREATE_DTM, VT_FILETIME, 0, 0, u""},
      {PID_AUTHOR, VT_EMPTY, 0, 0, u""},
  };
  for (const Case& c : cases) {
    auto property = info.Property(c.id);
    EXPECT_EQ(property.Type(), c.type) << c.id;
    EXPECT_EQ(property.Int(), c.integer) << c.id;
    EXPECT_EQ(property.Short(), c.low) << c.id;
    EXPECT_EQ(property.String(), c.text) << c.id;
  }
  FILETIME created = info.Property(PID_CREATE_DTM).FileTime();
  EXPECT_EQ(created.dwLowDateTime, 0x89ABCDEFu);
  EXPECT_EQ(created.dwHighDateTime, 0x01D00000u);
  EXPECT_EQ(info.Property(PID_PAGECOUNT).FileTime().dwLowDateTime, 0u);
  EXPECT_EQ(hostctl::LogLines(session), Lines{});
}

TEST_F(SummaryTest, ATextPropertyReadsAsTextAndAnswers234ToTheOtherGetters) {
  CSummaryInfo info(u"C:\\pkg\\app.msi", 0);
  auto title = info.Property(PID_TITLE);
  EXPECT_EQ(title.String(), u"Installation Database");
  EXPECT_EQ(hostctl::LogLines(session), Lines{});
  EXPECT_EQ(title.Type(), static_cast<UINT>(VT_LPSTR));
  EXPECT_EQ(title.Int(), 0);
  EXPECT_EQ(
      hostctl::LogLines(session),
      (Lines{Report(234, u"msistd::CSummaryInfo::CSummaryInfoProperty::Type", kGetCall, 509),
             Report(234, u"msistd::CSummaryInfo::CSummaryInfoProperty::Int", kGetCall, 520)}));
}

TEST_F(SummaryTest, AMissingPathGivesHandleZeroAndEveryLaterCallReports) {
  CSummaryInfo info(u"C:\\pkg\\none.msi", 0);
  EXPECT_FALSE(info.IsValid());
  EXPECT_EQ(info.PropertyCount(), 0u);
  auto title = info.Property(PID_TITLE);
  EXPECT_EQ(title.Short(), 0);
  EXPECT_EQ(title.FileTime().dwHighDateTime, 0u);
  EXPECT_EQ(title.Value(u"x"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(info.Persist(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(
      hostctl::LogLines(session),
      (Lines{Report(1627, u"msistd::CSummaryInfo::CSummaryInfo",
                    u"MsiGetSummaryInformation( 0, path.c_str(), maxProperties, &info )", 600),
             Report(6, u"msistd::CSummaryInfo::PropertyCount",
                    u"MsiSummaryInfoGetPropertyCount( MsiHandle(), &count )", 607),
             Report(6, u"msistd::CSummaryInfo::CSummaryInfoProperty::Short", kGetCall, 531),
             Report(6, u"msistd::CSummaryInfo::CSummaryInfoProperty::FileTime", kGetCall, 542),
             Report(6, u"msistd::CSummaryInfo::CSummaryInfoProperty::Value",
                    u"MsiSummaryInfoSetProperty( info.MsiHandle(), property, VT_LPSTR, 0, "
                    u"&ftime, value.c_str() )",
                    587),
             Report(6, u"msistd::CSummaryInfo::Persist", u"MsiSummaryInfoPersist( MsiHandle() )",
                    613)}));
}

TEST_F(SummaryTest, SettersPassTheirTypeAndPersistWritesTheDatabase) {
  FILETIME saved = {1, 2};
  {
    msistd::CDatabase opened =
        msistd::CInstaller().OpenDatabase(u"C:\\pkg\\app.msi", MSIDBOPEN_DIRECT);
    CSummaryInfo info(opened, 4);
    ASSERT_TRUE(info.IsValid());
    EXPECT_EQ(info.Property(PID_AUTHOR).Value(u"Someone"), 0u);
    EXPECT_EQ(info.Property(PID_SECURITY).Value(2), 0u);
    EXPECT_EQ(info.Property(PID_CODEPAGE).Value(static_cast<short>(-1)), 0u);
    EXPECT_EQ(info.Property(PID_LASTSAVE_DTM).Value(saved), 0u);
    EXPECT_EQ(info.Persist(), 0u);
  }
  auto stored = hostctl::SummaryProperties(database);
  EXPECT_EQ(stored[PID_AUTHOR].type, static_cast<UINT>(VT_LPSTR));
  EXPECT_EQ(stored[PID_AUTHOR].text, u"Someone");
  EXPECT_EQ(stored[PID_SECURITY].type, static_cast<UINT>(VT_I4));
  EXPECT_EQ(stored[PID_SECURITY].integer, 2);
  EXPECT_EQ(stored[PID_CODEPAGE].type, static_cast<UINT>(VT_I2));
  EXPECT_EQ(stored[PID_CODEPAGE].integer, -1);
  EXPECT_EQ(stored[PID_LASTSAVE_DTM].type, static_cast<UINT>(VT_FILETIME));
  EXPECT_EQ(stored[PID_LASTSAVE_DTM].time.dwHighDateTime, 2u);
  EXPECT_EQ(CSummaryInfo(u"C:\\pkg\\app.msi", 0).Property(PID_AUTHOR).String(), u"Someone");
  EXPECT_EQ(hostctl::LogLines(session), Lines{});
  EXPECT_EQ(OtherHandles(), 0u);
}

TEST_F(SummaryTest, ChangesWithoutPersistAreDropped) {
  {
    CSummaryInfo info(u"C:\\pkg\\app.msi", 2);
    auto title = info.Property(PID_TITLE);
    EXPECT_EQ(title.Value(u"Changed"), 0u);
    EXPECT_EQ(title.String(), u"Changed");
  }
  EXPECT_EQ(CSummaryInfo(u"C:\\pkg\\app.msi", 0).Property(PID_TITLE).String(),
            u"Installation Database");
}

TEST_F(SummaryTest, APropertyObjectOutlivesItsSummaryInfo) {
  auto* info = new CSummaryInfo(u"C:\\pkg\\app.msi", 0);
  auto title = info->Property(PID_TITLE);
  delete info;
  EXPECT_EQ(title.String(), u"Installation Database");
}

TEST_F(SummaryTest, RefusedChangesAreReportedAndReturned) {
  CSummaryInfo readOnly(u"C:\\pkg\\app.msi", 0);
  EXPECT_EQ(readOnly.Property(PID_TITLE).Value(5), ERROR_DATATYPE_MISMATCH);
  EXPECT_EQ(readOnly.Persist(), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(hostctl::LogLines(session),
            (Lines{Report(1629, u"msistd::CSummaryInfo::CSummaryInfoProperty::Value",
                          u"MsiSummaryInfoSetProperty( info.MsiHandle(), property, VT_I4, value, "
                          u"&ftime, _T(\"\") )",
                          565),
                   Report(1627, u"msistd::CSummaryInfo::Persist",
                          u"MsiSummaryInfoPersist( MsiHandle() )", 613)}));
}

}  // namespace
