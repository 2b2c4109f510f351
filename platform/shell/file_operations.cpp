#include "platform/shell/file_operations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/shell/machine_root.h"
#include "platform/shell/system_lookup.h"
#include "platform/win/last_error.h"
#include "platform/win/status.h"

namespace {

BOOL FailWithErrno(int err) {
  SetLastError(Win32ErrorFromErrno(err));
  return FALSE;
}

bool CopyContents(int in, int out) {
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < got;) {
      ssize_t put = write(out, buffer + done, static_cast<size_t>(got - done));
      if (put < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += put;
    }
  }
}

DWORD AttributesOf(const struct stat& info) {
  if (S_ISDIR(info.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
  if (!S_ISREG(info.st_mode)) return FILE_ATTRIBUTE_DEVICE;
  return (info.st_mode & 0222) == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace

extern "C" UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  try {
    EnsureMachineRoot();
    std::string system = SystemDirectoryPath();
    system.pop_back();  // the platform answers without the trailing separator
    if (!buffer || system.size() + 1 > size) return static_cast<UINT>(system.size() + 1);
    std::memcpy(buffer, system.c_str(), system.size() + 1);
    return static_cast<UINT>(system.size());
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

extern "C" DWORD GetFileAttributesA(LPCSTR path) {
  if (!path) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  struct stat info;
  if (stat(ResolveSystemPath(path).c_str(), &info) != 0) {
    FailWithErrno(errno);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(info);
}

extern "C" BOOL GetFileAttributesExA(LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
  if (!path || !info || level != GetFileExInfoStandard) return FailWithErrno(EINVAL);
  try {
    struct stat status;
    if (stat(ResolveSystemPath(path).c_str(), &status) != 0) return FailWithErrno(errno);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    data.dwFileAttributes = AttributesOf(status);
    uint64_t size = S_ISREG(status.st_mode) ? static_cast<uint64_t>(status.st_size) : 0;
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
    std::memcpy(info, &data, sizeof data);
    return TRUE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

extern "C" BOOL CopyFileA(LPCSTR existingPath, LPCSTR newPath, BOOL failIfExists) {
  if (!existingPath || !newPath) return FailWithErrno(EINVAL);
  try {
    std::string from = ResolveSystemPath(existingPath);
    std::string to = ResolveSystemPath(newPath);
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return FailWithErrno(errno);
    struct stat source;
    if (fstat(in, &source) != 0) {
      int err = errno;
      close(in);
      return FailWithErrno(err);
    }
    if (!S_ISREG(source.st_mode)) {
      close(in);
      return FailWithErrno(EACCES);  // only files are copied
    }
    struct stat target;
    if (stat(to.c_str(), &target) == 0) {
      if (failIfExists) {
        close(in);
        return FailWithErrno(EEXIST);
      }
      if (target.st_dev == source.st_dev && target.st_ino == source.st_ino) {
        close(in);
        return FailWithErrno(ETXTBSY);  // a file cannot replace itself
      }
    }
    std::string temporary = to + ".copy" + std::to_string(getpid());
    int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, source.st_mode & 07777);
    if (out < 0) {
      int err = errno;
      close(in);
      return FailWithErrno(err);
    }
    bool ok = CopyContents(in, out);
    int err = errno;
    close(in);
    const timespec times[2] = {source.st_atim, source.st_mtim};
    ok = ok && futimens(out, times) == 0;
    if (close(out) != 0 && ok) {
      ok = false;
      err = errno;
    }
    if (ok && (failIfExists ? link(temporary.c_str(), to.c_str()) : rename(temporary.c_str(), to.c_str())) != 0) {
      ok = false;
      err = errno;
    }
    if (!ok || failIfExists) unlink(temporary.c_str());
    if (!ok) return FailWithErrno(err ? err : EIO);
    return TRUE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

extern "C" BOOL DeleteFileA(LPCSTR path) {
  if (!path) return FailWithErrno(EINVAL);
  try {
    std::string target = ResolveSystemPath(path);
    struct stat info;
    if (lstat(target.c_str(), &info) != 0) return FailWithErrno(errno);
    if (S_ISDIR(info.st_mode)) return FailWithErrno(EACCES);  // DeleteFileA removes files only
    if (unlink(target.c_str()) != 0) return FailWithErrno(errno);
    return TRUE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}
