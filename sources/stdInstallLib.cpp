#include "stdInstallLib.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace msistd {

namespace {

const WChar kFile[] = WTXT(".\\sources\\stdInstallLib.cpp");
const WChar kInternalCall[] = WTXT("Internal call:");

// Set while a report or trace line is being written to the installer log. A report raised by
// that logging itself (the platform keeps failing) then goes to the debugger output only, so
// reporting can never recurse without end.
bool reporting = false;

class ReportingScope {
 public:
  ReportingScope() : outer(reporting) { reporting = true; }
  ~ReportingScope() { reporting = outer; }
  ReportingScope(const ReportingScope&) = delete;
  ReportingScope& operator=(const ReportingScope&) = delete;

 private:
  bool outer;
};

struct HeapDeleter {
  void operator()(void* block) const { HeapFree(GetProcessHeap(), 0, block); }
};
using HeapBlock = std::unique_ptr<WChar[], HeapDeleter>;

HeapBlock AllocateText(size_t units) {
  return HeapBlock(static_cast<WChar*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                 units * sizeof(WChar))));
}

const WChar* OrEmpty(const WChar* text) { return text == nullptr ? WTXT("") : text; }

// Zero bytes MapStream puts after a stream, so a text stream reads as terminated.
constexpr size_t kStreamPadding = 10;

struct FreeDeleter {
  void operator()(char* block) const { std::free(block); }
};

// A file handle, closed once: by Close() or when the scope ends.
class ScopedFile {
 public:
  explicit ScopedFile(HANDLE handle) : handle(handle) {}
  ~ScopedFile() { Close(); }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  bool IsValid() const { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle; }
  void Close() {
    if (IsValid()) CloseHandle(handle);
    handle = nullptr;
  }

 private:
  HANDLE handle;
};

bool IsSpace(WChar c) {
  return c == WTXT(' ') || c == WTXT('\t') || c == WTXT('\n') || c == WTXT('\v') ||
         c == WTXT('\f') || c == WTXT('\r');
}

// A version piece as a signed 32-bit number: leading white space, an optional sign, digits up
// to the first other character (none give 0), clamped to the 32-bit range.
int32_t VersionPiece(const WString& text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == WTXT('+') || text[i] == WTXT('-'))) {
    negative = text[i] == WTXT('-');
    ++i;
  }
  const int64_t kLimit = int64_t{INT32_MAX} + 1;
  int64_t value = 0;
  for (; i < text.size() && text[i] >= WTXT('0') && text[i] <= WTXT('9'); ++i)
    value = std::min(value * 10 + (text[i] - WTXT('0')), kLimit);
  if (negative) value = -value;
  return static_cast<int32_t>(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, value)));
}

}  // namespace

// ---- Module state, reports, decimal text ----

MSIHANDLE installHandle = 0;

void SetInstallHandle(MSIHANDLE handle) { installHandle = handle; }

WString ToDecimal(uint32_t value) {
  WChar digits[11];
  size_t start = sizeof digits / sizeof digits[0];
  do {
    digits[--start] = static_cast<WChar>(WTXT('0') + value % 10);
    value /= 10;
  } while (value != 0);
  return WString(digits + start, digits + sizeof digits / sizeof digits[0]);
}

WString ToDecimal(int32_t value) {
  // The magnitude of INT32_MIN does not fit in int32_t; take it in unsigned arithmetic.
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  return value < 0 ? WTXT("-") + ToDecimal(magnitude) : ToDecimal(magnitude);
}

WString LiteralText(const WString& text) {
  WString escaped;
  escaped.reserve(text.size());
  for (WChar c : text) {
    if (c == WTXT('['))
      escaped += WTXT("[\\[]");
    else if (c == WTXT(']'))
      escaped += WTXT("[\\]]");
    else
      escaped += c;
  }
  return escaped;
}

WString SystemErrorText(UINT code) {
  WString text = WTXT("Unknown error");
  WChar* buffer = nullptr;
  if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
                     reinterpret_cast<LPWSTR>(&buffer), 0, nullptr) != 0) {
    text = buffer;
  }
  LocalFree(buffer);
  return text;
}

UINT ReportError(UINT code, const WChar* function, const WChar* call, const WChar* file, int line,
                 const WChar* prefix) {
  if (code == 0) return 0;
  WString report = prefix == nullptr ? WTXT("Error: ") : prefix;
  report += WTXT(" error code: ") + ToDecimal(static_cast<uint32_t>(code)) + WTXT(" (") +
            SystemErrorText(code) + WTXT(")") + WTXT(", call: ") + OrEmpty(call) +
            WTXT(", function:") + OrEmpty(function) + WTXT(", file:") + OrEmpty(file) +
            WTXT(", line:") + ToDecimal(static_cast<int32_t>(line)) + WTXT("\n");
  if (installHandle != 0 && !reporting) {
    ReportingScope scope;
    CSession(installHandle, false).Log(LiteralText(report));
  }
  OutputDebugStringW(report.c_str());
  return code;
}

int TraceMessage(const WString& text) {
  OutputDebugStringW(text.c_str());
  OutputDebugStringW(WTXT("\n"));
  if (reporting) return 0;
  ReportingScope scope;
  return CSession(installHandle, false).Log(LiteralText(text));
}

// ---- Buffered text fetch ----

