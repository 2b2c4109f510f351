// Reading a setup description (setup.inf or an uninstall record) whole, before anything is done
// with it: only a regular file of a sane size is read, and a line is never split.
#pragma once

#include <string>
#include <vector>

#include "install/install_platform.h"

enum class DescriptionRead { Done, NotOpened, Refused };

// The lines as ReadLines gives them; `problem` says why not, when the answer is not Done.
// `maxBytes` is kMaxSetupSize or kMaxRecordSize.
DescriptionRead ReadDescription(InstallPlatform& platform, const std::string& path, size_t maxBytes,
                                std::vector<std::string>& lines, std::string& problem);
