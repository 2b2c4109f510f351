// The installer's fixed limits, in characters, and the rule for names that become paths. The
// limits are part of the file format: text longer than one is refused, never cut.
#pragma once

#include <cstddef>
#include <string>

constexpr size_t kMaxModulePath = 511;    // the program's own path
constexpr size_t kMaxSystemDir = 259;     // the system directory, without its separator
constexpr size_t kMaxPath = 511;          // a folder joined with a file name
constexpr size_t kMaxSelfCopy = 259;      // the system directory + "Install.exe"
constexpr size_t kMaxPackageName = 31;
constexpr size_t kMaxRecordName = 127;
constexpr size_t kMaxName = 259;          // a file entry's name
constexpr size_t kMaxExtra = 511;
constexpr size_t kMaxVersion = 31;
constexpr size_t kMaxDisplayVersion = 24; // the version of an "ocx" entry, shown as the package's
constexpr size_t kMaxInfoText = 127;      // key or value of an info line; AppFullName, SaveFolder
constexpr size_t kMaxIconNames = 127;
constexpr size_t kMaxCommand = 255;       // the parameters given to cmd.exe
constexpr size_t kMaxLine = 1023;         // a line of a description, with its LF
constexpr size_t kMaxSetupSize = 1 << 20;  // setup.inf, in bytes
// A record, in bytes: setup.inf with CR LF line ends and its hooks rewritten into longer lines.
constexpr size_t kMaxRecordSize = 16 << 20;

// A name that stays inside the folder it is joined to: not empty, no "/" or "\" (either
// separator), no ":" (drive or stream), and not "." or "..".
bool IsPlainFileName(const std::string& name);

// "uninstall_*.inf", letter case ignored: the name of a package's uninstall record.
bool IsRecordName(const std::string& name);
// Letter case ignored, as the system directory ignores it.
bool SameFileName(const std::string& a, const std::string& b);
