// Finding files the way the original's case-blind file system did, for the system directory only:
// the system names files in other letters than it created them with ("install.exe" for the
// installer's copy "Install.exe"), and those names must still work here.
#pragma once

#include <string>

// The path made absolute and normal, without resolving links.
std::string NormalPath(const std::string& path);

// The folder of the running program, with a trailing "/".
std::string ProgramDirectory();

// The regular file in `folder` (ending in "/") whose name equals `name` but for letter case, the
// first in name order when there are several; empty when there is none. Shared by file lookup,
// process launch and module loading, so the system directory is case-blind the same way for all.
std::string FindFileIgnoringCase(const std::string& folder, const std::string& name);

// `path` itself when a file or folder exists there; otherwise, when `path` lies directly in the
// system directory, the file there whose name differs only in letter case (the first in name
// order); otherwise `path` unchanged.
std::string ResolveSystemPath(const std::string& path);

// The program a command names: a name with a "/" is a path (resolved as above); a bare name is
// looked for in the system directory (letter case ignored), then beside the running program. A
// name ending in ".exe" that is not found is looked for again without it, since programs here carry
// no extension. Empty when there is no such regular file.
std::string FindProgram(const std::string& name);
