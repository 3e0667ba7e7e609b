// Records, the installer's text buffer convention, and record formatting.
#include <cstdint>
#include <string>
#include <variant>

#include "internal.h"

namespace hostplatform {
namespace {

// The most fields a record can have on Windows.
constexpr UINT kMaxFieldCount = 65535;
// A stream field has no text form; the installer refuses to read it as one.
constexpr UINT kErrorInvalidDatatype = 1804;

Text Decimal(int value) {
  std::string digits = std::to_string(value);
  return Text(digits.begin(), digits.end());
}

// The field as MsiRecordGetStringW reads it: integers in decimal, null and streams empty.
Text FieldText(const Record& record, size_t field) {
  if (field >= record.fields.size()) return Text();
  const Cell& cell = record.fields[field];
  if (const auto* number = std::get_if<int>(&cell)) return Decimal(*number);
  if (const auto* text = std::get_if<Text>(&cell)) return *text;
  return Text();
}

// A whole text of the form [-]digits that fits an int; anything else is not a number.
std::optional<int> ParseDecimal(const Text& text) {
  size_t index = 0;
  bool negative = !text.empty() && text[0] == u'-';
  if (negative) ++index;
  if (index == text.size()) return std::nullopt;
  int64_t value = 0;
  for (; index < text.size(); ++index) {
    if (text[index] < u'0' || text[index] > u'9') return std::nullopt;
    value = value * 10 + (text[index] - u'0');
    if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<int>(value);
}

bool IsFieldReference(const Text& key) {
  if (key.empty()) return false;
  for (char16_t c : key)
    if (c < u'0' || c > u'9') return false;
  return true;
}

// Field n of a reference [n]: empty when the field is null, a stream, or out of range. [0] is
// the template itself, inserted as written (the installer does so: a logged text holding
// "[0]" shows its whole text again in that place).
Text ReferencedField(const Record& record, const Text& digits) {
  size_t field = 0;
  for (char16_t c : digits) {
    field = field * 10 + static_cast<size_t>(c - u'0');
    if (field >= record.fields.size()) return Text();
  }
  return FieldText(record, field);
}

// What one bracket resolves to, or nothing when it stays as written. Without a session only
// field references are resolved, as the installer does outside an installation.
std::optional<Text> ResolveBracket(const Session* session, const Record& record, const Text& key) {
  if (IsFieldReference(key)) return ReferencedField(record, key);
  if (!session || key.empty()) return std::nullopt;
  if (key == u"~") return Text(1, u'\0');
  switch (key[0]) {
    case u'\\':
      return key.substr(1, 1);
    case u'%':  // environment variables: the host has no Windows environment
    case u'#':  // file paths, file short paths and component directories need a costed install
    case u'!':
    case u'$':
      return Text();
    default:
      break;
  }
  auto found = session->properties.find(key);
  return found == session->properties.end() ? Text() : found->second;
}

// Brackets resolve innermost first: each '[' is remembered by its position in the output, and
// its ']' replaces everything from there with the resolved text. Text that came from a
// resolution is never scanned again, so a property value is inserted verbatim, while a nested
// [[NAME]] uses the inner value as the outer name. An unmatched '[' or ']' stays literal.
Text FormatTemplate(const Session* session, const Record& record, const Text& pattern) {
  Text out;
  std::vector<size_t> open;
  for (size_t index = 0; index < pattern.size(); ++index) {
    char16_t c = pattern[index];
    bool escape = c == u'[' && index + 3 < pattern.size() && pattern[index + 1] == u'\\' &&
                  pattern[index + 3] == u']';
    if (escape) {
      if (session)
        out += pattern[index + 2];
      else
        out.append(pattern, index, 4);
      index += 3;
    } else if (c == u'[') {
      open.push_back(out.size());
      out += c;
    } else if (c == u']' && !open.empty()) {
      size_t start = open.back();
      open.pop_back();
      if (auto resolved = ResolveBracket(session, record, out.substr(start + 1))) {
        out.resize(start);
        out += *resolved;
      } else {
        out += c;
      }
    } else {
      out += c;
    }
  }
  return out;
}

std::shared_ptr<Record> FindRecord(MSIHANDLE handle) { return Find<Record>(handle); }

}  // namespace

Text FormatRecord(const Session* session, const Record& record) {
  Text pattern = FieldText(record, 0);
  if (!pattern.empty()) return FormatTemplate(session, record, pattern);
  // A null template lists the fields: "1: a 2: b ".
  Text out;
  for (size_t field = 1; field < record.fields.size(); ++field)
    out += Decimal(static_cast<int>(field)) + u": " + FieldText(record, field) + u" ";
  return out;
}

UINT CopyOut(const Text& text, LPWSTR buffer, LPDWORD capacity) {
  if (!capacity) return ERROR_INVALID_PARAMETER;
  DWORD room = *capacity;
  auto length = static_cast<DWORD>(text.size());
  *capacity = length;
  // A null buffer asks only for the length (the documented answer).
  if (!buffer) return ERROR_SUCCESS;
  if (length < room) {
    text.copy(buffer, length);
    buffer[length] = u'\0';
    return ERROR_SUCCESS;
  }
  if (room > 0) {
    text.copy(buffer, room - 1);
    buffer[room - 1] = u'\0';
  }
  return ERROR_MORE_DATA;
}

}  // namespace hostplatform

using hostplatform::FindRecord;
using hostplatform::Record;

MSIHANDLE MsiCreateRecord(UINT fieldCount) {
  if (auto failed = hostplatform::Enter("MsiCreateRecord")) return static_cast<MSIHANDLE>(*failed);
  if (fieldCount > hostplatform::kMaxFieldCount) return 0;
  auto record = std::make_shared<Record>();
  record->fields.resize(size_t{fieldCount} + 1);
  return hostplatform::NewHandle(record);
}

UINT MsiRecordGetFieldCount(MSIHANDLE handle) {
  if (auto failed = hostplatform::Enter("MsiRecordGetFieldCount"))
    return static_cast<UINT>(*failed);
  auto record = FindRecord(handle);
  return record ? static_cast<UINT>(record->fields.size() - 1) : 0xFFFFFFFFu;
}

UINT MsiRecordClearData(MSIHANDLE handle) {
  if (auto failed = hostplatform::Enter("MsiRecordClearData")) return static_cast<UINT>(*failed);
  auto record = FindRecord(handle);
  if (!record) return ERROR_INVALID_HANDLE;
  for (auto& cell : record->fields) cell = std::monostate();
  return ERROR_SUCCESS;
}

int MsiRecordGetInteger(MSIHANDLE handle, UINT field) {
  if (auto failed = hostplatform::Enter("MsiRecordGetInteger")) return static_cast<int>(*failed);
  auto record = FindRecord(handle);
  if (!record || field >= record->fields.size()) return MSI_NULL_INTEGER;
  const hostplatform::Cell& cell = record->fields[field];
  if (const auto* number = std::get_if<int>(&cell)) return *number;
  if (const auto* text = std::get_if<hostplatform::Text>(&cell))
    return hostplatform::ParseDecimal(*text).value_or(MSI_NULL_INTEGER);
  return MSI_NULL_INTEGER;
}

BOOL MsiRecordIsNull(MSIHANDLE handle, UINT field) {
  if (auto failed = hostplatform::Enter("MsiRecordIsNull")) return static_cast<BOOL>(*failed);
  auto record = FindRecord(handle);
  if (!record) return FALSE;
  // A field beyond the count reads as null, as documented.
  if (field >= record->fields.size()) return TRUE;
  return std::holds_alternative<std::monostate>(record->fields[field]) ? TRUE : FALSE;
}

UINT MsiRecordDataSize(MSIHANDLE handle, UINT field) {
  if (auto failed = hostplatform::Enter("MsiRecordDataSize")) return static_cast<UINT>(*failed);
  auto record = FindRecord(handle);
  if (!record || field >= record->fields.size()) return 0;
  const hostplatform::Cell& cell = record->fields[field];
  if (std::holds_alternative<int>(cell)) return sizeof(int);
  if (const auto* text = std::get_if<hostplatform::Text>(&cell))
    return static_cast<UINT>(text->size());
  if (const auto* bytes = std::get_if<hostplatform::Bytes>(&cell))
    return static_cast<UINT>(bytes->size());
  return 0;
}

UINT MsiRecordSetStringW(MSIHANDLE handle, UINT field, LPCWSTR value) {
  if (auto failed = hostplatform::Enter("MsiRecordSetStringW")) return static_cast<UINT>(*failed);
  auto record = FindRecord(handle);
  if (!record) return ERROR_INVALID_HANDLE;
  if (field >= record->fields.size()) return ERROR_INVALID_FIELD;
  // A null or empty text makes the field null.
  if (!value || !*value)
    record->fields[field] = std::monostate();
  else
    record->fields[field] = hostplatform::Text(value);
  return ERROR_SUCCESS;
}

UINT MsiRecordSetInteger(MSIHANDLE handle, UINT field, int value) {
  if (auto failed = hostplatform::Enter("MsiRecordSetInteger")) return static_cast<UINT>(*failed);
  auto record = FindRecord(handle);
  if (!record) return ERROR_INVALID_HANDLE;
  if (field >= record->fields.size()) return ERROR_INVALID_FIELD;
  if (value == MSI_NULL_INTEGER)
    record->fields[field] = std::monostate();
  else
    record->fields[field] = value;
  return ERROR_SUCCESS;
}

UINT MsiRecordGetStringW(MSIHANDLE handle, UINT field, LPWSTR buffer, LPDWORD capacity) {
  if (auto failed = hostplatform::Enter("MsiRecordGetStringW")) return static_cast<UINT>(*failed);
  auto record = FindRecord(handle);
  if (!record) return ERROR_INVALID_HANDLE;
  if (field < record->fields.size() &&
      std::holds_alternative<hostplatform::Bytes>(record->fields[field]))
    return hostplatform::kErrorInvalidDatatype;
  return hostplatform::CopyOut(hostplatform::FieldText(*record, field), buffer, capacity);
}

UINT MsiFormatRecordW(MSIHANDLE install, MSIHANDLE handle, LPWSTR buffer, LPDWORD capacity) {
  if (auto failed = hostplatform::Enter("MsiFormatRecordW")) return static_cast<UINT>(*failed);
  auto record = FindRecord(handle);
  if (!record) return ERROR_INVALID_HANDLE;
  std::shared_ptr<hostplatform::Session> session;
  if (install != 0) {
    session = hostplatform::Find<hostplatform::Session>(install);
    if (!session) return ERROR_INVALID_HANDLE;
  }
  return hostplatform::CopyOut(hostplatform::FormatRecord(session.get(), *record), buffer,
                               capacity);
}
