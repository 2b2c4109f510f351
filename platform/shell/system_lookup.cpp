#include "platform/shell/system_lookup.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "platform/shell/machine_root.h"

namespace {

bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string FindExecutable(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    std::string path = ResolveSystemPath(name);
    return IsRegularFile(path) ? NormalPath(path) : std::string();
  }
  std::string system = SystemDirectoryPath();
  if (std::string found = ResolveSystemPath(system + name); IsRegularFile(found)) return found;
  if (std::string beside = ProgramDirectory() + name; IsRegularFile(beside)) return beside;
  return {};
}

}  // namespace

std::string ProgramDirectory() {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  std::string program(buffer, static_cast<size_t>(length));
  return program.substr(0, program.rfind('/') + 1);
}

std::string FindFileIgnoringCase(const std::string& folder, const std::string& name) {
  std::vector<std::string> matches;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir))
      if (strcasecmp(entry->d_name, name.c_str()) == 0) matches.push_back(entry->d_name);
    closedir(dir);
  }
  std::sort(matches.begin(), matches.end());
  for (const std::string& match : matches)
    if (IsRegularFile(folder + match)) return folder + match;
  return {};
}

std::string NormalPath(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

std::string ResolveSystemPath(const std::string& path) {
  if (path.empty() || Exists(path)) return path;
  std::string normal = NormalPath(path);
  size_t slash = normal.rfind('/');
  if (slash == std::string::npos || normal.substr(0, slash + 1) != SystemDirectoryPath()) return path;
  std::string found = FindFileIgnoringCase(normal.substr(0, slash + 1), normal.substr(slash + 1));
  return found.empty() ? path : found;
}

std::string FindProgram(const std::string& name) {
  if (name.empty()) return {};
  std::string found = FindExecutable(name);
  if (found.empty() && name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".exe") == 0)
    found = FindExecutable(name.substr(0, name.size() - 4));
  return found;
}
