// ur-runner: runs exports of a custom-action DLL against an installer package without
// installing it, and prints what they logged, what they sent to the debugger and what the
// registry holds afterwards.
//
//   ur-runner --package Product.msi --dll UpdateRegistry.dll
//             --property ZYB_UPDATE_REG_KEYS=RegVersion --call PerformRegistryUpdate
//             --dump-key HKCU\Software\Product
//
// Options (in any order within a run; see --help and tools/README.md):
//   --package PATH            package to open (MsiOpenPackageEx, machine state ignored)
//   --dll PATH                custom-action DLL (kept for the following runs)
//   --property NAME=VALUE     set a property after opening (repeatable; an empty VALUE unsets)
//   --clear-key ROOT\PATH     delete the key and its subtree before the run
//   --create-key ROOT\PATH    create the key (and its parents) before the run
//   --set ROOT\PATH NAME TYPE DATA      store a value before the run: REG_SZ / REG_EXPAND_SZ
//                                       text (stored with its terminator), REG_DWORD number,
//                                       REG_BINARY hex digits
//   --set-hex ROOT\PATH NAME TYPE HEX   store exactly these bytes with this type
//   --call EXPORT             call the export with the session handle (repeatable, in order)
//   --reopen                  close the session and open the package again (same properties)
//                             before the next --call, so that call gets another install handle
//   --dump-key ROOT\PATH      after the calls, print the key's values (repeatable)
//   --next                    end this run and start another one in the same process
//   --time                    after each result, print how long the export took (all runs)
//   @FILE                     read further arguments from FILE, one per line; a line that
//                             starts with " is a quoted text (escapes below)
// ROOT is HKCR, HKCU, HKLM or HKU (or the HKEY_... names).
//
// Output, one record per line, texts quoted with the escapes \\ \" \n \r \t \uXXXX:
//   package "PATH"                     a run starts
//   call EXPORT                        the export is about to be called
//   reopen                             the next call gets a newly opened session
//   log "TEXT"                         an INSTALLMESSAGE_INFO message, field 0 formatted
//   debug "TEXT"                       one OutputDebugString call of this process
//   result EXPORT CODE                 what the export returned
//   time EXPORT MICROSECONDS           with --time: the export's duration (performance counter)
//   key ROOT "PATH" / nokey ROOT "PATH"            dump: the key exists / does not
//   value ROOT "PATH" "NAME" TYPE HEX              dump: one value, its bytes in hex (- if none)
//   end                                a run is complete
//   error "TEXT"                       the runner itself failed (also on stderr)
// Exit status: 0 when every run was carried out (whatever the exports returned), 1 when the
// runner failed (package, DLL or export missing, registry set-up refused), 2 for bad usage.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "record_text.h"

