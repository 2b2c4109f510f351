// What both runs share: the paths computed once at start, and the exit statuses.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "install/install_platform.h"

struct RunContext {
  std::vector<std::string> arguments;  // single-byte; [0] is the program
  std::string ModulePath;
  std::string ModuleDir;   // with the trailing separator
  std::string SystemDir;   // with the trailing separator
};

enum ExitStatus : int {
  kExitDone = 0,
  kExitUsage = 1,            // install mode without a package name
  kExitNoDescription = 2,    // setup.inf or the record cannot be read, or the record not created
  kExitRefused = 3,          // a name, field or path the installer does not take; nothing changed
  kExitWarningNotShown = 4,  // the uninstall warning could not be shown; nothing removed
};

// Every line of a text-mode stream, up to and including its line end (LF, CR LF or a CR alone,
// each delivered as one LF); the last line may have none. A NUL ends the line's text as it ends a
// C string. Returns why the text is refused (a line longer than kMaxLine, or more than `maxBytes`
// bytes as read), or empty.
std::string ReadLines(FILE* file, std::vector<std::string>& lines, size_t maxBytes);
