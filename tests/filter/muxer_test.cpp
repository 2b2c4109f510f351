// The muxer filter: its interfaces (alone and aggregated), pins and accepted types, when a
// recording starts and ends, end-of-stream aggregation, samples through the pins, the file name
// and size limit, and construction when memory runs out.
#include <cstring>

#include "platform/com/alloc_fault.h"
#include "platform/com/taskmem.h"
#include "platform/dshow/seeking.h"
#include "platform/registry/registry.h"
#include "recorder/asf_recorder.h"
#include "tests/filter/muxer_fixture.h"

using namespace filter_test;

namespace {

constexpr HRESULT kNameTooLong = MakeStatus(0x800700CE);

// An outer object that aggregates the muxer: its own IUnknown, everything else from the inner.
class Outer final : public IUnknown {
 public:
  IUnknown* inner = nullptr;  // the muxer's non-delegating IUnknown
  LONG refs = 1;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner->QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
};

IUnknown* IdentityOf(IUnknown* object) {
  IUnknown* identity = nullptr;
  object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
  if (identity) identity->Release();
  return identity;
}

TEST_F(MuxerTest, AnswersItsInterfacesWithOneIdentity) {
  struct Case {
    const char* name;
    IID iid;
    HRESULT expected;
  };
  const Case cases[] = {
      {"IBaseFilter", IID_IBaseFilter, S_OK},         {"IMediaFilter", IID_IMediaFilter, S_OK},
      {"IPersist", IID_IPersist, S_OK},               {"IAMovieSetup", IID_IAMovieSetup, S_OK},
      {"IFileSinkFilter", IID_IFileSinkFilter, S_OK}, {"IASFMuxer", IID_IASFMuxer, S_OK},
      {"IMediaSeeking", IID_IMediaSeeking, S_OK},     {"IMediaPosition", IID_IMediaPosition, S_OK},
      {"IPin", IID_IPin, E_NOINTERFACE},              {"IMemInputPin", IID_IMemInputPin, E_NOINTERFACE},
      {"IClassFactory", IID_IClassFactory, E_NOINTERFACE},
  };
  IUnknown* identity = IdentityOf(filter);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    IUnknown* out = reinterpret_cast<IUnknown*>(1);
    ASSERT_EQ(c.expected, filter->QueryInterface(c.iid, reinterpret_cast<void**>(&out)));
    if (FAILED(c.expected)) {
      EXPECT_EQ(nullptr, out);
      continue;
    }
    EXPECT_EQ(identity, IdentityOf(out));
    out->Release();
  }
  EXPECT_EQ(E_POINTER, filter->QueryInterface(IID_IFileSinkFilter, nullptr));
  EXPECT_EQ(E_POINTER, filter->QueryInterface(IID_IMediaSeeking, nullptr));
}

TEST_F(MuxerTest, MakesOnePositionPassThroughAndAgainAfterAFailure) {
  IMediaSeeking* first = nullptr;
  {
    // No memory for it: the request fails, and the next one makes it.
    AllocationFault noMemory(0);
    EXPECT_EQ(E_OUTOFMEMORY, filter->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&first)));
  }
  ASSERT_EQ(S_OK, filter->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&first)));
  IMediaSeeking* second = nullptr;
  ASSERT_EQ(S_OK, filter->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&second)));
  EXPECT_EQ(first, second);
  IMediaPosition* position = nullptr;
  ASSERT_EQ(S_OK, filter->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(&position)));
  IMediaSeeking* fromPosition = nullptr;
  ASSERT_EQ(S_OK, position->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&fromPosition)));
  EXPECT_EQ(first, fromPosition);
  // Unconnected, the video pin has no upstream to ask.
  LONGLONG duration = 0;
  EXPECT_EQ(E_NOTIMPL, first->GetDuration(&duration));
  for (IUnknown* p : std::initializer_list<IUnknown*>{first, second, position, fromPosition}) p->Release();
}

