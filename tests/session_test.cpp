// Log lines, their debugger echo, messages, prefixes, actions and splitting.
#include "fixture.h"

namespace {

using msistd::CSession;

class SessionTest : public StandInTest {};

TEST_F(SessionTest, LogLineIsThePrefixFollowedDirectlyByTheText) {
  CSession log(session, false);
  EXPECT_EQ(log.LogPrefix(u"GetTotalARPSize: "), u"");
  CSession earlier(log);
  EXPECT_EQ(log.LogPrefix(u"Other: "), u"GetTotalARPSize: ");
  log.Log(u"Size calculation complete");
  earlier.Log(u"Size calculation complete");
  log.Log(int32_t(-42));
  log.Log(uint32_t(4294967295u));
  EXPECT_EQ(hostctl::Messages(session).front().type, INSTALLMESSAGE_INFO);
  EXPECT_EQ(hostctl::LogLines(session),
            (Lines{u"Other: Size calculation complete", u"GetTotalARPSize: Size calculation complete",
                   u"Other: -42", u"Other: 4294967295"}));
  EXPECT_EQ(OtherHandles(), 0u);
}

TEST_F(SessionTest, EchoGoesToTheDebuggerInPiecesOfAtMost100UnitsAndALineFeed) {
  struct Case {
    size_t length;
    std::vector<size_t> pieces;
  };
  const Case cases[] = {{250, {100, 100, 50}}, {100, {100}}, {101, {100, 1}}};
  for (const Case& c : cases) {
    hostctl::ClearDebugOutput();
    std::u16string text(c.length, u'x');
    CSession(session, false).Log(text);
    Lines expected;
    for (size_t piece : c.pieces) expected.push_back(std::u16string(piece, u'x'));
    expected.push_back(u"\n");
    EXPECT_EQ(hostctl::DebugOutput(), expected) << c.length;
  }
  // An empty template is formatted by the installer in its field-list form.
  hostctl::ClearDebugOutput();
  CSession(session, false).Log(u"");
  EXPECT_EQ(hostctl::DebugOutput(), (Lines{u"1:  ", u"\n"}));
}

TEST_F(SessionTest, EchoShowsPropertyReferencesResolved) {
  hostctl::SetProperty(session, u"FOO", u"bar");
  CSession(session, false).Log(u"value [FOO] here");
  EXPECT_EQ(hostctl::DebugOutput(), (Lines{u"value bar here", u"\n"}));
}

TEST_F(SessionTest, OnlyPlainInfoMessagesAreEchoedAndTheRecordStaysOpen) {
  CSession s(session, false);
  MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringW(record, 0, u"text");
  s.Message(INSTALLMESSAGE_WARNING, record);
  s.Message(static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_INFO | 0x4), record);
  EXPECT_TRUE(hostctl::DebugOutput().empty());
  EXPECT_EQ(s.Message(INSTALLMESSAGE_INFO, record), 0);
  EXPECT_EQ(hostctl::DebugOutput(), (Lines{u"text", u"\n"}));
  EXPECT_TRUE(hostctl::IsHandleOpen(record));
  EXPECT_EQ(hostctl::Messages(session).size(), 3u);
  MsiCloseHandle(record);
  s.Message(INSTALLMESSAGE_INFO, u"from text");
  EXPECT_EQ(hostctl::LogLines(session).back(), u"from text");
  EXPECT_EQ(OtherHandles(), 0u);
}

TEST_F(SessionTest, RefusedSessionHandleIsAnswered) {
  EXPECT_NE(CSession(0, false).Log(u"x"), 0);
  EXPECT_EQ(OtherHandles(), 0u);
}

TEST_F(SessionTest, DoActionRunsAndReportsFailures) {
  msistd::SetInstallHandle(session);
  CSession s(session, false);
  EXPECT_EQ(s.DoAction(u"CostFinalize"), 0u);
  hostctl::FailCall("MsiDoActionW", ERROR_FUNCTION_FAILED);
  EXPECT_EQ(s.DoAction(u"Broken"), ERROR_FUNCTION_FAILED);
  EXPECT_EQ(hostctl::ActionsRun(session), Lines{u"CostFinalize"});
  EXPECT_EQ(hostctl::LogLines(session),
            Lines{ReportLine(1627, u"msistd::CSession::DoAction",
                             u"MsiDoAction( MsiHandle(), action.c_str() )", kInstallLibFile, 706)});
}

TEST_F(SessionTest, SplitKeepsNonEmptyPiecesUntrimmed) {
  struct Case {
    std::u16string text, separators;
    Lines pieces;
  };
  const Case cases[] = {
      {u"a;;b;", u";", {u"a", u"b"}},
      {u";;;", u";", {}},
      {u"", u";", {}},
      {u" key ", u";", {u" key "}},
      {u"a,b;c", u",;", {u"a", u"b", u"c"}},
      {u"a;a", u";", {u"a", u"a"}},
      {u"abc", u"", {u"abc"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(msistd::Split(c.text, c.separators), c.pieces) << hostctl::ToUtf8(c.text);
    EXPECT_EQ(CSession(session, false).Installer().Split(c.text, c.separators), c.pieces);
  }
}

}  // namespace
