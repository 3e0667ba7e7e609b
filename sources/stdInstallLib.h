// msistd, installer session library: shared handles, sessions with an installer log, records,
// properties, formatting, databases and views, and the report line for failed platform calls.
// No operation throws on a failed platform call: failures become report lines (ReportError)
// and neutral results (handle 0, empty text, the platform's code).
#pragma once

#include <cstdint>
#include <vector>

#include "platform.h"

namespace msistd {

using WStringList = std::vector<WString>;

// ---- Module state and reports ----

// The install handle that reports write through; 0 until a custom action stores one.
extern MSIHANDLE installHandle;
// Stores the install handle of the action that is starting.
void SetInstallHandle(MSIHANDLE handle);

// For a non-zero code: writes one report line to the installer log (through a session on
// installHandle, when set) and then to the debugger output. Returns `code` unchanged; code 0
// does nothing at all. Null texts get their defaults ("Error: " for the prefix, empty else).
UINT ReportError(UINT code, const WChar* function, const WChar* call, const WChar* file, int line,
                 const WChar* prefix = nullptr);
// The system's message text for a code, unchanged (trailing CR LF included); "Unknown error"
// when the system has none.
WString SystemErrorText(UINT code);
// Writes `text` and a line feed to the debugger output, then logs it through a session on
// installHandle; returns the installer's answer.
int TraceMessage(const WString& text);

// `text` written so that the installer's formatting gives it back unchanged: brackets become
// the escapes [\[] and [\]]. A logged line is the template of its record, and the installer
// formats it for the log (and the debugger echo formats it likewise), so text that must show as
// it is (report lines, registry data, property values) goes through this first.
WString LiteralText(const WString& text);

// Decimal text of a number: no sign for unsigned values, no leading zeros, no grouping.
WString ToDecimal(uint32_t value);
WString ToDecimal(int32_t value);

// ---- Shared handles ----

// One handle shared by any number of copies. Owning copies share one heap-held count; the copy
// whose release takes the count below 1 closes the handle with Traits::Close, exactly once.
// Non-owning copies never count and never close. CMSIHANDLE and CHKEY are this scheme with
// their own closing calls.
template <class Handle, class Traits>
class SharedHandle {
 public:
  SharedHandle() = default;
  SharedHandle(Handle handle, bool owned) : value(handle), owned(owned) { AddRef(1); }
  SharedHandle(const SharedHandle& other) { *this = other; }
  virtual ~SharedHandle() { Release(1); }

  SharedHandle& operator=(const SharedHandle& other) {
    if (value == other.value) {
      SetOwned(other.owned);
      return *this;
    }
    Release(1);
    counter = other.counter;
    value = other.value;
    owned = other.owned;
    AddRef(1);
    return *this;
  }

  // True when a handle is held (non-zero).
  bool IsValid() const { return value != Handle(); }

  // Adds n to the shared count (creating it at 0 first); 0 when not owning or no handle.
  int AddRef(int n) {
    if (value == Handle() || !owned) return 0;
    if (counter == nullptr) counter = new Count();
    counter->owners += n;
    return counter->owners;
  }

  // Takes n from the shared count and gives up this copy's share; closes the handle when the
  // count falls below 1. Returns the count left, 0 when closed or nothing was held.
  int Release(int n) {
    if (counter == nullptr || !owned) return 0;
    counter->owners -= n;
    if (counter->owners < 1) {
      delete counter;
      counter = nullptr;
      if (value != Handle()) {
        Traits::Close(value);
        value = Handle();
      }
      return 0;
    }
    int left = counter->owners;
    if (left - counter->detached < 1) delete counter;  // the last owner after a Detach
    counter = nullptr;
    return left;
  }

  // The shared count; 0 when this copy holds no share.
  int RefCount() const { return counter == nullptr ? 0 : counter->owners; }

  // Sets the owning flag; turning it off gives up this copy's share first. Turning it on takes
  // no share. Returns the previous flag.
  bool SetOwned(bool flag) {
    bool previous = owned;
    if (flag != owned && !flag) Release(1);
    owned = flag;
    return previous;
  }

  // Gives up ownership without closing; the handle stays readable and its closing is left to
  // the caller. A count shared with other owners is left as it is, so none of them closes it.
  void Detach() {
    if (RefCount() < 2 && counter != nullptr)
      delete counter;
    else if (counter != nullptr)
      ++counter->detached;
    counter = nullptr;
    owned = false;
  }

 protected:
  Handle Raw() const { return value; }