namespace {

using WString = std::wstring;

const char kUsage[] =
    "usage: ur-runner [--dll PATH] --package PATH [--property NAME=VALUE]...\n"
    "                 [--clear-key ROOT\\PATH]... [--create-key ROOT\\PATH]...\n"
    "                 [--set ROOT\\PATH NAME TYPE DATA]... [--set-hex ROOT\\PATH NAME TYPE HEX]...\n"
    "                 [--call EXPORT [--reopen]]... [--dump-key ROOT\\PATH]... [--next ...]\n"
    "                 [--time] [@FILE]\n"
    "Opens the package, sets the properties, prepares the registry, calls each export of the\n"
    "DLL in order with the session handle and prints every installer-log line (log), every\n"
    "debugger output (debug), each result and the dumped keys (key/nokey/value). ROOT is\n"
    "HKCR, HKCU, HKLM or HKU. Texts are quoted with \\\\ \\\" \\n \\r \\t \\uXXXX escapes.\n"
    "--reopen gives the next call a newly opened session. --next starts another run in the\n"
    "same process. --time prints each export's duration in microseconds after its result.\n"
    "@FILE reads arguments from FILE, one per line, a line starting with \" being a quoted\n"
    "text. Exit status: 0 done, 1 runner failure, 2 bad usage; the exports' results are\n"
    "printed, never returned.\n";

// One registry value to store before a run.
struct Seed {
  WString key, name, type, data;
  bool hex;
};

struct Run {
  WString package;
  WString dll;
  std::vector<std::pair<WString, WString>> properties;
  std::vector<WString> clearKeys, createKeys, calls, dumpKeys;
  std::vector<bool> reopenBefore;  // per call: open a new session first
  bool reopenPending = false;
  std::vector<Seed> seeds;
};

struct Root {
  const wchar_t* shortName;
  const wchar_t* longName;
  HKEY key;
};
const Root kRoots[] = {
    {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKU", L"HKEY_USERS", HKEY_USERS},
};

struct TypeName {
  const wchar_t* name;
  DWORD type;
};
const TypeName kTypes[] = {
    {L"REG_NONE", REG_NONE},           {L"REG_SZ", REG_SZ},
    {L"REG_EXPAND_SZ", REG_EXPAND_SZ}, {L"REG_BINARY", REG_BINARY},
    {L"REG_DWORD", REG_DWORD},         {L"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
    {L"REG_LINK", REG_LINK},           {L"REG_MULTI_SZ", REG_MULTI_SZ},
    {L"REG_QWORD", REG_QWORD},
};

std::string Narrow(const WString& text) {
  std::string out;
  for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return out;
}

void Emit(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
}

// The runner's own failure: one error record and a message on stderr.
[[noreturn]] void Fail(const WString& message) {
  std::fflush(stdout);
  Emit("error " + recordtext::Quoted(message));
  std::fflush(stdout);
  std::fprintf(stderr, "ur-runner: %s\n", Narrow(message).c_str());
  std::exit(1);
}

[[noreturn]] void Usage(const std::string& message) {
  std::fprintf(stderr, "ur-runner: %s\n%s", message.c_str(), kUsage);
  std::exit(2);
}

WString Decimal(unsigned long value) {
  wchar_t buffer[16];
  std::swprintf(buffer, 16, L"%lu", value);
  return buffer;
}

// ROOT\PATH split into the predefined key and the path below it.
bool SplitKey(const WString& keyText, HKEY& root, WString& path, std::string& rootName) {
  size_t slash = keyText.find(L'\\');
  WString head = keyText.substr(0, slash);
  path = slash == WString::npos ? WString() : keyText.substr(slash + 1);
  for (const Root& r : kRoots) {
    if (_wcsicmp(head.c_str(), r.shortName) == 0 || _wcsicmp(head.c_str(), r.longName) == 0) {
      root = r.key;
      rootName = Narrow(r.shortName);
      return true;
    }
  }
  return false;
}

void SplitKeyOrFail(const WString& keyText, HKEY& root, WString& path, std::string& rootName) {
  if (!SplitKey(keyText, root, path, rootName))
    Fail(L"unknown registry root in \"" + keyText + L"\" (HKCR, HKCU, HKLM or HKU)");
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

bool ParseHex(const WString& text, std::vector<BYTE>& bytes) {
  bytes.clear();
  if (text == L"-") return true;
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<BYTE>(high * 16 + low));
  }
  return true;
}

bool ParseType(const WString& name, DWORD& type) {
  for (const TypeName& t : kTypes) {
    if (_wcsicmp(name.c_str(), t.name) == 0) {
      type = t.type;
      return true;
    }
  }
  return false;
}

std::string TypeText(DWORD type) {
  for (const TypeName& t : kTypes)
    if (t.type == type) return Narrow(t.name);
  return std::to_string(type);
}

std::string HexText(const BYTE* data, DWORD size) {
  if (size == 0) return "-";
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (DWORD i = 0; i < size; ++i) {
    out += kHex[data[i] >> 4];
    out += kHex[data[i] & 0xF];
  }
  return out;
}

// ---- Debugger output: the DBWIN protocol ----

// Reads every OutputDebugString of this process through the shared buffer that writers use
// when no debugger is attached. A writer waits for BUFFER_READY, fills the buffer (process id,
// then the text) and sets DATA_READY; the reader copies the text and sets BUFFER_READY again.
class DebugCapture {
 public:
  bool Start() {
    if (IsDebuggerPresent()) {
      std::fprintf(stderr, "ur-runner: a debugger is attached; debug output goes there\n");
      return false;
    }
    bufferReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    bool taken = GetLastError() == ERROR_ALREADY_EXISTS;
    dataReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    taken = taken || GetLastError() == ERROR_ALREADY_EXISTS;
    mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize,
                                 L"DBWIN_BUFFER");
    if (bufferReady == nullptr || dataReady == nullptr || mapping == nullptr || taken) {
      std::fprintf(stderr,
                   "ur-runner: debug output not captured (another debug-output reader such "
                   "as DebugView is running?)\n");
      return false;
    }
    buffer = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kSize));
    drained = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    InitializeCriticalSection(&lock);
    if (buffer == nullptr || drained == nullptr) return false;
    thread = CreateThread(nullptr, 0, &DebugCapture::ReaderThread, this, 0, nullptr);
    active = thread != nullptr;
    return active;
  }

  // Waits until every output written so far has been read (a marker written now is read
  // after all of them), then hands the texts over.
  std::vector<WString> Drain() {
    std::vector<WString> texts;
    if (!active) return texts;
    OutputDebugStringW(kMarker);
    if (WaitForSingleObject(drained, 10000) != WAIT_OBJECT_0)
      std::fprintf(stderr, "ur-runner: debug output reader did not answer\n");
    EnterCriticalSection(&lock);
    texts.swap(received);
    LeaveCriticalSection(&lock);
    return texts;
  }

 private:
  static constexpr DWORD kSize = 4096;
  static constexpr const wchar_t* kMarker = L"\x01ur-runner drain marker\x01";

  static DWORD WINAPI ReaderThread(LPVOID self) {
    static_cast<DebugCapture*>(self)->Read();
    return 0;
  }

  void Read() {
    const DWORD self = GetCurrentProcessId();
    const WString marker = kMarker;
    for (;;) {
      SetEvent(bufferReady);
      if (WaitForSingleObject(dataReady, INFINITE) != WAIT_OBJECT_0) return;
      DWORD pid;
      std::memcpy(&pid, buffer, sizeof pid);
      const char* text = buffer + sizeof pid;
      size_t length = 0;
      while (length < kSize - sizeof pid && text[length] != '\0') ++length;
      if (pid != self) continue;
      WString wide;
      if (length > 0) {
        int count = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
        wide.resize(count);
        MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), &wide[0], count);
      }
      if (wide == marker) {
        SetEvent(drained);
        continue;
      }
      EnterCriticalSection(&lock);
      received.push_back(wide);
      LeaveCriticalSection(&lock);
    }
  }

  HANDLE bufferReady = nullptr, dataReady = nullptr, mapping = nullptr, drained = nullptr;
  HANDLE thread = nullptr;
  const char* buffer = nullptr;
  bool active = false;
  CRITICAL_SECTION lock;
  std::vector<WString> received;
};

