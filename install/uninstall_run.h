// The uninstall run: reads the record an install run wrote, warns while a browser window is open
// and the package's first file is in use, unregisters and deletes the package's own files, and
// removes the record and the package's entry in the list of programs.
#pragma once

#include "install/install_platform.h"
#include "install/run_context.h"

// ExitStatus: kExitDone when the run reached its end, also when the user aborted it.
int RunUninstall(InstallPlatform& platform, const RunContext& context);
