// BenchStamp.dll: an immediate custom action that writes one line, "BenchStamp: MICROSECONDS",
// to the installer log, the machine's QueryPerformanceCounter in microseconds. The Wine
// benchmark schedules it around the actions it times: the installer's own log gives whole
// seconds only, and the counter is the same in every process of the machine.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstdio>

extern "C" __declspec(dllexport) UINT WINAPI BenchStamp(MSIHANDLE session) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  const long long micros = now.QuadPart / frequency.QuadPart * 1000000 +
                           now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart;
  char text[64];
  std::snprintf(text, sizeof text, "BenchStamp: %lld", micros);
  MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringA(record, 0, text);
  MsiProcessMessage(session, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
  return ERROR_SUCCESS;
}
