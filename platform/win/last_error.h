// The calling thread's last Win32 error, set by the platform calls that report failure that way
// (module loading, file operations).
#pragma once

#include "platform/win/types.h"

extern "C" {
DWORD GetLastError();
void SetLastError(DWORD error);
}