TEST_F(MuxerTest, AggregatedItAnswersThroughTheOuterObject) {
  Outer outer;
  HRESULT hr = E_FAIL;
  CUnknown* object = CVelderMuxer::CreateInstance(&outer, &hr);
  ASSERT_EQ(S_OK, hr);
  object->NonDelegatingAddRef();
  ASSERT_EQ(S_OK, object->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(&outer.inner)));
  object->NonDelegatingRelease();

  for (IID iid : {IID_IFileSinkFilter, IID_IASFMuxer, IID_IBaseFilter, IID_IMediaSeeking}) {
    IUnknown* part = nullptr;
    ASSERT_EQ(S_OK, outer.QueryInterface(iid, reinterpret_cast<void**>(&part)));
    // Identity and counting are the outer object's.
    EXPECT_EQ(static_cast<IUnknown*>(&outer), IdentityOf(part));
    LONG before = outer.refs;
    part->AddRef();
    EXPECT_EQ(before + 1, outer.refs);
    part->Release();
    part->Release();
  }
  // The inner IUnknown is the muxer's own.
  IUnknown* inner = nullptr;
  ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&inner)));
  EXPECT_EQ(outer.inner, inner);
  inner->Release();
  EXPECT_EQ(0u, outer.inner->Release());
}

TEST_F(MuxerTest, HasTwoPinsWhetherConnectedOrNot) {
  EXPECT_EQ(2, muxer->GetPinCount());
  EXPECT_EQ(nullptr, muxer->GetPin(2));
  EXPECT_EQ(nullptr, muxer->GetPin(-1));
  const char16_t* names[] = {u"Video In", u"Audio In"};
  IEnumPins* pins = nullptr;
  ASSERT_EQ(S_OK, filter->EnumPins(&pins));
  for (int i = 0; i < 2; ++i) {
    IPin* pin = nullptr;
    ASSERT_EQ(S_OK, pins->Next(1, &pin, nullptr));
    EXPECT_EQ(PinInterface(i), pin);
    PIN_INFO info{};
    ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
    EXPECT_EQ(std::u16string(names[i]), std::u16string(info.achName));
    EXPECT_EQ(PINDIR_INPUT, info.dir);
    EXPECT_EQ(filter, info.pFilter);
    info.pFilter->Release();
    IPin* found = nullptr;
    ASSERT_EQ(S_OK, filter->FindPin(names[i], &found));
    EXPECT_EQ(pin, found);
    found->Release();
    pin->Release();
  }
  IPin* extra = nullptr;
  EXPECT_EQ(S_FALSE, pins->Next(1, &extra, nullptr));
  pins->Release();
  ASSERT_EQ(S_OK, Connect(0, VideoType()));
  EXPECT_EQ(2, muxer->GetPinCount());
}

