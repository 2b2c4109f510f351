// The install run: copies the program itself and the package's files into the system directory,
// registers the COM servers among them through regsvr32, writes the uninstall record and the
// package's entry in the list of programs.
#pragma once

#include <string>

#include "install/install_platform.h"
#include "install/regsvr_commands.h"
#include "install/run_context.h"

// ExitStatus: kExitDone when the run reached its end.
int RunInstall(InstallPlatform& platform, const RunContext& context, const std::string& packageName);

// False when no file exists at the path; otherwise whether the file cannot be opened for writing
// (a loaded module cannot). Changes nothing.
bool IsFileInUse(InstallPlatform& platform, const std::string& path);
// Starts cmd.exe with the parameters, hidden, and does not wait; false when nothing was started.
bool LaunchHidden(InstallPlatform& platform, const std::string& parameters);
