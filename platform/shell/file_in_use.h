// The file-in-use test. On the original platform a file cannot be opened for writing while a
// process runs it as a module or holds it open without sharing; here the same holds while any
// process has the file mapped (a loaded module, a running program) or holds a lock on it (flock,
// POSIX or open-file-description locks).
#pragma once

#include "platform/win/types.h"

extern "C" {
// Whether the file could be opened for writing now: ERROR_SUCCESS when it could,
// ERROR_FILE_NOT_FOUND when there is no file, ERROR_SHARING_VIOLATION while it is in use, another
// error when writing is refused otherwise. The file's content, size and times are unchanged and
// nothing is created.
DWORD CheckFileWritableA(LPCSTR path);
}