TEST_F(MuxerTest, PinsAcceptTheirMajorAndFormatTypeWhateverTheSubtype) {
  struct Case {
    int pin;  // 0 video, 1 audio
    GUID major, subtype, format;
    HRESULT expected;
  };
  const GUID anySubtype = MakeGuid("01234567-89AB-CDEF-0123-456789ABCDEF");
  const Case cases[] = {
      {1, MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, S_OK},
      {1, MEDIATYPE_Audio, anySubtype, FORMAT_WaveFormatEx, S_OK},
      {1, MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_VideoInfo, E_FAIL},
      {1, MEDIATYPE_Audio, MEDIASUBTYPE_PCM, GUID_NULL, E_FAIL},
      {1, MEDIATYPE_Video, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, E_FAIL},
      {0, MEDIATYPE_Video, FourCCGuid("MJPG"), FORMAT_VideoInfo, S_OK},
      {0, MEDIATYPE_Video, anySubtype, FORMAT_VideoInfo, S_OK},
      {0, MEDIATYPE_Video, FourCCGuid("h264"), FORMAT_MPEG2Video, S_OK},
      {0, MEDIATYPE_Video, FourCCGuid("MJPG"), FORMAT_VideoInfo2, E_FAIL},
      {0, MEDIATYPE_Video, FourCCGuid("MJPG"), FORMAT_WaveFormatEx, E_FAIL},
      {0, MEDIATYPE_Audio, FourCCGuid("MJPG"), FORMAT_VideoInfo, E_FAIL},
  };
  for (const Case& c : cases) {
    CMediaType type;
    type.SetType(c.major);
    type.SetSubtype(c.subtype);
    type.SetFormatType(c.format);
    EXPECT_EQ(c.expected, Pin(c.pin)->CheckMediaType(&type))
        << "pin " << c.pin << " " << GuidToString(c.major) << " " << GuidToString(c.format);
  }
  EXPECT_EQ(E_POINTER, Pin(0)->CheckMediaType(nullptr));
  EXPECT_EQ(E_POINTER, Pin(1)->CheckMediaType(nullptr));
  // The pins propose no types of their own.
  IEnumMediaTypes* types = nullptr;
  ASSERT_EQ(S_OK, PinInterface(0)->EnumMediaTypes(&types));
  AM_MEDIA_TYPE* type = nullptr;
  EXPECT_EQ(S_FALSE, types->Next(1, &type, nullptr));
  types->Release();
  // A refused type leaves the pin unconnected.
  EXPECT_TRUE(FAILED(Connect(1, VideoType())));
  EXPECT_FALSE(Pin(1)->IsConnected());
  EXPECT_EQ(S_OK, Connect(1, AudioType()));
}

TEST_F(MuxerTest, LeavingTheStoppedStateStartsARecordingAndStopEndsIt) {
  // No pin connected: refused, nothing starts.
  EXPECT_EQ(E_UNEXPECTED, filter->Pause());
  EXPECT_EQ(State_Stopped, muxer->State());
  EXPECT_EQ(0, writer->script.begins);

  ASSERT_EQ(S_OK, Connect(0, VideoType()));
  ASSERT_EQ(S_OK, filter->Pause());
  EXPECT_EQ(1, writer->script.begins);
  ASSERT_EQ(S_OK, filter->Pause());
  ASSERT_EQ(S_OK, filter->Run(0));
  EXPECT_EQ(1, writer->script.begins) << "only leaving the stopped state starts a recording";
  EXPECT_EQ(0, writer->script.ends);
  ASSERT_EQ(S_OK, filter->Stop());
  EXPECT_EQ(1, writer->script.ends);
  EXPECT_EQ(State_Stopped, muxer->State());
  // Run on a stopped filter pauses it first, and so starts a recording.
  ASSERT_EQ(S_OK, filter->Run(0));
  EXPECT_EQ(2, writer->script.begins);
  EXPECT_EQ(State_Running, muxer->State());
  ASSERT_EQ(S_OK, filter->Stop());
  EXPECT_EQ(S_OK, filter->Stop());
}

TEST_F(MuxerTest, ARecordingThatCannotStartLeavesTheFilterStopped) {
  ASSERT_EQ(S_OK, Connect(1, AudioType()));  // the audio pin alone is enough
  writer->script.beginStatus = E_ACCESSDENIED;
  EXPECT_EQ(E_ACCESSDENIED, filter->Pause());
  EXPECT_EQ(State_Stopped, muxer->State());
  TestSample sample;
  EXPECT_EQ(VFW_E_WRONG_STATE, Input(1)->Receive(&sample)) << "the pins stay inactive";
  EXPECT_EQ(E_ACCESSDENIED, filter->Run(0));
  EXPECT_EQ(State_Stopped, muxer->State());
  // The next Pause tries again.
  writer->script.beginStatus = S_OK;
  EXPECT_EQ(S_OK, filter->Pause());
  EXPECT_EQ(State_Paused, muxer->State());
}