WString FetchText(const void* fetcher, FetchFunction fetch) {
  WChar probe[1] = {0};
  DWORD capacity = 0;
  fetch(fetcher, probe, &capacity);
  if (capacity == 0) return WString();
  size_t length = capacity;
  if (length >= static_cast<size_t>(-1) / sizeof(WChar) - 1) return WString();
  // Zeroed, so a failing second call leaves the empty text rather than stale memory.
  HeapBlock buffer = AllocateText(length + 1);
  if (!buffer) return WString();
  capacity = static_cast<DWORD>(length + 1);
  fetch(fetcher, buffer.get(), &capacity);
  buffer[length] = 0;
  return WString(buffer.get());
}

bool _format(const WString& path, WString& full, WString& directory, WString& file) {
  WString copy = path;
  while (copy.size() > 3 && (copy.back() == WTXT('\\') || copy.back() == WTXT('/')))
    copy.pop_back();
  auto fail = [&](const WChar* message) {
    TraceMessage(message);
    full = directory = file = copy;
    return false;
  };
  LPWSTR filePart = nullptr;
  DWORD needed = GetFullPathNameW(copy.c_str(), 0, nullptr, &filePart);
  if (needed == 0) return fail(WTXT("_format: Zero-size of buffer"));
  HeapBlock buffer = AllocateText(needed);
  if (!buffer) return fail(WTXT("_format: Can't allocate buffer"));
  filePart = nullptr;
  GetFullPathNameW(copy.c_str(), needed, buffer.get(), &filePart);
  buffer[needed - 1] = 0;
  full = buffer.get();
  if (filePart != nullptr) {
    file = filePart;
    *filePart = 0;
    directory = buffer.get();
  } else {
    TraceMessage(WTXT("_format: can't get pointer to file: ") + full);
    file = full;
    directory = full;
  }
  return true;
}

WString FullPath(const WString& path) {
  WString full, directory, file;
  _format(path, full, directory, file);
  return full;
}

WString DirectoryPart(const WString& path) {
  WString full, directory, file;
  _format(path, full, directory, file);
  return directory;
}

WString FilePart(const WString& path) {
  WString full, directory, file;
  _format(path, full, directory, file);
  return file;
}

// ---- Records ----

CRecord::CRecordField::CRecordField(const CMSIHANDLE& record, UINT field)
    : record(record), field(field) {}

WString CRecord::CRecordField::String() const { return _format(*this); }

UINT CRecord::CRecordField::Fetch(WChar* buffer, DWORD* capacity) const {
  return MsiRecordGetStringW(record.MsiHandle(), field, buffer, capacity);
}

int CRecord::CRecordField::Int() const { return MsiRecordGetInteger(record.MsiHandle(), field); }

bool CRecord::CRecordField::IsNull() const {
  return MsiRecordIsNull(record.MsiHandle(), field) != 0;
}

UINT CRecord::CRecordField::DataSize() const {
  return MsiRecordDataSize(record.MsiHandle(), field);
}

UINT CRecord::CRecordField::Value(const WString& value) {
  return ReportError(MsiRecordSetStringW(record.MsiHandle(), field, value.c_str()),
                     WTXT("msistd::CRecord::CRecordField::Value"),
                     WTXT("MsiRecordSetString( record.MsiHandle(), field, value.c_str() )"), kFile,
                     301, kInternalCall);
}

UINT CRecord::CRecordField::Value(int value) {
  return ReportError(MsiRecordSetInteger(record.MsiHandle(), field, value),
                     WTXT("msistd::CRecord::CRecordField::Value"),
                     WTXT("MsiRecordSetInteger( record.MsiHandle(), field, value )"), kFile, 306,
                     kInternalCall);
}

UINT CRecord::CRecordField::ReadStream(char* buffer, DWORD* len) const {
  return ReportError(MsiRecordReadStream(record.MsiHandle(), field, buffer, len),
                     WTXT("msistd::CRecord::CRecordField::ReadStream"),
                     WTXT("MsiRecordReadStream( record.MsiHandle(), field, buffer, len )"), kFile,
                     281, kInternalCall);
}

UINT CRecord::CRecordField::SetStream(const WString& path) {
  return ReportError(MsiRecordSetStreamW(record.MsiHandle(), field, path.c_str()),
                     WTXT("msistd::CRecord::CRecordField::SetStream"),
                     WTXT("MsiRecordSetStream( record.MsiHandle(), field, path.c_str() )"), kFile,
                     286, kInternalCall);
}

char* CRecord::CRecordField::MapStream() const {
  UINT size = 0;
  bool read = false;
  return MapStream(size, read);
}

char* CRecord::CRecordField::MapStream(UINT& size, bool& read) const {
  read = false;
  size = DataSize();
  if (size == 0) {
    TraceMessage(WTXT("CRecord::CRecordField::MapStream: DataSize() returned zero"));
    return nullptr;
  }
  // A size near the top of a 32-bit size_t would wrap around when the padding is added.
  size_t bytes = size_t{size} + kStreamPadding;
  char* map = bytes > size ? static_cast<char*>(std::malloc(bytes)) : nullptr;
  if (map == nullptr) {
    TraceMessage(WTXT("CRecord::CRecordField::MapStream: can't allocate memory"));
    return nullptr;
  }
  std::memset(map, 0, bytes);
  DWORD len = size;
  UINT code = ReportError(ReadStream(map, &len), WTXT("msistd::CRecord::CRecordField::MapStream"),
                          WTXT("ReadStream( (char*)map, &len )"), kFile, 343, kInternalCall);
  read = code == 0 && len == size;
  return map;
}