  // Replaces the held handle (nothing happens when it is the one held).
  void Replace(Handle handle, bool flag) {
    if (handle == value) return;
    Release(1);
    owned = flag;
    value = handle;
    AddRef(1);
  }

 private:
  // The owners' count. A Detach while others share it leaves `owners` as it was, so it never
  // falls below 1 and nobody closes the handle; `detached` tells the last real owner to free
  // the block all the same.
  struct Count {
    int owners = 0;
    int detached = 0;
  };

  Handle value{};
  bool owned = false;
  Count* counter = nullptr;
};

struct MsiHandleTraits {
  static void Close(MSIHANDLE handle) { MsiCloseHandle(handle); }
};

// A shared installer handle (records, sessions, databases, views, summary information).
class CMSIHANDLE : public SharedHandle<MSIHANDLE, MsiHandleTraits> {
 public:
  using SharedHandle::SharedHandle;
  MSIHANDLE MsiHandle() const { return Raw(); }
  CMSIHANDLE& Attach(MSIHANDLE handle, bool owned) {
    Replace(handle, owned);
    return *this;
  }
};

// ---- Records ----

class CSession;

// An installer record. Copies share the record handle and the session handle used to format
// its template. A record whose creation failed holds handle 0; its operations then report the
// platform's invalid-handle code.
class CRecord : public CMSIHANDLE {
 public:
  // One field of a record, read and written through its own share of the record handle.
  class CRecordField {
   public:
    CRecordField(const CMSIHANDLE& record, UINT field);
    virtual ~CRecordField() = default;
    // The field as text; empty for a null field or a failure.
    WString String() const;
    // The field as an integer; MSI_NULL_INTEGER for a null or non-integer field.
    int Int() const;
    bool IsNull() const;
    UINT DataSize() const;
    // Write the field; the platform's code is reported and returned.
    UINT Value(const WString& value);
    UINT Value(int value);
    // Fetcher of the buffered text fetch: MsiRecordGetStringW.
    UINT Fetch(WChar* buffer, DWORD* capacity) const;

    // Reads the field's stream into `buffer`: `len` is the capacity in bytes on entry and the
    // count read on return. The platform's code is reported and returned.
    UINT ReadStream(char* buffer, DWORD* len) const;
    // Makes the contents of the file `path` the field's stream; the code is reported and
    // returned.
    UINT SetStream(const WString& path);
    // The whole stream in a new block of DataSize() + 10 bytes, zero after the stream; null
    // (after a trace line) for an empty stream or when no memory can be had. A failed read is
    // reported and leaves zeros where it did not write. The caller releases it with free().
    char* MapStream() const;
    // Writes the stream to `path`, replacing any file there; true when the whole stream was
    // read and written. A file whose write failed is deleted again.
    bool WriteStreamToFile(const WString& path) const;

   private:
    // MapStream's work; `size` receives the stream size the block holds and `read` whether
    // the stream was read without a failure.
    char* MapStream(UINT& size, bool& read) const;

    CMSIHANDLE record;
    UINT field;
  };

  CRecord() = default;
  explicit CRecord(UINT fieldCount);
  CRecord(const CMSIHANDLE& session, UINT fieldCount);
  explicit CRecord(const CMSIHANDLE& record);

  CRecordField Field(UINT index) const;
  UINT FieldCount() const;
  UINT ClearData();
  // The template (field 0) formatted against the record's own session (0 for fetched records).
  WString Format() const;
  // Fetcher of the buffered text fetch: MsiFormatRecordW on the record's own session.
  UINT Fetch(WChar* buffer, DWORD* capacity) const;

 private:
  CMSIHANDLE session;
};

// ---- Buffered text fetch ----

// Reads one text from the installer with a fetcher's Fetch(buffer, capacity): asks for the
// length, allocates exactly enough from the heap, reads. At most two calls and one allocation;
// any failure gives the empty text, silently.
using FetchFunction = UINT (*)(const void* fetcher, WChar* buffer, DWORD* capacity);
WString FetchText(const void* fetcher, FetchFunction fetch);

template <class Fetcher>
WString _format(const Fetcher& fetcher) {
  return FetchText(&fetcher, [](const void* self, WChar* buffer, DWORD* capacity) -> UINT {
    return static_cast<const Fetcher*>(self)->Fetch(buffer, capacity);
  });
}

// Path form: `path` without trailing separators (a drive root keeps its own) made full with
// GetFullPathNameW and split into directory (with its final separator) and file. False, with
// all three set to the trimmed path, when the full path cannot be obtained.
bool _format(const WString& path, WString& full, WString& directory, WString& file);
WString FullPath(const WString& path);
WString DirectoryPart(const WString& path);
WString FilePart(const WString& path);

// ---- Properties, paths, formatting ----

// A named property of a session; holds its own share of the session handle.
class CProperty {
 public:
  CProperty(const WString& name, const CMSIHANDLE& session);
  virtual ~CProperty() = default;
  // Current value; empty when not set or unreadable.
  WString Value() const;
  // Setters: the platform's code is reported and returned.
  UINT Value(const WString& value);
  UINT Value(uint32_t value);  // unsigned decimal text
  UINT Value(const CProperty& value);
  bool Equals(const WString& text) const;
  // Pointer to the value read now; valid until the next Text() call or destruction.
  const WChar* Text();
  operator WString() const { return Value(); }
  UINT Fetch(WChar* buffer, DWORD* capacity) const;

