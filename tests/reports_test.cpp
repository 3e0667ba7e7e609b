// The report line, system texts and trace messages, and what they write where.
#include <algorithm>

#include "fixture.h"

namespace {

using msistd::ReportError;

class ReportTest : public StandInTest {};

TEST_F(ReportTest, CodeZeroDoesNothingAtAll) {
  msistd::SetInstallHandle(session);
  hostctl::ClearCallLog();
  EXPECT_EQ(ReportError(0, u"f", u"c", u"file", 1, u"p"), 0u);
  EXPECT_TRUE(hostctl::CallLog().empty());
  EXPECT_TRUE(hostctl::DebugOutput().empty());
  EXPECT_TRUE(hostctl::Messages(session).empty());
}

TEST_F(ReportTest, LineIsComposedOfEveryPieceInOrder) {
  struct Case {
    UINT code;
    const char16_t *function, *call, *file, *prefix;
    int line;
    std::u16string expected;
  };
  const Case cases[] = {
      {5, nullptr, nullptr, nullptr, nullptr, -1,
       u"Error:  error code: 5 (Access is denied.\r\n), call: , function:, file:, line:-1\n"},
      {259, u"msistd::CView::Fetch", u"MsiViewFetch( MsiHandle(), &record )",
       u".\\sources\\stdInstallLib.cpp", u"Internal call:", 474,
       u"Internal call: error code: 259 (No more data is available.\r\n), call: MsiViewFetch( "
       u"MsiHandle(), &record ), function:msistd::CView::Fetch, file:.\\sources\\stdInstallLib.cpp,"
       u" line:474\n"},
      {0x80070005u, u"F", u"C", u"X", nullptr, 7,
       u"Error:  error code: 2147942405 (Unknown error), call: C, function:F, file:X, line:7\n"},
      {99999, u"", u"", u"", u"", 0,
       u" error code: 99999 (Unknown error), call: , function:, file:, line:0\n"},
  };
  for (const Case& c : cases) {
    hostctl::ClearDebugOutput();
    EXPECT_EQ(ReportError(c.code, c.function, c.call, c.file, c.line, c.prefix), c.code);
    EXPECT_EQ(hostctl::DebugOutput(), Lines{c.expected}) << hostctl::ToUtf8(c.expected);
  }
  EXPECT_TRUE(hostctl::Messages(session).empty());  // no install handle: debugger only
}

TEST_F(ReportTest, WithAnInstallHandleTheLineGoesToTheLogThenTwiceToTheDebugger) {
  msistd::SetInstallHandle(session);
  std::u16string line = u"Error:  error code: 6 (The handle is invalid.\r\n), call: "
                        u"a call text long enough to need a second debugger piece, "
                        u"function:fn, file:f.cpp, line:12\n";
  ReportError(6, u"fn", u"a call text long enough to need a second debugger piece", u"f.cpp", 12);
  EXPECT_EQ(hostctl::LogLines(session), Lines{line});
  EXPECT_EQ(hostctl::DebugOutput(), (Lines{line.substr(0, 100), line.substr(100), u"\n", line}));
  EXPECT_TRUE(hostctl::IsHandleOpen(session));
  EXPECT_EQ(OtherHandles(), 0u);
}

TEST_F(ReportTest, BracketsInAReportReachTheLogAsWritten) {
  msistd::SetInstallHandle(session);
  hostctl::SetProperty(session, u"FOO", u"bar");
  ReportError(6, u"f", u"sizeof( value[0] ) [FOO] [\\[] ]", u"x", 1);
  const std::u16string line = u"Error:  error code: 6 (The handle is invalid.\r\n), call: "
                              u"sizeof( value[0] ) [FOO] [\\[] ], function:f, file:x, line:1\n";
  EXPECT_EQ(hostctl::LogLines(session), Lines{line});
  Lines debug = hostctl::DebugOutput();
  EXPECT_EQ(debug.front() + debug[1], line);  // the echo, in two pieces
  EXPECT_EQ(debug.back(), line);
  msistd::TraceMessage(u"trace [FOO]");
  EXPECT_EQ(hostctl::LogLines(session).back(), u"trace [FOO]");
}

TEST_F(ReportTest, SystemTextIsTakenWholeAndItsBufferAlwaysReleased) {
  hostctl::ClearCallLog();
  EXPECT_EQ(msistd::SystemErrorText(2), u"The system cannot find the file specified.\r\n");
  EXPECT_EQ(msistd::SystemErrorText(99999), u"Unknown error");
  EXPECT_EQ(hostctl::CallCount("LocalFree"), 2u);
}

TEST_F(ReportTest, TraceWritesTheDebuggerFirstAndStillLogsWithoutAnInstallHandle) {
  hostctl::ClearCallLog();
  msistd::TraceMessage(u"Can't generate temp file name");
  EXPECT_EQ(hostctl::DebugOutput(),
            (Lines{u"Can't generate temp file name", u"\n", u"Can't generate temp file name", u"\n"}));
  EXPECT_EQ(hostctl::CallCount("MsiProcessMessage"), 1u);  // refused: handle 0

  hostctl::ClearDebugOutput();
  msistd::SetInstallHandle(session);
  msistd::TraceMessage(u"CRegistryValue::Dword: Wrong value type");
  EXPECT_EQ(hostctl::LogLines(session), Lines{u"CRegistryValue::Dword: Wrong value type"});
}

TEST_F(ReportTest, ALogThatKeepsFailingEndsInTheDebuggerOutput) {
  msistd::SetInstallHandle(session);
  hostctl::FailAlways("MsiRecordSetStringW", ERROR_INVALID_HANDLE);
  msistd::CSession(session, false).Log(u"line");
  const std::u16string report = ReportLine(
      6, u"msistd::CRecord::CRecordField::Value",
      u"MsiRecordSetString( record.MsiHandle(), field, value.c_str() )", kInstallLibFile, 301);
  // The outer report's log attempt fails too; that inner report goes to the debugger only.
  Lines debug = hostctl::DebugOutput();
  EXPECT_EQ(std::count(debug.begin(), debug.end(), report), 2);
  EXPECT_EQ(OtherHandles(), 0u);
}

TEST_F(ReportTest, FailingRecordCreationDoesNotRecurse) {
  msistd::SetInstallHandle(session);
  hostctl::FailAlways("MsiCreateRecord", 0);
  msistd::TraceMessage(u"text");
  EXPECT_EQ(hostctl::DebugOutput().front(), u"text");
  EXPECT_EQ(OtherHandles(), 0u);
}

}  // namespace
