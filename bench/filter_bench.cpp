// The muxer filter's sample path against the recorder's own, on the H.264 and WAV fixtures, video
// only (/0) and video with audio (/1):
//   BM_Recorder  the samples handed straight to CASFRecorder, the recorder's own figure;
//   BM_MuxerPins the same samples through the filter's input pins (the framework's checks, the
//                pin's lock, the filter) into the same recorder, on one thread;
//   BM_Graph     a filter graph whose push sources deliver the fixtures as fast as the muxer takes
//                them, each on its own streaming thread, from Run to EC_COMPLETE.
//   BM_PinsVsRecorder the first two, one after the other in every iteration, each timed in this
//                thread's CPU time, so that a busy machine slows both alike: the filter path's
//                cost per sample against the recorder's, and the difference in percent.
// Each iteration records kPasses passes over the fixtures into one file on tmpfs.
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/bench_sample.h"
#include "bench/bench_support.h"
#include "filter/input_pins.h"
#include "filter/velder_muxer.h"
#include "platform/com/runtime.h"
#include "platform/dshow/graph.h"
#include "platform/win/text.h"
#include "recorder/asf_recorder.h"
#include "tests/filter/fixture_streams.h"

namespace {

constexpr int kPasses = 10;

struct Fixtures {
  FixtureStream video = H264Fixture(std::string(PELISTRA_SOURCE_DIR) + "/tests/fixtures");
  FixtureStream audio = WavFixture(std::string(PELISTRA_SOURCE_DIR) + "/tests/fixtures");
};

const Fixtures& TheFixtures() {
  static Fixtures fixtures;
  return fixtures;
}

// Every sample of kPasses passes, in time order across the streams, as two live sources
// deliver them; `audio` marks each.
struct Timeline {
  std::vector<bench::BenchSample> samples;
  std::vector<bool> audio;
  size_t bytes = 0;
};

Timeline MakeTimeline(bool withAudio) {
  const Fixtures& f = TheFixtures();
  struct Entry {
    REFERENCE_TIME start;
    bool audio;
    const PushUnit* unit;
    REFERENCE_TIME shift;
  };
  std::vector<Entry> entries;
  for (int pass = 0; pass < kPasses; ++pass) {
    for (const PushUnit& u : f.video.units) entries.push_back({u.start + pass * f.video.duration, false, &u, pass * f.video.duration});
    if (withAudio)
      for (const PushUnit& u : f.audio.units) entries.push_back({u.start + pass * f.audio.duration, true, &u, pass * f.audio.duration});
  }
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.start < b.start; });
  Timeline t;
  for (const Entry& e : entries) {
    t.samples.emplace_back(e.unit->bytes, e.unit->start + e.shift, e.unit->stop + e.shift, e.unit->sync);
    t.audio.push_back(e.audio);
    t.bytes += e.unit->bytes.size();
  }
  return t;
}

void Report(benchmark::State& state, const Timeline& t) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * t.samples.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * t.bytes));
  // Seconds per sample (shown with an SI prefix: u is microseconds).
  state.counters["per_sample"] = benchmark::Counter(static_cast<double>(state.iterations() * t.samples.size()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

class Owner final : public CRecorderOwner {
 public:
  explicit Owner(bool withAudio) : m_audioConnected(withAudio) {
    m_video = TheFixtures().video.type;
    m_audio = TheFixtures().audio.type;
  }
  BOOL IsAudioConnected() override { return m_audioConnected; }
  BOOL IsVideoConnected() override { return TRUE; }
  BOOL HasAudioEnded() override { return FALSE; }
  BOOL HasVideoEnded() override { return FALSE; }
  AM_MEDIA_TYPE* GetAudioMediaType() override { return &m_audio; }
  AM_MEDIA_TYPE* GetVideoMediaType() override { return &m_video; }
  HRESULT NotifySizeLimit(LONG_PTR) override { return S_OK; }

 private:
  bool m_audioConnected;
  CMediaType m_video, m_audio;
};

// The recorder on its own, writing to a file on tmpfs.
struct RecorderRig {
  Owner owner;
  CASFRecorder recorder{&owner};

  explicit RecorderRig(bool withAudio) : owner(withAudio) {
    recorder.SetSizeLimit(0xFFFFFFFF);
    recorder.SetFileName(Utf8ToWide(bench::ScratchDir() + "/recorder.asf").c_str());
  }
};

HRESULT RecorderPass(CASFRecorder& recorder, Timeline& t) {
  HRESULT hr = recorder.StartRecording();
  for (size_t i = 0; SUCCEEDED(hr) && i < t.samples.size(); ++i)
    hr = t.audio[i] ? recorder.WriteAudio(&t.samples[i]) : recorder.WriteVideo(&t.samples[i]);
  recorder.StopRecording();
  return hr;
}

void BM_Recorder(benchmark::State& state) {
  const bool withAudio = state.range(0) != 0;
  Timeline t = MakeTimeline(withAudio);
  RecorderRig rig(withAudio);
  for (auto _ : state)
    if (FAILED(RecorderPass(rig.recorder, t))) return state.SkipWithError("write");
  Report(state, t);
}

// The muxer in a graph with sources of the fixtures' types connected to its pins.
struct MuxerRig {
  CVelderMuxer* muxer = nullptr;
  IBaseFilter* filter = nullptr;
  IGraphBuilder* graph = nullptr;
  IMediaControl* control = nullptr;
  IMediaEvent* events = nullptr;
  CPushSource* sources[2] = {};

  MuxerRig(bool withAudio, int loops, const std::string& file) {
    const Fixtures& f = TheFixtures();
    HRESULT hr = E_FAIL;
    CUnknown* object = CVelderMuxer::CreateInstance(nullptr, &hr);
    object->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    muxer = static_cast<CVelderMuxer*>(filter);
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, reinterpret_cast<void**>(&graph));
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events));
    graph->AddFilter(filter, u"muxer");
    const FixtureStream* streams[2] = {&f.video, &f.audio};
    for (int pin = 0; pin < (withAudio ? 2 : 1); ++pin) {
      sources[pin] = NewPushSource(streams[pin]->type, loops ? streams[pin]->units : std::vector<PushUnit>{}, loops,
                                   streams[pin]->duration);
      graph->AddFilter(sources[pin]->Filter(), nullptr);
      graph->ConnectDirect(sources[pin]->Output(), static_cast<IPin*>(muxer->GetPin(pin)), nullptr);
    }
    muxer->SetMaxFileSize(4194303);
    muxer->SetFileName(Utf8ToWide(file).c_str(), nullptr);
  }
  ~MuxerRig() {
    control->Stop();
    control->Release();
    events->Release();
    graph->Release();
    for (CPushSource* s : sources)
      if (s) s->Filter()->Release();
    filter->Release();
  }
};

