#include "install/description_file.h"

#include "install/limits.h"
#include "install/run_context.h"

DescriptionRead ReadDescription(InstallPlatform& platform, const std::string& path, size_t maxBytes,
                                std::vector<std::string>& lines, std::string& problem) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!platform.GetFileAttributesExA(path.c_str(), &data)) {
    problem = "cannot open " + path;
    return DescriptionRead::NotOpened;
  }
  // A pipe or a device would never end, or hold the run until someone writes to it.
  if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
    problem = path + " is not a regular file";
    return DescriptionRead::Refused;
  }
  if (data.nFileSizeHigh != 0 || data.nFileSizeLow > maxBytes) {
    problem = path + " is larger than " + std::to_string(maxBytes) + " bytes";
    return DescriptionRead::Refused;
  }
  FILE* file = platform.OpenTextFile(path.c_str(), "r");
  if (!file) {
    problem = "cannot open " + path;
    return DescriptionRead::NotOpened;
  }
  // The reader stops at the size limit too: the file may have changed since it was looked at.
  std::string why = ReadLines(file, lines, maxBytes);
  std::fclose(file);  // opened for reading only: nothing to lose on close
  if (!why.empty()) {
    problem = path + ": " + why;
    return DescriptionRead::Refused;
  }
  return DescriptionRead::Done;
}