 private:
  CMSIHANDLE session;
  WString name;
  WString cache;
};

WString operator+(const WString& text, const CProperty& property);

// Target path of a directory of the installation.
class CTargetPath {
 public:
  CTargetPath(const WString& name, const CMSIHANDLE& session);
  virtual ~CTargetPath() = default;
  WString Value() const;
  UINT Value(const WString& value);
  UINT Fetch(WChar* buffer, DWORD* capacity) const;

 private:
  CMSIHANDLE session;
  WString name;
};

// Source path of a directory of the installation.
class CSourcePath {
 public:
  CSourcePath(const WString& name, const CMSIHANDLE& session);
  virtual ~CSourcePath() = default;
  WString Value() const;
  UINT Fetch(WChar* buffer, DWORD* capacity) const;

 private:
  CMSIHANDLE session;
  WString name;
};

// ---- Databases and views ----

// A query on a database. Destroying it releases its share; it never calls MsiViewClose.
class CView : public CMSIHANDLE {
 public:
  CView() = default;
  explicit CView(const CMSIHANDLE& view) : CMSIHANDLE(view) {}
  UINT Execute();
  UINT Execute(const CRecord& record);
  // The next row; a record with handle 0 after the last row (reported, code 259) or a failure.
  CRecord Fetch();
  UINT Modify(MSIMODIFY action, const CRecord& record);
  CRecord ColumnInfo(MSICOLINFO info);
  UINT Close();
  // The column the platform names for the last modify error.
  WString ErrorColumn() const;
  UINT Fetch(WChar* buffer, DWORD* capacity) const;
};

// An installer database, opened from a path or shared from an existing handle.
class CDatabase : public CMSIHANDLE {
 public:
  CDatabase() = default;
  // Opens `path` with the persist argument `mode` passed through; handle 0 after a report.
  CDatabase(const WString& path, LPCWSTR mode);
  explicit CDatabase(const CMSIHANDLE& database) : CMSIHANDLE(database) {}
  // A view on `query`; handle 0 after a report when the platform rejects it. The view stays
  // usable after this database object is released.
  CView OpenView(const WString& query) const;
  // Writes the stream of the Binary row `name` to the file `path`; false (with its trace
  // lines) when the row cannot be found or the file cannot be written. A name holding a quote
  // is refused before any query, since the query dialect has no escape for it.
  bool StreamFileFromBinary(const WString& name, const WString& path) const;
};

// ---- Sessions and the installer object ----

class CInstaller;

// A running installation: its handle and a log prefix. Copies share the handle; each has its
// own prefix.
class CSession : public CMSIHANDLE {
 public:
  CSession(MSIHANDLE handle, bool owned) : CMSIHANDLE(handle, owned) {}
  explicit CSession(const CMSIHANDLE& handle) : CMSIHANDLE(handle) {}

  const WString& LogPrefix() const { return prefix; }
  // Sets the prefix; returns the previous one.
  WString LogPrefix(const WString& newPrefix);

  // One informational line: prefix + text, into the installer log (and echoed to the
  // debugger). Returns MsiProcessMessage's answer.
  int Log(const WString& text) const;
  int Log(const WChar* text) const { return Log(WString(text)); }
  int Log(int32_t value) const;
  int Log(uint32_t value) const;
  int Log(const CRecord& record) const;

  // Sends a message; INSTALLMESSAGE_INFO is first echoed to the debugger output in pieces of
  // at most 100 units and a line feed. The record is not closed.
  int Message(INSTALLMESSAGE type, MSIHANDLE record) const;
  int Message(INSTALLMESSAGE type, const CRecord& record) const;
  int Message(INSTALLMESSAGE type, const WString& text) const;

