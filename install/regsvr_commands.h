// The parameters of cmd.exe that register or unregister a module through regsvr32, silently. The
// path stands as it is, without quotes of its own.
#pragma once

#include <string>

std::string RegisterCommand(const std::string& path);
std::string UnregisterCommand(const std::string& path);
