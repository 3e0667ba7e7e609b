// Properties, directory paths, formatting against a session, and the path form.
#include "fixture.h"

namespace {

using msistd::CProperty;
using msistd::CSession;

class PropertyTest : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    msistd::SetInstallHandle(session);
  }
  CSession Session() { return CSession(session, false); }
};

TEST_F(PropertyTest, UnsetPropertyIsEmptyAndEqualsTheEmptyText) {
  CProperty p = Session().Property(u"MISSING");
  EXPECT_EQ(p.Value(), u"");
  EXPECT_TRUE(p.Equals(u""));
  hostctl::SetProperty(session, u"ALLUSERS", u"1");
  CProperty all = Session().Property(u"ALLUSERS");
  EXPECT_TRUE(all.Equals(u"1"));
  EXPECT_FALSE(all.Equals(u"1 "));
  EXPECT_FALSE(all.Equals(u""));
  EXPECT_EQ(u"ALLUSERS=" + all, u"ALLUSERS=1");
  EXPECT_EQ(static_cast<msistd::WString>(all), u"1");
}

TEST_F(PropertyTest, NumberSetterWritesUnsignedDecimalText) {
  const std::pair<uint32_t, std::u16string> cases[] = {
      {0, u"0"}, {350, u"350"}, {4294967295u, u"4294967295"}, {2147483648u, u"2147483648"}};
  for (const auto& [number, text] : cases) {
    EXPECT_EQ(Session().Property(u"TOTAL_COST").Value(number), 0u);
    EXPECT_EQ(hostctl::Property(session, u"TOTAL_COST"), text);
  }
}

TEST_F(PropertyTest, PropertySetterCopiesFromAnotherSession) {
  MSIHANDLE other = hostctl::CreateSession();
  hostctl::SetProperty(other, u"SOURCE", u"from other");
  CProperty target = Session().Property(u"TARGET");
  EXPECT_EQ(target.Value(CSession(other, false).Property(u"SOURCE")), 0u);
  EXPECT_EQ(hostctl::Property(session, u"TARGET"), u"from other");
  EXPECT_EQ(target.Value(CSession(other, false).Property(u"UNSET")), 0u);
  EXPECT_EQ(hostctl::Property(session, u"TARGET"), u"");
  MsiCloseHandle(other);
}

TEST_F(PropertyTest, TextHandsOutTheLatestValue) {
  CProperty p = Session().Property(u"P");
  hostctl::SetProperty(session, u"P", u"first");
  EXPECT_EQ(std::u16string(p.Text()), u"first");
  hostctl::SetProperty(session, u"P", u"second");
  EXPECT_EQ(std::u16string(p.Text()), u"second");
}

TEST_F(PropertyTest, PropertyOutlivesItsSessionObject) {
  MSIHANDLE owned = hostctl::CreateSession();
  hostctl::SetProperty(owned, u"P", u"v");
  auto* holder = new CSession(owned, true);
  CProperty p = holder->Property(u"P");
  delete holder;
  EXPECT_EQ(p.Value(), u"v");
  EXPECT_TRUE(hostctl::IsHandleOpen(owned));
}

