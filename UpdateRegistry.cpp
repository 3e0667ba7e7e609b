#include "UpdateRegistry.h"

#include <new>

#include "sources/stdRegistryLib.h"

using namespace msistd;

namespace {

const WChar kFile[] = WTXT(".\\UpdateRegistry.cpp");

// Brackets an action with COM initialisation for the calling thread. The result of
// CoInitialize is not examined; CoUninitialize is always called.
class CComInitializer {
 public:
  CComInitializer() { CoInitialize(nullptr); }
  ~CComInitializer() { CoUninitialize(); }
  CComInitializer(const CComInitializer&) = delete;
  CComInitializer& operator=(const CComInitializer&) = delete;
};

// The frame every export runs in: store the install handle, a session that never closes it
// with the action's log prefix, the optional first line, COM for the duration of the work.
// Nothing may escape into the installer: any exception (out of memory) ends the action with
// one debugger line, and the result is always ERROR_SUCCESS.
template <class Work>
UINT RunAction(MSIHANDLE install, const WChar* prefix, const WChar* firstLine, Work work) noexcept {
  try {
    SetInstallHandle(install);
    CSession session(install, false);
    session.LogPrefix(prefix);
    if (firstLine != nullptr) session.Log(firstLine);
    CComInitializer com;
    work(session);
  } catch (...) {
    OutputDebugStringW(WTXT("UpdateRegistry: the action stopped on an unexpected failure (out of "
                            "memory?); the installation goes on\n"));
  }
  return ERROR_SUCCESS;
}

// The lines below show package data (keys, names, values, property values) as the action
// used it: LiteralText keeps the installer's formatting of the logged line from reading
// brackets in that data as references.

// Queries the Registry row `key` and applies it; the lines name `action` and `line` for the
// execution report. A key holding an apostrophe is never queried: quoted into the query it
// could widen the WHERE clause to rows nobody named.
void ApplyNamedRow(const CSession& session, CRecord& row, const WString& key, bool additive,
                   const WChar* action, int line) {
  WString query = WTXT("SELECT * FROM Registry WHERE Registry='") + key + WTXT("'");
  session.Log(WTXT("query: ") + LiteralText(query));
  CView view;
  bool executed = false;
  if (key.find(WTXT('\'')) == WString::npos) {
    view = session.Database().OpenView(query);
    executed = view.IsValid() &&
               ReportError(view.Execute(), action, WTXT("view.Execute()"), kFile, line) == 0;
  }
  if (executed) {
    row = view.Fetch();
    UpdateRegistryEntry(session, row, additive);
  } else {
    session.Log(WTXT("can't execute \"") + LiteralText(query) +
                WTXT("\" probable there isn't record with 'Registry' = '") + LiteralText(key) +
                WTXT("' in Registry table"));
  }
}

bool IsSpace(WChar c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The row's text with property references resolved. An empty (null) field stays empty: the
// installer formats an empty template as its field list ("1:  "), which would turn a null Name
// (the key's default value) into a value of that name.
WString FormatField(const CSession& session, const CRecord& record, UINT field) {
  WString text = record.Field(field).String();
  return text.empty() ? text : session.Format(text);
}

int HexDigit(WChar c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

}  // namespace

int32_t ToInt32(const WString& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const int64_t limit = negative ? int64_t(INT32_MAX) + 1 : INT32_MAX;
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) magnitude = limit;  // clamped, and kept from overflowing
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

std::vector<BYTE> HexBytes(const WString& text) {
  std::vector<BYTE> bytes((text.size() + 1) / 2);
  size_t first = text.size() % 2;  // an odd count makes the first digit a byte of its own
  if (first == 1) bytes[0] = static_cast<BYTE>(HexDigit(text[0]));
  for (size_t i = first; i < text.size(); i += 2)
    bytes[(i + 1) / 2] = static_cast<BYTE>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1]));
  return bytes;
}

