// Runs a ParsedSource over bytes written to a temporary file, as the recording program would, and
// keeps what it handed out and the warnings it gave.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sources/parsed_source.h"

struct SourceRun {
  HRESULT open = E_FAIL;
  HRESULT end = E_FAIL;  // what Next returned last: S_FALSE at a clean end
  std::string error;
  FramesPerSecond rate;
  std::vector<REFERENCE_TIME> starts, stops;
  std::vector<size_t> sizes;
  std::vector<std::string> warnings;
  std::string path;
};

class TemporaryFile {
 public:
  explicit TemporaryFile(const std::vector<BYTE>& bytes, const char* name = "input") {
    char folder[] = "/tmp/pelistra-sources-XXXXXX";
    folder_ = mkdtemp(folder) ? folder : "/tmp";
    path_ = folder_ + "/" + name;
    FILE* f = std::fopen(path_.c_str(), "wb");
    if (f) {
      if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
  }
  ~TemporaryFile() {
    std::remove(path_.c_str());
    rmdir(folder_.c_str());
  }
  const std::string& Path() const { return path_; }

 private:
  std::string folder_, path_;
};

inline SourceRun RunSource(StreamFormat format, const std::vector<BYTE>& bytes, double fps, const char* name = "input") {
  TemporaryFile file(bytes, name);
  SourceRun run;
  run.path = file.Path();
  ParsedSource source(format, file.Path(), fps);
  source.SetWarnings([&](const std::string& w) { run.warnings.push_back(w); });
  std::atomic<bool> stop{false};
  run.open = source.Open(stop);
  if (FAILED(run.open)) {
    run.error = source.Error();
    return run;
  }
  run.rate = source.PictureRate();
  MediaUnit unit;
  while ((run.end = source.Next(&unit, stop)) == S_OK) {
    EXPECT_TRUE(unit.timed);
    run.starts.push_back(unit.start);
    run.stops.push_back(unit.stop);
    run.sizes.push_back(unit.size);
  }
  if (FAILED(run.end)) run.error = source.Error();
  return run;
}
