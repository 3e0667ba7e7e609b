// Record streams, real files behind Windows paths, temporary file names and the last error.
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "internal.h"

namespace fs = std::filesystem;

namespace hostplatform {
namespace {

// Not in the declarations: the library never needs it, only the model answers with it.
constexpr DWORD kErrorBufferOverflow = 111;
// The first number GetTempFileNameW tries after Reset; Windows starts from the tick count.
constexpr unsigned kFirstTempNumber = 0x1A2B;

struct OpenFile {
  fs::path hostPath;
  DWORD access = 0;
  DWORD share = 0;
  uint64_t position = 0;
};

struct FileState {
  fs::path root;  // made on first use, removed by Reset and at exit
  std::map<uintptr_t, OpenFile> open;
  uintptr_t nextHandle = 0x100;  // file handles look like the system's: small multiples of 4
  std::optional<DWORD> shortWrite;
  std::map<std::pair<MSIHANDLE, UINT>, size_t> readPositions;
  unsigned tempNumber = kFirstTempNumber;
  DWORD lastError = 0;

  FileState() = default;
  FileState(const FileState&) = delete;
  FileState& operator=(const FileState&) = delete;
  ~FileState() { RemoveRoot(); }

  void RemoveRoot() {
    if (root.empty()) return;
    std::error_code ignored;
    fs::remove_all(root, ignored);
    root.clear();
  }
};

FileState& Files() {
  static FileState state;
  return state;
}

const fs::path& Root() {
  FileState& files = Files();
  if (files.root.empty()) {
    std::string pattern = (fs::temp_directory_path() / "hostplatform-files-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
      throw std::runtime_error("hostplatform: cannot make a folder for the stand-in's files");
    files.root = pattern;
  }
  return files.root;
}

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// The host path of an absolute drive path; "." and ".." resolve as on Windows and never climb
// above the drive root. None for any other kind of path.
std::optional<fs::path> MapPath(LPCWSTR windows) {
  if (!windows) return std::nullopt;
  Text path(windows);
  if (path.size() < 3 || !IsDriveLetter(path[0]) || path[1] != u':' ||
      (path[2] != u'\\' && path[2] != u'/'))
    return std::nullopt;
  char drive = static_cast<char>(path[0] >= u'a' ? path[0] - u'a' + u'A' : path[0]);
  fs::path driveRoot = Root() / std::string(1, drive);
  fs::create_directories(driveRoot);
  std::vector<std::string> parts;
  size_t start = 3;
  while (start <= path.size()) {
    size_t end = path.find_first_of(u"\\/", start);
    if (end == Text::npos) end = path.size();
    Text part = path.substr(start, end - start);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(hostctl::ToUtf8(part));
    }
    start = end + 1;
  }
  fs::path mapped = driveRoot;
  for (const auto& part : parts) mapped /= part;
  return mapped;
}

template <class T>
T Failed(DWORD code, T result) {
  Files().lastError = code;
  return result;
}

bool SharingAllows(const OpenFile& existing, DWORD access, DWORD share) {
  if ((access & GENERIC_READ) && !(existing.share & FILE_SHARE_READ)) return false;
  if ((access & GENERIC_WRITE) && !(existing.share & FILE_SHARE_WRITE)) return false;
  if ((existing.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) return false;
  if ((existing.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return false;
  return true;
}

bool IsOpenWithout(const fs::path& path, DWORD shareFlag) {
  for (const auto& [handle, file] : Files().open)
    if (file.hostPath == path && !(file.share & shareFlag)) return true;
  return false;
}

bool TruncateOrCreate(const fs::path& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  std::fclose(file);
  return true;
}

std::optional<Bytes> ReadAll(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return std::nullopt;
  Bytes contents;
  unsigned char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    contents.insert(contents.end(), chunk, chunk + got);
  std::fclose(file);
  return contents;
}

OpenFile* FindFile(HANDLE handle) {
  auto found = Files().open.find(reinterpret_cast<uintptr_t>(handle));
  return found == Files().open.end() ? nullptr : &found->second;
}

Text Hex(unsigned value) {
  // Lower case, as Wine writes them (Windows writes upper case).
  static const char16_t kDigits[] = u"0123456789abcdef";
  Text digits;
  do {
    digits.insert(digits.begin(), kDigits[value % 16]);
    value /= 16;
  } while (value != 0);
  return digits;
}

}  // namespace

bool IsExistingFile(const Text& path) {
  auto mapped = MapPath(path.c_str());
  std::error_code error;
  return mapped && fs::is_regular_file(*mapped, error);
}

void ResetFiles() {
  FileState& files = Files();
  files.RemoveRoot();
  files.open.clear();
  files.nextHandle = 0x100;
  files.shortWrite.reset();
  files.readPositions.clear();
  files.tempNumber = kFirstTempNumber;
  files.lastError = 0;
}

}  // namespace hostplatform

using hostplatform::Enter;
using hostplatform::Files;

DWORD GetLastError() {
  if (auto failed = Enter("GetLastError")) return static_cast<DWORD>(*failed);
  return Files().lastError;
}

void SetLastError(DWORD code) {
  if (Enter("SetLastError")) return;
  Files().lastError = code;
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD creation,
                   DWORD, HANDLE) {
  if (auto failed = Enter("CreateFileW"))
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(*failed));
  namespace hp = hostplatform;
  auto mapped = hp::MapPath(path);
  if (!mapped) return hp::Failed(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
  std::error_code error;
  if (!fs::is_directory(mapped->parent_path(), error))
    return hp::Failed(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
  if (fs::is_directory(*mapped, error))
    return hp::Failed(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  bool exists = fs::exists(*mapped, error);
  for (const auto& [handle, file] : Files().open)
    if (file.hostPath == *mapped && !hp::SharingAllows(file, access, share))
      return hp::Failed(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
  DWORD lastError = 0;
  switch (creation) {
    case CREATE_NEW:
      if (exists) return hp::Failed(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
      if (!hp::TruncateOrCreate(*mapped))
        return hp::Failed(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
      break;
    case CREATE_ALWAYS:
      if (!hp::TruncateOrCreate(*mapped))
        return hp::Failed(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
      if (exists) lastError = ERROR_ALREADY_EXISTS;
      break;
    case OPEN_EXISTING:
      if (!exists) return hp::Failed(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
      break;
    case OPEN_ALWAYS:
      if (exists)
        lastError = ERROR_ALREADY_EXISTS;
      else if (!hp::TruncateOrCreate(*mapped))
        return hp::Failed(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
      break;
    case TRUNCATE_EXISTING:
      if (!exists) return hp::Failed(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
      if (!(access & GENERIC_WRITE))
        return hp::Failed(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
      if (!hp::TruncateOrCreate(*mapped))
        return hp::Failed(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
      break;
    default:
      return hp::Failed(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  }
  uintptr_t handle = Files().nextHandle;
  Files().nextHandle += 4;
  Files().open[handle] = {*mapped, access, share, 0};
  Files().lastError = lastError;
  return reinterpret_cast<HANDLE>(handle);
}

BOOL WriteFile(HANDLE handle, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
  if (auto failed = Enter("WriteFile")) return static_cast<BOOL>(*failed);
  namespace hp = hostplatform;
  if (written) *written = 0;
  hp::OpenFile* file = hp::FindFile(handle);
  if (!file) return hp::Failed(ERROR_INVALID_HANDLE, FALSE);
  // Without an overlapped structure the count has to go somewhere.
  if (!written && !overlapped) return hp::Failed(ERROR_INVALID_PARAMETER, FALSE);
  if (!(file->access & GENERIC_WRITE)) return hp::Failed(ERROR_ACCESS_DENIED, FALSE);
  if (count > 0 && !data) return hp::Failed(ERROR_INVALID_PARAMETER, FALSE);
  DWORD take = count;
  if (Files().shortWrite) {
    take = std::min(count, *Files().shortWrite);
    Files().shortWrite.reset();
  }
  std::FILE* stream = std::fopen(file->hostPath.c_str(), "r+b");
  if (!stream) return hp::Failed(ERROR_ACCESS_DENIED, FALSE);
  bool ok = std::fseek(stream, static_cast<long>(file->position), SEEK_SET) == 0 &&
            std::fwrite(data, 1, take, stream) == take;
  ok = std::fclose(stream) == 0 && ok;
  if (!ok) return hp::Failed(ERROR_DISK_FULL, FALSE);
  file->position += take;
  if (written) *written = take;
  Files().lastError = 0;
  return TRUE;
}

BOOL ReadFile(HANDLE handle, LPVOID data, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
  if (auto failed = Enter("ReadFile")) return static_cast<BOOL>(*failed);
  namespace hp = hostplatform;
  if (read) *read = 0;
  hp::OpenFile* file = hp::FindFile(handle);
  if (!file) return hp::Failed(ERROR_INVALID_HANDLE, FALSE);
  if (!read && !overlapped) return hp::Failed(ERROR_INVALID_PARAMETER, FALSE);
  if (!(file->access & GENERIC_READ)) return hp::Failed(ERROR_ACCESS_DENIED, FALSE);
  auto contents = hp::ReadAll(file->hostPath);
  if (!contents) return hp::Failed(ERROR_ACCESS_DENIED, FALSE);
  size_t start = std::min<uint64_t>(file->position, contents->size());
  DWORD take = static_cast<DWORD>(std::min<size_t>(count, contents->size() - start));
  if (take > 0) std::memcpy(data, contents->data() + start, take);
  file->position += take;
  if (read) *read = take;
  Files().lastError = 0;
  return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
  if (auto failed = Enter("CloseHandle")) return static_cast<BOOL>(*failed);
  if (Files().open.erase(reinterpret_cast<uintptr_t>(handle)) == 0)
    return hostplatform::Failed(ERROR_INVALID_HANDLE, FALSE);
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR path) {
  if (auto failed = Enter("DeleteFileW")) return static_cast<BOOL>(*failed);
  namespace hp = hostplatform;
  auto mapped = hp::MapPath(path);
  if (!mapped) return hp::Failed(ERROR_PATH_NOT_FOUND, FALSE);
  std::error_code error;
  if (!fs::is_directory(mapped->parent_path(), error))
    return hp::Failed(ERROR_PATH_NOT_FOUND, FALSE);
  if (fs::is_directory(*mapped, error)) return hp::Failed(ERROR_ACCESS_DENIED, FALSE);
  if (!fs::exists(*mapped, error)) return hp::Failed(ERROR_FILE_NOT_FOUND, FALSE);
  // A file open without delete sharing stays.
  if (hp::IsOpenWithout(*mapped, FILE_SHARE_DELETE))
    return hp::Failed(ERROR_SHARING_VIOLATION, FALSE);
  if (!fs::remove(*mapped, error)) return hp::Failed(ERROR_ACCESS_DENIED, FALSE);
  return TRUE;
}

UINT GetTempFileNameW(LPCWSTR directory, LPCWSTR prefix, UINT unique, LPWSTR name) {
  if (auto failed = Enter("GetTempFileNameW")) return static_cast<UINT>(*failed);
  namespace hp = hostplatform;
  if (!directory || !name) return hp::Failed(ERROR_INVALID_PARAMETER, 0u);
  hp::Text folder(directory);
  // The name has to fit MAX_PATH with its 3 prefix characters, 4 digits and extension.
  if (folder.size() > MAX_PATH - 14) return hp::Failed(hp::kErrorBufferOverflow, 0u);
  if (!folder.empty() && folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
  hp::Text start = folder + hp::Text(prefix ? prefix : u"").substr(0, 3);
  auto compose = [&](unsigned number) { return start + hp::Hex(number) + u".tmp"; };
  auto copyOut = [&](const hp::Text& full) {
    full.copy(name, full.size());
    name[full.size()] = u'\0';
  };
  if (unique != 0) {
    // A given number is used as it is: nothing is created or checked.
    copyOut(compose(unique & 0xFFFFu));
    return unique & 0xFFFFu;
  }
  auto mapped = hp::MapPath(folder.c_str());
  std::error_code error;
  if (!mapped || !fs::is_directory(*mapped, error)) return hp::Failed(ERROR_DIRECTORY, 0u);
  for (unsigned tries = 0; tries < 0xFFFF; ++tries) {
    unsigned number = Files().tempNumber;
    Files().tempNumber = number % 0xFFFF + 1;
    hp::Text full = compose(number);
    auto file = hp::MapPath(full.c_str());
    if (fs::exists(*file, error)) continue;
    if (!hp::TruncateOrCreate(*file)) return hp::Failed(ERROR_ACCESS_DENIED, 0u);
    copyOut(full);
    return number;
  }
  return hp::Failed(ERROR_FILE_EXISTS, 0u);
}

UINT MsiRecordReadStream(MSIHANDLE handle, UINT field, char* buffer, LPDWORD length) {
  if (auto failed = Enter("MsiRecordReadStream")) return static_cast<UINT>(*failed);
  auto record = hostplatform::Find<hostplatform::Record>(handle);
  if (!record) return ERROR_INVALID_HANDLE;
  if (!length || field == 0 || field >= record->fields.size()) return ERROR_INVALID_PARAMETER;
  const auto& cell = record->fields[field];
  if (std::holds_alternative<std::monostate>(cell)) return ERROR_INVALID_DATA;
  const auto* bytes = std::get_if<hostplatform::Bytes>(&cell);
  if (!bytes) return ERROR_INVALID_DATATYPE;
  size_t& position = Files().readPositions[{handle, field}];
  // No buffer asks for the whole size and starts the next read at the beginning again.
  if (!buffer) {
    *length = static_cast<DWORD>(bytes->size());
    position = 0;
    return ERROR_SUCCESS;
  }
  position = std::min(position, bytes->size());
  size_t remaining = bytes->size() - position;
  size_t take = std::min<size_t>(*length, remaining);
  if (take > 0) std::memcpy(buffer, bytes->data() + position, take);
  position += take;
  *length = static_cast<DWORD>(take);
  return ERROR_SUCCESS;
}

UINT MsiRecordSetStreamW(MSIHANDLE handle, UINT field, LPCWSTR path) {
  if (auto failed = Enter("MsiRecordSetStreamW")) return static_cast<UINT>(*failed);
  auto record = hostplatform::Find<hostplatform::Record>(handle);
  if (!record) return ERROR_INVALID_HANDLE;
  if (field == 0 || field >= record->fields.size()) return ERROR_INVALID_PARAMETER;
  // No path starts the field's stream again from its beginning.
  if (!path) {
    if (!std::holds_alternative<hostplatform::Bytes>(record->fields[field]))
      return ERROR_INVALID_PARAMETER;
    Files().readPositions.erase({handle, field});
    return ERROR_SUCCESS;
  }
  // The file is opened as CreateFileW opens it, with its answers for a missing folder or file.
  auto mapped = hostplatform::MapPath(path);
  std::error_code error;
  if (!mapped || !fs::is_directory(mapped->parent_path(), error)) return ERROR_PATH_NOT_FOUND;
  auto contents = hostplatform::ReadAll(*mapped);
  if (!contents) return fs::exists(*mapped, error) ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
  record->fields[field] = std::move(*contents);
  Files().readPositions.erase({handle, field});
  return ERROR_SUCCESS;
}

namespace hostctl {

std::string HostPath(const Text& path) {
  auto mapped = hostplatform::MapPath(path.c_str());
  if (!mapped) throw std::invalid_argument("hostctl::HostPath: not a drive path: " + ToUtf8(path));
  return mapped->string();
}

void MakeDirectory(const Text& path) { fs::create_directories(HostPath(path)); }

void PutFile(const Text& path, const Bytes& contents) {
  fs::path host = HostPath(path);
  fs::create_directories(host.parent_path());
  std::FILE* file = std::fopen(host.c_str(), "wb");
  if (!file) throw std::runtime_error("hostctl::PutFile: cannot write " + host.string());
  bool ok =
      contents.empty() || std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  ok = std::fclose(file) == 0 && ok;
  if (!ok) throw std::runtime_error("hostctl::PutFile: cannot write " + host.string());
}

std::optional<Bytes> FileContents(const Text& path) {
  return hostplatform::ReadAll(HostPath(path));
}

std::vector<Text> DirectoryEntries(const Text& path) {
  std::vector<Text> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(HostPath(path), error))
    names.push_back(FromUtf8(entry.path().filename().string()));
  std::sort(names.begin(), names.end());
  return names;
}

size_t OpenFileCount() { return Files().open.size(); }

void ShortenNextWrite(DWORD count) { Files().shortWrite = count; }

}  // namespace hostctl