bool CRecord::CRecordField::WriteStreamToFile(const WString& path) const {
  UINT mapped = 0;
  bool read = false;
  std::unique_ptr<char, FreeDeleter> map(MapStream(mapped, read));
  // A stream that was not read in full would leave zeros in the file, not the stream.
  if (!map || !read) {
    TraceMessage(WTXT("CRecord::CRecordField::WriteStreamToFile: Can't map stream"));
    return false;
  }
  // Never more than the block holds, whatever the second size query answers.
  DWORD size = std::min(DataSize(), mapped);
  ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    TraceMessage(WTXT("CRecord::CRecordField::WriteStreamToFile: Can't create file"));
    return false;
  }
  DWORD written = 0;
  // A short write is a failed write: the file would hold a truncated stream.
  if (!WriteFile(file.Get(), map.get(), size, &written, nullptr) || written != size) {
    TraceMessage(WTXT("CRecord::CRecordField::WriteStreamToFile: Can't write to file"));
    TraceMessage(WTXT("CRecord::CRecordField::WriteStreamToFile: deleting file..."));
    file.Close();
    DeleteFileW(path.c_str());
    return false;
  }
  return true;
}

CRecord::CRecord(UINT fieldCount) : CMSIHANDLE(MsiCreateRecord(fieldCount), true) {}

CRecord::CRecord(const CMSIHANDLE& session, UINT fieldCount)
    : CMSIHANDLE(MsiCreateRecord(fieldCount), true), session(session) {}

CRecord::CRecord(const CMSIHANDLE& record) : CMSIHANDLE(record) {}

CRecord::CRecordField CRecord::Field(UINT index) const { return CRecordField(*this, index); }

UINT CRecord::FieldCount() const { return MsiRecordGetFieldCount(MsiHandle()); }

UINT CRecord::ClearData() {
  return ReportError(MsiRecordClearData(MsiHandle()), WTXT("msistd::CRecord::ClearData"),
                     WTXT("MsiRecordClearData( MsiHandle() )"), kFile, 414, kInternalCall);
}

WString CRecord::Format() const { return _format(*this); }

UINT CRecord::Fetch(WChar* buffer, DWORD* capacity) const {
  return MsiFormatRecordW(session.MsiHandle(), MsiHandle(), buffer, capacity);
}

// ---- Properties, paths, formatting ----

CProperty::CProperty(const WString& name, const CMSIHANDLE& session)
    : session(session), name(name) {}

WString CProperty::Value() const { return _format(*this); }

UINT CProperty::Fetch(WChar* buffer, DWORD* capacity) const {
  return MsiGetPropertyW(session.MsiHandle(), name.c_str(), buffer, capacity);
}

UINT CProperty::Value(const WString& value) {
  return ReportError(MsiSetPropertyW(session.MsiHandle(), name.c_str(), value.c_str()),
                     WTXT("msistd::CProperty::Value"),
                     WTXT("MsiSetProperty( session.MsiHandle(), name.c_str(), value.c_str() )"),
                     kFile, 256, kInternalCall);
}

UINT CProperty::Value(uint32_t value) {
  return ReportError(
      MsiSetPropertyW(session.MsiHandle(), name.c_str(), ToDecimal(value).c_str()),
      WTXT("msistd::CProperty::Value"),
      WTXT("MsiSetProperty( session.MsiHandle(), name.c_str(), valueStream.str().c_str() )"),
      kFile, 263, kInternalCall);
}

UINT CProperty::Value(const CProperty& value) {
  WString text = value.Value();
  return ReportError(
      MsiSetPropertyW(session.MsiHandle(), name.c_str(), text.c_str()),
      WTXT("msistd::CProperty::Value"),
      WTXT("MsiSetProperty( session.MsiHandle(), name.c_str(), value.Value().c_str() )"), kFile,
      268, kInternalCall);
}

bool CProperty::Equals(const WString& text) const { return Value() == text; }

const WChar* CProperty::Text() {
  cache = Value();
  return cache.c_str();
}

WString operator+(const WString& text, const CProperty& property) {
  return text + property.Value();
}

CTargetPath::CTargetPath(const WString& name, const CMSIHANDLE& session)
    : session(session), name(name) {}

WString CTargetPath::Value() const { return _format(*this); }

UINT CTargetPath::Fetch(WChar* buffer, DWORD* capacity) const {
  return MsiGetTargetPathW(session.MsiHandle(), name.c_str(), buffer, capacity);
}

UINT CTargetPath::Value(const WString& value) {
  return ReportError(MsiSetTargetPathW(session.MsiHandle(), name.c_str(), value.c_str()),
                     WTXT("msistd::CTargetPath::Value"),
                     WTXT("MsiSetTargetPath( session.MsiHandle(), name.c_str(), value.c_str() )"),
                     kFile, 430, kInternalCall);
}

CSourcePath::CSourcePath(const WString& name, const CMSIHANDLE& session)
    : session(session), name(name) {}

WString CSourcePath::Value() const { return _format(*this); }

UINT CSourcePath::Fetch(WChar* buffer, DWORD* capacity) const {
  return MsiGetSourcePathW(session.MsiHandle(), name.c_str(), buffer, capacity);
}

