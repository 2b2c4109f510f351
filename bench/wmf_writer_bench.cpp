// The writer objects' sample path, AllocateSample to WriteStreamSample, for 1 KiB, 16 KiB and
// 256 KiB samples into a file on tmpfs, side by side with a plain write() of the same bytes to
// the same place.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "platform/win/text.h"
#include "platform/wmf/wmsdk.h"

namespace {

constexpr int64_t kRestartBytes = int64_t{512} << 20;  // keep the tmpfs file bounded

struct WriterRig {
  IWMWriter* writer = nullptr;
  IWMWriterAdvanced* advanced = nullptr;
  std::string path = bench::ScratchDir() + "/writer.asf";

  WriterRig() {
    IWMProfileManager* manager = nullptr;
    WMCreateProfileManager(&manager);
    IWMProfile* profile = nullptr;
    manager->CreateEmptyProfile(WMT_VER_9_0, &profile);
    manager->Release();
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
    IWMStreamConfig* config = nullptr;
    profile->CreateNewStream(MEDIATYPE_Video, &config);
    IWMMediaProps* props = nullptr;
    config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props));
    props->SetMediaType(&type);
    config->SetBitrate(4000000);
    config->SetBufferWindow(3000);
    config->SetStreamNumber(8);
    profile->AddStream(config);
    props->Release();
    config->Release();
    WMCreateWriter(nullptr, &writer);
    writer->QueryInterface(IID_IWMWriterAdvanced, reinterpret_cast<void**>(&advanced));
    writer->SetProfile(profile);
    profile->Release();
    writer->SetInputProps(0, nullptr);
    writer->SetOutputFilename(Utf8ToWide(path).c_str());
    writer->BeginWriting();
  }
  void Restart() {
    writer->EndWriting();
    writer->BeginWriting();
  }
  ~WriterRig() {
    writer->EndWriting();
    advanced->Release();
    writer->Release();
    unlink(path.c_str());
  }
};

void BM_WriterObjects(benchmark::State& state) {
  const auto size = static_cast<DWORD>(state.range(0));
  std::vector<BYTE> payload(size, 0x42);
  WriterRig rig;
  int64_t time = 0, sinceRestart = 0;
  for (auto _ : state) {
    INSSBuffer* buffer = nullptr;
    rig.writer->AllocateSample(size, &buffer);
    BYTE* data = nullptr;
    buffer->GetBuffer(&data);
    std::memcpy(data, payload.data(), size);
    buffer->SetLength(size);
    if (rig.advanced->WriteStreamSample(8, time, static_cast<DWORD>(time / 10000), 400000, WM_SF_CLEANPOINT, buffer) != S_OK)
      state.SkipWithError("WriteStreamSample failed");
    buffer->Release();
    time += 400000;
    sinceRestart += size;
    if (sinceRestart > kRestartBytes) {
      state.PauseTiming();
      rig.Restart();
      time = 0;
      sinceRestart = 0;
      state.ResumeTiming();
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
  state.SetLabel("ns/sample = time column");
}

void BM_PlainWrite(benchmark::State& state) {
  const auto size = static_cast<size_t>(state.range(0));
  std::vector<char> payload(size, 0x42);
  std::string path = bench::ScratchDir() + "/plain.bin";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int64_t sinceRestart = 0;
  for (auto _ : state) {
    if (write(fd, payload.data(), size) != static_cast<ssize_t>(size)) state.SkipWithError("write failed");
    sinceRestart += static_cast<int64_t>(size);
    if (sinceRestart > kRestartBytes) {
      state.PauseTiming();
      ftruncate(fd, 0);
      lseek(fd, 0, SEEK_SET);
      sinceRestart = 0;
      state.ResumeTiming();
    }
  }
  close(fd);
  unlink(path.c_str());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

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