DebugCapture debugCapture;

// Set by --time: each call's duration is printed after its result.
bool timeCalls = false;

void EmitDebug() {
  for (const WString& text : debugCapture.Drain()) Emit("debug " + recordtext::Quoted(text));
}

// ---- Installer messages ----

// The session of the export being called. Its lines are formatted against it, as the installer
// formats them for its own log (escapes such as [\[] and property references resolved).
MSIHANDLE loggingSession = 0;

int WINAPI OnInstallerMessage(LPVOID, UINT type, MSIHANDLE record) {
  if ((type & 0xFF000000u) != INSTALLMESSAGE_INFO || record == 0) return 0;
  WString text(256, L'\0');
  DWORD size = static_cast<DWORD>(text.size());
  UINT result = MsiFormatRecordW(loggingSession, record, &text[0], &size);
  if (result == ERROR_MORE_DATA) {
    text.assign(size + 1, L'\0');
    size = static_cast<DWORD>(text.size());
    result = MsiFormatRecordW(loggingSession, record, &text[0], &size);
  }
  if (result != ERROR_SUCCESS) {
    Emit("log-unformatted " + std::to_string(result));
    return 0;
  }
  text.resize(size);
  Emit("log " + recordtext::Quoted(text));
  return 0;
}

// ---- Registry set-up and dump ----

void ClearKey(const WString& keyText) {
  HKEY root;
  WString path;
  std::string rootName;
  SplitKeyOrFail(keyText, root, path, rootName);
  if (path.empty()) Fail(L"refusing to clear a whole root: \"" + keyText + L"\"");
  LSTATUS status = RegDeleteTreeW(root, path.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
    status = RegDeleteKeyW(root, path.c_str());
  }
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
    Fail(L"cannot clear \"" + keyText + L"\": error " + Decimal(status));
}

HKEY CreateKey(const WString& keyText) {
  HKEY root, key = nullptr;
  WString path;
  std::string rootName;
  SplitKeyOrFail(keyText, root, path, rootName);
  LSTATUS status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                   &key, nullptr);
  if (status != ERROR_SUCCESS) Fail(L"cannot create \"" + keyText + L"\": error " + Decimal(status));
  return key;
}

