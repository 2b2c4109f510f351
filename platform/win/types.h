// Base types of the platform, with the widths the system was written for.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using UINT = uint32_t;
using INT = int32_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using BOOL = int32_t;
using HRESULT = int32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using QWORD = uint64_t;
using CHAR = char;
using WCHAR = char16_t;  // UTF-16 code unit; wchar_t is 4 bytes here and never used for text
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPVOID = void*;
using LPCVOID = const void*;
using SIZE_T = size_t;
using ULONG_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using DWORD_PTR = uintptr_t;
using LPARAM = intptr_t;
using WPARAM = uintptr_t;
using HANDLE = void*;
using HINSTANCE = void*;
using HMODULE = void*;
using HWND = void*;
using HKEY = void*;

// 100-nanosecond units.
using REFERENCE_TIME = int64_t;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define WINAPI
#define STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT
#define MAX_PATH 260

static_assert(sizeof(WCHAR) == 2 && sizeof(LONG) == 4 && sizeof(BOOL) == 4 && sizeof(REFERENCE_TIME) == 8);
