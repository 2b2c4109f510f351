#include "install/package_records.h"

#include "install/description_file.h"
#include "install/limits.h"
#include "install/setup_reader.h"
#include "install/uninstall_entry.h"
#include "platform/shell/process.h"

std::string UninstallCommand(const std::string& systemDir, const std::string& recordName) {
  std::string command = systemDir + "install.exe ";
  if (recordName.find_first_of(" \t\"") == std::string::npos) return command + recordName;
  // Record names hold no backslash (they are plain file names), so a quote is the only character
  // to escape.
  command += '"';
  for (char c : recordName) {
    if (c == '"') command += '\\';
    command += c;
  }
  return command + '"';
}

EntryOwner OwnerOfEntry(InstallPlatform& platform, const std::string& appFullName, const std::string& recordName,
                        std::string* command) {
  HKEY key = nullptr;
  std::string keyPath = kUninstallKeyPath + appFullName;
  if (platform.RegOpenKeyExA(keyPath.c_str(), KEY_READ, &key) != static_cast<LONG>(ERROR_SUCCESS))
    return EntryOwner::None;
  char text[1024];
  DWORD type = 0;
  DWORD size = sizeof text - 1;
  LONG result = platform.RegQueryValueExA(key, "UninstallString", &type, reinterpret_cast<BYTE*>(text), &size);
  platform.RegCloseKey(key);  // opened for reading: nothing to lose
  if (result != static_cast<LONG>(ERROR_SUCCESS) || type != REG_SZ) return EntryOwner::Other;
  text[std::min<DWORD>(size, sizeof text - 1)] = '\0';
  if (command) *command = text;
  // The program, then the record's name as its one argument; an entry written before names were
  // quoted has a name with a space unquoted at its end.
  std::vector<std::string> words = SplitCommandLine(text);
  std::string written = text;
  bool unquoted = written.size() > recordName.size() && written[written.size() - recordName.size() - 1] == ' ' &&
                  SameFileName(written.substr(written.size() - recordName.size()), recordName);
  return unquoted || (!words.empty() && SameFileName(words.back(), recordName)) ? EntryOwner::This
                                                                                : EntryOwner::Other;
}

std::vector<InstalledPackage> OtherPackages(InstallPlatform& platform, const std::string& systemDir,
                                            const std::string& recordName, std::vector<std::string>& unreadable) {
  std::vector<InstalledPackage> packages;
  for (const std::string& name : platform.ListFiles(systemDir)) {
    if (!IsRecordName(name) || SameFileName(name, recordName)) continue;
    std::vector<std::string> lines;
    std::string problem;
    if (ReadDescription(platform, systemDir + name, kMaxRecordSize, lines, problem) != DescriptionRead::Done) {
      unreadable.push_back(name);
      continue;
    }
    SetupReader reader;
    for (const std::string& line : lines) reader.Feed(line);
    InstalledPackage package{name, {}};
    for (const FileEntry& entry : reader.content().entries)
      if (ClassifyFile(entry.Name) != FileKind::Other && IsPlainFileName(entry.Name))
        package.files.push_back(entry.Name);
    packages.push_back(std::move(package));
  }
  return packages;
}

const InstalledPackage* PackageListing(const std::vector<InstalledPackage>& packages, const std::string& fileName) {
  for (const InstalledPackage& package : packages)
    for (const std::string& file : package.files)
      if (SameFileName(file, fileName)) return &package;
  return nullptr;
}
