// The installer's entry: chooses the run from the arguments and computes the shared paths.
//   install                          nothing is done
//   install setup.inf PackageName    install run
//   install RecordName               uninstall run (the record beside the program)
//   install --help | -h              the usage text
#pragma once

#include "install/install_platform.h"

// argv as the wide-character entry receives it; returns the process's exit status (ExitStatus).
int InstallerMain(int argc, const WCHAR* const* argv, InstallPlatform& platform);
