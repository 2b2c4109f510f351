#include "install/regsvr_commands.h"

std::string RegisterCommand(const std::string& path) { return " /C \"regsvr32 /s " + path + "\""; }

std::string UnregisterCommand(const std::string& path) { return " /C \"regsvr32 /u /s " + path + "\""; }
