// Event objects: a flag that threads wait on, set and reset by others. Handles are checked, so a
// stale or made-up handle fails instead of touching freed memory.
#pragma once

#include "platform/win/types.h"

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

extern "C" {
// A manual-reset event stays set until ResetEvent; an auto-reset one lets one waiter through.
// The attributes and the name are not supported and must be null.
HANDLE CreateEventA(void* attributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL CloseHandle(HANDLE handle);
}
