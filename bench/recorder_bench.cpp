// The recorder's sample path, WriteVideo and WriteAudio, beside the bare writer path it stands
// on (AllocateSample, copy, WriteStreamSample on the writer objects) for the same sample sizes,
// into files on tmpfs: H.264 at 4 and 15 Mbit/s (25 frames per second) and 20 ms blocks of 48 kHz
// stereo PCM. The table after the runs gives the recorder's added cost per sample.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_sample.h"
#include "bench/bench_support.h"
#include "bench/writer_objects.h"
#include "framework/mediatype.h"
#include "platform/win/text.h"
#include "recorder/asf_recorder.h"
#include "recorder/media_types.h"

namespace {

constexpr REFERENCE_TIME kFrameTime = 400000;
constexpr REFERENCE_TIME kBlockTime = 200000;
constexpr int64_t kVideo4Mbit = 4000000 / 8 / 25;    // 20,000 bytes
constexpr int64_t kVideo15Mbit = 15000000 / 8 / 25;  // 75,000 bytes
constexpr int64_t kPcmBlock = 48000 * 4 / 50;        // 3,840 bytes

CMediaType MediaType(const GUID& major, const GUID& subtype, const GUID& formatType, const void* format, ULONG size) {
  CMediaType type;
  type.SetType(major);
  type.SetSubtype(subtype);
  type.SetFormatType(formatType);
  type.SetFormat(format, size);
  return type;
}

CMediaType VideoType() {
  VIDEOINFOHEADER info{};
  info.AvgTimePerFrame = kFrameTime;
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 1280;
  info.bmiHeader.biHeight = 720;
  info.bmiHeader.biBitCount = 24;
  return MediaType(MEDIATYPE_Video, MEDIASUBTYPE_H264_INPUT, FORMAT_VideoInfo, &info, sizeof info);
}

CMediaType AudioType() {
  WAVEFORMATEX wave{};
  wave.wFormatTag = WAVE_FORMAT_PCM;
  wave.nChannels = 2;
  wave.nSamplesPerSec = 48000;
  wave.wBitsPerSample = 16;
  wave.nBlockAlign = 4;
  wave.nAvgBytesPerSec = 192000;
  return MediaType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, &wave, sizeof wave);
}

// An H.264 access unit of the given size: parameter sets and an IDR slice, filler after them.
std::vector<BYTE> VideoPayload(size_t size) {
  static const BYTE kHead[] = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1E, 0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80, 0, 0, 0, 1, 0x65};
  std::vector<BYTE> bytes(size, 0x5A);
  std::memcpy(bytes.data(), kHead, sizeof kHead);
  return bytes;
}

// One connected input, so the other stream's pacing never enters the figures.
class BenchOwner final : public CRecorderOwner {
 public:
  explicit BenchOwner(bool video) : m_video(video), m_type(video ? VideoType() : AudioType()) {}
  BOOL IsAudioConnected() override { return !m_video; }
  BOOL IsVideoConnected() override { return m_video; }
  BOOL HasAudioEnded() override { return FALSE; }
  BOOL HasVideoEnded() override { return FALSE; }
  AM_MEDIA_TYPE* GetAudioMediaType() override { return &m_type; }
  AM_MEDIA_TYPE* GetVideoMediaType() override { return &m_type; }
  HRESULT NotifySizeLimit(LONG_PTR) override { return S_OK; }

 private:
  bool m_video;
  CMediaType m_type;
};

