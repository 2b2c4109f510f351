#include "platform/shell/file_in_use.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/shell/system_lookup.h"
#include "platform/win/status.h"

namespace {

struct FileIdentity {
  unsigned major;
  unsigned minor;
  unsigned long long inode;
  std::string path;  // the real path, for mappings whose device number differs (overlay files)
};

// "fe:00" or "fe:00:1234" (major and minor in hex, inode in decimal).
bool ParseDevice(const std::string& text, unsigned* major, unsigned* minor) {
  char* end = nullptr;
  unsigned long high = std::strtoul(text.c_str(), &end, 16);
  if (end == text.c_str() || *end != ':') return false;
  const char* rest = end + 1;
  unsigned long low = std::strtoul(rest, &end, 16);
  if (end == rest) return false;
  *major = static_cast<unsigned>(high);
  *minor = static_cast<unsigned>(low);
  return true;
}

// One line of /proc/PID/maps: "start-end perms offset dev inode [path]".
bool MapsLineNames(const std::string& line, const FileIdentity& file) {
  std::istringstream fields(line);
  std::string range, perms, offset, device;
  unsigned long long inode = 0;
  if (!(fields >> range >> perms >> offset >> device >> inode) || inode == 0) return false;
  std::string path;
  std::getline(fields >> std::ws, path);
  unsigned major = 0, minor = 0;
  if (inode == file.inode && ParseDevice(device, &major, &minor) && major == file.major && minor == file.minor)
    return true;
  return !path.empty() && path == file.path;
}

bool MappedByAnyProcess(const FileIdentity& file) {
  DIR* proc = opendir("/proc");
  if (!proc) return false;
  bool mapped = false;
  while (dirent* entry = readdir(proc)) {
    if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
    std::ifstream maps(std::string("/proc/") + entry->d_name + "/maps");
    std::string line;
    while (!mapped && std::getline(maps, line)) mapped = MapsLineNames(line, file);
    if (mapped) break;
  }
  closedir(proc);
  return mapped;
}

// /proc/locks lists every lock of the machine: "1: POSIX ADVISORY WRITE pid maj:min:inode start end"
// (a waiting lock has "->" after the number).
bool LockedByAnyProcess(const FileIdentity& file) {
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string field;
    while (fields >> field) {
      size_t last = field.rfind(':');
      if (last == std::string::npos || field.find(':') == last) continue;
      unsigned major = 0, minor = 0;
      if (!ParseDevice(field.substr(0, last), &major, &minor)) continue;
      unsigned long long inode = std::strtoull(field.c_str() + last + 1, nullptr, 10);
      if (inode == file.inode && major == file.major && minor == file.minor) return true;
      break;
    }
  }
  return false;
}

}  // namespace

extern "C" DWORD CheckFileWritableA(LPCSTR path) {
  if (!path) return ERROR_INVALID_PARAMETER;
  try {
    std::string target = ResolveSystemPath(path);
    struct stat info;
    if (stat(target.c_str(), &info) != 0) return Win32ErrorFromErrno(errno);
    if (S_ISDIR(info.st_mode)) return ERROR_ACCESS_DENIED;
    char* real = realpath(target.c_str(), nullptr);
    FileIdentity file{major(info.st_dev), minor(info.st_dev), static_cast<unsigned long long>(info.st_ino),
                      real ? real : target};
    std::free(real);
    // Locks first: closing a descriptor of a file drops this process's own POSIX locks on it.
    if (LockedByAnyProcess(file) || MappedByAnyProcess(file)) return ERROR_SHARING_VIOLATION;
    // Opening for writing without truncating changes nothing; a running program answers ETXTBSY.
    int fd = open(target.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Win32ErrorFromErrno(errno);
    close(fd);
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}