HRESULT PinsPass(MuxerRig& rig, Timeline& t) {
  IMemInputPin* pins[2] = {static_cast<IMemInputPin*>(static_cast<CXRenderedPin*>(rig.muxer->GetPin(0))),
                           static_cast<IMemInputPin*>(static_cast<CXRenderedPin*>(rig.muxer->GetPin(1)))};
  HRESULT hr = rig.filter->Run(0);
  for (size_t i = 0; SUCCEEDED(hr) && i < t.samples.size(); ++i) hr = pins[t.audio[i] ? 1 : 0]->Receive(&t.samples[i]);
  rig.filter->Stop();
  return hr;
}

void BM_MuxerPins(benchmark::State& state) {
  const bool withAudio = state.range(0) != 0;
  Timeline t = MakeTimeline(withAudio);
  MuxerRig rig(withAudio, 0, bench::ScratchDir() + "/pins.asf");
  for (auto _ : state)
    if (FAILED(PinsPass(rig, t))) return state.SkipWithError("receive");
  Report(state, t);
}

double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void BM_PinsVsRecorder(benchmark::State& state) {
  const bool withAudio = state.range(0) != 0;
  Timeline t = MakeTimeline(withAudio);
  RecorderRig recorderRig(withAudio);
  MuxerRig rig(withAudio, 0, bench::ScratchDir() + "/pins.asf");
  double recorderSeconds = 0, pinsSeconds = 0;
  bool pinsFirst = false;
  for (auto _ : state) {
    // Each goes first every other time, so neither always finds the caches warm.
    for (int leg = 0; leg < 2; ++leg) {
      const bool pins = (leg == 0) == pinsFirst;
      const double start = ThreadSeconds();
      HRESULT hr = pins ? PinsPass(rig, t) : RecorderPass(recorderRig.recorder, t);
      (pins ? pinsSeconds : recorderSeconds) += ThreadSeconds() - start;
      if (FAILED(hr)) return state.SkipWithError("write");
    }
    pinsFirst = !pinsFirst;
  }
  const double samples = static_cast<double>(state.iterations() * t.samples.size());
  state.counters["recorder_ns"] = recorderSeconds / samples * 1e9;
  state.counters["pins_ns"] = pinsSeconds / samples * 1e9;
  state.counters["added_pct"] = (pinsSeconds / recorderSeconds - 1) * 100;
}

void BM_Graph(benchmark::State& state) {
  const bool withAudio = state.range(0) != 0;
  Timeline t = MakeTimeline(withAudio);
  MuxerRig rig(withAudio, kPasses, bench::ScratchDir() + "/graph.asf");
  for (auto _ : state) {
    if (FAILED(rig.control->Run())) return state.SkipWithError("run");
    LONG code = 0;
    LONG_PTR p1, p2;
    while (rig.events->GetEvent(&code, &p1, &p2, 60000) == S_OK && code != EC_COMPLETE) {
    }
    if (code != EC_COMPLETE) return state.SkipWithError("no completion");
    rig.control->Stop();
  }
  Report(state, t);
}

BENCHMARK(BM_Recorder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MuxerPins)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Graph)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PinsVsRecorder)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const Fixtures& f = TheFixtures();
  if (!f.video.error.empty() || !f.audio.error.empty()) {
    std::fprintf(stderr, "fixtures: %s%s\n", f.video.error.c_str(), f.audio.error.c_str());
    return 1;
  }
  bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Below 100%: the filter path's share of the time per sample (at most 10% more than the recorder).
  bench::PrintRatios(reporter, {{"BM_MuxerPins/0/real_time", "BM_Recorder/0/real_time"},
                                {"BM_MuxerPins/1/real_time", "BM_Recorder/1/real_time"},
                                {"BM_Graph/0/real_time", "BM_Recorder/0/real_time"},
                                {"BM_Graph/1/real_time", "BM_Recorder/1/real_time"}});
  benchmark::Shutdown();
  return 0;
}
