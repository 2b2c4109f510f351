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

// Exit codes: 0 a finished, sound file (warnings allowed); 1 structural errors; 2 not readable as
// ASF; 3 readable but not finished: the header still says broadcast (a recording cut short, or a
// live stream saved by another program), and what the file holds was read from its packets. An
// unfinished file is not malformed, but a script must not take it for a finished one.
int RunProbe(const ProbeOptions& options, std::ostream& out, std::ostream& err);
void AddProbeCommand(CLI::App& app, int& exitCode);
