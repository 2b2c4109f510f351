// The package's entry under the system's Uninstall key: what the list of installed programs shows
// and the command that removes the package.
#pragma once

#include <string>

#include "install/install_platform.h"

// Under HKEY_LOCAL_MACHINE, with the trailing separator.
inline constexpr char kUninstallKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

LONG WriteRegString(InstallPlatform& platform, const std::string& keyPath, const char* valueName,
                    const std::string& text);
LONG WriteNoModify(InstallPlatform& platform, const std::string& keyPath);

// A name that makes one key right below the Uninstall key: not empty (the Uninstall key itself) and
// without a "\" (the key's own, or a key nested in another package's).
bool IsEntryName(const std::string& appFullName);

// DisplayName, UninstallString, NoModify, DisplayVersion and DisplayIcon, in that order. A name that
// is not an entry name (IsEntryName) is not written, with a message.
void WriteUninstallEntry(InstallPlatform& platform, const std::string& appFullName, const std::string& systemDir,
                         const std::string& recordName, const std::string& versionText,
                         const std::string& iconNames);