bool UpdateRegistryEntry(const CSession& caller, const CRecord& fetched, bool additive) {
  CSession session(caller);
  CRecord record(fetched);
  session.LogPrefix(caller.LogPrefix() + WTXT("UpdateRegistryEntry: "));

  HKEY root = nullptr;
  const WChar* rootText = nullptr;
  switch (record.Field(2).Int()) {
    case -1:
      if (session.Property(WTXT("ALLUSERS")).Equals(WTXT("1"))) {
        root = HKEY_LOCAL_MACHINE;
        rootText = WTXT("root: HKEY_LOCAL_MACHINE ");
      } else {
        root = HKEY_CURRENT_USER;
        rootText = WTXT("root: HKEY_CURRENT_USER ");
      }
      break;
    case 0:
      root = HKEY_CLASSES_ROOT;
      rootText = WTXT("root: HKEY_CLASSES_ROOT ");
      break;
    case 1:
      root = HKEY_CURRENT_USER;
      rootText = WTXT("root: HKEY_CURRENT_USER ");
      break;
    case 2:
      root = HKEY_LOCAL_MACHINE;
      rootText = WTXT("root: HKEY_LOCAL_MACHINE ");
      break;
    case 3:
      root = HKEY_USERS;
      rootText = WTXT("root: HKEY_USERS ");
      break;
    default:
      session.Log(WTXT("Can't identify root for update"));
      return false;
  }
  session.Log(rootText);

  WString keyName = FormatField(session, record, 3);
  session.Log(WTXT("Reg_Key Name: \"") + LiteralText(keyName) + WTXT("\""));
  CRegistryKey key(root, keyName, KEY_ALL_ACCESS);

  WString valueName = FormatField(session, record, 4);
  session.Log(WTXT("Reg_Value Name: \"") + LiteralText(valueName) + WTXT("\""));
  CRegistryValue value = key.Value(valueName);

  WString text = FormatField(session, record, 5);
  session.Log(WTXT("Reg_Value Value: \"") + LiteralText(text) + WTXT("\""));

  if (text.compare(0, 2, WTXT("#%")) == 0) {
    session.Log(WTXT("Value will be stored as an expandable string (REG_EXPAND_SZ)"));
    value.Value(text.substr(2), REG_EXPAND_SZ);
  } else if (text.compare(0, 2, WTXT("#x")) == 0) {
    session.Log(WTXT("Value will be stored as a hexadecimal value (REG_BINARY)"));
    value.Value(HexBytes(text.substr(2)), REG_BINARY);
  } else if (text.compare(0, 2, WTXT("##")) == 0) {
    // "##" escapes a text that begins with "#".
    value.Value(text.substr(1), REG_SZ);
  } else if (text.compare(0, 1, WTXT("#")) == 0) {
    WString data = text.substr(1);
    int32_t number = ToInt32(data);
    if (!additive) {
      session.Log(WTXT("Value \"") + LiteralText(data) +
                  WTXT("\" will be stored as an integer (REG_DWORD)"));
      value.Value(static_cast<DWORD>(number));
    } else {
      DWORD previous = value.Dword();
      session.Log(WTXT("New value \"") + LiteralText(data) +
                  WTXT("\" will be added to previous registry value \"") +
                  ToDecimal(static_cast<int32_t>(previous)) +
                  WTXT("\" and will be stored as an integer (REG_DWORD)"));
      value.Value(static_cast<DWORD>(previous + static_cast<uint32_t>(number)));
    }
  } else {
    value.Value(text, REG_SZ);
  }
  return true;
}

extern "C" UINT WINAPI PerformRegistryUpdate(MSIHANDLE install) {
  return RunAction(install, WTXT("PerformRegistryUpdate: "), WTXT("Start registry update ... "),
                   [](const CSession& session) {
    CRecord row;
    if (session.Property(WTXT("ZYB_UPDATE_REG_KEYS")).Equals(WTXT(""))) {
      session.Log(WTXT("ZYB_UPDATE_REG_KEYS property isn't defined or is empty "));
      return;
    }
    WStringList keys = session.Installer().Split(
        session.Property(WTXT("ZYB_UPDATE_REG_KEYS")).Value(), WTXT(";"));
    for (const WString& key : keys)
      ApplyNamedRow(session, row, key, false, WTXT("PerformRegistryUpdate"), 142);
    session.Log(WTXT("Registry update complete! "));
  });
}

extern "C" UINT WINAPI SumARPPrevsizeAndTotalCost(MSIHANDLE install) {
  return RunAction(install, WTXT("GetTotalARPSize: "), nullptr, [](const CSession& session) {
    WString previous = session.Property(WTXT("ZYB_ARP_PREVSIZE")).Value();
    WString total = session.Property(WTXT("TOTAL_COST")).Value();
    session.Log(WTXT("ARP previous size (property \"ZYB_ARP_PREVSIZE\") =  ") +
                LiteralText(previous) + WTXT("; total cost (property \"TOTAL_COST\") =  ") +
                LiteralText(total));
    int32_t previousSize = ToInt32(previous.compare(0, 1, WTXT("#")) == 0 ? previous.substr(1)
                                                                          : previous);
    int32_t totalCost = ToInt32(total);
    session.Property(WTXT("TOTAL_COST"))
        .Value(static_cast<uint32_t>(previousSize) + static_cast<uint32_t>(totalCost));
    session.Log(WTXT("New TOTAL_COST value = ") +
                LiteralText(session.Property(WTXT("TOTAL_COST")).Value()));
    session.Log(WTXT("Size calculation complete"));
  });
}

extern "C" UINT WINAPI UpdateARPSize(MSIHANDLE install) {
  return RunAction(install, WTXT("Update ARP Size: "), nullptr, [](const CSession& session) {
    CRecord row;
    WString key = session.Property(WTXT("ZYB_ARP_SIZE_REG_KEY")).Value();
    if (key.empty()) {
      session.Log(WTXT("ZYB_ARP_SIZE_REG_KEY property isn't defined or is empty "));
      return;
    }
    ApplyNamedRow(session, row, key, true, WTXT("UpdateARPSize"), 211);
    session.Log(WTXT("Complete ARP size updating"));
  });
}

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// libstdc++'s std::__throw_* helpers share one object file that drags the narrow and
// copy-on-write string classes and std::random_device into a static link (about 90 KiB). The
// DLL's link points them here; the exports catch whatever is thrown alike.
extern "C" [[noreturn]] void UpdateRegistryThrow() { throw std::bad_alloc(); }
#endif