TEST_F(PropertyTest, RefusedSettersAreReportedWithTheirCallTexts) {
  CSession none(0, false);
  EXPECT_EQ(none.Property(u"P").Value(u"x"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(none.Property(u"P").Value(7u), ERROR_INVALID_HANDLE);
  EXPECT_EQ(none.Property(u"P").Value(Session().Property(u"Q")), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Session().Property(u"").Value(u"x"), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(none.TargetPath(u"INSTALLDIR").Value(u"C:\\x"), ERROR_INVALID_HANDLE);
  const std::u16string fn = u"msistd::CProperty::Value";
  EXPECT_EQ(
      hostctl::LogLines(session),
      (Lines{ReportLine(6, fn, u"MsiSetProperty( session.MsiHandle(), name.c_str(), value.c_str() )",
                        kInstallLibFile, 256),
             ReportLine(6, fn,
                        u"MsiSetProperty( session.MsiHandle(), name.c_str(), "
                        u"valueStream.str().c_str() )",
                        kInstallLibFile, 263),
             ReportLine(6, fn,
                        u"MsiSetProperty( session.MsiHandle(), name.c_str(), value.Value().c_str() )",
                        kInstallLibFile, 268),
             ReportLine(1627, fn,
                        u"MsiSetProperty( session.MsiHandle(), name.c_str(), value.c_str() )",
                        kInstallLibFile, 256),
             ReportLine(6, u"msistd::CTargetPath::Value",
                        u"MsiSetTargetPath( session.MsiHandle(), name.c_str(), value.c_str() )",
                        kInstallLibFile, 430)}));
}

TEST_F(PropertyTest, DirectoryPathsReadAndSet) {
  hostctl::SetTargetPath(session, u"INSTALLDIR", u"C:\\Program Files\\App\\");
  hostctl::SetSourcePath(session, u"INSTALLDIR", u"D:\\media\\");
  EXPECT_EQ(Session().TargetPath(u"INSTALLDIR").Value(), u"C:\\Program Files\\App\\");
  EXPECT_EQ(Session().SourcePath(u"INSTALLDIR").Value(), u"D:\\media\\");
  EXPECT_EQ(Session().TargetPath(u"UNKNOWN").Value(), u"");
  EXPECT_EQ(Session().SourcePath(u"UNKNOWN").Value(), u"");
  EXPECT_EQ(Session().TargetPath(u"INSTALLDIR").Value(u"E:\\Other\\"), 0u);
  EXPECT_EQ(Session().TargetPath(u"INSTALLDIR").Value(), u"E:\\Other\\");
}

TEST_F(PropertyTest, FormatResolvesAgainstTheSessionItIsCalledOn) {
  hostctl::SetProperty(session, u"FOO", u"bar");
  EXPECT_EQ(Session().Format(u"a[FOO]b[UNKNOWN]c"), u"abarbc");
  EXPECT_EQ(Session().Format(u"plain text"), u"plain text");
  EXPECT_EQ(Session().Format(u""), u"1:  ");
  msistd::CRecord unbound(1);
  unbound.Field(0).Value(u"[FOO]");
  EXPECT_EQ(Session().Format(unbound), u"bar");
  EXPECT_EQ(OtherHandles(), 1u);  // only `unbound`
}

TEST_F(PropertyTest, PathFormTrimsSplitsAndTraces) {
  hostctl::SetCurrentDirectory(u"C:\\work");
  struct Case {
    std::u16string path, full, directory, file;
    bool traced;
  };
  const Case cases[] = {
      {u"C:\\dir\\sub", u"C:\\dir\\sub", u"C:\\dir\\", u"sub", false},
      {u"C:\\dir\\sub\\\\", u"C:\\dir\\sub", u"C:\\dir\\", u"sub", false},
      {u"C:\\", u"C:\\", u"C:\\", u"C:\\", true},
      {u"file.txt", u"C:\\work\\file.txt", u"C:\\work\\", u"file.txt", false},
  };
  for (const Case& c : cases) {
    hostctl::ClearDebugOutput();
    std::u16string full, directory, file;
    EXPECT_TRUE(msistd::_format(c.path, full, directory, file));
    EXPECT_EQ(full, c.full);
    EXPECT_EQ(directory, c.directory);
    EXPECT_EQ(file, c.file);
    EXPECT_EQ(msistd::FullPath(c.path), c.full);
    EXPECT_EQ(msistd::DirectoryPart(c.path), c.directory);
    EXPECT_EQ(msistd::FilePart(c.path), c.file);
    Lines debug = hostctl::DebugOutput();
    bool traced = !debug.empty() && debug.front() == u"_format: can't get pointer to file: C:\\";
    EXPECT_EQ(traced, c.traced) << hostctl::ToUtf8(c.path);
  }
}

TEST_F(PropertyTest, PathFormFailuresGiveTheTrimmedPath) {
  std::u16string full, directory, file;
  hostctl::FailCall("GetFullPathNameW", 0);
  EXPECT_FALSE(msistd::_format(u"C:\\a\\", full, directory, file));
  EXPECT_EQ(full, u"C:\\a");
  EXPECT_EQ(directory, u"C:\\a");
  EXPECT_EQ(file, u"C:\\a");
  hostctl::FailCall("HeapAlloc", 0);
  EXPECT_FALSE(msistd::_format(u"C:\\b", full, directory, file));
  EXPECT_EQ(hostctl::LogLines(session),
            (Lines{u"_format: Zero-size of buffer", u"_format: Can't allocate buffer"}));
}

}  // namespace
