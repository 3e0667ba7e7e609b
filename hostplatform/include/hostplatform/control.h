// Control interface of the host stand-in, for tests only: build sessions, properties, tables
// and registry contents; read back messages, debugger output, registry contents and the call
// log; make chosen calls fail; reset everything between tests.
#pragma once

#include <cstdint>
#include <map>
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

namespace hostctl {

// Files. Windows paths name real files under a folder of the host's temporary directory that
// each Reset makes anew: "C:\dir\file" is <root>/C/dir/file. Only absolute drive paths
// ("X:\...", either separator) are files; any other path is not found. Every drive root exists;
// other folders exist once made. Names compare as the host compares them (case-sensitively),
// so a test keeps to one spelling. CreateFileW follows the Windows dispositions and sharing
// rules (a missing folder gives ERROR_PATH_NOT_FOUND, a folder ERROR_ACCESS_DENIED, a file open
// without the needed share mode ERROR_SHARING_VIOLATION, also for DeleteFileW), and every
// failure sets the thread's last error.
std::string HostPath(const Text& path);
void MakeDirectory(const Text& path);                  // with its parents
void PutFile(const Text& path, const Bytes& contents);  // makes the folders too
std::optional<Bytes> FileContents(const Text& path);   // none when there is no such file
std::vector<Text> DirectoryEntries(const Text& path);  // names of files and folders, sorted
size_t OpenFileCount();
// The next WriteFile writes only `count` bytes and still succeeds, as a pipe or a device that
// takes less may.
void ShortenNextWrite(DWORD count);

// Record streams: a field holds stream bytes when MsiRecordSetStreamW set it or a fetch filled
// it from a Stream column. Reads on one handle go on where the last read of that field ended;
// MsiRecordSetStreamW with a null path starts them again at the beginning.

// The installer's model of the machine: installed products with their features and
// components, package files that MsiInstallProductW and MsiOpenPackageExW take, file versions,
// the pending error record and the internal user-interface level (INSTALLUILEVEL_DEFAULT after
// Reset).
struct DriveCost {
  Text drive;  // "C:" form, as the installer names volumes
  int cost = 0;
  int tempCost = 0;
};
// A feature of a product or of a running installation. Valid states are the bit mask of
// MsiGetFeatureValidStatesW (bit n for state n).
struct Feature {
  Text name;
  Text parent;  // empty for a top-level feature
  INSTALLSTATE installed = INSTALLSTATE_ABSENT;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;  // the state requested in a session
  DWORD validStates = (1u << INSTALLSTATE_ADVERTISED) | (1u << INSTALLSTATE_ABSENT) |
                      (1u << INSTALLSTATE_LOCAL) | (1u << INSTALLSTATE_SOURCE);
  int cost = 0;  // own disk cost when local, in the installer's units (512 bytes)
  DWORD useCount = 0;
  WORD dateUsed = 0;
};
struct Component {
  Text name;     // key of the Component table: sessions name components by it
  Text code;     // the component code, a GUID in braces: the machine names components by it
  Text keyPath;  // what MsiGetComponentPathW gives when installed
  INSTALLSTATE installed = INSTALLSTATE_ABSENT;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
  std::vector<DriveCost> costs;  // per drive, when local
};
struct Product {
  Text code;                        // product code, a GUID in braces
  std::map<Text, Text> info;        // what MsiGetProductInfoW reads (ProductName, ...)
  std::map<Text, Text> properties;  // what a session opened on it reads
  std::vector<Feature> features;
  std::vector<Component> components;
  DatabaseId database = 0;  // the package database: the active database of opened sessions
};
// Installs a product on the machine as it is given (its features' and components' `installed`
// states are the installed states); the components list it as a client.
void AddProduct(const Product& product);
// A package file: MsiOpenPackageExW opens a session on it, MsiInstallProductW installs it
// (every feature and component local).
void RegisterPackage(const Text& path, const Product& product);
std::optional<Product> InstalledProduct(const Text& code);
// The command lines MsiInstallProductW and MsiConfigureProductExW passed for this product.
std::vector<Text> CommandLines(const Text& code);
// What MsiGetFileVersionW answers for a path; a file without an entry has no version.
void SetFileVersion(const Text& path, const Text& version, const Text& language);
// The record MsiGetLastErrorRecord hands out next (fields 1..n); it is handed out once.
void SetLastErrorRecord(const std::vector<Cell>& fields);
INSTALLUILEVEL InternalUILevel();

// Features and components of a running installation (a session from CreateSession, or one
// that MsiOpenPackageExW or MsiOpenProductW opened). Costs answer for a state: LOCAL gives the
// seeded cost, ABSENT its negative when installed locally (0 otherwise), SOURCE and ADVERTISED
// 0, UNKNOWN the requested state's answer (the installed state's when none is requested).
void AddFeature(MSIHANDLE session, const Feature& feature);
void AddComponent(MSIHANDLE session, const Component& component);

// Summary information, kept per database. A handle works on its own copy; MsiSummaryInfoPersist
// writes the copy back into the database.
struct SummaryValue {
  UINT type = VT_EMPTY;  // VT_I2, VT_I4, VT_LPSTR or VT_FILETIME
  int integer = 0;
  FILETIME time{0, 0};
  Text text;
};
void SetSummaryProperty(DatabaseId database, UINT property, const SummaryValue& value);
std::map<UINT, SummaryValue> SummaryProperties(DatabaseId database);

}  // namespace hostctl
