// What the installed packages know of each other: every package leaves its uninstall record in the
// system directory and its entry under the Uninstall key, the entry naming the record in its
// uninstall command. A package's run uses these to leave the others' files and entry alone.
#pragma once

#include <string>
#include <vector>

#include "install/install_platform.h"

// The uninstall command of an entry: the copied program and the record's name, quoted when it
// holds white space or a quote, so the command splits back into the same two words.
std::string UninstallCommand(const std::string& systemDir, const std::string& recordName);

enum class EntryOwner { None, This, Other };
// Whose is the entry Uninstall\appFullName: nobody's (there is none), the package with this
// record, or another (its command names another record, or none). `command` receives the entry's
// uninstall command.
EntryOwner OwnerOfEntry(InstallPlatform& platform, const std::string& appFullName, const std::string& recordName,
                        std::string* command = nullptr);

struct InstalledPackage {
  std::string recordName;
  std::vector<std::string> files;  // the names of the files its run installed
};

// The packages whose records lie in the system directory, but for the one of `recordName`.
// Records that cannot be read are named in `unreadable`.
std::vector<InstalledPackage> OtherPackages(InstallPlatform& platform, const std::string& systemDir,
                                            const std::string& recordName, std::vector<std::string>& unreadable);
// The first package that lists `fileName` (letter case ignored), or null.
const InstalledPackage* PackageListing(const std::vector<InstalledPackage>& packages, const std::string& fileName);