UINT _CFormatRecord::Fetch(WChar* buffer, DWORD* capacity) const {
  return MsiFormatRecordW(session.MsiHandle(), record.MsiHandle(), buffer, capacity);
}

// ---- Databases and views ----

CDatabase::CDatabase(const WString& path, LPCWSTR mode) {
  MSIHANDLE database = 0;
  ReportError(MsiOpenDatabaseW(path.c_str(), mode, &database), WTXT("msistd::CDatabase::CDatabase"),
              WTXT("MsiOpenDatabase( path.c_str(), mode, &database )"), kFile, 621, kInternalCall);
  Attach(database, true);
}

CView CDatabase::OpenView(const WString& query) const {
  MSIHANDLE view = 0;
  ReportError(MsiDatabaseOpenViewW(MsiHandle(), query.c_str(), &view),
              WTXT("msistd::CDatabase::OpenView"),
              WTXT("MsiDatabaseOpenView( MsiHandle(), query.c_str(), &view )"), kFile, 628,
              kInternalCall);
  return CView(CMSIHANDLE(view, true));
}

bool CDatabase::StreamFileFromBinary(const WString& name, const WString& path) const {
  WString query = WTXT("SELECT * FROM Binary WHERE `Name`='") + name + WTXT("'");
  TraceMessage(WTXT("CDatabase::StreamFileFromBinary: ") + query);
  // The dialect has no escape for a quote inside a literal, and a quote would let the name
  // widen the query (x' OR `Name`<>' selects some other row), so such a name is not queried.
  CView view = name.find(WTXT('\'')) == WString::npos ? OpenView(query) : CView();
  if (!view.IsValid()) {
    TraceMessage(WTXT("CDatabase::StreamFileFromBinary: Cant' create view"));
    return false;
  }
  if (ReportError(view.Execute(), WTXT("msistd::CDatabase::StreamFileFromBinary"),
                  WTXT("view.Execute()"), kFile, 644, kInternalCall) != 0)
    return false;
  CRecord record = view.Fetch();
  if (!record.IsValid()) {
    TraceMessage(WTXT("CDatabase::StreamFileFromBinary: Can't fetch data"));
    return false;
  }
  return record.Field(2).WriteStreamToFile(path);
}

UINT CView::Execute() {
  return ReportError(MsiViewExecute(MsiHandle(), 0), WTXT("msistd::CView::Execute"),
                     WTXT("MsiViewExecute( MsiHandle(), 0 )"), kFile, 468, kInternalCall);
}

UINT CView::Execute(const CRecord& record) {
  return ReportError(MsiViewExecute(MsiHandle(), record.MsiHandle()), WTXT("msistd::CView::Execute"),
                     WTXT("MsiViewExecute( MsiHandle(), record.MsiHandle() )"), kFile, 463,
                     kInternalCall);
}

CRecord CView::Fetch() {
  MSIHANDLE record = 0;
  ReportError(MsiViewFetch(MsiHandle(), &record), WTXT("msistd::CView::Fetch"),
              WTXT("MsiViewFetch( MsiHandle(), &record )"), kFile, 474, kInternalCall);
  return CRecord(CMSIHANDLE(record, true));
}

UINT CView::Modify(MSIMODIFY action, const CRecord& record) {
  return ReportError(MsiViewModify(MsiHandle(), action, record.MsiHandle()),
                     WTXT("msistd::CView::Modify"),
                     WTXT("MsiViewModify( MsiHandle(), action, record.MsiHandle() )"), kFile, 480,
                     kInternalCall);
}

CRecord CView::ColumnInfo(MSICOLINFO info) {
  MSIHANDLE cinfo = 0;
  ReportError(MsiViewGetColumnInfo(MsiHandle(), info, &cinfo), WTXT("msistd::CView::ColumnInfo"),
              WTXT("MsiViewGetColumnInfo( MsiHandle(), info, &cinfo )"), kFile, 486,
              kInternalCall);
  return CRecord(CMSIHANDLE(cinfo, true));
}

UINT CView::Close() {
  return ReportError(MsiViewClose(MsiHandle()), WTXT("msistd::CView::Close"),
                     WTXT("MsiViewClose( MsiHandle() )"), kFile, 458, kInternalCall);
}

WString CView::ErrorColumn() const { return _format(*this); }

UINT CView::Fetch(WChar* buffer, DWORD* capacity) const {
  return static_cast<UINT>(MsiViewGetErrorW(MsiHandle(), buffer, capacity));
}

// ---- Sessions and the installer object ----

WString CSession::LogPrefix(const WString& newPrefix) {
  WString previous = prefix;
  prefix = newPrefix;
  return previous;
}

int CSession::Log(const WString& text) const {
  CRecord record(1);
  record.Field(0).Value(prefix + text);
  return Message(INSTALLMESSAGE_INFO, record.MsiHandle());
}

int CSession::Log(int32_t value) const { return Log(ToDecimal(value)); }

int CSession::Log(uint32_t value) const { return Log(ToDecimal(value)); }

int CSession::Log(const CRecord& record) const { return Message(INSTALLMESSAGE_INFO, record); }