void StoreSeed(const Seed& seed) {
  DWORD type;
  if (!ParseType(seed.type, type)) Fail(L"unknown value type " + seed.type);
  std::vector<BYTE> bytes;
  if (seed.hex) {
    if (!ParseHex(seed.data, bytes)) Fail(L"bad hex data \"" + seed.data + L"\"");
  } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
    const BYTE* first = reinterpret_cast<const BYTE*>(seed.data.c_str());
    bytes.assign(first, first + (seed.data.size() + 1) * sizeof(wchar_t));
  } else if (type == REG_DWORD) {
    wchar_t* end = nullptr;
    DWORD number = std::wcstoul(seed.data.c_str(), &end, 0);
    if (seed.data.empty() || *end != L'\0') Fail(L"bad REG_DWORD number \"" + seed.data + L"\"");
    bytes.assign(reinterpret_cast<const BYTE*>(&number),
                 reinterpret_cast<const BYTE*>(&number) + sizeof number);
  } else if (!ParseHex(seed.data, bytes)) {
    Fail(L"bad hex data \"" + seed.data + L"\" (use --set-hex for this type)");
  }
  HKEY key = CreateKey(seed.key);
  LSTATUS status = RegSetValueExW(key, seed.name.c_str(), 0, type,
                                  bytes.empty() ? nullptr : bytes.data(),
                                  static_cast<DWORD>(bytes.size()));
  RegCloseKey(key);
  if (status != ERROR_SUCCESS)
    Fail(L"cannot set \"" + seed.name + L"\" under \"" + seed.key + L"\": error " +
         Decimal(status));
}

void DumpKey(const WString& keyText) {
  HKEY root, key = nullptr;
  WString path;
  std::string rootName;
  SplitKeyOrFail(keyText, root, path, rootName);
  const std::string where = rootName + " " + recordtext::Quoted(path);
  LSTATUS status = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key);
  if (status == ERROR_FILE_NOT_FOUND) {
    Emit("nokey " + where);
    return;
  }
  if (status != ERROR_SUCCESS) Fail(L"cannot open \"" + keyText + L"\": error " + Decimal(status));
  Emit("key " + where);
  DWORD nameCapacity = 0, dataCapacity = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   &nameCapacity, &dataCapacity, nullptr, nullptr);
  for (DWORD index = 0;; ++index) {
    WString name(nameCapacity + 1, L'\0');
    std::vector<BYTE> data(dataCapacity + 1);
    DWORD nameSize = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    status = RegEnumValueW(key, index, &name[0], &nameSize, nullptr, &type, data.data(), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) Fail(L"cannot read \"" + keyText + L"\": error " + Decimal(status));
    name.resize(nameSize);
    Emit("value " + where + " " + recordtext::Quoted(name) + " " + TypeText(type) + " " +
         HexText(data.data(), dataSize));
  }
  RegCloseKey(key);
}

// ---- Runs ----

MSIHANDLE OpenSession(const Run& run) {
  MSIHANDLE session = 0;
  UINT opened = MsiOpenPackageExW(run.package.c_str(), MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE,
                                  &session);
  if (opened != ERROR_SUCCESS)
    Fail(L"cannot open the package \"" + run.package + L"\": error " + Decimal(opened));
  for (const auto& property : run.properties) {
    UINT set = MsiSetPropertyW(session, property.first.c_str(), property.second.c_str());
    if (set != ERROR_SUCCESS)
      Fail(L"cannot set the property " + property.first + L": error " + Decimal(set));
  }
  return session;
}

void CarryOut(const Run& run) {
  Emit("package " + recordtext::Quoted(run.package));
  for (const WString& key : run.clearKeys) ClearKey(key);
  for (const WString& key : run.createKeys) RegCloseKey(CreateKey(key));
  for (const Seed& seed : run.seeds) StoreSeed(seed);

  if (GetFileAttributesW(run.package.c_str()) == INVALID_FILE_ATTRIBUTES)
    Fail(L"package not found: " + run.package);
  HMODULE module = nullptr;
  using Export = UINT(WINAPI*)(MSIHANDLE);
  std::vector<Export> exports;
  if (!run.calls.empty()) {
    module = LoadLibraryW(run.dll.c_str());
    if (module == nullptr)
      Fail(L"cannot load the DLL \"" + run.dll + L"\": error " + Decimal(GetLastError()));
    for (const WString& name : run.calls) {
      FARPROC address = GetProcAddress(module, Narrow(name).c_str());
      if (address == nullptr) Fail(L"the DLL \"" + run.dll + L"\" has no export " + name);
      exports.push_back(reinterpret_cast<Export>(reinterpret_cast<void*>(address)));
    }
  }

  MSIHANDLE session = OpenSession(run);
  EmitDebug();
  for (size_t i = 0; i < exports.size(); ++i) {
    const std::string name = Narrow(run.calls[i]);
    if (run.reopenBefore[i]) {
      // Opened before the old one closes, so the new handle differs from the old.
      Emit("reopen");
      MSIHANDLE reopened = OpenSession(run);
      MsiCloseHandle(session);
      session = reopened;
    }
    Emit("call " + name);
    loggingSession = session;
    LARGE_INTEGER start, stop;
    QueryPerformanceCounter(&start);
    UINT result = exports[i](session);
    QueryPerformanceCounter(&stop);
    loggingSession = 0;
    EmitDebug();
    Emit("result " + name + " " + std::to_string(result));
    if (timeCalls) {
      LARGE_INTEGER frequency;
      QueryPerformanceFrequency(&frequency);
      const long long ticks = stop.QuadPart - start.QuadPart;
      // Whole seconds and the remainder apart, so ticks * 1000000 cannot overflow.
      const long long micros = ticks / frequency.QuadPart * 1000000 +
                               ticks % frequency.QuadPart * 1000000 / frequency.QuadPart;
      Emit("time " + name + " " + std::to_string(micros));
    }
  }
  MsiCloseHandle(session);
  if (module != nullptr) FreeLibrary(module);
  for (const WString& key : run.dumpKeys) DumpKey(key);
  Emit("end");
  std::fflush(stdout);
}

