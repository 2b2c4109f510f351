#include "install/uninstall_entry.h"

#include "install/package_records.h"

namespace {

LONG WriteValue(InstallPlatform& platform, const std::string& keyPath, const char* valueName, DWORD type,
                const BYTE* data, DWORD size) {
  HKEY key = nullptr;
  LONG result = platform.RegCreateKeyExA(keyPath.c_str(), KEY_WRITE, &key);
  if (result == static_cast<LONG>(ERROR_SUCCESS)) {
    result = platform.RegSetValueExA(key, valueName, type, data, size);
    platform.RegCloseKey(key);
  }
  return result;
}

}  // namespace

LONG WriteRegString(InstallPlatform& platform, const std::string& keyPath, const char* valueName,
                    const std::string& text) {
  return WriteValue(platform, keyPath, valueName, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                    static_cast<DWORD>(text.size() + 1));
}

LONG WriteNoModify(InstallPlatform& platform, const std::string& keyPath) {
  const DWORD one = 1;
  return WriteValue(platform, keyPath, "NoModify", REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
}

bool IsEntryName(const std::string& appFullName) {
  return !appFullName.empty() && appFullName.find('\\') == std::string::npos;
}

void WriteUninstallEntry(InstallPlatform& platform, const std::string& appFullName, const std::string& systemDir,
                         const std::string& recordName, const std::string& versionText,
                         const std::string& iconNames) {
  if (appFullName.empty()) {
    platform.WriteError("install: setup.inf names no AppFullName; no entry is added to the list of programs\n");
    return;
  }
  if (!IsEntryName(appFullName)) {
    platform.WriteError("install: the AppFullName \"" + appFullName +
                        "\" holds a \"\\\"; no entry is added to the list of programs\n");
    return;
  }
  std::string keyPath = kUninstallKeyPath + appFullName;
  // Each write's result is ignored: a missing value does not undo the installed files.
  WriteRegString(platform, keyPath, "DisplayName", appFullName);
  WriteRegString(platform, keyPath, "UninstallString", UninstallCommand(systemDir, recordName));
  WriteNoModify(platform, keyPath);
  WriteRegString(platform, keyPath, "DisplayVersion", versionText);
  WriteRegString(platform, keyPath, "DisplayIcon", systemDir + iconNames);
}
