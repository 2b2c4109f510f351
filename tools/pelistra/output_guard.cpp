#include "tools/pelistra/output_guard.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

HRESULT OutputGuard::AddInput(const std::string& path) {
  struct stat info {};
  const int result = path == "-" ? fstat(STDIN_FILENO, &info) : stat(path.c_str(), &info);
  // A pipe or terminal on standard input is no file to protect.
  if (result != 0 || !S_ISREG(info.st_mode)) return S_FALSE;
  try {
    inputs_.push_back({info.st_dev, info.st_ino});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool OutputGuard::IsInput(const std::string& path) const {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  for (const FileId& input : inputs_)
    if (input.device == info.st_dev && input.inode == info.st_ino) return true;
  return false;
}

std::string OutputGuard::CheckName(const std::string& name) const {
  struct stat info {};
  // Not there (or not reachable, which the writer reports in its own words): nothing to destroy.
  if (stat(name.c_str(), &info) != 0) return "";
  if (S_ISDIR(info.st_mode)) return name + " is a folder";
  if (IsInput(name)) return name + " is an input of this recording: name another output file";
  if (!overwrite_) return name + " exists: name another output file, or give -y to overwrite it";
  return "";
}

std::string OutputGuard::CheckRotatedNames(const OutputNames& names) const {
  if (inputs_.empty()) return "";
  const std::string folder = names.Folder().empty() ? "." : names.Folder();
  DIR* dir = opendir(folder.c_str());
  // A folder that cannot be listed cannot be written either; the writer says why.
  if (!dir) return "";
  std::string problem;
  while (const dirent* entry = readdir(dir)) {
    const std::string path = names.Folder() + entry->d_name;
    unsigned index = 0;
    if (names.IndexOf(path, &index) && IsInput(path)) {
      problem = path + " is an input of this recording";
      if (index > 0) problem += " and would be its file number " + std::to_string(index + 1);
      problem += ": name another output file";
      break;
    }
  }
  closedir(dir);
  return problem;
}
