// The limits checked before a run changes anything: a description whose fields or resulting paths
// do not fit is refused whole, instead of being cut.
#pragma once

#include <string>

#include "install/setup_reader.h"

// The first problem found, or empty. `moduleDir` is the folder the files are copied from (empty
// for the uninstall run, which copies nothing); `systemDir` ends in the separator.
std::string CheckSetupLimits(const SetupContent& content, const std::string& moduleDir, const std::string& systemDir);
