// pelistra: one program, one subcommand per task. Each subcommand registers itself on the app
// and sets the exit code when it runs.
#include <CLI/CLI.hpp>

#include "tools/pelistra/probe_command.h"
#include "tools/pelistra/programs_command.h"
#include "tools/pelistra/record_command.h"

int main(int argc, char** argv) {
  CLI::App app{"pelistra: records live audio and video into ASF files, and inspects them"};
  app.require_subcommand(1);
  int exitCode = 0;
  AddRecordCommand(app, exitCode);
  AddProbeCommand(app, exitCode);
  AddProgramsCommand(app, exitCode);
  CLI11_PARSE(app, argc, argv);
  return exitCode;
}
