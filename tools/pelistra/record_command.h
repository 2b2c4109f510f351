// `pelistra record`: builds a filter graph with source filters and the muxer, names the output
// file, runs the graph and reacts to its events until the inputs end, the duration is reached or
// a signal stops it.
#pragma once

#include <string>

namespace CLI {
class App;
}

struct RecordOptions {
  std::string video;        // a file, or "-" for standard input
  std::string videoFormat;  // h264, mpeg4, mjpeg, y4m; empty: from the file's extension
  double fps = 25;
  std::string audio;        // a WAV file, or "-"
  bool testSource = false;
  double duration = 0;      // seconds of media time; 0: until the inputs end
  bool live = false;
  unsigned maxSize = 0;     // MiB; 0: no limit
  double segmentTime = 0;   // seconds; 0: none
  unsigned videoBitrate = 0;
  std::string module;
  bool quiet = false;
  bool overwrite = false;   // replace an existing output file (never an input)
  double fsync = 0;         // seconds between forced writes to stable storage; 0: left to the system
  std::string output;
};

// Exit codes: 0 recorded, 1 failed (with a message on standard error).
int RunRecord(const RecordOptions& options);
void AddRecordCommand(CLI::App& app, int& exitCode);