int CSession::Message(INSTALLMESSAGE type, MSIHANDLE record) const {
  if (type == INSTALLMESSAGE_INFO) {
    // A record bound to this session, borrowing the caller's record, formats the line as
    // the installer will show it (property references resolved).
    CRecord echo = Installer().CreateRecord(1);
    echo.Attach(record, false);
    WString text = echo.Format();
    const size_t kPiece = 100;
    for (size_t start = 0; start < text.size(); start += kPiece)
      OutputDebugStringW(text.substr(start, kPiece).c_str());
    OutputDebugStringW(WTXT("\n"));
  }
  return MsiProcessMessage(MsiHandle(), type, record);
}

int CSession::Message(INSTALLMESSAGE type, const CRecord& record) const {
  return Message(type, record.MsiHandle());
}

int CSession::Message(INSTALLMESSAGE type, const WString& text) const {
  CRecord record = Installer().CreateRecord(1);
  record.Field(0).Value(text);
  return Message(type, record);
}

UINT CSession::DoAction(const WString& action) const {
  return ReportError(MsiDoActionW(MsiHandle(), action.c_str()), WTXT("msistd::CSession::DoAction"),
                     WTXT("MsiDoAction( MsiHandle(), action.c_str() )"), kFile, 706,
                     kInternalCall);
}

CInstaller CSession::Installer() const { return CInstaller(*this); }

CProperty CSession::Property(const WString& name) const { return CProperty(name, *this); }

CTargetPath CSession::TargetPath(const WString& directory) const {
  return CTargetPath(directory, *this);
}

CSourcePath CSession::SourcePath(const WString& directory) const {
  return CSourcePath(directory, *this);
}

WString CSession::Format(const WString& text) const {
  CRecord record(1);
  record.Field(0).Value(text);
  return Format(record);
}

WString CSession::Format(const CRecord& record) const {
  return _format(_CFormatRecord(record, *this));
}

CDatabase CSession::Database() const {
  return CDatabase(CMSIHANDLE(MsiGetActiveDatabase(MsiHandle()), true));
}

CRecord CInstaller::CreateRecord(UINT count) const {
  CSession owner(session);
  return CRecord(owner, count);
}

WStringList CInstaller::Split(const WString& text, const WString& separators) const {
  WStringList pieces;
  WString piece;
  for (WChar c : text) {
    if (separators.find(c) == WString::npos) {
      piece += c;
    } else if (!piece.empty()) {
      pieces.push_back(piece);
      piece.clear();
    }
  }
  if (!piece.empty()) pieces.push_back(piece);
  return pieces;
}

WStringList Split(const WString& text, const WString& separators) {
  return CInstaller().Split(text, separators);
}

// ---- Installer-wide operations ----

WStringList CInstaller::Components() const {
  WStringList components;
  WChar guid[39];
  for (DWORD i = 0;; ++i) {
    guid[0] = 0;
    if (ReportError(MsiEnumComponentsW(i, guid), WTXT("msistd::CInstaller::Components"),
                    WTXT("MsiEnumComponents( i, guid )"), kFile, 899, kInternalCall) != 0)
      break;
    guid[38] = 0;
    components.push_back(guid);
  }
  return components;
}

WStringList CInstaller::ComponentClients(const WString& component) const {
  WStringList clients;
  WChar guid[39];
  for (DWORD i = 0;; ++i) {
    guid[0] = 0;
    if (ReportError(MsiEnumClientsW(component.c_str(), i, guid),
                    WTXT("msistd::CInstaller::ComponentClients"),
                    WTXT("MsiEnumClients( component.c_str(), i, guid )"), kFile, 912,
                    kInternalCall) != 0)
      break;
    guid[38] = 0;
    clients.push_back(guid);
  }
  return clients;
}

UINT _CComponentPath::Fetch(WChar* buffer, DWORD* capacity) const {
  return static_cast<UINT>(
      MsiGetComponentPathW(product.c_str(), component.c_str(), buffer, capacity));
}

WString CInstaller::ComponentPath(const WString& product, const WString& component) const {
  return _format(_CComponentPath(product, component));
}

UINT _CProductInfo::Fetch(WChar* buffer, DWORD* capacity) const {
  return MsiGetProductInfoW(product.c_str(), property.c_str(), buffer, capacity);
}

WString CInstaller::ProductInfo(const WString& product, const WString& property) const {
  return _format(_CProductInfo(product, property));
}

UINT _CFileVersion::Fetch(WChar* buffer, DWORD* capacity) const {
  if (language) return MsiGetFileVersionW(path.c_str(), nullptr, nullptr, buffer, capacity);
  return MsiGetFileVersionW(path.c_str(), buffer, capacity, nullptr, nullptr);
}

WString CInstaller::FileVersion(const WString& path, bool language) const {
  return _format(_CFileVersion(path, language));
}

CSession CInstaller::OpenProduct(const WString& product) const {
  MSIHANDLE session = 0;
  ReportError(MsiOpenProductW(product.c_str(), &session), WTXT("msistd::CInstaller::OpenProduct"),
              WTXT("MsiOpenProduct( product.c_str(), &session )"), kFile, 965, kInternalCall);
  return CSession(session, true);
}

CSession CInstaller::OpenPackage(const WString& path, DWORD options) const {
  MSIHANDLE package = 0;
  ReportError(
      MsiOpenPackageExW(path.c_str(), options, &package), WTXT("msistd::CInstaller::OpenPackage"),
      WTXT("MsiOpenPackageEx( path.c_str(), options, &package )"), kFile, 972, kInternalCall);
  return CSession(package, true);
}