  UINT DoAction(const WString& action) const;
  CInstaller Installer() const;
  CProperty Property(const WString& name) const;
  CTargetPath TargetPath(const WString& directory) const;
  CSourcePath SourcePath(const WString& directory) const;
  // The text with property and other references resolved against this session.
  WString Format(const WString& text) const;
  WString Format(const CRecord& record) const;
  // The active database; handle 0 when there is none (not reported).
  CDatabase Database() const;

  // A property of the product or package this session was opened on (CInstaller::OpenProduct,
  // CInstaller::OpenPackage); empty when unknown.
  WString ProductProperty(const WString& name) const;

  // Component and feature states: -1 (INSTALLSTATE_UNKNOWN) when the call fails (reported).
  int ComponentCurrentState(const WString& component) const;
  int ComponentRequestState(const WString& component) const;
  // Requests a state for the running installation; the code is reported and returned.
  UINT ComponentRequestState(const WString& component, int action) const;
  int FeatureCurrentState(const WString& feature) const;
  int FeatureRequestState(const WString& feature) const;
  UINT FeatureRequestState(const WString& feature, int action) const;
  // The bit mask of states valid for the feature (bit n for state n); 0 after a failure.
  DWORD FeatureValidStates(const WString& feature) const;
  // The feature's disk cost in the platform's units; 0 after a failure.
  int FeatureCost(const WString& feature, int costTree, int state) const;
  // One record per drive the component costs space on, in the platform's order: field 1 the
  // drive, 2 the cost, 3 the temporary cost. Each probe is reported, so n drives leave n lines
  // with 234 and one with 259. The listing also ends at an entry without a drive name.
  std::vector<CRecord> ComponentCosts(const WString& component, int state) const;

 private:
  WString prefix;
};

// Fetcher for CSession::Format: MsiFormatRecordW on a given session.
class _CFormatRecord {
 public:
  _CFormatRecord(const CRecord& record, const CSession& session)
      : record(record), session(session) {}
  virtual ~_CFormatRecord() = default;
  UINT Fetch(WChar* buffer, DWORD* capacity) const;

 private:
  const CRecord& record;
  const CSession& session;
};

// Installer-wide operations, bound to a session handle (or to none).
class CInstaller {
 public:
  CInstaller() = default;
  explicit CInstaller(const CMSIHANDLE& session) : session(session) {}
  virtual ~CInstaller() = default;
  // A new record of `count` fields whose template formats against this installer's session.
  CRecord CreateRecord(UINT count) const;
  // The non-empty pieces of `text` between any of the `separators` characters; nothing is
  // trimmed.
  WStringList Split(const WString& text, const WString& separators) const;

  // Enumerations: the codes in the platform's order, up to the first non-zero answer (which is
  // reported, so even a complete list leaves one line with 259).
  WStringList Components() const;
  WStringList ComponentClients(const WString& component) const;
  // Text reads; the empty text when the platform has none (nothing is reported).
  WString ComponentPath(const WString& product, const WString& component) const;
  WString ProductInfo(const WString& product, const WString& property) const;
  // The file's version text, or its language text when `language` is true.
  WString FileVersion(const WString& path, bool language) const;
  // Sessions that own the opened handle, with an empty log prefix; handle 0 after a report.
  CSession OpenProduct(const WString& product) const;
  CSession OpenPackage(const WString& path, DWORD options) const;
  // The database at `path`, opened with the persist argument `mode` passed through.
  CDatabase OpenDatabase(const WString& path, LPCWSTR mode) const;
  // Configuration and installation: the platform's code, reported and returned.
  UINT ConfigureProduct(const WString& product, int level, int state) const;
  UINT ConfigureProductEx(const WString& product, int level, int state,
                          const WString& command) const;
  UINT ConfigureFeature(const WString& product, const WString& feature, int state) const;
  UINT InstallProduct(const WString& path, const WString& propertyValues) const;
  // Sets the internal user-interface level and returns the previous one; without a level the
  // current one is returned and nothing changes.
  INSTALLUILEVEL InternalUI(INSTALLUILEVEL level) const;
  INSTALLUILEVEL InternalUI() const;
  // How often the feature was used; 0 after a failure (reported).
  DWORD FeatureUsageCount(const WString& product, const WString& feature) const;
  // The feature's installed state as the platform answers it (not reported).
  int FeatureState(const WString& product, const WString& feature) const;
  // The installer's pending error record; a record with handle 0 when there is none.
  CRecord LastErrorRecord() const;
  // Compares dotted version texts piece by piece as numbers (a missing piece is 0): 1 when
  // `first` is greater, -1 when smaller, 0 when equal.
  int CompareVersions(const WString& first, const WString& second) const;