void RecorderPath(benchmark::State& state, bool video) {
  const auto size = static_cast<size_t>(state.range(0));
  const REFERENCE_TIME step = video ? kFrameTime : kBlockTime;
  BenchOwner owner(video);
  CASFRecorder recorder(&owner);
  std::string path = bench::ScratchDir() + (video ? "/recorder-video.asf" : "/recorder-audio.asf");
  recorder.SetFileName(Utf8ToWide(path).c_str());
  if (recorder.StartRecording() != S_OK) {
    state.SkipWithError("StartRecording failed");
    return;
  }
  const std::vector<BYTE> payload = video ? VideoPayload(size) : std::vector<BYTE>(size, 0x21);
  bench::BenchSample sample(payload, 0, 0, true);
  bench::RestartCounter restart;
  REFERENCE_TIME time = 0;
  for (auto _ : state) {
    sample.SetTimes(time, time + step);
    HRESULT hr = video ? recorder.WriteVideo(&sample) : recorder.WriteAudio(&sample);
    if (hr != S_OK) state.SkipWithError("write failed");
    time += step;
    restart.Wrote(state, static_cast<int64_t>(size), [&] {
      recorder.StopRecording();
      recorder.StartRecording();
      time = 0;
    });
  }
  recorder.StopRecording();
  unlink(path.c_str());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

void BM_RecorderWriteVideo(benchmark::State& state) { RecorderPath(state, true); }
void BM_RecorderWriteAudio(benchmark::State& state) { RecorderPath(state, false); }

// The same stream through the writer objects directly, with the profile the recorder builds.
void BarePath(benchmark::State& state, bool video) {
  const auto size = static_cast<DWORD>(state.range(0));
  const REFERENCE_TIME step = video ? kFrameTime : kBlockTime;
  const WORD number = video ? kVideoStreamNumber : kAudioStreamNumber;
  CMediaType type = video ? VideoType() : AudioType();
  if (video) type.SetSubtype(MEDIASUBTYPE_h264);
  bench::WriterObjects writer(type, video ? 4000000 : 1536000, kBufferWindowMs, number,
                              bench::ScratchDir() + (video ? "/bare-video.asf" : "/bare-audio.asf"));
  if (writer.Began() != S_OK) state.SkipWithError("BeginWriting failed");

  const std::vector<BYTE> payload = video ? VideoPayload(size) : std::vector<BYTE>(size, 0x21);
  bench::RestartCounter restart;
  REFERENCE_TIME time = 0;
  for (auto _ : state) {
    if (writer.Write(time, step, payload) != S_OK) state.SkipWithError("WriteStreamSample failed");
    time += step;
    restart.Wrote(state, static_cast<int64_t>(size), [&] {
      writer.Restart();
      time = 0;
    });
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

void BM_BareWriterVideo(benchmark::State& state) { BarePath(state, true); }
void BM_BareWriterAudio(benchmark::State& state) { BarePath(state, false); }

BENCHMARK(BM_RecorderWriteVideo)->Arg(kVideo4Mbit)->Arg(kVideo15Mbit);
BENCHMARK(BM_BareWriterVideo)->Arg(kVideo4Mbit)->Arg(kVideo15Mbit);
BENCHMARK(BM_RecorderWriteAudio)->Arg(kPcmBlock);
BENCHMARK(BM_BareWriterAudio)->Arg(kPcmBlock);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"BM_RecorderWriteVideo/" + std::to_string(kVideo4Mbit), "BM_BareWriterVideo/" + std::to_string(kVideo4Mbit)},
      {"BM_RecorderWriteVideo/" + std::to_string(kVideo15Mbit), "BM_BareWriterVideo/" + std::to_string(kVideo15Mbit)},
      {"BM_RecorderWriteAudio/" + std::to_string(kPcmBlock), "BM_BareWriterAudio/" + std::to_string(kPcmBlock)},
  };
  // With --benchmark_repetitions the medians are compared; on a busy machine they are the
  // figures to trust.
  std::vector<std::pair<std::string, std::string>> compared;
  for (const auto& [ours, reference] : pairs) {
    bool medians = reporter.throughput.count(ours + "_median") && reporter.throughput.count(reference + "_median");
    compared.emplace_back(medians ? ours + "_median" : ours, medians ? reference + "_median" : reference);
  }
  bench::PrintRatios(reporter, compared);
  // The recorder's cost per sample over the bare writer's, from the same throughputs.
  std::printf("\n%-44s %12s\n", "recorder's added cost per sample", "target <=10%");
  for (const auto& [ours, reference] : compared) {
    auto a = reporter.throughput.find(ours), b = reporter.throughput.find(reference);
    if (a == reporter.throughput.end() || b == reporter.throughput.end() || a->second <= 0) continue;
    std::printf("%-44s %+11.1f%%\n", ours.c_str(), 100.0 * (b->second / a->second - 1.0));
  }
  benchmark::Shutdown();
  return 0;
}
