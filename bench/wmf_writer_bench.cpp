// The writer objects' sample path, AllocateSample to WriteStreamSample, for 1 KiB, 16 KiB and
// 256 KiB samples into a file on tmpfs, side by side with a plain write() of the same bytes to
// the same place.
#include <vector>

#include "bench/bench_support.h"
#include "bench/writer_objects.h"

namespace {

bench::WriterObjects H264Writer() {
  VIDEOINFOHEADER info{};
  info.AvgTimePerFrame = 400000;
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 1280;
  info.bmiHeader.biHeight = 720;
  info.bmiHeader.biBitCount = 24;
  WM_MEDIA_TYPE type{};
  type.majortype = MEDIATYPE_Video;
  type.subtype = FourCCGuid("h264");
  type.formattype = FORMAT_VideoInfo;
  type.cbFormat = sizeof info;
  type.pbFormat = reinterpret_cast<BYTE*>(&info);
  return bench::WriterObjects(type, 4000000, 3000, 8, bench::ScratchDir() + "/writer.asf");
}

void BM_WriterObjects(benchmark::State& state) {
  const auto size = static_cast<size_t>(state.range(0));
  std::vector<BYTE> payload(size, 0x42);
  bench::WriterObjects writer = H264Writer();
  bench::RestartCounter restart;
  int64_t time = 0;
  for (auto _ : state) {
    if (writer.Write(time, 400000, payload) != S_OK) state.SkipWithError("WriteStreamSample failed");
    time += 400000;
    restart.Wrote(state, static_cast<int64_t>(size), [&] {
      writer.Restart();
      time = 0;
    });
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
  state.SetLabel("ns/sample = time column");
}

void BM_PlainWrite(benchmark::State& state) { bench::PlainWrites(state, "plain.bin"); }

BENCHMARK(BM_WriterObjects)->Arg(1024)->Arg(16384)->Arg(262144);
BENCHMARK(BM_PlainWrite)->Arg(1024)->Arg(16384)->Arg(262144);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  bench::PrintRatios(reporter, {{"BM_WriterObjects/1024", "BM_PlainWrite/1024"},
                                {"BM_WriterObjects/16384", "BM_PlainWrite/16384"},
                                {"BM_WriterObjects/262144", "BM_PlainWrite/262144"}});
  benchmark::Shutdown();
  return 0;
}
