// Debugger output, system message texts, full path names, the process heap and COM.
#include <algorithm>
#include <cstdlib>
#include <set>
#include <stdexcept>

#include "internal.h"

namespace hostplatform {
namespace {

constexpr HRESULT kOk = 0;
constexpr HRESULT kAlreadyInitialized = 1;  // S_FALSE

struct SystemState {
  std::vector<Text> debugOutput;
  // Blocks handed out by FormatMessageW and HeapAlloc. Reset forgets them without freeing,
  // so LeakSanitizer reports a block the code under test never released.
  std::set<void*> localBlocks;
  std::set<void*> heapBlocks;
  int coInitializeCalls = 0;
  int coUninitializeCalls = 0;
  int comDepth = 0;
  Text currentDirectory = u"C:\\";
};

SystemState& State() {
  static SystemState state;
  return state;
}

// The system's own en-US texts for the codes the library reports.
const std::map<DWORD, Text>& SystemTexts() {
  static const std::map<DWORD, Text> texts = {
      {0, u"The operation completed successfully.\r\n"},
      {2, u"The system cannot find the file specified.\r\n"},
      {3, u"The system cannot find the path specified.\r\n"},
      {5, u"Access is denied.\r\n"},
      {6, u"The handle is invalid.\r\n"},
      {13, u"The data is invalid.\r\n"},
      {87, u"The parameter is incorrect.\r\n"},
      {110, u"The system cannot open the device or file specified.\r\n"},
      {161, u"The specified path is invalid.\r\n"},
      {234, u"More data is available.\r\n"},
      {259, u"No more data is available.\r\n"},
      {267, u"The directory name is invalid.\r\n"},
      {1008, u"An attempt was made to reference a token that does not exist.\r\n"},
      {1605, u"This action is only valid for products that are currently installed.\r\n"},
      {1606, u"Feature ID not registered.\r\n"},
      {1607, u"Component ID not registered.\r\n"},
      {1609, u"The handle is in an invalid state.\r\n"},
      {1615, u"SQL query syntax invalid or unsupported.\r\n"},
      {1616, u"The record field does not exist.\r\n"},
      {1619,
       u"This installation package could not be opened. Verify that the package exists and that "
       u"you can access it, or contact the application vendor to verify that this is a valid "
       u"Windows Installer package.\r\n"},
      {1620,
       u"This installation package could not be opened. Contact the application vendor to "
       u"verify that this is a valid Windows Installer package.\r\n"},
      {1627, u"Function failed during execution.\r\n"},
      {1629, u"Data supplied is of wrong type.\r\n"},
  };
  return texts;
}

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

char16_t UpperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? c - u'a' + u'A' : c; }

// Splits an absolute path (backslashes only) into its root, "X:\" or "\\server\share\",
// and the rest.
std::pair<Text, Text> SplitRoot(const Text& path) {
  if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
    size_t serverEnd = path.find(u'\\', 2);
    size_t shareEnd = serverEnd == Text::npos ? Text::npos : path.find(u'\\', serverEnd + 1);
    if (shareEnd == Text::npos) return {path + u'\\', Text()};
    return {path.substr(0, shareEnd + 1), path.substr(shareEnd + 1)};
  }
  return {path.substr(0, 3), path.size() > 3 ? path.substr(3) : Text()};
}

struct FullPath {
  Text path;
  std::optional<size_t> filePart;  // offset of the last component; none when it ends in '\'
};

// Windows rules: forward slashes are separators, a relative path (also "X:rel" on the current
// drive, and "\rel") resolves against the current directory, "." and ".." collapse and never
// climb above the root, repeated separators count once, trailing dots and spaces leave the
// last component, and a trailing separator stays.
FullPath ResolveFullPath(Text path, const Text& current) {
  for (auto& c : path)
    if (c == u'/') c = u'\\';
  bool trailingSeparator = path.back() == u'\\';
  Text absolute;
  bool unc = path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\';
  bool drive = path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == u':';
  if (unc || (drive && path.size() >= 3 && path[2] == u'\\')) {
    absolute = path;
  } else if (drive) {
    // A drive-relative path: the current directory of that drive, which is the current
    // directory itself on the current drive and the drive root on any other.
    bool currentDrive = UpperAscii(path[0]) == UpperAscii(current[0]) && current[1] == u':';
    Text base = currentDrive ? current : path.substr(0, 2) + u"\\";
    absolute = base + u"\\" + path.substr(2);
  } else if (path[0] == u'\\') {
    absolute = SplitRoot(current).first + path.substr(1);
  } else {
    absolute = current + u"\\" + path;
  }

  auto [root, rest] = SplitRoot(absolute);
  std::vector<Text> components;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find(u'\\', start);
    if (end == Text::npos) end = rest.size();
    Text component = rest.substr(start, end - start);
    if (component == u"..") {
      if (!components.empty()) components.pop_back();
    } else if (!component.empty() && component != u".") {
      components.push_back(component);
    }
    start = end + 1;
  }
  if (!trailingSeparator && !components.empty()) {
    Text& last = components.back();
    while (!last.empty() && (last.back() == u'.' || last.back() == u' ')) last.pop_back();
    if (last.empty()) components.pop_back();
  }

  FullPath full{root, std::nullopt};
  for (size_t index = 0; index < components.size(); ++index) {
    if (index > 0) full.path += u'\\';
    if (index + 1 == components.size() && !trailingSeparator) full.filePart = full.path.size();
    full.path += components[index];
  }
  if (trailingSeparator && !components.empty()) full.path += u'\\';
  return full;
}

}  // namespace

