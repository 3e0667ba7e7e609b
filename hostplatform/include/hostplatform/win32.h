// Declarations of the Windows calls the library makes, with the Windows names and
// argument shapes, for host builds. Text is UTF-16 in char16_t (wchar_t is 32-bit here).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

typedef uint32_t UINT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int32_t INT;
typedef int BOOL;
typedef uint16_t WORD;
typedef unsigned char BYTE;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef size_t SIZE_T;
typedef uintptr_t ULONG_PTR;
typedef int32_t HRESULT;
typedef uint32_t REGSAM;
typedef uint32_t MSIHANDLE;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
typedef FILETIME* PFILETIME;
typedef FILETIME* LPFILETIME;

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#define TRUE 1
#define FALSE 0
#define WINAPI

#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_PATH_NOT_FOUND 3u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_DATA 13u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_OPEN_FAILED 110u
#define ERROR_BAD_PATHNAME 161u
#define ERROR_MORE_DATA 234u
#define ERROR_NO_MORE_ITEMS 259u
#define ERROR_NO_TOKEN 1008u
#define ERROR_UNKNOWN_PROPERTY 1608u
#define ERROR_INVALID_HANDLE_STATE 1609u
#define ERROR_BAD_QUERY_SYNTAX 1615u
#define ERROR_INVALID_FIELD 1616u
#define ERROR_FUNCTION_FAILED 1627u
#define ERROR_INVALID_TABLE 1628u
#define ERROR_DATATYPE_MISMATCH 1629u

#define MSI_NULL_INTEGER ((int)0x80000000)

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x0100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x0200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x1000u

#define HEAP_ZERO_MEMORY 0x0008u

enum INSTALLMESSAGE : int {
  INSTALLMESSAGE_FATALEXIT = 0x00000000,
  INSTALLMESSAGE_ERROR = 0x01000000,
  INSTALLMESSAGE_WARNING = 0x02000000,
  INSTALLMESSAGE_USER = 0x03000000,
  INSTALLMESSAGE_INFO = 0x04000000,
  INSTALLMESSAGE_ACTIONSTART = 0x08000000,
  INSTALLMESSAGE_ACTIONDATA = 0x09000000,
  INSTALLMESSAGE_PROGRESS = 0x0A000000,
};

enum MSIMODIFY : int {
  MSIMODIFY_SEEK = -1,
  MSIMODIFY_REFRESH = 0,
  MSIMODIFY_INSERT = 1,
  MSIMODIFY_UPDATE = 2,
  MSIMODIFY_ASSIGN = 3,
  MSIMODIFY_REPLACE = 4,
  MSIMODIFY_MERGE = 5,
  MSIMODIFY_DELETE = 6,
  MSIMODIFY_INSERT_TEMPORARY = 7,
  MSIMODIFY_VALIDATE = 8,
  MSIMODIFY_VALIDATE_NEW = 9,
  MSIMODIFY_VALIDATE_FIELD = 10,
  MSIMODIFY_VALIDATE_DELETE = 11,
};

enum MSICOLINFO : int {
  MSICOLINFO_NAMES = 0,
  MSICOLINFO_TYPES = 1,
};

enum MSIDBERROR : int {
  MSIDBERROR_INVALIDARG = -3,
  MSIDBERROR_MOREDATA = -2,
  MSIDBERROR_FUNCTIONERROR = -1,
  MSIDBERROR_NOERROR = 0,
};

// Persist modes of MsiOpenDatabaseW: small integers passed in the pointer argument.
#define MSIDBOPEN_READONLY ((LPCWSTR)0)
#define MSIDBOPEN_TRANSACT ((LPCWSTR)1)
#define MSIDBOPEN_DIRECT ((LPCWSTR)2)
#define MSIDBOPEN_CREATE ((LPCWSTR)3)
#define MSIDBOPEN_CREATEDIRECT ((LPCWSTR)4)

// Windows Installer (msi.dll)
UINT MsiCloseHandle(MSIHANDLE handle);
MSIHANDLE MsiCreateRecord(UINT fieldCount);
UINT MsiRecordGetFieldCount(MSIHANDLE record);
UINT MsiRecordClearData(MSIHANDLE record);
int MsiRecordGetInteger(MSIHANDLE record, UINT field);
BOOL MsiRecordIsNull(MSIHANDLE record, UINT field);
UINT MsiRecordDataSize(MSIHANDLE record, UINT field);
UINT MsiRecordSetStringW(MSIHANDLE record, UINT field, LPCWSTR value);
UINT MsiRecordSetInteger(MSIHANDLE record, UINT field, int value);
UINT MsiRecordGetStringW(MSIHANDLE record, UINT field, LPWSTR buffer, LPDWORD capacity);
UINT MsiFormatRecordW(MSIHANDLE install, MSIHANDLE record, LPWSTR buffer, LPDWORD capacity);
int MsiProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record);
UINT MsiDoActionW(MSIHANDLE install, LPCWSTR action);
MSIHANDLE MsiGetActiveDatabase(MSIHANDLE install);
UINT MsiGetPropertyW(MSIHANDLE install, LPCWSTR name, LPWSTR buffer, LPDWORD capacity);
UINT MsiSetPropertyW(MSIHANDLE install, LPCWSTR name, LPCWSTR value);
UINT MsiGetTargetPathW(MSIHANDLE install, LPCWSTR folder, LPWSTR buffer, LPDWORD capacity);
UINT MsiSetTargetPathW(MSIHANDLE install, LPCWSTR folder, LPCWSTR path);
UINT MsiGetSourcePathW(MSIHANDLE install, LPCWSTR folder, LPWSTR buffer, LPDWORD capacity);
UINT MsiOpenDatabaseW(LPCWSTR path, LPCWSTR persist, MSIHANDLE* database);
UINT MsiDatabaseOpenViewW(MSIHANDLE database, LPCWSTR query, MSIHANDLE* view);
UINT MsiViewExecute(MSIHANDLE view, MSIHANDLE parameters);
UINT MsiViewFetch(MSIHANDLE view, MSIHANDLE* record);
UINT MsiViewModify(MSIHANDLE view, MSIMODIFY action, MSIHANDLE record);
UINT MsiViewGetColumnInfo(MSIHANDLE view, MSICOLINFO info, MSIHANDLE* record);
UINT MsiViewClose(MSIHANDLE view);
MSIDBERROR MsiViewGetErrorW(MSIHANDLE view, LPWSTR buffer, LPDWORD capacity);

// Registry (advapi32)
LONG RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCreateKeyExW(HKEY root, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                     REGSAM access, const LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition);
LONG RegCloseKey(HKEY key);
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPDWORD type, LPBYTE data, LPDWORD dataSize);
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                   LPWSTR keyClass, LPDWORD classLength, PFILETIME lastWrite);
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegDeleteValueW(HKEY key, LPCWSTR name);

// Kernel, COM
void OutputDebugStringW(LPCWSTR text);
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                     DWORD size, va_list* arguments);
HLOCAL LocalFree(HLOCAL memory);
DWORD GetFullPathNameW(LPCWSTR path, DWORD capacity, LPWSTR buffer, LPWSTR* filePart);
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory);
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();
