// What a shell command prints on its standard output, for tests that ask a real tool (ffprobe,
// nm) about a file. Empty when the command cannot be started.
#pragma once

#include <cstdio>
#include <string>

inline std::string CommandOutput(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  pclose(pipe);  // the tests judge what was printed, not how the tool ended
  return out;
}
