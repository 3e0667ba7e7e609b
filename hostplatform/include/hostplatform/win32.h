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

// Record streams, files and temporary names
typedef struct HWND__* HWND;
typedef int* LPINT;
typedef UINT* PUINT;

struct OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};
typedef OVERLAPPED* LPOVERLAPPED;

#define MAX_PATH 260
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

#define ERROR_SHARING_VIOLATION 32u
#define ERROR_FILE_EXISTS 80u
#define ERROR_DISK_FULL 112u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_DIRECTORY 267u
#define ERROR_FILE_INVALID 1006u
#define ERROR_INSTALL_FAILURE 1603u
#define ERROR_UNKNOWN_PRODUCT 1605u
#define ERROR_UNKNOWN_FEATURE 1606u
#define ERROR_UNKNOWN_COMPONENT 1607u
#define ERROR_BAD_CONFIGURATION 1610u
#define ERROR_INSTALL_PACKAGE_OPEN_FAILED 1619u
#define ERROR_INSTALL_PACKAGE_INVALID 1620u
#define ERROR_INVALID_COMMAND_LINE 1639u
#define ERROR_INVALID_DATATYPE 1804u

UINT MsiRecordReadStream(MSIHANDLE record, UINT field, char* buffer, LPDWORD length);
UINT MsiRecordSetStreamW(MSIHANDLE record, UINT field, LPCWSTR path);

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flags, HANDLE templateFile);
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED overlapped);
BOOL ReadFile(HANDLE file, LPVOID data, DWORD count, LPDWORD read, LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE handle);
BOOL DeleteFileW(LPCWSTR path);
UINT GetTempFileNameW(LPCWSTR directory, LPCWSTR prefix, UINT unique, LPWSTR name);
DWORD GetLastError();
void SetLastError(DWORD code);

// Installer-wide operations, feature and component state and cost
enum INSTALLSTATE : int {
  INSTALLSTATE_NOTUSED = -7,
  INSTALLSTATE_BADCONFIG = -6,
  INSTALLSTATE_INCOMPLETE = -5,
  INSTALLSTATE_SOURCEABSENT = -4,
  INSTALLSTATE_MOREDATA = -3,
  INSTALLSTATE_INVALIDARG = -2,
  INSTALLSTATE_UNKNOWN = -1,
  INSTALLSTATE_BROKEN = 0,
  INSTALLSTATE_ADVERTISED = 1,
  INSTALLSTATE_REMOVED = 1,
  INSTALLSTATE_ABSENT = 2,
  INSTALLSTATE_LOCAL = 3,
  INSTALLSTATE_SOURCE = 4,
  INSTALLSTATE_DEFAULT = 5,
};

enum INSTALLUILEVEL : int {
  INSTALLUILEVEL_NOCHANGE = 0,
  INSTALLUILEVEL_DEFAULT = 1,
  INSTALLUILEVEL_NONE = 2,
  INSTALLUILEVEL_BASIC = 3,
  INSTALLUILEVEL_REDUCED = 4,
  INSTALLUILEVEL_FULL = 5,
  INSTALLUILEVEL_HIDECANCEL = 0x20,
  INSTALLUILEVEL_PROGRESSONLY = 0x40,
  INSTALLUILEVEL_ENDDIALOG = 0x80,
  INSTALLUILEVEL_SOURCERESONLY = 0x100,
};

enum MSICOSTTREE : int {
  MSICOSTTREE_SELFONLY = 0,
  MSICOSTTREE_CHILDREN = 1,
  MSICOSTTREE_PARENTS = 2,
  MSICOSTTREE_RESERVED = 3,
};

#define INSTALLLEVEL_DEFAULT 0
#define INSTALLLEVEL_MINIMUM 1
#define INSTALLLEVEL_MAXIMUM 0xFFFF
#define MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE 0x00000001u

UINT MsiEnumComponentsW(DWORD index, LPWSTR component);
UINT MsiEnumClientsW(LPCWSTR component, DWORD index, LPWSTR product);
INSTALLSTATE MsiGetComponentPathW(LPCWSTR product, LPCWSTR component, LPWSTR buffer,
                                  LPDWORD capacity);
