// The recorder's sample path, WriteVideo and WriteAudio, beside the bare writer path it stands
// on (AllocateSample, copy, WriteStreamSample on the writer objects) for the same sample sizes,
// into files on tmpfs: H.264 at 4 and 15 Mbit/s (25 frames per second) and 20 ms blocks of 48 kHz
// stereo PCM. The table after the runs gives the recorder's added cost per sample.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "framework/mediatype.h"
#include "platform/win/text.h"
#include "platform/wmf/wmsdk.h"
#include "recorder/asf_recorder.h"
#include "recorder/media_types.h"

namespace {

constexpr int64_t kRestartBytes = int64_t{512} << 20;  // keep the tmpfs file bounded
constexpr REFERENCE_TIME kFrameTime = 400000;
constexpr REFERENCE_TIME kBlockTime = 200000;
constexpr int64_t kVideo4Mbit = 4000000 / 8 / 25;    // 20,000 bytes
constexpr int64_t kVideo15Mbit = 15000000 / 8 / 25;  // 75,000 bytes
constexpr int64_t kPcmBlock = 48000 * 4 / 50;        // 3,840 bytes

CMediaType VideoType() {
  VIDEOINFOHEADER info{};
  info.AvgTimePerFrame = kFrameTime;
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 1280;
  info.bmiHeader.biHeight = 720;
  info.bmiHeader.biBitCount = 24;
  CMediaType type;
  type.SetType(MEDIATYPE_Video);
  type.SetSubtype(MEDIASUBTYPE_H264_INPUT);
  type.SetFormatType(FORMAT_VideoInfo);
  type.SetFormat(&info, sizeof info);
  return type;
}

CMediaType AudioType() {
  WAVEFORMATEX wave{};
  wave.wFormatTag = WAVE_FORMAT_PCM;
  wave.nChannels = 2;
  wave.nSamplesPerSec = 48000;
  wave.wBitsPerSample = 16;
  wave.nBlockAlign = 4;
  wave.nAvgBytesPerSec = 192000;
  CMediaType type;
  type.SetType(MEDIATYPE_Audio);
  type.SetSubtype(MEDIASUBTYPE_PCM);
  type.SetFormatType(FORMAT_WaveFormatEx);
  type.SetFormat(&wave, sizeof wave);
  return type;
}

// An H.264 access unit of the given size: parameter sets and an IDR slice, filler after them.
std::vector<BYTE> VideoPayload(size_t size) {
  static const BYTE kHead[] = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1E, 0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80, 0, 0, 0, 1, 0x65};
  std::vector<BYTE> bytes(size, 0x5A);
  std::memcpy(bytes.data(), kHead, sizeof kHead);
  return bytes;
}

// A media sample that is only what the recorder reads: times, marks and bytes.
class BenchSample final : public IMediaSample {
 public:
  explicit BenchSample(std::vector<BYTE> bytes) : m_bytes(std::move(bytes)) {}
  void SetTimes(REFERENCE_TIME start, REFERENCE_TIME end) {
    m_start = start;
    m_end = end;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override {
    *buffer = m_bytes.data();
    return S_OK;
  }
  LONG STDMETHODCALLTYPE GetSize() override { return static_cast<LONG>(m_bytes.size()); }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
    *start = m_start;
    *end = m_end;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL) override { return E_NOTIMPL; }
  LONG STDMETHODCALLTYPE GetActualDataLength() override { return static_cast<LONG>(m_bytes.size()); }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** type) override {
    *type = nullptr;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

 private:
  std::vector<BYTE> m_bytes;
  REFERENCE_TIME m_start = 0, m_end = 0;
};

// One connected input, so the other stream's pacing never enters the figures.
class BenchOwner final : public CRecorderOwner {
 public:
  explicit BenchOwner(bool video) : m_video(video), m_type(video ? VideoType() : AudioType()) {}
  BOOL IsAudioConnected() override { return !m_video; }
  BOOL IsVideoConnected() override { return m_video; }
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
  BenchSample sample(video ? VideoPayload(size) : std::vector<BYTE>(size, 0x21));
  REFERENCE_TIME time = 0;
  int64_t sinceRestart = 0;
  for (auto _ : state) {
    sample.SetTimes(time, time + step);
    HRESULT hr = video ? recorder.WriteVideo(&sample) : recorder.WriteAudio(&sample);
    if (hr != S_OK) state.SkipWithError("write failed");
    time += step;
    sinceRestart += static_cast<int64_t>(size);
    if (sinceRestart > kRestartBytes) {
      state.PauseTiming();
      recorder.StopRecording();
      recorder.StartRecording();
      time = 0;
      sinceRestart = 0;
      state.ResumeTiming();
    }
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
  IWMProfileManager* manager = nullptr;
  WMCreateProfileManager(&manager);
  IWMProfile* profile = nullptr;
  manager->CreateEmptyProfile(WMT_VER_9_0, &profile);
  manager->Release();
  CMediaType type = video ? VideoType() : AudioType();
  if (video) type.SetSubtype(MEDIASUBTYPE_h264);
  IWMStreamConfig* config = nullptr;
  profile->CreateNewStream(type.majortype, &config);
  IWMMediaProps* props = nullptr;
  config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props));
  props->SetMediaType(&type);
  config->SetBitrate(video ? 4000000 : 1536000);
  config->SetBufferWindow(kBufferWindowMs);
  config->SetStreamNumber(number);
  profile->AddStream(config);
  props->Release();
  config->Release();
  IWMWriter* writer = nullptr;
  WMCreateWriter(nullptr, &writer);
  IWMWriterAdvanced* advanced = nullptr;
  writer->QueryInterface(IID_IWMWriterAdvanced, reinterpret_cast<void**>(&advanced));
  writer->SetProfile(profile);
  profile->Release();
  writer->SetInputProps(0, nullptr);
  std::string path = bench::ScratchDir() + (video ? "/bare-video.asf" : "/bare-audio.asf");
  writer->SetOutputFilename(Utf8ToWide(path).c_str());
  if (writer->BeginWriting() != S_OK) state.SkipWithError("BeginWriting failed");

  std::vector<BYTE> payload = video ? VideoPayload(size) : std::vector<BYTE>(size, 0x21);
  REFERENCE_TIME time = 0;
  int64_t sinceRestart = 0;
  for (auto _ : state) {
    INSSBuffer* buffer = nullptr;
    writer->AllocateSample(size, &buffer);
    BYTE* data = nullptr;
    buffer->GetBuffer(&data);
    std::memcpy(data, payload.data(), size);
    buffer->SetLength(size);
    if (advanced->WriteStreamSample(number, static_cast<QWORD>(time), static_cast<DWORD>(time / 10000), step,
                                    WM_SF_CLEANPOINT, buffer) != S_OK)
      state.SkipWithError("WriteStreamSample failed");
    buffer->Release();
    time += step;
    sinceRestart += size;
    if (sinceRestart > kRestartBytes) {
      state.PauseTiming();
      writer->EndWriting();
      writer->BeginWriting();
      time = 0;
      sinceRestart = 0;
      state.ResumeTiming();
    }
  }
  writer->EndWriting();
  advanced->Release();
  writer->Release();
  unlink(path.c_str());
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
