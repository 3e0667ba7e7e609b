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

   private:
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

 private:
  CMSIHANDLE session;
};

WStringList Split(const WString& text, const WString& separators);

}  // namespace msistd
