// Shared pieces of the benchmark programs: a scratch folder on tmpfs, and a main that runs the
// benchmarks and then prints side-by-side throughput ratios.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>

#include <cstdio>
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
