// `pelistra probe FILE [--json] [--frames]`: what an ASF file holds and what is wrong with it.
#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

struct ProbeOptions {
  std::string path;
  bool json = false;
  bool frames = false;
};

// Exit codes: 0 a sound file (warnings allowed), 1 structural errors, 2 not readable as ASF.
int RunProbe(const ProbeOptions& options, std::ostream& out, std::ostream& err);
void AddProbeCommand(CLI::App& app, int& exitCode);
