// msistd, registry library: shared registry key handles, keys opened or created by path, and
// value operations. Failed platform calls are reported (ReportError) and give neutral results;
// nothing throws on their account.
#pragma once

#include <cstdint>
#include <vector>

#include "stdInstallLib.h"

namespace msistd {

struct KeyHandleTraits {
  static void Close(HKEY key) { RegCloseKey(key); }
};

// A shared registry key handle: the scheme of CMSIHANDLE, closed with RegCloseKey.
class CHKEY : public SharedHandle<HKEY, KeyHandleTraits> {
 public:
  using SharedHandle::SharedHandle;
  // Opens `name` under `root` with `access`. On success this object owns the key (count 1);
  // on failure one report line is written and the object holds no usable key (IsValid false).
  CHKEY(HKEY root, const WString& name, REGSAM access);
  HKEY HKey() const { return Raw(); }
  CHKEY& Attach(HKEY key, bool owned) {
    Replace(key, owned);
    return *this;
  }
};

class CRegistryValue;

// A key under a root, opened or created by path.
class CRegistryKey : public CHKEY {
 public:
  CRegistryKey() = default;
  CRegistryKey(HKEY root, const WString& name, REGSAM access) : CHKEY(root, name, access) {}
  // Creates the key, or opens it when it exists, with KEY_ALL_ACCESS; an empty key after one
  // report line on failure.
  static CRegistryKey Create(HKEY root, const WString& name);
  // The value `name` under this key (the value holds one more share of the key).
  CRegistryValue Value(const WString& name) const;
  // Names of the values (the unnamed default value left out) and of the direct subkeys, in the
  // platform's order; the listing stops at the first failing call, without a report.
  WStringList ValueNames() const;
  WStringList SubKeyNames() const;
};

// One named value under a key. The empty name is the key's default value. Every registry call
// is reported; readers give neutral results (false, 0, empty text, null) on failure.
class CRegistryValue {
 public:
  CRegistryValue(const CRegistryKey& key, const WString& name);

  bool Exists() const;
  DWORD Type() const;
  // Data size in bytes. A value with data answers ERROR_MORE_DATA, which is reported.
  DWORD Size() const;
  // 0 also when the value did not exist.
  LONG Delete() const;
  // A heap block with the value's data (zeroed first), owned by the caller and released with
  // UnmapData; null when missing, empty or unallocatable.
  void* MapData() const;
  static void UnmapData(void* data);
  // Makes this value equal to `source` (deleting it when the source is missing).
  CRegistryValue Copy(const CRegistryValue& source) const;
  // REG_SZ or REG_EXPAND_SZ data as text, up to the first NUL; empty otherwise.
  WString Value() const;
  // REG_DWORD data; 0 when missing or of another type.
  DWORD Dword() const;
  // Writes text under `type`: REG_SZ and REG_EXPAND_SZ with their terminating NUL, other types
  // as the bare UTF-16LE code units.
  CRegistryValue Value(const WString& value, DWORD type) const;
  // Writes a REG_DWORD.
  CRegistryValue Value(DWORD value) const;
  // Writes raw bytes under `type`.
  CRegistryValue Value(const std::vector<BYTE>& data, DWORD type) const;

 private:
  CRegistryKey key;
  WString name;
};

}  // namespace msistd
