// Shared pieces of the benchmark programs: a scratch folder on tmpfs, a file kept bounded over
// long runs, the plain write() reference, and a main that runs the benchmarks and then prints
// side-by-side throughput ratios.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// tmpfs when there is one, so the figures measure our code and not a disk.
inline std::string ScratchDir() {
  static std::string dir = [] {
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    char pattern[256];
    std::snprintf(pattern, sizeof pattern, "%s/pelistra-bench-XXXXXX", base.c_str());
    return std::string(mkdtemp(pattern));
  }();
  return dir;
}

// Long runs start their file again now and then, so that it stays bounded on tmpfs.
constexpr int64_t kRestartBytes = int64_t{512} << 20;

// Counts the bytes written since the file was last started and, past kRestartBytes, calls
// `restart` outside the timing.
class RestartCounter {
 public:
  template <class Restart>
  void Wrote(benchmark::State& state, int64_t bytes, Restart&& restart) {
    written_ += bytes;
    if (written_ <= kRestartBytes) return;
    state.PauseTiming();
    restart();
    written_ = 0;
    state.ResumeTiming();
  }

 private:
  int64_t written_ = 0;
};

// The reference for a writer: plain write() calls of range(0) bytes each into `name` in the
// scratch folder.
inline void PlainWrites(benchmark::State& state, const char* name) {
  const auto size = static_cast<size_t>(state.range(0));
  std::vector<char> payload(size, 0x42);
  const std::string path = ScratchDir() + "/" + name;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return state.SkipWithError("open failed");
  RestartCounter restart;
  for (auto _ : state) {
    if (write(fd, payload.data(), size) != static_cast<ssize_t>(size)) {
      state.SkipWithError("write failed");
      break;
    }
    restart.Wrote(state, static_cast<int64_t>(size), [&] {
      (void)!ftruncate(fd, 0);
      lseek(fd, 0, SEEK_SET);
    });
  }
  close(fd);
  unlink(path.c_str());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

// Collects every run's throughput so that comparisons can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end()) throughput[run.benchmark_name()] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> throughput;
};

// Prints "ours / reference" for each pair of benchmark names present in the results.
inline void PrintRatios(const RatioReporter& reporter, const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::printf("\n%-44s %12s %12s %8s\n", "comparison", "ours MB/s", "ref MB/s", "ratio");
  for (const auto& [ours, reference] : pairs) {
    auto a = reporter.throughput.find(ours), b = reporter.throughput.find(reference);
    if (a == reporter.throughput.end() || b == reporter.throughput.end() || b->second <= 0) continue;
    std::printf("%-44s %12.1f %12.1f %7.0f%%\n", ours.c_str(), a->second / 1e6, b->second / 1e6,
                100.0 * a->second / b->second);
  }
}

}  // namespace bench
