// The machine root: where this platform keeps what an operating system keeps for itself, the
// system directory and the registry. PELISTRA_ROOT names it; by default
// $XDG_DATA_HOME/pelistra, else ~/.local/share/pelistra.
#pragma once

#include <string>

#include "platform/win/status.h"

// The root folder, without a trailing "/".
std::string MachineRootPath();
// The system directory, with a trailing "/".
std::string SystemDirectoryPath();
// The registry database file.
std::string RegistryDatabasePath();

// Work that readies a new root (copying the platform's own files into the system directory,
// writing the platform's registry entries). Preparers run once per process, at the first
// EnsureMachineRoot, and must be idempotent: several processes may prepare the same root at once.
using MachineRootPreparer = void (*)();
void AddMachineRootPreparer(MachineRootPreparer preparer);

// Creates the root and its system directory if missing and runs the preparers.
HRESULT EnsureMachineRoot();