TEST_F(MuxerTest, SamplesReachTheRecorderOnlyWhileStreaming) {
  ASSERT_EQ(S_OK, Connect(0, VideoType()));
  ASSERT_EQ(S_OK, Connect(1, AudioType()));
  TestSample video(0), audio(0);
  EXPECT_EQ(E_POINTER, Input(0)->Receive(nullptr));
  EXPECT_EQ(VFW_E_WRONG_STATE, Input(0)->Receive(&video));
  EXPECT_EQ(VFW_E_WRONG_STATE, Input(1)->Receive(&audio));
  EXPECT_EQ(S_OK, Input(0)->ReceiveCanBlock());
  EXPECT_EQ(S_OK, Input(1)->ReceiveCanBlock());

  ASSERT_EQ(S_OK, filter->Run(0));
  EXPECT_EQ(S_OK, Input(0)->Receive(&video));
  EXPECT_EQ(S_OK, Input(1)->Receive(&audio));
  // While flushing, a sample is still written.
  ASSERT_EQ(S_OK, PinInterface(0)->BeginFlush());
  TestSample flushed(400000);
  EXPECT_EQ(S_OK, Input(0)->Receive(&flushed));
  ASSERT_EQ(S_OK, PinInterface(0)->EndFlush());
  // A failed write goes back upstream, and the next sample is taken.
  TestSample untimed(800000);
  untimed.timeStatus = VFW_E_SAMPLE_TIME_NOT_SET;
  EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, Input(0)->Receive(&untimed));
  TestSample next(800000);
  EXPECT_EQ(S_OK, Input(0)->Receive(&next));
  ASSERT_EQ(S_OK, filter->Stop());
  EXPECT_EQ(VFW_E_WRONG_STATE, Input(0)->Receive(&video));

  EXPECT_EQ(3, writer->script.CountSamples(kVideoStreamNumber));
  EXPECT_EQ(1, writer->script.CountSamples(kAudioStreamNumber));
}

TEST_F(MuxerTest, CompletionWaitsForEveryConnectedPinAndComesOncePerRun) {
  ASSERT_EQ(S_OK, Connect(0, VideoType()));
  ASSERT_EQ(S_OK, Connect(1, AudioType()));
  EXPECT_EQ(VFW_E_WRONG_STATE, PinInterface(0)->EndOfStream()) << "stopped";
  EXPECT_FALSE(Pin(0)->IsAtEndOfStream());

  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ASSERT_EQ(S_OK, filter->Run(0));
    EXPECT_EQ(S_OK, PinInterface(0)->EndOfStream());
    EXPECT_EQ(S_OK, PinInterface(0)->EndOfStream());
    EXPECT_TRUE(TakeEventCodes().empty()) << "the audio stream has not ended";
    EXPECT_EQ(S_OK, PinInterface(1)->EndOfStream());
    std::vector<Event> raised = TakeEvents();
    ASSERT_EQ(1u, raised.size());
    EXPECT_EQ(EC_COMPLETE, raised[0].code);
    EXPECT_EQ(S_OK, raised[0].param1);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(filter), raised[0].param2);
    EXPECT_EQ(S_OK, PinInterface(1)->EndOfStream());
    EXPECT_TRUE(TakeEventCodes().empty());
    ASSERT_EQ(S_OK, filter->Stop());
  }
}

// Once a pin's stream has ended, the other stream no longer waits for it, however far ahead.
TEST_F(MuxerTest, AnEndedStreamHoldsUpNoOther) {
  static int sleeps;
  sleeps = 0;
  SetSleepHook([](DWORD) { ++sleeps; });
  ASSERT_EQ(S_OK, Connect(0, VideoType()));
  ASSERT_EQ(S_OK, Connect(1, AudioType()));
  ASSERT_EQ(S_OK, filter->Run(0));
  TestSample audio(0), video(30000000);
  EXPECT_EQ(S_OK, Input(1)->Receive(&audio));
  EXPECT_EQ(S_OK, Input(0)->Receive(&video));
  EXPECT_EQ(1, sleeps) << "video 3 s ahead of audio that may still come";
  EXPECT_EQ(S_OK, PinInterface(1)->EndOfStream());
  TestSample later(40000000);
  EXPECT_EQ(S_OK, Input(0)->Receive(&later));
  EXPECT_EQ(1, sleeps) << "the audio has ended";
  SetSleepHook(nullptr);
  ASSERT_EQ(S_OK, filter->Stop());
}

