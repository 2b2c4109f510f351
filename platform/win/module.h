// Module loading: the platform's DLL calls over the dynamic loader. A module handle (HMODULE,
// HINSTANCE) is an object of this layer, not the loader's handle; it is what the module's DllMain
// receives and what GetModuleFileNameA and GetProcAddress accept.
//
// LoadLibraryA looks a name without a "/" up in the system directory, then beside the program,
// then in the current directory; in the system directory a file whose name differs only in letter
// case is found too, as the original's file system ignores case. "OleAut32.dll" (any case) is
// this platform library itself. The module's DllMain is called with DLL_PROCESS_ATTACH at its
// first load (a FALSE answer fails the load) and DLL_PROCESS_DETACH at its last FreeLibrary, under
// one process-wide loader lock, as on the platform. Thread notifications are never sent.
#pragma once

#include <string>

#include "platform/win/last_error.h"
#include "platform/win/types.h"

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;
constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
constexpr DWORD ERROR_DLL_INIT_FAILED = 1114;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x2;
constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;

// The platform's FARPROC returns INT_PTR; void() is the one function type that GCC lets a caller
// cast to the export's real type without a warning.
using FARPROC = void (*)();
using DllMainProc = BOOL (*)(HINSTANCE instance, DWORD reason, LPVOID reserved);

extern "C" {
// Null with GetLastError: ERROR_MOD_NOT_FOUND (no such file), ERROR_BAD_EXE_FORMAT (not a
// loadable module), ERROR_DLL_INIT_FAILED (its DllMain refused).
HMODULE LoadLibraryA(LPCSTR fileName);
BOOL FreeLibrary(HMODULE module);
// Finds only the module's own exports, not those of the libraries it uses.
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
// The full path of a loaded module, or of the program for a null module. Returns the characters
// written without the terminator; a buffer too small receives a truncated, terminated path, the
// result is the buffer size and the last error ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
// A module already loaded, by file name (letter case ignored) or full path; the program for null.
// Adds no reference.
HMODULE GetModuleHandleA(LPCSTR moduleName);
// With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, the module that holds the address `moduleName`
// points at, however it was loaded (LoadLibraryA, or the dynamic loader directly, which calls no
// DllMain); only together with GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT: the handle adds no
// reference. Otherwise as GetModuleHandleA. ERROR_MOD_NOT_FOUND when no module holds the address.
BOOL GetModuleHandleExA(DWORD flags, LPCSTR moduleName, HMODULE* module);
BOOL DisableThreadLibraryCalls(HMODULE module);
}

// The loader's own words for the last failed LoadLibraryA on this thread (for regsvr32's message).
std::string ModuleLoadFailureText();