CDatabase CInstaller::OpenDatabase(const WString& path, LPCWSTR mode) const {
  return CDatabase(path, mode);
}

UINT CInstaller::ConfigureProduct(const WString& product, int level, int state) const {
  return ReportError(MsiConfigureProductW(product.c_str(), level, static_cast<INSTALLSTATE>(state)),
                     WTXT("msistd::CInstaller::ConfigureProduct"),
                     WTXT("MsiConfigureProduct( product.c_str(), level, state )"), kFile, 983,
                     kInternalCall);
}

UINT CInstaller::ConfigureProductEx(const WString& product, int level, int state,
                                    const WString& command) const {
  return ReportError(
      MsiConfigureProductExW(product.c_str(), level, static_cast<INSTALLSTATE>(state),
                             command.c_str()),
      WTXT("msistd::CInstaller::ConfigureProductEx"),
      WTXT("MsiConfigureProductEx( product.c_str(), level, state, command.c_str() )"), kFile, 988,
      kInternalCall);
}

UINT CInstaller::ConfigureFeature(const WString& product, const WString& feature, int state) const {
  return ReportError(
      MsiConfigureFeatureW(product.c_str(), feature.c_str(), static_cast<INSTALLSTATE>(state)),
      WTXT("msistd::CInstaller::ConfigureFeature"),
      WTXT("MsiConfigureFeature( product.c_str(), feature.c_str(), state )"), kFile, 993,
      kInternalCall);
}

UINT CInstaller::InstallProduct(const WString& path, const WString& propertyValues) const {
  return ReportError(MsiInstallProductW(path.c_str(), propertyValues.c_str()),
                     WTXT("msistd::CInstaller::InstallProduct"),
                     WTXT("MsiInstallProduct( path.c_str(), propertyValues.c_str() )"), kFile, 998,
                     kInternalCall);
}

INSTALLUILEVEL CInstaller::InternalUI(INSTALLUILEVEL level) const {
  return MsiSetInternalUI(level, nullptr);
}

INSTALLUILEVEL CInstaller::InternalUI() const {
  return MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, nullptr);
}

DWORD CInstaller::FeatureUsageCount(const WString& product, const WString& feature) const {
  DWORD count = 0;
  WORD date = 0;
  ReportError(MsiGetFeatureUsageW(product.c_str(), feature.c_str(), &count, &date),
              WTXT("msistd::CInstaller::FeatureUsageCount"),
              WTXT("MsiGetFeatureUsage( product.c_str(), feature.c_str(), &count, &date )"), kFile,
              1045, kInternalCall);
  return count;
}

int CInstaller::FeatureState(const WString& product, const WString& feature) const {
  return MsiQueryFeatureStateW(product.c_str(), feature.c_str());
}

CRecord CInstaller::LastErrorRecord() const {
  return CRecord(CMSIHANDLE(MsiGetLastErrorRecord(), true));
}

int CInstaller::CompareVersions(const WString& first, const WString& second) const {
  WStringList left = Split(first, WTXT("."));
  WStringList right = Split(second, WTXT("."));
  for (size_t i = 0; i < left.size() || i < right.size(); ++i) {
    int32_t a = i < left.size() ? VersionPiece(left[i]) : 0;
    int32_t b = i < right.size() ? VersionPiece(right[i]) : 0;
    if (a > b) return 1;
    if (a < b) return -1;
  }
  return 0;
}

UINT _CProductProperty::Fetch(WChar* buffer, DWORD* capacity) const {
  return MsiGetProductPropertyW(session.MsiHandle(), property.c_str(), buffer, capacity);
}

WString CSession::ProductProperty(const WString& name) const {
  return _format(_CProductProperty(*this, name));
}

WString TempFileName(const WString& directory, const WString& prefix, const WString& suffix) {
  WChar name[MAX_PATH + 1] = {0};
  if (GetTempFileNameW(directory.c_str(), prefix.c_str(), 0, name) == 0) {
    TraceMessage(WTXT("Can't generate temp file name"));
    return WString();
  }
  // The system created the file to reserve the name; the caller gets the name only.
  DeleteFileW(name);
  return name + suffix;
}

// ---- Feature and component state and cost ----

int CSession::ComponentCurrentState(const WString& component) const {
  INSTALLSTATE current = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
  ReportError(MsiGetComponentStateW(MsiHandle(), component.c_str(), &current, &action),
              WTXT("msistd::CSession::ComponentCurrentState"),
              WTXT("MsiGetComponentState( MsiHandle(), component.c_str(), &current, &action )"),
              kFile, 785, kInternalCall);
  return current;
}

int CSession::ComponentRequestState(const WString& component) const {
  INSTALLSTATE current = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
  ReportError(MsiGetComponentStateW(MsiHandle(), component.c_str(), &current, &action),
              WTXT("msistd::CSession::ComponentRequestState"),
              WTXT("MsiGetComponentState( MsiHandle(), component.c_str(), &current, &action )"),
              kFile, 793, kInternalCall);
  return action;
}

UINT CSession::ComponentRequestState(const WString& component, int action) const {
  return ReportError(
      MsiSetComponentStateW(MsiHandle(), component.c_str(), static_cast<INSTALLSTATE>(action)),
      WTXT("msistd::CSession::ComponentRequestState"),
      WTXT("MsiSetComponentState( MsiHandle(), component.c_str(), action )"), kFile, 799,
      kInternalCall);
}

