// The muxer under concurrency (run under ThreadSanitizer too): both pins streaming on their own
// threads while the application names files, stops and runs the graph; both streams ending at
// the same moment; two threads asking for the seeking interface first at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "filter/input_pins.h"
#include "filter/velder_muxer.h"
#include "platform/asf/reader.h"
#include "platform/com/runtime.h"
#include "platform/com/taskmem.h"
#include "platform/dshow/graph.h"
#include "platform/dshow/seeking.h"
#include "platform/win/sync.h"
#include "platform/win/text.h"
#include "tests/filter/fixture_streams.h"
#include "tests/registry/temp_machine_root.h"

namespace {

IBaseFilter* NewMuxer(CVelderMuxer** muxer) {
  HRESULT hr = E_FAIL;
  CUnknown* object = CVelderMuxer::CreateInstance(nullptr, &hr);
  if (FAILED(hr)) return nullptr;
  IBaseFilter* filter = nullptr;
  object->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter));
  *muxer = static_cast<CVelderMuxer*>(filter);
  return filter;
}

class MuxerThreads : public TempMachineRoot {
 protected:
  void SetUp() override {
    TempMachineRoot::SetUp();
    objectsAtStart = CBaseObject::ObjectsActive();
    filter = NewMuxer(&muxer);
    ASSERT_NE(nullptr, filter);
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(&graph)));
    ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)));
    ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)));
    events->CancelDefaultHandling(EC_COMPLETE);
    ASSERT_EQ(S_OK, graph->AddFilter(filter, u"muxer"));
  }
  void TearDown() override {
    if (control) control->Stop();
    SafeRelease(control);
    SafeRelease(events);
    SafeRelease(graph);
    for (CPushSource* source : sources) source->Filter()->Release();
    if (filter) filter->Release();
    EXPECT_EQ(objectsAtStart, CBaseObject::ObjectsActive());
    TempMachineRoot::TearDown();
  }
  CPushSource* AddSource(const FixtureStream& stream, int pin, int loops) {
    CPushSource* source = NewPushSource(stream.type, stream.units, loops, stream.duration);
    sources.push_back(source);
    EXPECT_TRUE(SUCCEEDED(graph->AddFilter(source->Filter(), u"source")));
    EXPECT_EQ(S_OK, graph->ConnectDirect(source->Output(), static_cast<IPin*>(muxer->GetPin(pin)), nullptr));
    return source;
  }
  int TakeCompletions() {
    int completions = 0;
    LONG code;
    LONG_PTR p1, p2;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) completions += code == EC_COMPLETE;
    return completions;
  }

  LONG objectsAtStart = 0;
  CVelderMuxer* muxer = nullptr;
  IBaseFilter* filter = nullptr;
  IGraphBuilder* graph = nullptr;
  IMediaControl* control = nullptr;
  IMediaEvent* events = nullptr;
  std::vector<CPushSource*> sources;
};

TEST_F(MuxerThreads, StreamingWhileTheApplicationRenamesStopsAndRuns) {
  const std::string fixtures = std::string(PELISTRA_SOURCE_DIR) + "/tests/fixtures";
  FixtureStream video = H264Fixture(fixtures), audio = WavFixture(fixtures);
  ASSERT_EQ("", video.error + audio.error);
  AddSource(video, 0, 1000);
  AddSource(audio, 1, 1000);
  std::vector<std::string> names;
  for (int run = 0; run < 4; ++run) {
    names.push_back(root() + "/run" + std::to_string(run) + ".asf");
    ASSERT_EQ(S_OK, muxer->SetFileName(Utf8ToWide(names.back()).c_str(), nullptr));
    ASSERT_EQ(S_OK, control->Run());
    for (int rename = 0; rename < 6; ++rename) {
      Sleep(15);
      names.push_back(root() + "/run" + std::to_string(run) + "-" + std::to_string(rename) + ".asf");
      ASSERT_EQ(S_OK, muxer->SetFileName(Utf8ToWide(names.back()).c_str(), nullptr));
      WCHAR* current = nullptr;
      ASSERT_EQ(S_OK, muxer->GetCurFile(&current, nullptr));
      CoTaskMemFree(current);
    }
    ASSERT_EQ(S_OK, control->Stop());
    EXPECT_GT(sources[0]->Delivered(), 0u);
    EXPECT_GT(sources[1]->Delivered(), 0u);
  }
  // Every file the recorder began is a whole, readable file.
  int files = 0;
  for (const std::string& name : names) {
    if (!std::filesystem::exists(name)) continue;
    ++files;
    asf::Reader reader;
    ASSERT_EQ(S_OK, reader.Open(name)) << name;
    EXPECT_EQ(S_OK, reader.ReadObjects([](const asf::MediaObject&) {})) << name;
    EXPECT_FALSE(reader.HasErrors()) << name;
  }
  EXPECT_GE(files, 4);
}

TEST_F(MuxerThreads, BothStreamsEndingTogetherCompleteOncePerRun) {
  const std::string fixtures = std::string(PELISTRA_SOURCE_DIR) + "/tests/fixtures";
  FixtureStream video = H264Fixture(fixtures), audio = WavFixture(fixtures);
  ASSERT_EQ("", video.error + audio.error);
  // Sources that push nothing: the test ends the streams itself.
  video.units.clear();
  audio.units.clear();
  AddSource(video, 0, 0);
  AddSource(audio, 1, 0);
  ASSERT_EQ(S_OK, muxer->SetFileName(Utf8ToWide(root() + "/eos.asf").c_str(), nullptr));
  for (int run = 0; run < 50; ++run) {
    ASSERT_EQ(S_OK, filter->Run(0));
    std::atomic<int> ready{0};
    auto end = [&](int pin) {
      ++ready;
      while (ready.load() < 2) {
      }
      static_cast<IPin*>(muxer->GetPin(pin))->EndOfStream();
    };
    std::thread first(end, 0), second(end, 1);
    first.join();
    second.join();
    EXPECT_EQ(1, TakeCompletions()) << "run " << run;
    ASSERT_EQ(S_OK, filter->Stop());
  }
}

TEST(MuxerSeekingThreads, TwoFirstRequestsGetOnePassThrough) {
  const LONG before = CBaseObject::ObjectsActive();
  for (int round = 0; round < 50; ++round) {
    CVelderMuxer* muxer = nullptr;
    IBaseFilter* filter = NewMuxer(&muxer);
    ASSERT_NE(nullptr, filter);
    IMediaSeeking* got[2] = {};
    std::atomic<int> ready{0};
    auto ask = [&](int i) {
      ++ready;
      while (ready.load() < 2) {
      }
      filter->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&got[i]));
    };
    std::thread a(ask, 0), b(ask, 1);
    a.join();
    b.join();
    ASSERT_NE(nullptr, got[0]);
    EXPECT_EQ(got[0], got[1]);
    got[0]->Release();
    got[1]->Release();
    EXPECT_EQ(0u, filter->Release());
  }
  EXPECT_EQ(before, CBaseObject::ObjectsActive());
}

}  // namespace