// A file whose end cannot be written is the stop's failure; the filter stops all the same.
TEST_F(MuxerTest, AStopThatCannotFinishTheFileFails) {
  ASSERT_EQ(S_OK, Connect(0, VideoType()));
  ASSERT_EQ(S_OK, filter->Run(0));
  writer->script.endStatus = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DISK_FULL), filter->Stop());
  EXPECT_EQ(State_Stopped, muxer->State());
  TestSample sample;
  EXPECT_EQ(VFW_E_WRONG_STATE, Input(0)->Receive(&sample));
  EXPECT_EQ(S_OK, filter->Stop());
}

TEST_F(MuxerTest, AFilterWithOnePinConnectedCompletesInEveryRun) {
  ASSERT_EQ(S_OK, Connect(0, VideoType()));
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    // Paused: the end of stream is reported without waiting for Run.
    ASSERT_EQ(S_OK, filter->Pause());
    ASSERT_EQ(S_OK, PinInterface(0)->EndOfStream());
    EXPECT_EQ(std::vector<LONG>{EC_COMPLETE}, TakeEventCodes());
    ASSERT_EQ(S_OK, filter->Stop());
  }
}

TEST_F(MuxerTest, AnEndOfStreamWhileFlushingIsNotTaken) {
  ASSERT_EQ(S_OK, Connect(0, VideoType()));
  ASSERT_EQ(S_OK, filter->Run(0));
  ASSERT_EQ(S_OK, PinInterface(0)->BeginFlush());
  EXPECT_EQ(S_FALSE, PinInterface(0)->EndOfStream());
  EXPECT_FALSE(Pin(0)->IsAtEndOfStream());
  ASSERT_EQ(S_OK, PinInterface(0)->EndFlush());
  EXPECT_TRUE(TakeEventCodes().empty());
  // A flush clears an ended stream: the next end is reported again.
  ASSERT_EQ(S_OK, PinInterface(0)->EndOfStream());
  ASSERT_EQ(S_OK, PinInterface(0)->BeginFlush());
  ASSERT_EQ(S_OK, PinInterface(0)->EndFlush());
  EXPECT_FALSE(Pin(0)->IsAtEndOfStream());
  ASSERT_EQ(S_OK, PinInterface(0)->EndOfStream());
  EXPECT_EQ((std::vector<LONG>{EC_COMPLETE, EC_COMPLETE}), TakeEventCodes());
}

TEST_F(MuxerTest, FileNameLimits) {
  // A filter of its own: no name has been set on it.
  HRESULT hr = E_FAIL;
  CUnknown* object = CVelderMuxer::CreateInstance(nullptr, &hr);
  ASSERT_EQ(S_OK, hr);
  WCHAR* name = reinterpret_cast<WCHAR*>(1);
  AM_MEDIA_TYPE type;
  std::memset(&type, 0xAB, sizeof type);
  ASSERT_EQ(S_OK, static_cast<CVelderMuxer*>(object)->GetCurFile(&name, &type));
  delete object;
  EXPECT_EQ(std::u16string(), std::u16string(name));
  CoTaskMemFree(name);
  const AM_MEDIA_TYPE zero{};
  EXPECT_EQ(0, std::memcmp(&zero, &type, sizeof type)) << "the record comes back all zero";

  const std::u16string longest(259, u'x'), tooLong(260, u'y');
  EXPECT_EQ(E_POINTER, muxer->SetFileName(nullptr, nullptr));
  EXPECT_EQ(S_OK, muxer->SetFileName(longest.c_str(), nullptr));
  EXPECT_EQ(kNameTooLong, muxer->SetFileName(tooLong.c_str(), nullptr));
  ASSERT_EQ(S_OK, muxer->GetCurFile(&name, nullptr));
  EXPECT_EQ(longest, std::u16string(name));
  CoTaskMemFree(name);

  EXPECT_EQ(E_POINTER, muxer->GetCurFile(nullptr, nullptr));
  AllocationFault noMemory(0);
  name = reinterpret_cast<WCHAR*>(1);
  EXPECT_EQ(E_OUTOFMEMORY, muxer->GetCurFile(&name, nullptr));
  EXPECT_EQ(nullptr, name);
}

