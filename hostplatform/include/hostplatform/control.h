// Control interface of the host stand-in, for tests only: build sessions, properties, tables
// and registry contents; read back messages, debugger output, registry contents and the call
// log; make chosen calls fail; reset everything between tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "hostplatform/win32.h"

namespace hostctl {

using Text = std::u16string;
using Bytes = std::vector<uint8_t>;

// Everything back to the state of a freshly started process: no handles, no sessions, no
// databases, an empty registry (the four roots only), no debugger output, no failures armed,
// an empty call log, current directory C:\.
void Reset();

// Conversions for test code and failure messages.
Text FromUtf8(const std::string& text);
std::string ToUtf8(const Text& text);

// Failure injection. The nth call of `function` from now on (1 = the next one) returns
// `result` instead of doing its work; for functions that return a handle or pointer the
// result is that handle value (0 = a failed creation), for void functions it only skips
// the work. "HeapAlloc" with result 0 makes an allocation fail.
void FailCall(const std::string& function, int64_t result, unsigned nth = 1);
// Every call of `function` from now on returns `result`, until Reset.
void FailAlways(const std::string& function, int64_t result);
// The nth call of `function` from now on throws std::bad_alloc, as a library allocation that
// runs out of memory would.
void ThrowOnCall(const std::string& function, unsigned nth = 1);

// The name of every stand-in call made since the last Reset (or ClearCallLog), in order.
std::vector<std::string> CallLog();
void ClearCallLog();
size_t CallCount(const std::string& function);

// Open installer handles (records, sessions, databases, views, ...) and open registry key
// handles (the predefined roots are not counted).
size_t OpenHandleCount();
size_t OpenKeyCount();
bool IsHandleOpen(MSIHANDLE handle);

// Sessions. CreateSession returns an open install handle; the test closes it (or Reset does).
MSIHANDLE CreateSession();
void SetProperty(MSIHANDLE session, const Text& name, const Text& value);
Text Property(MSIHANDLE session, const Text& name);
void SetTargetPath(MSIHANDLE session, const Text& directory, const Text& path);
void SetSourcePath(MSIHANDLE session, const Text& directory, const Text& path);

struct Message {
  int type;   // the INSTALLMESSAGE value as given
  Text text;  // field 0 of the record, formatted against the session as the installer logs it
};
// Every message given to MsiProcessMessage for this session, in order.
std::vector<Message> Messages(MSIHANDLE session);
// The texts of the INSTALLMESSAGE_INFO messages only, in order.
std::vector<Text> LogLines(MSIHANDLE session);
// Actions run through MsiDoActionW, in order.
std::vector<Text> ActionsRun(MSIHANDLE session);

// Every OutputDebugStringW call, one entry each, in order.
std::vector<Text> DebugOutput();
void ClearDebugOutput();

// COM: number of CoInitialize and CoUninitialize calls.
int CoInitializeCalls();
int CoUninitializeCalls();

// Files and paths: the current directory that GetFullPathNameW resolves against.
void SetCurrentDirectory(const Text& directory);

// Registry. Paths are relative to a root, with backslashes; names compare case-insensitively
// as on Windows, and keep the case they were created with.
struct RegValue {
  DWORD type;
  Bytes data;
  bool operator==(const RegValue& other) const { return type == other.type && data == other.data; }
};
void CreateKey(HKEY root, const Text& path);
bool KeyExists(HKEY root, const Text& path);
void SetValue(HKEY root, const Text& path, const Text& name, DWORD type, const Bytes& data);
void SetString(HKEY root, const Text& path, const Text& name, const Text& value);  // REG_SZ + NUL
void SetDword(HKEY root, const Text& path, const Text& name, uint32_t value);
std::optional<RegValue> Value(HKEY root, const Text& path, const Text& name);
std::vector<Text> ValueNames(HKEY root, const Text& path);  // creation order, "" for default
std::vector<Text> SubKeyNames(HKEY root, const Text& path);
// Opening the key with any write right (KEY_ALL_ACCESS included) is refused with 5, and so is
// every write through a handle opened before.
void DenyAccess(HKEY root, const Text& path);
Bytes Utf16Bytes(const Text& text, bool withTerminator);

// Databases. Cells are null, an integer, a text or stream bytes.
using Cell = std::variant<std::monostate, int, Text, Bytes>;
enum class ColumnType { Text, Int16, Int32, Stream };
struct Column {
  Text name;
  ColumnType type;
  bool nullable = false;
  bool primaryKey = false;
  int width = 0;  // text width, as in the s72 / S255 type strings
};
using DatabaseId = int;
DatabaseId CreateDatabase();
void AddTable(DatabaseId database, const Text& table, const std::vector<Column>& columns);
void AddRow(DatabaseId database, const Text& table, const std::vector<Cell>& row);
std::vector<std::vector<Cell>> Rows(DatabaseId database, const Text& table);
// The standard Registry table: Registry s72 key, Root i2, Key l255, Name L255, Value L0,
// Component_ s72.
void AddRegistryTable(DatabaseId database);
void AddRegistryRow(DatabaseId database, const Text& registry, int root, const Text& key,
                    const std::optional<Text>& name, const std::optional<Text>& value,
                    const Text& component = u"Component");
// The database MsiGetActiveDatabase returns for the session (a new handle per call).
void SetActiveDatabase(MSIHANDLE session, DatabaseId database);
// MsiOpenDatabaseW of this path opens this database.
void RegisterDatabasePath(const Text& path, DatabaseId database);

}  // namespace hostctl
