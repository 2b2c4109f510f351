// `pelistra programs`: the system's list of installed programs, the entries under the Uninstall
// key (name, version, uninstall command). `pelistra programs remove NAME` runs that entry's
// uninstall command as it stands (a quoted argument stays one word) and waits for it.
#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

// Exit codes: 0 listed.
int ListPrograms(std::ostream& out, std::ostream& err);
// Exit codes: the uninstall command's own when it failed; 2 no such entry or it has no command; 3 the
// command cannot be started; 6 the command ended well but the entry is still listed (nothing was
// removed).
int RemoveProgram(const std::string& name, std::ostream& err);
void AddProgramsCommand(CLI::App& app, int& exitCode);
