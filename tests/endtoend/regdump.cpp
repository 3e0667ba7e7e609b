// Prints every value of one registry key with its type and exact bytes, one line per value:
// name, TAB, type, TAB, the data bytes as two-digit hexadecimal numbers separated by blanks
// (empty for an empty value), TAB, a readable form of the data (text runs quoted, each NUL
// character shown as NUL; integers in hexadecimal and decimal). The default value prints as
// "(default)".
// `reg export` cannot serve here: it shows strings as text, without their terminator.
// Usage: regdump.exe HKCU|HKLM|HKCR|HKU\path\of\key   (exit 2: key not opened)
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
  return out;
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    case REG_NONE: return "REG_NONE";
    default: return "REG_OTHER";
  }
}

std::string Readable(DWORD type, const BYTE* data, DWORD size) {
  char number[48];
  if (type == REG_DWORD && size == 4) {
    DWORD value = 0;
    memcpy(&value, data, 4);
    std::snprintf(number, sizeof number, "0x%08lX (%ld)", static_cast<unsigned long>(value),
                  static_cast<long>(static_cast<int32_t>(value)));
    return number;
  }
  if ((type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) && size % 2 == 0) {
    std::string text;
    bool quoted = false;
    for (DWORD i = 0; i < size; i += 2) {
      wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
      if (c == 0) {
        text += quoted ? "\" NUL" : (text.empty() ? "NUL" : " NUL");
        quoted = false;
      } else {
        if (!quoted) text += text.empty() ? "\"" : " \"";
        quoted = true;
        text += Narrow(std::wstring(1, c));
      }
    }
    if (quoted) text += "\"";
    return text.empty() ? "(empty)" : text;
  }
  std::string hex;
  for (DWORD i = 0; i < size; ++i) {
    std::snprintf(number, sizeof number, "%02X", data[i]);
    hex += number;
  }
  return hex.empty() ? "(empty)" : hex;
}

bool ParseRoot(const std::wstring& path, HKEY& root, std::wstring& rest) {
  static const struct {
    const wchar_t* name;
    HKEY key;
  } kRoots[] = {{L"HKCU", HKEY_CURRENT_USER},
                {L"HKLM", HKEY_LOCAL_MACHINE},
                {L"HKCR", HKEY_CLASSES_ROOT},
                {L"HKU", HKEY_USERS}};
  size_t slash = path.find(L'\\');
  std::wstring head = path.substr(0, slash);
  for (const auto& r : kRoots) {
    if (head == r.name) {
      root = r.key;
      rest = slash == std::wstring::npos ? std::wstring() : path.substr(slash + 1);
      return true;
    }
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  HKEY root = nullptr;
  std::wstring subkey;
  if (argc != 2 || !ParseRoot(argv[1], root, subkey)) {
    std::fprintf(stderr, "usage: regdump HKCU|HKLM|HKCR|HKU\\key\n");
    return 2;
  }
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "regdump: cannot open %s (error %ld)\n", Narrow(argv[1]).c_str(), rc);
    return 2;
  }
  for (DWORD index = 0;; ++index) {
    std::vector<wchar_t> name(16384);
    std::vector<BYTE> data(1 << 16);
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    rc = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type, data.data(),
                       &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) {
      std::fprintf(stderr, "regdump: RegEnumValueW failed (error %ld)\n", rc);
      RegCloseKey(key);
      return 1;
    }
    std::wstring valueName(name.data(), nameLength);
    std::printf("%s\t%s\t", valueName.empty() ? "(default)" : Narrow(valueName).c_str(),
                TypeName(type));
    for (DWORD i = 0; i < dataSize; ++i) std::printf(i == 0 ? "%02X" : " %02X", data[i]);
    std::printf("\t%s\n", Readable(type, data.data(), dataSize).c_str());
  }
  RegCloseKey(key);
  return 0;
}
