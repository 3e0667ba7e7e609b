// Shared state of the stand-in's areas: the one handle table, the call log with failure
// injection, and the objects more than one area touches (records, sessions).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hostplatform/control.h"
#include "hostplatform/win32.h"

namespace hostplatform {

using Text = std::u16string;
using hostctl::Bytes;
using hostctl::Cell;

// Everything a handle can refer to derives from Object.
struct Object {
  virtual ~Object() = default;
};

// One table for every installer handle. Handles are small non-zero numbers, never reused
// within a run (so a stale handle is refused, not confused with a new object).
MSIHANDLE NewHandle(std::shared_ptr<Object> object);
std::shared_ptr<Object> FindHandle(MSIHANDLE handle);
template <class T>
std::shared_ptr<T> Find(MSIHANDLE handle) {
  return std::dynamic_pointer_cast<T>(FindHandle(handle));
}
bool CloseHandle(MSIHANDLE handle);  // false for 0 or an unknown handle

// Every stand-in call starts with Enter(name): it is logged, and a failure armed for it is
// returned (the caller then returns that value and does nothing else).
std::optional<int64_t> Enter(const char* function);

// Records: fields 0..count, each null, an integer, a text or stream bytes.
struct Record : Object {
  std::vector<Cell> fields;
};

// Sessions (install handles).
struct Session : Object {
  std::map<Text, Text> properties;
  std::vector<hostctl::Message> messages;
  std::vector<Text> actions;
  std::map<Text, Text> targetPaths;
  std::map<Text, Text> sourcePaths;
  hostctl::DatabaseId activeDatabase = 0;
};

// Formats a record's template (field 0) the way MsiFormatRecordW does; `session` may be null.
Text FormatRecord(const Session* session, const Record& record);
// Copies `text` into an installer-style buffer: returns 0 or ERROR_MORE_DATA, sets *capacity.
UINT CopyOut(const Text& text, LPWSTR buffer, LPDWORD capacity);

// Each area's state back to empty; called by hostctl::Reset.
void ResetCore();
void ResetRecordsAndSessions();
void ResetSystem();
void ResetRegistry();
void ResetDatabases();

// Files, record streams, the installer-wide model and summary information; their state back
// to empty, called by hostctl::Reset.
void ResetFiles();
void ResetInstaller();
void ResetSummary();

// True when the Windows path names an existing file (not a folder) of the stand-in's files.
bool IsExistingFile(const Text& path);

// The database an open database handle or a registered path stands for; 0 when none.
hostctl::DatabaseId DatabaseOfHandle(MSIHANDLE handle);
hostctl::DatabaseId DatabaseOfPath(const Text& path);

}  // namespace hostplatform
