// The handle table, the call log with failure injection, MsiCloseHandle and Reset.
#include <algorithm>
#include <new>

#include "internal.h"

namespace hostplatform {
namespace {

struct Core {
  std::map<MSIHANDLE, std::shared_ptr<Object>> handles;
  MSIHANDLE nextHandle = 1;
  std::vector<std::string> calls;
  struct Failure {
    std::string function;
    int64_t result;
    unsigned remaining;  // calls to let through first; 0 = this call fails
    bool always;
    bool throws = false;
  };
  std::vector<Failure> failures;
};

Core& core() {
  static Core instance;
  return instance;
}

}  // namespace

MSIHANDLE NewHandle(std::shared_ptr<Object> object) {
  MSIHANDLE handle = core().nextHandle++;
  core().handles[handle] = std::move(object);
  return handle;
}

std::shared_ptr<Object> FindHandle(MSIHANDLE handle) {
  auto found = core().handles.find(handle);
  return found == core().handles.end() ? nullptr : found->second;
}

bool CloseHandle(MSIHANDLE handle) { return core().handles.erase(handle) == 1; }

std::optional<int64_t> Enter(const char* function) {
  core().calls.emplace_back(function);
  auto& failures = core().failures;
  for (auto it = failures.begin(); it != failures.end(); ++it) {
    if (it->function != function) continue;
    if (it->always) return it->result;
    if (it->remaining > 0) {
      --it->remaining;
      continue;
    }
    int64_t result = it->result;
    bool throws = it->throws;
    failures.erase(it);
    if (throws) throw std::bad_alloc();
    return result;
  }
  return std::nullopt;
}

void ResetCore() {
  core().handles.clear();
  core().calls.clear();
  core().failures.clear();
}

}  // namespace hostplatform

UINT MsiCloseHandle(MSIHANDLE handle) {
  if (auto failed = hostplatform::Enter("MsiCloseHandle")) return static_cast<UINT>(*failed);
  return hostplatform::CloseHandle(handle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace hostctl {

void Reset() {
  hostplatform::ResetCore();
  hostplatform::ResetRecordsAndSessions();
  hostplatform::ResetSystem();
  hostplatform::ResetRegistry();
  hostplatform::ResetDatabases();
  hostplatform::ResetFiles();
  hostplatform::ResetInstaller();
  hostplatform::ResetSummary();
}

void FailCall(const std::string& function, int64_t result, unsigned nth) {
  hostplatform::core().failures.push_back({function, result, nth == 0 ? 0 : nth - 1, false});
}

void FailAlways(const std::string& function, int64_t result) {
  hostplatform::core().failures.push_back({function, result, 0, true});
}

void ThrowOnCall(const std::string& function, unsigned nth) {
  hostplatform::core().failures.push_back({function, 0, nth == 0 ? 0 : nth - 1, false, true});
}

std::vector<std::string> CallLog() { return hostplatform::core().calls; }
void ClearCallLog() { hostplatform::core().calls.clear(); }

size_t CallCount(const std::string& function) {
  const auto& calls = hostplatform::core().calls;
  return static_cast<size_t>(std::count(calls.begin(), calls.end(), function));
}

size_t OpenHandleCount() { return hostplatform::core().handles.size(); }
bool IsHandleOpen(MSIHANDLE handle) { return hostplatform::FindHandle(handle) != nullptr; }

Text FromUtf8(const std::string& text) {
  Text result;
  for (size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    uint32_t code = byte;
    int extra = 0;
    if (byte >= 0xF0) {
      code = byte & 0x07u;
      extra = 3;
    } else if (byte >= 0xE0) {
      code = byte & 0x0Fu;
      extra = 2;
    } else if (byte >= 0xC0) {
      code = byte & 0x1Fu;
      extra = 1;
    }
    ++i;
    for (int k = 0; k < extra && i < text.size(); ++k, ++i)
      code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3Fu);
    if (code >= 0x10000) {
      code -= 0x10000;
      result += static_cast<char16_t>(0xD800 + (code >> 10));
      result += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      result += static_cast<char16_t>(code);
    }
  }
  return result;
}

std::string ToUtf8(const Text& text) {
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (code < 0x80) {
      result += static_cast<char>(code);
    } else if (code < 0x800) {
      result += static_cast<char>(0xC0 | (code >> 6));
      result += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      result += static_cast<char>(0xE0 | (code >> 12));
      result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      result += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      result += static_cast<char>(0xF0 | (code >> 18));
      result += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      result += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      result += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return result;
}

}  // namespace hostctl
