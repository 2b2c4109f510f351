// The file calls of the platform that the installer uses: the system directory, attributes, copy
// and delete. Failures set the last error (GetLastError). A name in the system directory that
// differs from an existing file only in letter case means that file (system_lookup.h).
#pragma once

#include "platform/win/types.h"

constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x40;  // anything that is neither a file nor a folder: a pipe, a device
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0 };

struct WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;
  DWORD ftCreationTime[2];
  DWORD ftLastAccessTime[2];
  DWORD ftLastWriteTime[2];
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
};

extern "C" {
// The system directory of the machine root, without a trailing "/", readied on first use. Returns
// its length; when the buffer is too small, the size needed with the terminator, buffer untouched.
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);
// Links are followed: a link to a device is a device.
DWORD GetFileAttributesA(LPCSTR path);
// The attributes and the size (times are not kept here and read as 0). `info` is a
// WIN32_FILE_ATTRIBUTE_DATA for GetFileExInfoStandard, the only level.
BOOL GetFileAttributesExA(LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info);
// Copies contents, permissions and modification time. The copy is written beside the target and
// renamed onto it, so a process that has the old file mapped (a loaded module) keeps its copy and
// no reader ever sees half a file.
BOOL CopyFileA(LPCSTR existingPath, LPCSTR newPath, BOOL failIfExists);
BOOL DeleteFileA(LPCSTR path);
}
