// wsprintfA: the platform's small formatter. Knows %c %C %d %i %u %x %X %s %S and %%, with the
// flags - 0 #, a width, a precision, and the sizes h, l (32 bits, as on the platform), ll and I64.
// In this narrow form %s and %hs take a narrow text, %ls, %ws and %S a wide (UTF-16) text, which is
// written as UTF-8. Output stops at 1024 bytes with the terminator, as on the platform.
#pragma once

#include <cstdarg>

#include "platform/win/types.h"

extern "C" {
int wsprintfA(LPSTR out, LPCSTR format, ...);
int wvsprintfA(LPSTR out, LPCSTR format, va_list arguments);
}
