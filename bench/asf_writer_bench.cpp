// The bare container path, asf::Writer::WriteSample, for 1 KiB, 16 KiB and 256 KiB samples into a
// file on tmpfs, side by side with a plain write() of the same bytes to the same place; then the
// container overhead of a 4 Mbit/s 25 fps video with 48 kHz stereo PCM in 20 ms blocks.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/asf/writer.h"

namespace {

asf::StreamDescription VideoStream() {
  asf::StreamDescription video;
  video.number = 8;
  video.kind = asf::StreamKind::Video;
  video.format.assign(40, 0);
  video.format[16] = 'H', video.format[17] = '2', video.format[18] = '6', video.format[19] = '4';
  video.width = 1280;
  video.height = 720;
  video.bitrate = 4000000;
  video.averageTimePerFrame = 400000;
  return video;
}

asf::StreamDescription PcmStream() {
  asf::StreamDescription audio;
  audio.number = 6;
  audio.kind = asf::StreamKind::Audio;
  // PCM, 2 channels, 48 kHz, 192000 bytes/s, block 4, 16 bits, cbSize 0.
  audio.format = {1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0x00, 0xEE, 0x02, 0, 4, 0, 16, 0, 0, 0};
  audio.bitrate = 1536000;
  return audio;
}

void CountTimePerSample(benchmark::State& state) {
  state.counters["ns_per_sample"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_AsfWriteSample(benchmark::State& state) {
  const auto size = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> payload(size, 0x42);
  const std::string path = bench::ScratchDir() + "/asf-writer.asf";
  asf::WriterOptions options;
  options.streams = {VideoStream()};
  asf::Writer writer;
  if (writer.Open(path, options) != S_OK) return state.SkipWithError("Open failed");
  bench::RestartCounter restart;
  int64_t time = 0;
  for (auto _ : state) {
    if (writer.WriteSample(8, time, 400000, true, false, payload.data(), size) != S_OK)
      return state.SkipWithError("WriteSample failed");
    time += 400000;
    restart.Wrote(state, static_cast<int64_t>(size), [&] {
      writer.Close();
      writer.Open(path, options);
      time = 0;
    });
  }
  writer.Close();
  unlink(path.c_str());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
  CountTimePerSample(state);
}

void BM_PlainWriteCopy(benchmark::State& state) {
  bench::PlainWrites(state, "plain-copy.bin");
  CountTimePerSample(state);
}

BENCHMARK(BM_AsfWriteSample)->Arg(1024)->Arg(16384)->Arg(262144);
BENCHMARK(BM_PlainWriteCopy)->Arg(1024)->Arg(16384)->Arg(262144);

// File bytes beyond the payload for 60 s of 4 Mbit/s video (20,000-byte frames at 25 fps) and
// PCM audio in 20 ms blocks of 3,840 bytes, fed in time order.
void PrintOverhead(uint32_t packetSize) {
  const std::string path = bench::ScratchDir() + "/overhead.asf";
  asf::WriterOptions options;
  options.streams = {PcmStream(), VideoStream()};
  options.title = u"ASF File";
  options.packetSize = packetSize;
  asf::Writer writer;
  if (writer.Open(path, options) != S_OK) return;
  std::vector<uint8_t> frame(20000, 0x11), block(3840, 0x22);
  uint64_t payload = 0;
  for (int64_t ms = 0; ms < 60000; ms += 20) {
    if (ms % 40 == 0) {
      writer.WriteSample(8, ms * 10000, 400000, ms % 1000 == 0, false, frame.data(), frame.size());
      payload += frame.size();
    }
    writer.WriteSample(6, ms * 10000, 200000, false, false, block.data(), block.size());
    payload += block.size();
  }
  writer.Close();
  const uint64_t size = writer.FileSize();
  unlink(path.c_str());
  std::printf("container overhead, 4 Mbit/s video + PCM, %5u-byte packets%s: %.3f%% (%llu bytes over %llu payload)\n",
              packetSize, packetSize == asf::kDefaultPacketSize ? " (default)" : "",
              100.0 * static_cast<double>(size - payload) / static_cast<double>(payload),
              static_cast<unsigned long long>(size - payload), static_cast<unsigned long long>(payload));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (uint32_t packetSize : {3200u, asf::kDefaultPacketSize, 16384u, 65535u}) PrintOverhead(packetSize);
  bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  bench::PrintRatios(reporter, {{"BM_AsfWriteSample/1024", "BM_PlainWriteCopy/1024"},
                                {"BM_AsfWriteSample/16384", "BM_PlainWriteCopy/16384"},
                                {"BM_AsfWriteSample/262144", "BM_PlainWriteCopy/262144"}});
  benchmark::Shutdown();
  return 0;
}
