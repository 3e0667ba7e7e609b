#include "stdInstallLib.h"

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
    CSession(installHandle, false).Log(report);
  }
  OutputDebugStringW(report.c_str());
  return code;
}

int TraceMessage(const WString& text) {
  OutputDebugStringW(text.c_str());
  OutputDebugStringW(WTXT("\n"));
  if (reporting) return 0;
  ReportingScope scope;
  return CSession(installHandle, false).Log(text);
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

}  // namespace msistd
