// The fixture every host suite starts from: a reset stand-in, no install handle stored, and
// one session to work with.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UpdateRegistry.h"
#include "hostplatform/control.h"
#include "sources/stdInstallLib.h"
#include "sources/stdRegistryLib.h"

using Lines = std::vector<std::u16string>;

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hostctl::Reset();
    msistd::SetInstallHandle(0);
    session = hostctl::CreateSession();
  }
  void TearDown() override { msistd::SetInstallHandle(0); }

  // Handles open besides the session made here.
  size_t OtherHandles() const {
    return hostctl::OpenHandleCount() - (hostctl::IsHandleOpen(session) ? 1 : 0);
  }

  MSIHANDLE session = 0;
};

// A session whose active database holds the standard Registry table, empty.
class PackageTest : public StandInTest {
 protected:
  void SetUp() override {
    StandInTest::SetUp();
    database = hostctl::CreateDatabase();
    hostctl::AddRegistryTable(database);
    hostctl::SetActiveDatabase(session, database);
  }

  hostctl::DatabaseId database = 0;
};

// The report line a library wrapper writes for `code`, with the system text as the stand-in
// gives it.
inline std::u16string ReportLine(UINT code, const std::u16string& function,
                                 const std::u16string& call, const std::u16string& file, int line,
                                 const std::u16string& prefix = u"Internal call:") {
  return prefix + u" error code: " + msistd::ToDecimal(static_cast<uint32_t>(code)) + u" (" +
         msistd::SystemErrorText(code) + u"), call: " + call + u", function:" + function +
         u", file:" + file + u", line:" + msistd::ToDecimal(static_cast<int32_t>(line)) + u"\n";
}

inline const std::u16string kInstallLibFile = u".\\sources\\stdInstallLib.cpp";
inline const std::u16string kRegistryLibFile = u".\\sources\\stdRegistryLib.cpp";
inline const std::u16string kModuleFile = u".\\UpdateRegistry.cpp";