int CSession::FeatureCurrentState(const WString& feature) const {
  INSTALLSTATE current = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
  ReportError(MsiGetFeatureStateW(MsiHandle(), feature.c_str(), &current, &action),
              WTXT("msistd::CSession::FeatureCurrentState"),
              WTXT("MsiGetFeatureState( MsiHandle(), feature.c_str(), &current, &action )"), kFile,
              806, kInternalCall);
  return current;
}

int CSession::FeatureRequestState(const WString& feature) const {
  INSTALLSTATE current = INSTALLSTATE_UNKNOWN;
  INSTALLSTATE action = INSTALLSTATE_UNKNOWN;
  ReportError(MsiGetFeatureStateW(MsiHandle(), feature.c_str(), &current, &action),
              WTXT("msistd::CSession::FeatureRequestState"),
              WTXT("MsiGetFeatureState( MsiHandle(), feature.c_str(), &current, &action )"), kFile,
              814, kInternalCall);
  return action;
}

UINT CSession::FeatureRequestState(const WString& feature, int action) const {
  return ReportError(
      MsiSetFeatureStateW(MsiHandle(), feature.c_str(), static_cast<INSTALLSTATE>(action)),
      WTXT("msistd::CSession::FeatureRequestState"),
      WTXT("MsiSetFeatureState( MsiHandle(), feature.c_str(), action )"), kFile, 820,
      kInternalCall);
}

DWORD CSession::FeatureValidStates(const WString& feature) const {
  DWORD state = 0;
  ReportError(MsiGetFeatureValidStatesW(MsiHandle(), feature.c_str(), &state),
              WTXT("msistd::CSession::FeatureValidStates"),
              WTXT("MsiGetFeatureValidStates( MsiHandle(), feature.c_str(), &state )"), kFile, 826,
              kInternalCall);
  return state;
}

int CSession::FeatureCost(const WString& feature, int costTree, int state) const {
  int cost = 0;
  ReportError(MsiGetFeatureCostW(MsiHandle(), feature.c_str(), static_cast<MSICOSTTREE>(costTree),
                                 static_cast<INSTALLSTATE>(state), &cost),
              WTXT("msistd::CSession::FeatureCost"),
              WTXT("MsiGetFeatureCost( MsiHandle(), feature.c_str(), costTree, state, &cost )"),
              kFile, 833, kInternalCall);
  return cost;
}

UINT _CComponenCosts::Fetch(WChar* buffer, DWORD* capacity) const {
  int cost = 0;
  int tempCost = 0;
  UINT code =
      MsiEnumComponentCostsW(session->MsiHandle(), component->c_str(), *index,
                             static_cast<INSTALLSTATE>(*state), buffer, capacity, &cost, &tempCost);
  // An installer that leaves the costs out of its ERROR_MORE_DATA answer gives them here.
  if (code == ERROR_SUCCESS && costs != nullptr) {
    costs[0] = cost;
    costs[1] = tempCost;
  }
  return code;
}

std::vector<CRecord> CSession::ComponentCosts(const WString& component, int state) const {
  std::vector<CRecord> costs;
  DWORD i = 0;
  DWORD len = 0;
  int cost = 0;
  int tempCost = 0;
  // A writable one-unit buffer: with a length of 0 nothing is written into it.
  WChar probe[1] = {0};
  while (ReportError(MsiEnumComponentCostsW(MsiHandle(), component.c_str(), i,
                                            static_cast<INSTALLSTATE>(state), probe, &len, &cost,
                                            &tempCost),
                     WTXT("msistd::CSession::ComponentCosts"),
                     WTXT("MsiEnumComponentCosts( MsiHandle(), component.c_str(), i, state, "
                          "_T(\"\"), &len, &Cost, &TempCost )"),
                     kFile, 768, kInternalCall) == ERROR_MORE_DATA) {
    int read[2] = {cost, tempCost};
    WString drive = _format(_CComponenCosts(this, &component, &i, &state, read));
    // Every entry has a drive. An installer that answers ERROR_MORE_DATA to any index of a
    // zero-length buffer, past the last entry too, would otherwise keep the listing going.
    if (drive.empty()) break;
    CRecord record(*this, 3);
    record.Field(1).Value(drive);
    record.Field(2).Value(read[0]);
    record.Field(3).Value(read[1]);
    costs.push_back(record);
    ++i;
    len = 0;
  }
  return costs;
}

// ---- Summary information ----

CSummaryInfo::CSummaryInfo(const CDatabase& database, UINT maxProperties) {
  MSIHANDLE info = 0;
  ReportError(MsiGetSummaryInformationW(database.MsiHandle(), nullptr, maxProperties, &info),
              WTXT("msistd::CSummaryInfo::CSummaryInfo"),
              WTXT("MsiGetSummaryInformation( database.MsiHandle(), 0, maxProperties, &info )"),
              kFile, 593, kInternalCall);
  Attach(info, true);
}

CSummaryInfo::CSummaryInfo(const WString& path, UINT maxProperties) {
  MSIHANDLE info = 0;
  ReportError(MsiGetSummaryInformationW(0, path.c_str(), maxProperties, &info),
              WTXT("msistd::CSummaryInfo::CSummaryInfo"),
              WTXT("MsiGetSummaryInformation( 0, path.c_str(), maxProperties, &info )"), kFile, 600,
              kInternalCall);
  Attach(info, true);
}

