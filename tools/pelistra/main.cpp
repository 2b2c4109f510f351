// pelistra: one program, one subcommand per task. Each subcommand registers itself on the app
// and sets the exit code when it runs.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/pelistra/probe_command.h"
#include "tools/pelistra/programs_command.h"
#include "tools/pelistra/record_command.h"

namespace {

// A command line the program cannot take, said in its own words: an unknown option or command is
// named, whatever else the line lacks.
int ReportUsageError(const CLI::App& app, const CLI::ParseError& error) {
  // Help and the version are answers, not errors; the library prints them.
  if (error.get_exit_code() == 0) return app.exit(error);
  std::string command = "pelistra";
  const std::vector<CLI::App*> used = app.get_subcommands();
  if (!used.empty()) command += " " + used.front()->get_name();
  std::string unknownOption, unknownWord;
  for (const std::string& arg : app.remaining(true)) {
    if (arg.size() > 1 && arg[0] == '-' && unknownOption.empty()) unknownOption = arg.substr(0, arg.find('='));
    else if (arg[0] != '-' && unknownWord.empty()) unknownWord = arg;
  }
  std::string message;
  // A mistyped command first: the options after it belong to the command meant.
  if (used.empty() && !unknownWord.empty())
    message = "unknown command " + unknownWord + " (record, probe or programs; pelistra --help tells more)";
  else if (!unknownOption.empty())
    message = "unknown option " + unknownOption + " (" + command + " --help lists the options)";
  else
    message = std::string(error.what()) + " (" + command + " --help tells more)";
  std::fprintf(stderr, "%s: %s\n", command.c_str(), message.c_str());
  return error.get_exit_code();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"pelistra: records live audio and video into ASF files, and inspects them"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("pelistra ") + PELISTRA_VERSION);
  int exitCode = 0;
  AddRecordCommand(app, exitCode);
  AddProbeCommand(app, exitCode);
  AddProgramsCommand(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return ReportUsageError(app, error);
  }
  return exitCode;
}