void ResetSystem() { State() = SystemState(); }

}  // namespace hostplatform

using hostplatform::State;

void OutputDebugStringW(LPCWSTR text) {
  if (hostplatform::Enter("OutputDebugStringW")) return;
  State().debugOutput.emplace_back(text ? text : u"");
}

DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPWSTR buffer, DWORD size,
                     va_list*) {
  if (auto failed = hostplatform::Enter("FormatMessageW")) return static_cast<DWORD>(*failed);
  // Only the system's message table is modelled, and none of its texts has inserts.
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer) return 0;
  const auto& texts = hostplatform::SystemTexts();
  auto found = texts.find(messageId);
  if (found == texts.end()) return 0;
  const hostplatform::Text& text = found->second;
  auto length = static_cast<DWORD>(text.size());
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    // The buffer argument is then the address of the pointer that receives the block, and
    // size is the least number of characters to allocate.
    size_t characters = std::max<size_t>(length + 1, size);
    auto* block = static_cast<WCHAR*>(std::calloc(characters, sizeof(WCHAR)));
    if (!block) return 0;
    text.copy(block, length);
    State().localBlocks.insert(block);
    *reinterpret_cast<LPWSTR*>(buffer) = block;
    return length;
  }
  if (size <= length) return 0;
  text.copy(buffer, length);
  buffer[length] = u'\0';
  return length;
}

HLOCAL LocalFree(HLOCAL memory) {
  if (auto failed = hostplatform::Enter("LocalFree"))
    return reinterpret_cast<HLOCAL>(static_cast<uintptr_t>(*failed));
  if (!memory) return nullptr;
  // A block this stand-in did not hand out is refused: the handle comes back, as on failure.
  if (State().localBlocks.erase(memory) == 0) return memory;
  std::free(memory);
  return nullptr;
}

DWORD GetFullPathNameW(LPCWSTR path, DWORD capacity, LPWSTR buffer, LPWSTR* filePart) {
  if (auto failed = hostplatform::Enter("GetFullPathNameW")) return static_cast<DWORD>(*failed);
  if (!path || !*path) return 0;
  auto full = hostplatform::ResolveFullPath(path, State().currentDirectory);
  auto length = static_cast<DWORD>(full.path.size());
  // Too small a buffer: the answer is the capacity needed, terminator included.
  if (!buffer || capacity <= length) {
    if (filePart) *filePart = nullptr;
    return length + 1;
  }
  full.path.copy(buffer, length);
  buffer[length] = u'\0';
  if (filePart) *filePart = full.filePart ? buffer + *full.filePart : nullptr;
  return length;
}

HANDLE GetProcessHeap() {
  if (auto failed = hostplatform::Enter("GetProcessHeap"))
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(*failed));
  static int processHeap;
  return &processHeap;
}

LPVOID HeapAlloc(HANDLE, DWORD flags, SIZE_T bytes) {
  // An armed failure is always a failed allocation, whatever value was armed.
  if (hostplatform::Enter("HeapAlloc")) return nullptr;
  void* block = (flags & HEAP_ZERO_MEMORY) ? std::calloc(bytes ? bytes : 1, 1)
                                           : std::malloc(bytes ? bytes : 1);
  if (block) State().heapBlocks.insert(block);
  return block;
}

BOOL HeapFree(HANDLE, DWORD, LPVOID memory) {
  if (auto failed = hostplatform::Enter("HeapFree")) return static_cast<BOOL>(*failed);
  if (!memory) return TRUE;
  // Freeing a block twice, or one from elsewhere, fails instead of corrupting the heap.
  if (State().heapBlocks.erase(memory) == 0) return FALSE;
  std::free(memory);
  return TRUE;
}

HRESULT CoInitialize(LPVOID) {
  auto failed = hostplatform::Enter("CoInitialize");
  // Failed calls count too: the library pairs every CoInitialize with a CoUninitialize.
  ++State().coInitializeCalls;
  if (failed) return static_cast<HRESULT>(*failed);
  return State().comDepth++ == 0 ? hostplatform::kOk : hostplatform::kAlreadyInitialized;
}

void CoUninitialize() {
  auto failed = hostplatform::Enter("CoUninitialize");
  ++State().coUninitializeCalls;
  if (failed) return;
  if (State().comDepth > 0) --State().comDepth;
}

namespace hostctl {

std::vector<Text> DebugOutput() { return State().debugOutput; }
void ClearDebugOutput() { State().debugOutput.clear(); }

int CoInitializeCalls() { return State().coInitializeCalls; }
int CoUninitializeCalls() { return State().coUninitializeCalls; }

void SetCurrentDirectory(const Text& directory) {
  if (directory.empty()) throw std::invalid_argument("hostctl::SetCurrentDirectory: empty path");
  auto full = hostplatform::ResolveFullPath(directory, State().currentDirectory).path;
  // Kept without a trailing separator unless it is a root, so relative paths append to it.
  if (full.size() > hostplatform::SplitRoot(full).first.size() && full.back() == u'\\')
    full.pop_back();
  State().currentDirectory = full;
}

}  // namespace hostctl