 private:
  CMSIHANDLE session;
};

WStringList Split(const WString& text, const WString& separators);

// A name for a temporary file in `directory` that does not exist when returned: the system's
// name (whose file is created and deleted again) followed by `suffix`. Empty, after a trace
// line, when the system cannot make one.
WString TempFileName(const WString& directory, const WString& prefix, const WString& suffix);

// Fetchers of the installer-wide text reads; each lives on the stack for one fetch.
class _CProductProperty {
 public:
  _CProductProperty(const CSession& session, const WString& property)
      : session(session), property(property) {}
  virtual ~_CProductProperty() = default;
  UINT Fetch(WChar* buffer, DWORD* capacity) const;

 private:
  const CSession& session;
  const WString& property;
};

class _CComponentPath {
 public:
  _CComponentPath(const WString& product, const WString& component)
      : product(product), component(component) {}
  virtual ~_CComponentPath() = default;
  UINT Fetch(WChar* buffer, DWORD* capacity) const;

 private:
  const WString& product;
  const WString& component;
};

class _CProductInfo {
 public:
  _CProductInfo(const WString& product, const WString& property)
      : product(product), property(property) {}
  virtual ~_CProductInfo() = default;
  UINT Fetch(WChar* buffer, DWORD* capacity) const;

 private:
  const WString& product;
  const WString& property;
};

class _CFileVersion {
 public:
  _CFileVersion(const WString& path, bool language) : path(path), language(language) {}
  virtual ~_CFileVersion() = default;
  UINT Fetch(WChar* buffer, DWORD* capacity) const;

 private:
  const WString& path;
  bool language;
};

// Fetcher of the drive name of one entry of CSession::ComponentCosts. When `costs` is given,
// a successful read also stores the entry's cost and temporary cost there.
class _CComponenCosts {
 public:
  _CComponenCosts(const CSession* session, const WString* component, const DWORD* index,
                  const int* state, int* costs = nullptr)
      : session(session), component(component), index(index), state(state), costs(costs) {}
  virtual ~_CComponenCosts() = default;
  UINT Fetch(WChar* buffer, DWORD* capacity) const;

 private:
  const CSession* session;
  const WString* component;
  const DWORD* index;
  const int* state;
  int* costs;
};

// ---- Summary information ----

// The summary-information stream of a database or package. Changes live in the open handle
// until Persist writes them back; releasing the last sharer without Persist drops them.
class CSummaryInfo : public CMSIHANDLE {
 public:
  // One property by identifier (the platform's PID). Holds its own share of the handle, so it
  // stays usable after the CSummaryInfo is gone; every read and write is a platform call.
  class CSummaryInfoProperty {
   public:
    CSummaryInfoProperty(const CMSIHANDLE& info, UINT property) : info(info), property(property) {}
    // Reported getters: the value the platform filled in, 0 (VT_EMPTY, an all-zero time)
    // otherwise. A text property answers 234 to them, which is reported.
    UINT Type() const;
    int Int() const;
    // The low 16 bits of the integer, as a signed value.
    short Short() const;
    FILETIME FileTime() const;
    // The text value; empty for a property that holds none (not reported).
    WString String() const;
    // Setters, each with its type (VT_I4, VT_I2, VT_FILETIME, VT_LPSTR): the platform's code,
    // reported and returned.
    UINT Value(int value);
    UINT Value(short value);
    UINT Value(const FILETIME& value);
    UINT Value(const WString& value);
    // Fetcher of the buffered text fetch: the text part of MsiSummaryInfoGetPropertyW.
    UINT Fetch(WChar* buffer, DWORD* capacity) const;

   private:
    // One MsiSummaryInfoGetPropertyW call without text, reported with the getter's own
    // function text and line.
    void Read(const WChar* function, int line, UINT& type, int& value, FILETIME& time) const;

    CMSIHANDLE info;
    UINT property;
  };

  CSummaryInfo() = default;
  // Opens the stream of an open database or of the file at `path`; `maxProperties` is the
  // number of properties that may be changed (0 to read only). Handle 0 after a report.
  CSummaryInfo(const CDatabase& database, UINT maxProperties);
  CSummaryInfo(const WString& path, UINT maxProperties);

  // The number of properties set; 0 after a failure (reported).
  UINT PropertyCount() const;
  // Writes the changes into the database or package; the code is reported and returned.
  UINT Persist();
  CSummaryInfoProperty Property(UINT id) const { return CSummaryInfoProperty(*this, id); }
};

}  // namespace msistd