TEST_F(MuxerTest, SizeLimitBoundsAndTheSizeEvent) {
  const std::pair<DWORD, HRESULT> cases[] = {
      {0, E_INVALIDARG},      {10, E_INVALIDARG},       {11, S_OK},
      {4194303, S_OK},        {4194304, E_INVALIDARG}, {0xFFFFFFFF, E_INVALIDARG},
  };
  for (auto [mebibytes, expected] : cases) EXPECT_EQ(expected, muxer->SetMaxFileSize(mebibytes)) << mebibytes;
  EXPECT_EQ(S_OK, muxer->SetVideoBitrate(500000));

  // The refused 4,194,304 MiB would have wrapped to a limit of zero, passed by the first sample.
  ASSERT_EQ(S_OK, muxer->SetMaxFileSize(11));
  ASSERT_EQ(E_INVALIDARG, muxer->SetMaxFileSize(4194304));
  ASSERT_EQ(S_OK, Connect(0, VideoType()));
  ASSERT_EQ(S_OK, filter->Run(0));
  TestSample sample(0, 4096);
  ASSERT_EQ(S_OK, Input(0)->Receive(&sample));
  EXPECT_TRUE(TakeEventCodes().empty());
  // A file past the limit: the recorder's event reaches the graph with parameters 1 and 0.
  writer->script.fileSizes.push_back(12ull << 20);
  ASSERT_EQ(S_OK, Input(0)->Receive(&sample));
  std::vector<Event> raised = TakeEvents();
  ASSERT_EQ(1u, raised.size());
  EXPECT_EQ(EC_RECORD_SIZE_LIMIT, raised[0].code);
  EXPECT_EQ(1, raised[0].param1);
  EXPECT_EQ(0, raised[0].param2);
}

TEST_F(MuxerTest, RegisteringThroughTheFilterChangesNothing) {
  IAMovieSetup* setup = nullptr;
  ASSERT_EQ(S_OK, filter->QueryInterface(IID_IAMovieSetup, reinterpret_cast<void**>(&setup)));
  EXPECT_EQ(S_FALSE, setup->Register());
  EXPECT_EQ(S_FALSE, setup->Unregister());
  setup->Release();
  HKEY key = nullptr;
  EXPECT_EQ(static_cast<LONG>(ERROR_FILE_NOT_FOUND),
            RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A}", 0, KEY_READ, &key));
}

// Every allocation in the making of a filter may fail: the result is E_OUTOFMEMORY and nothing
// is left alive, until enough memory lets the whole filter be made.
TEST(MuxerConstruction, EveryAllocationFailureEndsInOutOfMemory) {
  const LONG before = CBaseObject::ObjectsActive();
  int failures = 0;
  for (long successes = 0;; ++successes) {
    ASSERT_LT(successes, 1000);
    HRESULT hr = E_FAIL;
    CUnknown* object = nullptr;
    {
      AllocationFault fault(successes);
      object = CVelderMuxer::CreateInstance(nullptr, &hr);
    }
    if (hr == S_OK) {
      ASSERT_NE(nullptr, object);
      delete object;
      break;
    }
    EXPECT_EQ(E_OUTOFMEMORY, hr) << successes;
    ++failures;
    delete object;  // as the class factory does with a partly built filter
    EXPECT_EQ(before, CBaseObject::ObjectsActive()) << successes;
  }
  EXPECT_GE(failures, 4) << "the filter, both pins and the recorder";
  EXPECT_EQ(before, CBaseObject::ObjectsActive());
}

}  // namespace
