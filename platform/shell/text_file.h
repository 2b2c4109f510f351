// Text-mode files, as the original's C runtime opens them: a CR LF pair reads as one LF, and every
// LF written is stored as CR LF. The result is an ordinary stdio stream (fgets, fputs, fclose).
#pragma once

#include <cstdio>

// Mode "r" (read), "w" (create or empty, write) or "a" (append). Null with errno set on failure.
// Opening a pipe to read does not wait for a writer (its reads do).
// A name in the system directory that differs from an existing file only in letter case opens
// that file.
FILE* OpenTextFile(const char* path, const char* mode);
