// Summary information: one property set per database, read and changed through handles that
// each work on their own copy until MsiSummaryInfoPersist writes it back.
#include <stdexcept>

#include "internal.h"

namespace hostplatform {
namespace {

using hostctl::DatabaseId;
using hostctl::SummaryValue;
using Properties = std::map<UINT, SummaryValue>;

// Thumbnails (PID_THUMBNAIL) are clipboard data, which the installer does not take.
constexpr UINT kClipboardType = 71;

struct SummaryState {
  std::map<DatabaseId, Properties> stores;
};

SummaryState& State() {
  static SummaryState state;
  return state;
}

struct SummaryHandle : Object {
  DatabaseId database = 0;
  UINT updateCount = 0;
  Properties values;
};

// The one type each property identifier holds; 0 for an identifier the installer does not know.
UINT TypeOf(UINT property) {
  switch (property) {
    case PID_CODEPAGE:
      return VT_I2;
    case PID_TITLE:
    case PID_SUBJECT:
    case PID_AUTHOR:
    case PID_KEYWORDS:
    case PID_COMMENTS:
    case PID_TEMPLATE:
    case PID_LASTAUTHOR:
    case PID_REVNUMBER:
    case PID_APPNAME:
      return VT_LPSTR;
    case PID_EDITTIME:
    case PID_LASTPRINTED:
    case PID_CREATE_DTM:
    case PID_LASTSAVE_DTM:
      return VT_FILETIME;
    case PID_PAGECOUNT:
    case PID_WORDCOUNT:
    case PID_CHARCOUNT:
    case PID_SECURITY:
      return VT_I4;
    case PID_THUMBNAIL:
      return kClipboardType;
    default:
      return 0;
  }
}

std::shared_ptr<SummaryHandle> FindSummary(MSIHANDLE handle) { return Find<SummaryHandle>(handle); }

}  // namespace

void ResetSummary() { State() = SummaryState(); }

}  // namespace hostplatform

using hostplatform::Enter;

UINT MsiGetSummaryInformationW(MSIHANDLE database, LPCWSTR path, UINT updateCount,
                               MSIHANDLE* info) {
  if (info) *info = 0;
  if (auto failed = Enter("MsiGetSummaryInformationW")) return static_cast<UINT>(*failed);
  if (!info) return ERROR_INVALID_PARAMETER;
  hostctl::DatabaseId id = 0;
  if (database != 0) {
    id = hostplatform::DatabaseOfHandle(database);
    if (id == 0) return ERROR_INVALID_HANDLE;
  } else {
    if (!path) return ERROR_INVALID_PARAMETER;
    id = hostplatform::DatabaseOfPath(path);
    if (id == 0) return ERROR_FUNCTION_FAILED;
  }
  auto handle = std::make_shared<hostplatform::SummaryHandle>();
  handle->database = id;
  handle->updateCount = updateCount;
  handle->values = hostplatform::State().stores[id];
  *info = hostplatform::NewHandle(handle);
  return ERROR_SUCCESS;
}

UINT MsiSummaryInfoGetPropertyCount(MSIHANDLE info, PUINT count) {
  if (auto failed = Enter("MsiSummaryInfoGetPropertyCount")) return static_cast<UINT>(*failed);
  auto summary = hostplatform::FindSummary(info);
  if (!summary) return ERROR_INVALID_HANDLE;
  if (!count) return ERROR_INVALID_PARAMETER;
  *count = static_cast<UINT>(summary->values.size());
  return ERROR_SUCCESS;
}

UINT MsiSummaryInfoGetPropertyW(MSIHANDLE info, UINT property, PUINT type, LPINT value,
                                PFILETIME time, LPWSTR buffer, LPDWORD capacity) {
  if (auto failed = Enter("MsiSummaryInfoGetPropertyW")) return static_cast<UINT>(*failed);
  auto summary = hostplatform::FindSummary(info);
  if (!summary) return ERROR_INVALID_HANDLE;
  if (hostplatform::TypeOf(property) == 0) return ERROR_UNKNOWN_PROPERTY;
  auto found = summary->values.find(property);
  if (found == summary->values.end()) {
    if (type) *type = VT_EMPTY;
    return ERROR_SUCCESS;
  }
  const hostctl::SummaryValue& stored = found->second;
  if (type) *type = stored.type;
  switch (stored.type) {
    case VT_I2:
    case VT_I4:
      if (value) *value = stored.integer;
      return ERROR_SUCCESS;
    case VT_FILETIME:
      if (time) *time = stored.time;
      return ERROR_SUCCESS;
    case VT_LPSTR:
      // Without a count there is nowhere to say how long the text is.
      if (!capacity) return buffer ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
      return hostplatform::CopyOut(stored.text, buffer, capacity);
    default:
      return ERROR_SUCCESS;
  }
}

UINT MsiSummaryInfoSetPropertyW(MSIHANDLE info, UINT property, UINT type, INT value, PFILETIME time,
                                LPCWSTR text) {
  if (auto failed = Enter("MsiSummaryInfoSetPropertyW")) return static_cast<UINT>(*failed);
  auto summary = hostplatform::FindSummary(info);
  if (!summary) return ERROR_INVALID_HANDLE;
  // An unknown identifier takes no type at all, so any type mismatches.
  UINT expected = hostplatform::TypeOf(property);
  if (expected == 0 || expected == hostplatform::kClipboardType || type != expected)
    return ERROR_DATATYPE_MISMATCH;
  if ((type == VT_FILETIME && !time) || (type == VT_LPSTR && !text)) return ERROR_INVALID_PARAMETER;
  // Even a handle opened for reading takes changes; only persisting them is refused.
  hostctl::SummaryValue stored;
  stored.type = type;
  if (type == VT_I2) stored.integer = static_cast<int16_t>(value & 0xFFFF);
  if (type == VT_I4) stored.integer = value;
  if (type == VT_FILETIME) stored.time = *time;
  if (type == VT_LPSTR) stored.text = text;
  summary->values[property] = stored;
  return ERROR_SUCCESS;
}

UINT MsiSummaryInfoPersist(MSIHANDLE info) {
  if (auto failed = Enter("MsiSummaryInfoPersist")) return static_cast<UINT>(*failed);
  auto summary = hostplatform::FindSummary(info);
  if (!summary) return ERROR_INVALID_HANDLE;
  if (summary->updateCount == 0) return ERROR_FUNCTION_FAILED;
  hostplatform::State().stores[summary->database] = summary->values;
  return ERROR_SUCCESS;
}

namespace hostctl {

void SetSummaryProperty(DatabaseId database, UINT property, const SummaryValue& value) {
  UINT expected = hostplatform::TypeOf(property);
  if (expected == 0 || value.type != expected)
    throw std::invalid_argument("hostctl::SetSummaryProperty: property " +
                                std::to_string(property) + " does not take type " +
                                std::to_string(value.type));
  hostplatform::State().stores[database][property] = value;
}

std::map<UINT, SummaryValue> SummaryProperties(DatabaseId database) {
  auto& stores = hostplatform::State().stores;
  auto found = stores.find(database);
  return found == stores.end() ? std::map<UINT, SummaryValue>() : found->second;
}

}  // namespace hostctl
