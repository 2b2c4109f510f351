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

// DisplayName, UninstallString, NoModify, DisplayVersion and DisplayIcon, in that order. An empty
// `appFullName` would name the Uninstall key itself: nothing is written then.
void WriteUninstallEntry(InstallPlatform& platform, const std::string& appFullName, const std::string& systemDir,
                         const std::string& recordName, const std::string& versionText,
                         const std::string& iconNames);