UINT MsiGetProductInfoW(LPCWSTR product, LPCWSTR property, LPWSTR buffer, LPDWORD capacity);
UINT MsiGetFileVersionW(LPCWSTR path, LPWSTR version, LPDWORD versionCapacity, LPWSTR language,
                        LPDWORD languageCapacity);
UINT MsiGetProductPropertyW(MSIHANDLE product, LPCWSTR property, LPWSTR buffer,
                            LPDWORD capacity);
UINT MsiOpenProductW(LPCWSTR product, MSIHANDLE* session);
UINT MsiOpenPackageExW(LPCWSTR path, DWORD options, MSIHANDLE* session);
UINT MsiConfigureProductW(LPCWSTR product, int level, INSTALLSTATE state);
UINT MsiConfigureProductExW(LPCWSTR product, int level, INSTALLSTATE state, LPCWSTR command);
UINT MsiConfigureFeatureW(LPCWSTR product, LPCWSTR feature, INSTALLSTATE state);
UINT MsiInstallProductW(LPCWSTR path, LPCWSTR command);
INSTALLUILEVEL MsiSetInternalUI(INSTALLUILEVEL level, HWND* window);
UINT MsiGetFeatureUsageW(LPCWSTR product, LPCWSTR feature, LPDWORD count, WORD* date);
INSTALLSTATE MsiQueryFeatureStateW(LPCWSTR product, LPCWSTR feature);
MSIHANDLE MsiGetLastErrorRecord();

UINT MsiGetComponentStateW(MSIHANDLE install, LPCWSTR component, INSTALLSTATE* installed,
                           INSTALLSTATE* action);
UINT MsiSetComponentStateW(MSIHANDLE install, LPCWSTR component, INSTALLSTATE state);
UINT MsiGetFeatureStateW(MSIHANDLE install, LPCWSTR feature, INSTALLSTATE* installed,
                         INSTALLSTATE* action);
UINT MsiSetFeatureStateW(MSIHANDLE install, LPCWSTR feature, INSTALLSTATE state);
UINT MsiGetFeatureValidStatesW(MSIHANDLE install, LPCWSTR feature, LPDWORD states);
UINT MsiGetFeatureCostW(MSIHANDLE install, LPCWSTR feature, MSICOSTTREE tree, INSTALLSTATE state,
                        LPINT cost);
UINT MsiEnumComponentCostsW(MSIHANDLE install, LPCWSTR component, DWORD index,
                            INSTALLSTATE state, LPWSTR drive, LPDWORD capacity, LPINT cost,
                            LPINT tempCost);

// Summary information
enum VARENUM : int {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_LPSTR = 30,
  VT_FILETIME = 64,
};

#define PID_CODEPAGE 1u
#define PID_TITLE 2u
#define PID_SUBJECT 3u
#define PID_AUTHOR 4u
#define PID_KEYWORDS 5u
#define PID_COMMENTS 6u
#define PID_TEMPLATE 7u
#define PID_LASTAUTHOR 8u
#define PID_REVNUMBER 9u
#define PID_EDITTIME 10u
#define PID_LASTPRINTED 11u
#define PID_CREATE_DTM 12u
#define PID_LASTSAVE_DTM 13u
#define PID_PAGECOUNT 14u
#define PID_WORDCOUNT 15u
#define PID_CHARCOUNT 16u
#define PID_THUMBNAIL 17u
#define PID_APPNAME 18u
#define PID_SECURITY 19u

UINT MsiGetSummaryInformationW(MSIHANDLE database, LPCWSTR path, UINT updateCount,
                               MSIHANDLE* info);
UINT MsiSummaryInfoGetPropertyCount(MSIHANDLE info, PUINT count);
UINT MsiSummaryInfoGetPropertyW(MSIHANDLE info, UINT property, PUINT type, LPINT value,
                                PFILETIME time, LPWSTR buffer, LPDWORD capacity);
UINT MsiSummaryInfoSetPropertyW(MSIHANDLE info, UINT property, UINT type, INT value,
                                PFILETIME time, LPCWSTR text);
UINT MsiSummaryInfoPersist(MSIHANDLE info);
