// A recording application that knows the muxer only by its class identifier: it builds a graph
// with an H.264 and a WAV push source, names the file, sets a size limit, runs, moves to a new
// file each time the size event comes, and stops at EC_COMPLETE.
//
//   filter_record_client FIXTURES_FOLDER OUTPUT_FOLDER LOOPS SIZE_LIMIT_MIB
//
// Prints each file it named, one per line, and exits 0 when the recording completed.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "filter/asf_muxer.h"
#include "platform/com/runtime.h"
#include "platform/com/taskmem.h"
#include "platform/dshow/graph.h"
#include "platform/win/text.h"
#include "tests/filter/fixture_streams.h"

namespace {

int Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "%s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
  return 1;
}

IPin* FindPin(IBaseFilter* filter, const char16_t* name) {
  IPin* pin = nullptr;
  filter->FindPin(name, &pin);
  return pin;
}

int Record(const std::string& fixtures, const std::string& output, int loops, DWORD limit) {
  FixtureStream video = H264Fixture(fixtures), audio = WavFixture(fixtures);
  if (!video.error.empty() || !audio.error.empty()) {
    std::fprintf(stderr, "fixtures: %s%s\n", video.error.c_str(), audio.error.c_str());
    return 1;
  }
  IGraphBuilder* graph = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&graph));
  if (FAILED(hr)) return Fail("creating the graph", hr);
  IBaseFilter* muxer = nullptr;
  hr = CoCreateInstance(CLSID_VelderMuxer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                        reinterpret_cast<void**>(&muxer));
  if (FAILED(hr)) return Fail("creating the muxer", hr);
  CPushSource* videoSource = NewPushSource(video.type, video.units, loops, video.duration);
  CPushSource* audioSource = NewPushSource(audio.type, audio.units, loops, audio.duration);

  int status = 1;
  IMediaControl* control = nullptr;
  IMediaEvent* events = nullptr;
  IFileSinkFilter* sink = nullptr;
  IASFMuxer* settings = nullptr;
  IPin* videoIn = FindPin(muxer, u"Video In");
  IPin* audioIn = FindPin(muxer, u"Audio In");
  int part = 1;
  auto nextName = [&] { return output + "/part-" + std::to_string(part++) + ".asf"; };
  std::string name = nextName();
  if (FAILED(hr = graph->AddFilter(muxer, u"Halvorn ASF Muxer")) ||
      FAILED(hr = graph->AddFilter(videoSource->Filter(), u"H.264 source")) ||
      FAILED(hr = graph->AddFilter(audioSource->Filter(), u"WAV source"))) {
    Fail("adding the filters", hr);
  } else if (!videoIn || !audioIn) {
    Fail("finding the muxer's pins", E_FAIL);
  } else if (FAILED(hr = graph->Connect(videoSource->Output(), videoIn)) ||
             FAILED(hr = graph->Connect(audioSource->Output(), audioIn))) {
    Fail("connecting the sources", hr);
  } else if (FAILED(hr = muxer->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&sink))) ||
             FAILED(hr = muxer->QueryInterface(IID_IASFMuxer, reinterpret_cast<void**>(&settings))) ||
             FAILED(hr = graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control))) ||
             FAILED(hr = graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)))) {
    Fail("asking for the interfaces", hr);
  } else if (FAILED(hr = sink->SetFileName(Utf8ToWide(name).c_str(), nullptr)) ||
             FAILED(hr = settings->SetMaxFileSize(limit))) {
    Fail("naming the file", hr);
  } else if (FAILED(hr = control->Run())) {
    Fail("running the graph", hr);
  } else {
    std::printf("%s\n", name.c_str());
    for (;;) {
      LONG code = 0;
      LONG_PTR param1 = 0, param2 = 0;
      hr = events->GetEvent(&code, &param1, &param2, 120000);
      if (FAILED(hr)) {
        Fail("waiting for an event", hr);
        break;
      }
      events->FreeEventParams(code, param1, param2);
      if (code == EC_RECORD_SIZE_LIMIT) {
        // The file is nearly full: the next one starts at the next key frame.
        name = nextName();
        hr = sink->SetFileName(Utf8ToWide(name).c_str(), nullptr);
        if (FAILED(hr)) {
          Fail("naming the next file", hr);
          break;
        }
        std::printf("%s\n", name.c_str());
      } else if (code == EC_COMPLETE) {
        status = 0;
        break;
      } else if (code == EC_ERRORABORT || code == EC_USERABORT) {
        Fail("the recording", static_cast<HRESULT>(param1));
        break;
      }
    }
    hr = control->Stop();
    if (FAILED(hr)) status = Fail("stopping the graph", hr);
    if (videoSource->Delivered() != video.units.size() * loops ||
        audioSource->Delivered() != audio.units.size() * loops) {
      std::fprintf(stderr, "the muxer took %zu video and %zu audio samples\n", videoSource->Delivered(),
                   audioSource->Delivered());
      status = 1;
    }
  }
  for (IUnknown* p : std::initializer_list<IUnknown*>{videoIn, audioIn, sink, settings, control, events})
    if (p) p->Release();
  graph->Release();
  muxer->Release();
  videoSource->Filter()->Release();
  audioSource->Filter()->Release();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: filter_record_client FIXTURES OUTPUT LOOPS SIZE_LIMIT_MIB\n");
    return 2;
  }
  CoInitialize(nullptr);
  int status = Record(argv[1], argv[2], std::atoi(argv[3]), static_cast<DWORD>(std::strtoul(argv[4], nullptr, 10)));
  CoUninitialize();
  return status;
}