UINT CSummaryInfo::PropertyCount() const {
  UINT count = 0;
  ReportError(MsiSummaryInfoGetPropertyCount(MsiHandle(), &count),
              WTXT("msistd::CSummaryInfo::PropertyCount"),
              WTXT("MsiSummaryInfoGetPropertyCount( MsiHandle(), &count )"), kFile, 607,
              kInternalCall);
  return count;
}

UINT CSummaryInfo::Persist() {
  return ReportError(MsiSummaryInfoPersist(MsiHandle()), WTXT("msistd::CSummaryInfo::Persist"),
                     WTXT("MsiSummaryInfoPersist( MsiHandle() )"), kFile, 613, kInternalCall);
}

void CSummaryInfo::CSummaryInfoProperty::Read(const WChar* function, int line, UINT& type,
                                              int& value, FILETIME& time) const {
  type = 0;
  value = 0;
  time.dwLowDateTime = 0;
  time.dwHighDateTime = 0;
  // No room for text: a text property answers ERROR_MORE_DATA and copies nothing.
  WChar text[1] = {0};
  DWORD len = 0;
  ReportError(
      MsiSummaryInfoGetPropertyW(info.MsiHandle(), property, &type, &value, &time, text, &len),
      function,
      WTXT("MsiSummaryInfoGetProperty( info.MsiHandle(), property, &type, &value, &ftime, "
           "_T(\"\"), &len )"),
      kFile, line, kInternalCall);
}

UINT CSummaryInfo::CSummaryInfoProperty::Type() const {
  UINT type;
  int value;
  FILETIME time;
  Read(WTXT("msistd::CSummaryInfo::CSummaryInfoProperty::Type"), 509, type, value, time);
  return type;
}

int CSummaryInfo::CSummaryInfoProperty::Int() const {
  UINT type;
  int value;
  FILETIME time;
  Read(WTXT("msistd::CSummaryInfo::CSummaryInfoProperty::Int"), 520, type, value, time);
  return value;
}

short CSummaryInfo::CSummaryInfoProperty::Short() const {
  UINT type;
  int value;
  FILETIME time;
  Read(WTXT("msistd::CSummaryInfo::CSummaryInfoProperty::Short"), 531, type, value, time);
  return static_cast<short>(static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu));
}

FILETIME CSummaryInfo::CSummaryInfoProperty::FileTime() const {
  UINT type;
  int value;
  FILETIME time;
  Read(WTXT("msistd::CSummaryInfo::CSummaryInfoProperty::FileTime"), 542, type, value, time);
  return time;
}

UINT CSummaryInfo::CSummaryInfoProperty::Fetch(WChar* buffer, DWORD* capacity) const {
  UINT type = 0;
  int value = 0;
  FILETIME time = {0, 0};
  return MsiSummaryInfoGetPropertyW(info.MsiHandle(), property, &type, &value, &time, buffer,
                                    capacity);
}

WString CSummaryInfo::CSummaryInfoProperty::String() const { return _format(*this); }

UINT CSummaryInfo::CSummaryInfoProperty::Value(int value) {
  FILETIME ftime = {0, 0};
  return ReportError(
      MsiSummaryInfoSetPropertyW(info.MsiHandle(), property, VT_I4, value, &ftime, WTXT("")),
      WTXT("msistd::CSummaryInfo::CSummaryInfoProperty::Value"),
      WTXT("MsiSummaryInfoSetProperty( info.MsiHandle(), property, VT_I4, value, &ftime, "
           "_T(\"\") )"),
      kFile, 565, kInternalCall);
}

UINT CSummaryInfo::CSummaryInfoProperty::Value(short value) {
  FILETIME ftime = {0, 0};
  return ReportError(
      MsiSummaryInfoSetPropertyW(info.MsiHandle(), property, VT_I2, value, &ftime, WTXT("")),
      WTXT("msistd::CSummaryInfo::CSummaryInfoProperty::Value"),
      WTXT("MsiSummaryInfoSetProperty( info.MsiHandle(), property, VT_I2, value, &ftime, "
           "_T(\"\") )"),
      kFile, 573, kInternalCall);
}

UINT CSummaryInfo::CSummaryInfoProperty::Value(const FILETIME& value) {
  FILETIME ftime = value;
  return ReportError(
      MsiSummaryInfoSetPropertyW(info.MsiHandle(), property, VT_FILETIME, 0, &ftime, WTXT("")),
      WTXT("msistd::CSummaryInfo::CSummaryInfoProperty::Value"),
      WTXT("MsiSummaryInfoSetProperty( info.MsiHandle(), property, VT_FILETIME, 0, &ftime, "
           "_T(\"\") )"),
      kFile, 579, kInternalCall);
}

UINT CSummaryInfo::CSummaryInfoProperty::Value(const WString& value) {
  FILETIME ftime = {0, 0};
  return ReportError(
      MsiSummaryInfoSetPropertyW(info.MsiHandle(), property, VT_LPSTR, 0, &ftime, value.c_str()),
      WTXT("msistd::CSummaryInfo::CSummaryInfoProperty::Value"),
      WTXT("MsiSummaryInfoSetProperty( info.MsiHandle(), property, VT_LPSTR, 0, &ftime, "
           "value.c_str() )"),
      kFile, 587, kInternalCall);
}

}  // namespace msistd
