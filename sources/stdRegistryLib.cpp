#include "stdRegistryLib.h"


namespace msistd {

namespace {

const WChar kFile[] = WTXT(".\\sources\\stdRegistryLib.cpp");
const WChar kInternalCall[] = WTXT("Internal call:");

const DWORD kValueNameUnits = 16383;
const DWORD kKeyNameUnits = 255;

UINT Report(LONG code, const WChar* function, const WChar* call, int line) {
  return ReportError(static_cast<UINT>(code), function, call, kFile, line, kInternalCall);
}

void* AllocateData(DWORD size) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

}  // namespace

// ---- Keys ----

CHKEY::CHKEY(HKEY root, const WString& name, REGSAM access) {
  SetOwned(true);
  HKEY key = nullptr;
  LONG result = RegOpenKeyExW(root, name.c_str(), 0, access, &key);
  Report(result, WTXT("msistd::CHKEY::CHKEY"),
         WTXT("RegOpenKeyEx( root, name.c_str(), 0, access, &hKey )"), 44);
  if (result == ERROR_SUCCESS) Replace(key, true);
}

CRegistryKey CRegistryKey::Create(HKEY root, const WString& name) {
  CRegistryKey created;
  HKEY key = nullptr;
  LONG result = RegCreateKeyExW(root, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr);
  Report(result, WTXT("msistd::CRegistryKey::Create"),
         WTXT("RegCreateKeyEx( root, name.c_str(), 0, 0, 0, KEY_ALL_ACCESS, 0, &key, 0 )"), 148);
  if (result == ERROR_SUCCESS) created.Attach(key, true);
  return created;
}

CRegistryValue CRegistryKey::Value(const WString& name) const {
  return CRegistryValue(*this, name);
}

WStringList CRegistryKey::ValueNames() const {
  WStringList names;
  if (!IsValid()) return names;
  std::vector<WChar> buffer(kValueNameUnits, 0);
  for (DWORD index = 0;; ++index) {
    DWORD length = kValueNameUnits;
    if (RegEnumValueW(HKey(), index, buffer.data(), &length, nullptr, nullptr, nullptr,
                      nullptr) != ERROR_SUCCESS)
      break;
    if (length != 0) names.emplace_back(buffer.data());
  }
  return names;
}

WStringList CRegistryKey::SubKeyNames() const {
  WStringList names;
  if (!IsValid()) return names;
  std::vector<WChar> buffer(kKeyNameUnits, 0);
  FILETIME lastWrite{};
  for (DWORD index = 0;; ++index) {
    DWORD length = kKeyNameUnits;
    if (RegEnumKeyExW(HKey(), index, buffer.data(), &length, nullptr, nullptr, nullptr,
                      &lastWrite) != ERROR_SUCCESS)
      break;
    if (length != 0) names.emplace_back(buffer.data());
  }
  return names;
}

// ---- Values ----

CRegistryValue::CRegistryValue(const CRegistryKey& key, const WString& name)
    : key(key), name(name) {}

bool CRegistryValue::Exists() const {
  return Report(RegQueryValueExW(key.HKey(), name.c_str(), nullptr, nullptr, nullptr, nullptr),
                WTXT("msistd::CRegistryValue::Exists"),
                WTXT("RegQueryValueEx( key.HKey(), name.c_str(), 0, 0, 0, 0 )"), 215) == 0;
}

DWORD CRegistryValue::Type() const {
  DWORD type = 0;
  if (Report(RegQueryValueExW(key.HKey(), name.c_str(), nullptr, &type, nullptr, nullptr),
             WTXT("msistd::CRegistryValue::Type"),
             WTXT("RegQueryValueEx( key.HKey(), name.c_str(), 0, &type, 0, 0 )"), 221) != 0)
    return 0;
  return type;
}

DWORD CRegistryValue::Size() const {
  BYTE value[1] = {0};
  DWORD size = 0;
  Report(RegQueryValueExW(key.HKey(), name.c_str(), nullptr, nullptr, value, &size),
         WTXT("msistd::CRegistryValue::Size"),
         WTXT("RegQueryValueEx( key.HKey(), name.c_str(), 0, 0, value, &size )"), 229);
  return size;
}

LONG CRegistryValue::Delete() const {
  if (!Exists()) return 0;
  return static_cast<LONG>(Report(RegDeleteValueW(key.HKey(), name.c_str()),
                                  WTXT("msistd::CRegistryValue::Delete"),
                                  WTXT("RegDeleteValue( key.HKey(), name.c_str() )"), 238));
}

void* CRegistryValue::MapData() const {
  if (!Exists()) return nullptr;
  DWORD size = Size();
  if (size == 0) {
    TraceMessage(WTXT("CRegistryValue::MapData: Zero size data"));
    return nullptr;
  }
  // Zeroed, so a failed read hands back zeros rather than stale memory.
  void* data = AllocateData(size);
  if (data == nullptr) {
    TraceMessage(WTXT("CRegistryValue::MapData: Can't allocate memory"));
    return nullptr;
  }
  Report(RegQueryValueExW(key.HKey(), name.c_str(), nullptr, nullptr, static_cast<LPBYTE>(data),
                          &size),
         WTXT("msistd::CRegistryValue::MapData"),
         WTXT("RegQueryValueEx( key.HKey(), name.c_str(), 0, 0, data, &size )"), 260);
  return data;
}

void CRegistryValue::UnmapData(void* data) {
  if (data != nullptr) HeapFree(GetProcessHeap(), 0, data);
}

CRegistryValue CRegistryValue::Copy(const CRegistryValue& source) const {
  if (!source.Exists()) {
    Delete();
    return *this;
  }
  void* data = source.MapData();
  if (data == nullptr) return *this;
  DWORD size = source.Size();
  DWORD type = source.Type();
  Report(RegSetValueExW(key.HKey(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
         WTXT("msistd::CRegistryValue::Copy"),
         WTXT("RegSetValueEx( key.HKey(), name.c_str(), 0, source.Type(), data, source.Size() )"),
         279);
  UnmapData(data);
  return *this;
}

WString CRegistryValue::Value() const {
  if (!Exists()) return WString();
  DWORD type = Type();
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    TraceMessage(WTXT("CRegistryValue::Value: Wrong value type"));
    return WString();
  }
  DWORD size = Size();
  if (size == 0) {
    TraceMessage(WTXT("CRegistryValue::Value: Zero size data"));
    return WString();
  }
  void* data = AllocateData(size);
  if (data == nullptr) {
    TraceMessage(WTXT("CRegistryValue::Value: Can't allocate memory"));
    return WString();
  }
  Report(RegQueryValueExW(key.HKey(), name.c_str(), nullptr, nullptr, static_cast<LPBYTE>(data),
                          &size),
         WTXT("msistd::CRegistryValue::Value"),
         WTXT("RegQueryValueEx( key.HKey(), name.c_str(), 0, 0, (unsigned char*)data, &size )"),
         314);
  // The data may lack a terminator: stop at the first NUL or at the end of the data.
  const WChar* units = static_cast<const WChar*>(data);
  size_t count = size / sizeof(WChar);
  size_t length = 0;
  while (length < count && units[length] != 0) ++length;
  WString text(units, length);
  HeapFree(GetProcessHeap(), 0, data);
  return text;
}

DWORD CRegistryValue::Dword() const {
  if (!Exists()) return 0;
  if (Type() != REG_DWORD) {
    TraceMessage(WTXT("CRegistryValue::Dword: Wrong value type"));
    return 0;
  }
  DWORD data = 0;
  DWORD size = sizeof data;
  Report(RegQueryValueExW(key.HKey(), name.c_str(), nullptr, nullptr,
                          reinterpret_cast<LPBYTE>(&data), &size),
         WTXT("msistd::CRegistryValue::Dword"),
         WTXT("RegQueryValueEx( key.HKey(), name.c_str(), 0, 0, (unsigned char*)&data, &size )"),
         335);
  return data;
}

CRegistryValue CRegistryValue::Value(const WString& value, DWORD type) const {
  // String types are stored with their terminator, as the platform expects of them.
  size_t units = value.length() + (type == REG_SZ || type == REG_EXPAND_SZ ? 1 : 0);
  Report(RegSetValueExW(key.HKey(), name.c_str(), 0, type,
                        reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(units * sizeof(WChar))),
         WTXT("msistd::CRegistryValue::Value"),
         WTXT("RegSetValueEx( key.HKey(), name.c_str(), 0, type, (const unsigned char*)value.c_str(), "
              "(DWORD)value.length() * sizeof( value[0] ) )"),
         342);
  return *this;
}

CRegistryValue CRegistryValue::Value(DWORD value) const {
  BYTE bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(value >> (8 * i));
  Report(RegSetValueExW(key.HKey(), name.c_str(), 0, REG_DWORD, bytes, sizeof bytes),
         WTXT("msistd::CRegistryValue::Value"),
         WTXT("RegSetValueEx( key.HKey(), name.c_str(), 0, REG_DWORD, (const unsigned char*)&value, "
              "sizeof( value ) )"),
         349);
  return *this;
}

CRegistryValue CRegistryValue::Value(const std::vector<BYTE>& data, DWORD type) const {
  Report(RegSetValueExW(key.HKey(), name.c_str(), 0, type, data.empty() ? nullptr : data.data(),
                        static_cast<DWORD>(data.size())),
         WTXT("msistd::CRegistryValue::Value"),
         WTXT("RegSetValueEx( key.HKey(), name.c_str(), 0, type, data.data(), (DWORD)data.size() )"),
         356);
  return *this;
}

}  // namespace msistd
