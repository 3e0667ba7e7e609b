// The frame every export runs in: order of the calls, the install handle, the result.
#include <algorithm>

#include "fixture.h"

namespace {

using Export = UINT(WINAPI*)(MSIHANDLE);

struct ExportCase {
  const char* name;
  Export action;
};

const ExportCase kExports[] = {{"PerformRegistryUpdate", PerformRegistryUpdate},
                               {"SumARPPrevsizeAndTotalCost", SumARPPrevsizeAndTotalCost},
                               {"UpdateARPSize", UpdateARPSize}};

class FrameTest : public StandInTest {};

TEST_F(FrameTest, EveryExportReturnsSuccessAndLeavesNothingOpen) {
  for (const ExportCase& e : kExports) {
    SetUp();
    EXPECT_EQ(e.action(session), 0u) << e.name;
    EXPECT_TRUE(hostctl::IsHandleOpen(session)) << e.name;
    EXPECT_EQ(OtherHandles(), 0u) << e.name;
    EXPECT_EQ(hostctl::OpenKeyCount(), 0u) << e.name;
    EXPECT_EQ(hostctl::CoInitializeCalls(), 1) << e.name;
    EXPECT_EQ(hostctl::CoUninitializeCalls(), 1) << e.name;
    EXPECT_EQ(msistd::installHandle, session) << e.name;
  }
}

TEST_F(FrameTest, OnlyPerformRegistryUpdateLogsBeforeComIsInitialised) {
  PerformRegistryUpdate(session);
  auto calls = hostctl::CallLog();
  auto firstMessage = std::find(calls.begin(), calls.end(), "MsiProcessMessage");
  auto coInit = std::find(calls.begin(), calls.end(), "CoInitialize");
  EXPECT_LT(firstMessage - calls.begin(), coInit - calls.begin());
  EXPECT_EQ(hostctl::LogLines(session).front(),
            u"PerformRegistryUpdate: Start registry update ... ");
  EXPECT_EQ(calls.back(), "CoUninitialize");

  for (Export quiet : {SumARPPrevsizeAndTotalCost, UpdateARPSize}) {
    SetUp();
    quiet(session);
    calls = hostctl::CallLog();
    EXPECT_EQ(calls.front(), "CoInitialize");
    EXPECT_EQ(calls.back(), "CoUninitialize");
  }
}

TEST_F(FrameTest, ReportsFollowTheLatestInstallHandle) {
  MSIHANDLE second = hostctl::CreateSession();
  SumARPPrevsizeAndTotalCost(session);
  hostctl::SetProperty(second, u"ZYB_UPDATE_REG_KEYS", u"k");
  PerformRegistryUpdate(second);  // no active database: the view cannot be opened
  EXPECT_EQ(msistd::installHandle, second);
  auto hasReport = [](const Lines& lines) {
    return std::any_of(lines.begin(), lines.end(), [](const std::u16string& line) {
      return line.find(u"function:msistd::CDatabase::OpenView") != std::u16string::npos;
    });
  };
  EXPECT_FALSE(hasReport(hostctl::LogLines(session)));
  EXPECT_TRUE(hasReport(hostctl::LogLines(second)));
  MsiCloseHandle(second);
}

TEST_F(FrameTest, AnExceptionNeverLeavesAnExport) {
  for (const ExportCase& e : kExports) {
    SetUp();
    hostctl::SetProperty(session, u"ZYB_UPDATE_REG_KEYS", u"a");
    hostctl::ThrowOnCall("MsiGetPropertyW");
    EXPECT_EQ(e.action(session), 0u) << e.name;
    EXPECT_EQ(hostctl::CoInitializeCalls(), hostctl::CoUninitializeCalls()) << e.name;
    EXPECT_EQ(OtherHandles(), 0u) << e.name;
    EXPECT_TRUE(hostctl::IsHandleOpen(session));
    Lines debug = hostctl::DebugOutput();
    ASSERT_FALSE(debug.empty());
    EXPECT_NE(debug.back().find(u"unexpected failure"), std::u16string::npos) << e.name;
  }
}

}  // namespace
