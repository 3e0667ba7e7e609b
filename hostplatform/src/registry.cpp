// The registry: four predefined root keys, each a tree of keys holding typed values, and a
// table of open key handles. Keys are never deleted, so a handle keeps a plain pointer to its
// key node; Reset clears the handles together with the trees.
#include <array>
#include <cstring>
#include <stdexcept>

#include "internal.h"

namespace hostplatform {
namespace {

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr LONG kErrorNoAccess = 998;  // a null data pointer with a non-zero size
constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
constexpr REGSAM kViewFlags = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
constexpr REGSAM kMaximumAllowed = 0x02000000u;
constexpr REGSAM kGenericAll = 0x10000000u;
constexpr REGSAM kGenericExecute = 0x20000000u;
constexpr REGSAM kGenericWrite = 0x40000000u;
constexpr REGSAM kGenericRead = 0x80000000u;
// Any fixed time will do for the last-write time: 2020-01-01 00:00 UTC.
constexpr uint64_t kLastWriteTime = 132223104000000000ull;
// Open handles are fake pointers far from the predefined roots' values.
constexpr uintptr_t kFirstHandle = 0x10000;
constexpr uintptr_t kHandleStep = 0x10;

struct NamedValue {
  Text name;
  DWORD type;
  Bytes data;
};

struct Key {
  Text name;
  bool denied = false;
  std::vector<std::unique_ptr<Key>> subKeys;  // creation order
  std::vector<NamedValue> values;             // insertion order
};

struct OpenKey {
  Key* key;
  REGSAM access;
};

struct Registry {
  std::array<Key, 4> roots;
  std::map<HKEY, OpenKey> handles;
  uintptr_t handlesMade = 0;  // never reset, so a stale handle is not mistaken for a new one
};

Registry& State() {
  static Registry instance;
  return instance;
}

Key* RootKey(HKEY root) {
  const HKEY predefined[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};
  for (size_t i = 0; i < State().roots.size(); ++i)
    if (root == predefined[i]) return &State().roots[i];
  return nullptr;
}

// The key behind a root or an open handle, with the rights it carries; the roots act as opened
// with every right.
std::optional<OpenKey> Resolve(HKEY handle) {
  if (Key* root = RootKey(handle)) return OpenKey{root, KEY_ALL_ACCESS};
  auto found = State().handles.find(handle);
  if (found == State().handles.end()) return std::nullopt;
  return found->second;
}

HKEY NewKeyHandle(Key* key, REGSAM access) {
  uintptr_t value = kFirstHandle + kHandleStep * State().handlesMade++;
  HKEY handle = reinterpret_cast<HKEY>(value);
  State().handles[handle] = OpenKey{key, access};
  return handle;
}

// The rights an access mask asks for: generic rights mapped to key rights, view flags dropped.
REGSAM Requested(REGSAM access, const Key& key) {
  REGSAM rights = access & ~(kViewFlags | kGenericAll | kGenericExecute | kGenericWrite |
                             kGenericRead | kMaximumAllowed);
  if (access & (kGenericRead | kGenericExecute)) rights |= KEY_READ;
  if (access & kGenericWrite) rights |= KEY_WRITE;
  if (access & kGenericAll) rights |= KEY_ALL_ACCESS;
  if (access & kMaximumAllowed) rights |= key.denied ? KEY_READ : KEY_ALL_ACCESS;
  return rights;
}

char16_t Fold(char16_t unit) {
  return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

// Key and value names compare as on Windows: case-insensitively (ASCII folding here).
bool SameName(const Text& left, const Text& right) {
  if (left.size() != right.size()) return false;
  for (size_t i = 0; i < left.size(); ++i)
    if (Fold(left[i]) != Fold(right[i])) return false;
  return true;
}

Text TextOf(LPCWSTR text) { return text ? Text(text) : Text(); }

Key* FindChild(Key& parent, const Text& name) {
  for (auto& child : parent.subKeys)
    if (SameName(child->name, name)) return child.get();
  return nullptr;
}

Key* AddChild(Key& parent, const Text& name) {
  parent.subKeys.push_back(std::make_unique<Key>());
  parent.subKeys.back()->name = name;
  return parent.subKeys.back().get();
}

NamedValue* FindValue(Key& key, const Text& name) {
  for (auto& value : key.values)
    if (SameName(value.name, name)) return &value;
  return nullptr;
}

// Replacing a value keeps its name and its place in the enumeration order.
void StoreValue(Key& key, const Text& name, DWORD type, Bytes data) {
  if (NamedValue* existing = FindValue(key, name)) {
    existing->type = type;
    existing->data = std::move(data);
  } else {
    key.values.push_back({name, type, std::move(data)});
  }
}

// Splits a subkey path into its components. Empty components (a trailing or doubled backslash)
// are skipped; a leading backslash and a component over 255 units are refused.
LONG SplitPath(LPCWSTR path, std::vector<Text>& components) {
  components.clear();
  if (!path || !*path) return ERROR_SUCCESS;
  if (*path == u'\\') return ERROR_BAD_PATHNAME;
  Text component;
  for (LPCWSTR unit = path;; ++unit) {
    if (*unit != u'\\' && *unit != 0) {
      component += *unit;
      continue;
    }
    if (component.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    if (!component.empty()) components.push_back(component);
    component.clear();
    if (*unit == 0) return ERROR_SUCCESS;
  }
}

// The data half of RegQueryValueExW and RegEnumValueW: with no buffer only the size is
// reported; a buffer too small is left untouched.
LONG CopyData(const Bytes& data, LPBYTE buffer, LPDWORD size) {
  if (buffer && !size) return ERROR_INVALID_PARAMETER;
  if (!size) return ERROR_SUCCESS;
  DWORD capacity = *size;
  *size = static_cast<DWORD>(data.size());
  if (!buffer) return ERROR_SUCCESS;
  if (capacity < data.size()) return ERROR_MORE_DATA;
  if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
  return ERROR_SUCCESS;
}

// Copies a name with its terminator into a buffer of `*length` units; on success *length is
// the name's length without the terminator.
LONG CopyName(const Text& name, LPWSTR buffer, LPDWORD length) {
  if (name.size() + 1 > *length) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.c_str(), (name.size() + 1) * sizeof(char16_t));
  *length = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

bool IsNulUnit(const BYTE* unit) { return unit[0] == 0 && unit[1] == 0; }

// The control interface takes the four roots only, and paths without the platform's checks.
Key& ControlRoot(HKEY root) {
  Key* key = RootKey(root);
  if (!key) throw std::invalid_argument("hostctl registry: not a predefined root");
  return *key;
}

Key* ControlWalk(HKEY root, const Text& path, bool create) {
  Key* key = &ControlRoot(root);
  size_t start = 0;
  while (key && start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == Text::npos) end = path.size();
    Text component = path.substr(start, end - start);
    start = end + 1;
    if (component.empty()) continue;
    Key* child = FindChild(*key, component);
    key = child ? child : create ? AddChild(*key, component) : nullptr;
  }
  return key;
}

}  // namespace

void ResetRegistry() {
  Registry& state = State();
  state.handles.clear();
  for (Key& root : state.roots) root = Key();
}

}  // namespace hostplatform

using hostplatform::Key;
using hostplatform::OpenKey;
using hostplatform::Text;

LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD, REGSAM access, PHKEY result) {
  if (auto failed = hostplatform::Enter("RegOpenKeyExW")) return static_cast<LONG>(*failed);
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  auto parent = hostplatform::Resolve(root);
  if (!parent) return ERROR_INVALID_HANDLE;
  std::vector<Text> components;
  // A component over 255 units names no key that can exist: the open answers 2, as Wine does
  // (only the create refuses such a name as a parameter).
  if (LONG error = hostplatform::SplitPath(subKey, components))
    return error == ERROR_INVALID_PARAMETER ? ERROR_FILE_NOT_FOUND : error;
  Key* key = parent->key;
  for (const Text& component : components) {
    key = hostplatform::FindChild(*key, component);
    if (!key) return ERROR_FILE_NOT_FOUND;
  }
  REGSAM rights = hostplatform::Requested(access, *key);
  if (key->denied && (rights & hostplatform::kWriteRights)) return ERROR_ACCESS_DENIED;
  *result = hostplatform::NewKeyHandle(key, rights);
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access,
                     const LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  if (auto failed = hostplatform::Enter("RegCreateKeyExW")) return static_cast<LONG>(*failed);
  if (!result || !subKey) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  auto parent = hostplatform::Resolve(root);
  if (!parent) return ERROR_INVALID_HANDLE;
  std::vector<Text> components;
  if (LONG error = hostplatform::SplitPath(subKey, components)) return error;
  Key* key = parent->key;
  bool created = false;
  for (const Text& component : components) {
    Key* child = hostplatform::FindChild(*key, component);
    if (!child) {
      // Only an existing key can be denied, so nothing has been created when this refuses.
      if (key->denied) return ERROR_ACCESS_DENIED;
      child = hostplatform::AddChild(*key, component);
      created = true;
    }
    key = child;
  }
  REGSAM rights = hostplatform::Requested(access, *key);
  if (key->denied && (rights & hostplatform::kWriteRights)) return ERROR_ACCESS_DENIED;
  *result = hostplatform::NewKeyHandle(key, rights);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (auto failed = hostplatform::Enter("RegCloseKey")) return static_cast<LONG>(*failed);
  if (hostplatform::RootKey(key)) return ERROR_SUCCESS;
  return hostplatform::State().handles.erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  if (auto failed = hostplatform::Enter("RegEnumValueW")) return static_cast<LONG>(*failed);
  auto open = hostplatform::Resolve(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (!name || !nameLength || reserved) return ERROR_INVALID_PARAMETER;
  if (!(open->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  const auto& values = open->key->values;
  if (index >= values.size()) return ERROR_NO_MORE_ITEMS;
  const hostplatform::NamedValue& value = values[index];
  if (value.name.size() + 1 > *nameLength) return ERROR_MORE_DATA;
  if (type) *type = value.type;
  if (LONG error = hostplatform::CopyData(value.data, data, dataSize)) return error;
  return hostplatform::CopyName(value.name, name, nameLength);
}

LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWrite) {
  if (auto failed = hostplatform::Enter("RegEnumKeyExW")) return static_cast<LONG>(*failed);
  auto open = hostplatform::Resolve(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (!name || !nameLength || reserved || (keyClass && !classLength))
    return ERROR_INVALID_PARAMETER;
  if (!(open->access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  const auto& subKeys = open->key->subKeys;
  if (index >= subKeys.size()) return ERROR_NO_MORE_ITEMS;
  // Keys carry no class here: the class is always empty.
  if (keyClass && *classLength < 1) return ERROR_MORE_DATA;
  if (LONG error = hostplatform::CopyName(subKeys[index]->name, name, nameLength)) return error;
  if (keyClass) {
    keyClass[0] = 0;
    *classLength = 0;
  }
  if (lastWrite) {
    lastWrite->dwLowDateTime = static_cast<DWORD>(hostplatform::kLastWriteTime);
    lastWrite->dwHighDateTime = static_cast<DWORD>(hostplatform::kLastWriteTime >> 32);
  }
  return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize) {
  if (auto failed = hostplatform::Enter("RegQueryValueExW")) return static_cast<LONG>(*failed);
  auto open = hostplatform::Resolve(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (reserved || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
  if (!(open->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  const hostplatform::NamedValue* value =
      hostplatform::FindValue(*open->key, hostplatform::TextOf(name));
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (type) *type = value->type;
  return hostplatform::CopyData(value->data, data, dataSize);
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  if (auto failed = hostplatform::Enter("RegSetValueExW")) return static_cast<LONG>(*failed);
  auto open = hostplatform::Resolve(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (!(open->access & KEY_SET_VALUE) || open->key->denied) return ERROR_ACCESS_DENIED;
  Text valueName = hostplatform::TextOf(name);
  if (valueName.size() > hostplatform::kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  if (!data && dataSize > 0) return hostplatform::kErrorNoAccess;
  hostplatform::Bytes stored(data, data + dataSize);
  // The platform's rule for strings written without their terminator: when the next unit in
  // memory after the data is NUL, it is stored too. Callers pass NUL-terminated strings, so
  // reading that one unit is safe, as it is on Windows.
  if (hostplatform::IsStringType(type) && dataSize > 0 && dataSize % 2 == 0 &&
      !hostplatform::IsNulUnit(data + dataSize - 2) && hostplatform::IsNulUnit(data + dataSize))
    stored.insert(stored.end(), {0, 0});
  hostplatform::StoreValue(*open->key, valueName, type, std::move(stored));
  return ERROR_SUCCESS;
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
  if (auto failed = hostplatform::Enter("RegDeleteValueW")) return static_cast<LONG>(*failed);
  auto open = hostplatform::Resolve(key);
  if (!open) return ERROR_INVALID_HANDLE;
  if (!(open->access & KEY_SET_VALUE) || open->key->denied) return ERROR_ACCESS_DENIED;
  auto& values = open->key->values;
  Text valueName = hostplatform::TextOf(name);
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (hostplatform::SameName(it->name, valueName)) {
      values.erase(it);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

namespace hostctl {

size_t OpenKeyCount() { return hostplatform::State().handles.size(); }

void CreateKey(HKEY root, const Text& path) { hostplatform::ControlWalk(root, path, true); }

bool KeyExists(HKEY root, const Text& path) {
  return hostplatform::ControlWalk(root, path, false) != nullptr;
}

void SetValue(HKEY root, const Text& path, const Text& name, DWORD type, const Bytes& data) {
  hostplatform::StoreValue(*hostplatform::ControlWalk(root, path, true), name, type, data);
}

void SetString(HKEY root, const Text& path, const Text& name, const Text& value) {
  SetValue(root, path, name, REG_SZ, Utf16Bytes(value, true));
}

void SetDword(HKEY root, const Text& path, const Text& name, uint32_t value) {
  SetValue(root, path, name, REG_DWORD,
           {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

std::optional<RegValue> Value(HKEY root, const Text& path, const Text& name) {
  Key* key = hostplatform::ControlWalk(root, path, false);
  if (!key) return std::nullopt;
  const hostplatform::NamedValue* value = hostplatform::FindValue(*key, name);
  if (!value) return std::nullopt;
  return RegValue{value->type, value->data};
}

std::vector<Text> ValueNames(HKEY root, const Text& path) {
  std::vector<Text> names;
  if (Key* key = hostplatform::ControlWalk(root, path, false))
    for (const auto& value : key->values) names.push_back(value.name);
  return names;
}

std::vector<Text> SubKeyNames(HKEY root, const Text& path) {
  std::vector<Text> names;
  if (Key* key = hostplatform::ControlWalk(root, path, false))
    for (const auto& subKey : key->subKeys) names.push_back(subKey->name);
  return names;
}

// The key is created when missing, so a test can deny a key before the code under test
// creates it.
void DenyAccess(HKEY root, const Text& path) {
  hostplatform::ControlWalk(root, path, true)->denied = true;
}

Bytes Utf16Bytes(const Text& text, bool withTerminator) {
  Bytes bytes;
  bytes.reserve((text.size() + 1) * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  if (withTerminator) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

}  // namespace hostctl
