// The registry: hives of keys holding typed values, shared by every process of the machine.
// It lives in an SQLite database at RegistryDatabasePath() (platform/shell/machine_root.h); each
// call is one transaction, so concurrent processes never lose each other's writes.
//
// Results are Win32 error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA,
// ERROR_NO_MORE_ITEMS...), as the platform returns them.
//
// Handle rules: a handle names the key it was opened on, not its path. Once that key is deleted
// (by this or another process) every call on the handle answers ERROR_KEY_DELETED, also after a key
// of the same name is created again; only RegCloseKey still works. A handle checks the access it
// was opened with (KEY_QUERY_VALUE to read values, KEY_SET_VALUE to write them,
// KEY_ENUMERATE_SUB_KEYS to enumerate, KEY_CREATE_SUB_KEY to create below it): ERROR_ACCESS_DENIED
// otherwise. The predefined hive handles allow everything and need no closing. A handle that is not
// open (closed twice, never opened, opened under another machine root) is ERROR_INVALID_HANDLE.
//
// Key and value names compare without regard to ASCII letter case and keep the case they were
// created with. HKEY_CLASSES_ROOT, HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER are separate hives.
#pragma once

#include "platform/win/status.h"

using REGSAM = DWORD;
using PHKEY = HKEY*;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct SECURITY_ATTRIBUTES {
  DWORD nLength;
  void* lpSecurityDescriptor;
  BOOL bInheritHandle;
};

// The predefined hives, with the platform's (sign-extended) handle values.
#define PELISTRA_PREDEFINED_HKEY(value) \
  (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(value)))))
#define HKEY_CLASSES_ROOT PELISTRA_PREDEFINED_HKEY(0x80000000u)
#define HKEY_CURRENT_USER PELISTRA_PREDEFINED_HKEY(0x80000001u)
#define HKEY_LOCAL_MACHINE PELISTRA_PREDEFINED_HKEY(0x80000002u)

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM DELETE_ACCESS = 0x00010000;  // the platform's DELETE, renamed: DELETE is too common a word
constexpr REGSAM READ_CONTROL = 0x00020000;
constexpr REGSAM STANDARD_RIGHTS_READ = READ_CONTROL;
constexpr REGSAM STANDARD_RIGHTS_WRITE = READ_CONTROL;
constexpr REGSAM STANDARD_RIGHTS_ALL = 0x001F0000;
constexpr REGSAM SYNCHRONIZE_ACCESS = 0x00100000;
constexpr REGSAM MAXIMUM_ALLOWED = 0x02000000;
constexpr REGSAM KEY_READ = STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
constexpr REGSAM KEY_WRITE = STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
constexpr REGSAM KEY_EXECUTE = KEY_READ;
constexpr REGSAM KEY_ALL_ACCESS = STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY |
                                  KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | KEY_CREATE_LINK;

// RegCreateKeyExA options (volatile keys are kept like the others) and dispositions.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Win32 error codes the registry returns besides those in status.h.
constexpr DWORD ERROR_BAD_PATHNAME = 161;
constexpr DWORD ERROR_BUSY = 170;
constexpr DWORD ERROR_NOACCESS = 998;

extern "C" {
// Creates the key and any missing keys on the way, or opens it; full access.
LONG RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM access,
                     const SECURITY_ATTRIBUTES* security, PHKEY result, DWORD* disposition);
// Opens an existing key; a null or empty subKey opens the key itself again.
LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LONG RegCloseKey(HKEY key);

// Sets the default value of subKey (created when missing) to a REG_SZ; the length is taken from
// the text, as the platform does.
LONG RegSetValueA(HKEY key, LPCSTR subKey, DWORD type, LPCSTR data, DWORD size);
// The bytes are kept as given, with their type; a null or empty name is the default value.
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
// With a null data pointer only the size is reported. A buffer too small: ERROR_MORE_DATA, the
// size needed in *size, the buffer untouched. The type is reported in every case it is known.
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
// The default value of subKey as text; a key without one reads as the empty text.
LONG RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR data, LONG* size);
LONG RegDeleteValueA(HKEY key, LPCSTR valueName);

// Enumerates in case-insensitive name order. *nameLength: in, the buffer's size in characters
// with the terminator; out, the name's length without it. ERROR_MORE_DATA when the name does not
// fit; ERROR_NO_MORE_ITEMS past the last one. Keys have no class and no write time here (empty, 0).
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameLength, DWORD* reserved, LPSTR keyClass,
                   DWORD* classLength, FILETIME* lastWriteTime);
LONG RegEnumValueA(HKEY key, DWORD index, LPSTR name, DWORD* nameLength, DWORD* reserved, DWORD* type, BYTE* data,
                   DWORD* size);

// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED while it has some, as on the platform).
// An empty subKey deletes the key the handle names; a predefined hive cannot be deleted.
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);
// Deletes a key with everything below it (a null subKey: everything below the handle's key,
// which stays).
LONG RegDeleteTreeA(HKEY key, LPCSTR subKey);
}

// Runs `work` as one registry transaction: the Reg* calls it makes on this thread join it and
// either all take effect or, when `work` returns anything but ERROR_SUCCESS, none does. Other
// threads and processes wait meanwhile. Used where several calls must read as one change (a filter
// registration).
template <class Work>
LONG RegistryTransaction(Work&& work);

// Closes this process's database connection (tests that remove a machine root; it reopens on the
// next call). Open handles become invalid.
void RegistryCloseDatabase();

// --- implementation of the template above ---
LONG RegistryBeginTransaction();
LONG RegistryEndTransaction(bool commit);

template <class Work>
LONG RegistryTransaction(Work&& work) {
  LONG result = RegistryBeginTransaction();
  if (result != static_cast<LONG>(ERROR_SUCCESS)) return result;
  try {
    result = work();
  } catch (...) {
    result = static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY);
  }
  LONG end = RegistryEndTransaction(result == static_cast<LONG>(ERROR_SUCCESS));
  return result != static_cast<LONG>(ERROR_SUCCESS) ? result : end;
}