// ---- Arguments ----

std::vector<WString> ReadArgumentFile(const WString& path) {
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) Usage("cannot read the argument file " + Narrow(path));
  std::string content;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) content.append(chunk, n);
  std::fclose(file);
  std::vector<WString> arguments;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    WString argument;
    if (line[0] == '"') {
      size_t pos = 0;
      if (!recordtext::ReadQuoted(line, pos, argument) || pos != line.size())
        Usage("bad quoted text in " + Narrow(path) + ": " + line);
    } else {
      int count = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                      nullptr, 0);
      argument.resize(count);
      MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), &argument[0],
                          count);
    }
    arguments.push_back(argument);
  }
  return arguments;
}

std::vector<Run> ParseArguments(const std::vector<WString>& args) {
  std::vector<Run> runs(1);
  WString dll;
  size_t i = 0;
  auto next = [&](const char* option) -> const WString& {
    if (i + 1 >= args.size()) Usage(std::string(option) + " needs an argument");
    return args[++i];
  };
  for (; i < args.size(); ++i) {
    const WString& arg = args[i];
    Run& run = runs.back();
    if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == L"--package") {
      run.package = next("--package");
    } else if (arg == L"--dll") {
      dll = next("--dll");
    } else if (arg == L"--property") {
      const WString& assignment = next("--property");
      size_t equals = assignment.find(L'=');
      if (equals == WString::npos || equals == 0) Usage("--property needs NAME=VALUE");
      run.properties.emplace_back(assignment.substr(0, equals), assignment.substr(equals + 1));
    } else if (arg == L"--clear-key") {
      run.clearKeys.push_back(next("--clear-key"));
    } else if (arg == L"--create-key") {
      run.createKeys.push_back(next("--create-key"));
    } else if (arg == L"--set" || arg == L"--set-hex") {
      Seed seed;
      seed.hex = arg == L"--set-hex";
      seed.key = next("--set");
      seed.name = next("--set");
      seed.type = next("--set");
      seed.data = next("--set");
      run.seeds.push_back(seed);
    } else if (arg == L"--call") {
      run.calls.push_back(next("--call"));
      run.reopenBefore.push_back(run.reopenPending);
      run.reopenPending = false;
    } else if (arg == L"--reopen") {
      if (run.calls.empty()) Usage("--reopen stands between two --call");
      run.reopenPending = true;
    } else if (arg == L"--dump-key") {
      run.dumpKeys.push_back(next("--dump-key"));
    } else if (arg == L"--time") {
      timeCalls = true;
    } else if (arg == L"--next") {
      run.dll = dll;
      runs.emplace_back();
    } else {
      Usage("unknown argument " + Narrow(arg));
    }
  }
  runs.back().dll = dll;
  for (Run& run : runs) {
    if (run.package.empty()) Usage("every run needs --package");
    if (!run.calls.empty() && run.dll.empty()) Usage("--call needs --dll");
    if (run.reopenPending) Usage("--reopen stands between two --call");
  }
  return runs;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<WString> args;
  for (int i = 1; i < argc; ++i) {
    WString arg = argv[i];
    if (!arg.empty() && arg[0] == L'@') {
      std::vector<WString> more = ReadArgumentFile(arg.substr(1));
      args.insert(args.end(), more.begin(), more.end());
    } else {
      args.push_back(arg);
    }
  }
  if (args.empty()) Usage("nothing to do");
  std::vector<Run> runs = ParseArguments(args);

  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiSetExternalUIRecord(&OnInstallerMessage, INSTALLLOGMODE_INFO, nullptr, nullptr);
  debugCapture.Start();
  for (const Run& run : runs) CarryOut(run);
  std::fflush(stdout);
  return 0;
}
