// CSession::Format on a fuzzed template (line 0) against fuzzed properties (lines 1 on,
// NAME=VALUE). Its result must be what MsiFormatRecordW gives in one call with ample room (up
// to the first NUL, where the text ends), and it must leave no handle behind.
#include "fuzz_input.h"
#include "sources/stdInstallLib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hostctl::Reset();
  MSIHANDLE session = hostctl::CreateSession();
  std::vector<std::string> lines = fuzzinput::Lines(data, size);
  const msistd::WString text = fuzzinput::Units(lines[0]);
  for (size_t i = 1; i < lines.size(); ++i) {
    hostctl::Text property = fuzzinput::WithoutNul(fuzzinput::Units(lines[i]));
    size_t equals = property.find(u'=');
    if (equals != 0 && equals != hostctl::Text::npos)
      hostctl::SetProperty(session, property.substr(0, equals), property.substr(equals + 1));
  }

  const msistd::WString formatted = msistd::CSession(session, false).Format(text);
  FUZZ_REQUIRE(hostctl::OpenHandleCount() == 1, "handles left open");

  MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringW(record, 0, text.c_str());
  std::vector<msistd::WChar> buffer(1 << 16);
  DWORD capacity = static_cast<DWORD>(buffer.size());
  UINT result = MsiFormatRecordW(session, record, buffer.data(), &capacity);
  MsiCloseHandle(record);
  if (result == ERROR_SUCCESS) {
    msistd::WString direct(buffer.data(), capacity);
    FUZZ_REQUIRE(formatted == direct.substr(0, direct.find(u'\0')), "differs from the platform");
  }
  MsiCloseHandle(session);
  return 0;
}
