// Text conversion between the "ANSI" code page and UTF-16. The ANSI code page of this platform is
// UTF-8, so CP_ACP, CP_OEMCP, CP_THREAD_ACP and CP_UTF8 all mean UTF-8.
#pragma once

#include "platform/win/types.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_MACCP = 2;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_PRECOMPOSED = 0x1;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

extern "C" {
// A source length of -1 converts up to and including the terminator. A destination size of 0
// asks for the size needed. Returns the characters written, or 0 with GetLastError set
// (ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER, ERROR_NO_UNICODE_TRANSLATION).
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes, LPWSTR target, int targetChars);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceChars, LPSTR target, int targetBytes,
                        LPCSTR defaultChar, BOOL* usedDefaultChar);
}
