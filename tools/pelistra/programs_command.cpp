#include "tools/pelistra/programs_command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/shell/process.h"
#include "platform/win/event.h"
#include "platform/win/last_error.h"
#include "tools/pelistra/status_text.h"

namespace {

constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr int kStillInstalled = 6;

struct Program {
  std::string key;
  std::string name;
  std::string version;
  std::string uninstall;
};

std::string ReadText(HKEY key, const char* valueName) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, valueName, nullptr, &type, nullptr, &size) != static_cast<LONG>(ERROR_SUCCESS) ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
    return {};
  std::string text(size, '\0');
  if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
      static_cast<LONG>(ERROR_SUCCESS))
    return {};
  text.resize(std::min<size_t>(size, text.size()));
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

// The entry whose key is `keyName` (letter case ignored, as for every key name).
bool ReadProgram(HKEY uninstall, const std::string& keyName, Program* program) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(uninstall, keyName.c_str(), 0, KEY_READ, &key) != static_cast<LONG>(ERROR_SUCCESS)) return false;
  program->key = keyName;
  program->name = ReadText(key, "DisplayName");
  if (program->name.empty()) program->name = keyName;
  program->version = ReadText(key, "DisplayVersion");
  program->uninstall = ReadText(key, "UninstallString");
  RegCloseKey(key);
  return true;
}

std::vector<Program> InstalledPrograms() {
  std::vector<Program> programs;
  HKEY uninstall = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &uninstall) != static_cast<LONG>(ERROR_SUCCESS))
    return programs;
  for (DWORD index = 0;; ++index) {
    char name[512];
    DWORD length = sizeof name;
    LONG result = RegEnumKeyExA(uninstall, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == static_cast<LONG>(ERROR_NO_MORE_ITEMS)) break;
    if (result != static_cast<LONG>(ERROR_SUCCESS)) continue;
    Program program;
    if (ReadProgram(uninstall, std::string(name, length), &program)) programs.push_back(std::move(program));
  }
  RegCloseKey(uninstall);
  return programs;
}

}  // namespace

int ListPrograms(std::ostream& out, std::ostream&) {
  std::vector<Program> programs = InstalledPrograms();
  size_t nameWidth = 4, versionWidth = 7;
  for (const Program& program : programs) {
    nameWidth = std::max(nameWidth, program.name.size());
    versionWidth = std::max(versionWidth, program.version.size());
  }
  auto row = [&](const std::string& name, const std::string& version, const std::string& command) {
    out << name << std::string(nameWidth - name.size() + 2, ' ') << version
        << std::string(versionWidth - version.size() + 2, ' ') << command << '\n';
  };
  row("NAME", "VERSION", "UNINSTALL COMMAND");
  for (const Program& program : programs) row(program.name, program.version, program.uninstall);
  return 0;
}

int RemoveProgram(const std::string& name, std::ostream& err) {
  Program program;
  HKEY uninstall = nullptr;
  bool found = name.find('\\') == std::string::npos &&
               RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &uninstall) ==
                   static_cast<LONG>(ERROR_SUCCESS) &&
               ReadProgram(uninstall, name, &program);
  if (uninstall) RegCloseKey(uninstall);
  if (!found) {
    err << "pelistra programs: no installed program named \"" << name << "\"\n";
    return 2;
  }
  if (program.uninstall.empty()) {
    err << "pelistra programs: \"" << name << "\" has no uninstall command\n";
    return 2;
  }
  std::string commandLine = program.uninstall;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    err << "pelistra programs: cannot start \"" << program.uninstall
        << "\": " << StatusText(HRESULT_FROM_WIN32(GetLastError())) << "\n";
    return 3;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  BOOL ended = GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  if (!ended) {
    err << "pelistra programs: the exit status of \"" << program.uninstall << "\" is unknown\n";
    return kStillInstalled;
  }
  if (exitCode != 0) return static_cast<int>(exitCode);
  // An uninstall command that ends well without removing the entry (its record gone or empty, or
  // the user aborted) removed nothing the list shows.
  Program after;
  bool stillListed = false;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &uninstall) == static_cast<LONG>(ERROR_SUCCESS)) {
    stillListed = ReadProgram(uninstall, program.key, &after);
    RegCloseKey(uninstall);
  }
  if (stillListed) {
    err << "pelistra programs: \"" << name << "\" is still installed: its uninstall command did not remove it\n";
    return kStillInstalled;
  }
  return 0;
}

void AddProgramsCommand(CLI::App& app, int& exitCode) {
  CLI::App* programs = app.add_subcommand("programs", "List the installed programs, or remove one");
  programs->callback([programs, &exitCode] {
    if (programs->get_subcommands().empty()) exitCode = ListPrograms(std::cout, std::cerr);
  });
  auto name = std::make_shared<std::string>();
  CLI::App* remove = programs->add_subcommand("remove", "Run a program's uninstall command and wait for it");
  remove->add_option("NAME", *name, "The program's name, as the list shows it")->required();
  remove->callback([name, &exitCode] { exitCode = RemoveProgram(*name, std::cerr); });
}
