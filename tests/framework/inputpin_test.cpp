// Input pins: the checks every sample passes, its properties, type changes, flushing, end of
// stream and completion, the allocator.
#include <vector>

#include "platform/com/runtime.h"
#include "tests/framework/framework_test.h"
#include "tests/framework/test_filters.h"

using namespace testing_filters;

namespace {

// A sample of the older kind, without IMediaSample2, whose answers the test sets.
class OldSample final : public IMediaSample {
 public:
  HRESULT discontinuity = S_FALSE, preroll = S_FALSE, sync = S_FALSE, time = S_OK, type = S_FALSE;
  const AM_MEDIA_TYPE* newType = nullptr;
  int calls = 0;
  BYTE buffer[16] = {};

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IMediaSample) {
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** p) override {
    ++calls;
    *p = buffer;
    return S_OK;
  }
  LONG STDMETHODCALLTYPE GetSize() override { return ++calls, 16; }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override {
    ++calls;
    if (FAILED(time)) return time;
    *start = 100;
    *stop = 200;
    return time;
  }
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return ++calls, sync; }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return ++calls, preroll; }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL) override { return E_NOTIMPL; }
  LONG STDMETHODCALLTYPE GetActualDataLength() override { return ++calls, 12; }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** out) override {
    ++calls;
    *out = type == S_OK && newType ? CreateMediaType(newType) : nullptr;
    return type;
  }
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return ++calls, discontinuity; }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
};

class InputPin : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    source = Create<CTestSourceFilter>();
    sink = Create<CTestSinkFilter>(1);
    input = sink->Input();
    ASSERT_EQ(source->Output()->Connect(input, nullptr), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaEvent,
                               reinterpret_cast<void**>(&events)),
              S_OK);
    events->CancelDefaultHandling(EC_COMPLETE);
    IFilterGraph* graph = nullptr;
    events->QueryInterface(IID_IFilterGraph, reinterpret_cast<void**>(&graph));
    // Joined directly: the test drives the filter's state itself.
    sink->Interface()->JoinFilterGraph(graph, u"sink");
    graph->Release();
  }
  void TearDown() override {
    sink->Interface()->Stop();
    source->Interface()->Stop();
    sink->Interface()->JoinFilterGraph(nullptr, nullptr);
    events->Release();
    source->Output()->Disconnect();
    input->Disconnect();
    source->Interface()->Release();
    sink->Interface()->Release();
    FrameworkTest::TearDown();
  }
  std::vector<LONG> TakeEvents() {
    std::vector<LONG> codes;
    LONG code;
    LONG_PTR p1, p2;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) codes.push_back(code);
    return codes;
  }
  void Run() {
    ASSERT_EQ(source->Interface()->Pause(), S_OK);  // commits the allocator
    ASSERT_EQ(sink->Interface()->Run(0), S_OK);
  }
  // A sample from the connection's allocator.
  IMediaSample* PoolSample() {
    IMediaSample* sample = nullptr;
    EXPECT_EQ(source->Output()->Allocator()->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    return sample;
  }

  CTestSourceFilter* source = nullptr;
  CTestSinkFilter* sink = nullptr;
  CTestInputPin* input = nullptr;
  IMediaEvent* events = nullptr;
};

TEST_F(InputPin, ReceiveChecksTheStreamingStateFirst) {
  OldSample sample;
  EXPECT_EQ(input->Receive(nullptr), E_POINTER);
  EXPECT_EQ(input->Receive(&sample), VFW_E_WRONG_STATE);
  EXPECT_EQ(sample.calls, 0) << "a refused sample is not touched";
  Run();
  EXPECT_EQ(input->BeginFlush(), S_OK);
  EXPECT_EQ(input->Receive(&sample), S_FALSE);
  EXPECT_EQ(input->EndOfStream(), S_FALSE);
  EXPECT_EQ(input->EndFlush(), S_OK);
  EXPECT_EQ(input->Receive(&sample), S_OK);
  EXPECT_EQ(input->received, 1);
}

struct PropertyCase {
  HRESULT discontinuity, preroll, sync, time, type;
  DWORD flags;
};

TEST_F(InputPin, PropertiesOfASampleWithoutTheNewerInterface) {
  Run();
  CMediaType video = VideoType();
  const PropertyCase cases[] = {
      {S_FALSE, S_FALSE, S_FALSE, S_OK, S_FALSE, AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID},
      {S_OK, S_FALSE, S_FALSE, VFW_E_SAMPLE_TIME_NOT_SET, S_FALSE, AM_SAMPLE_DATADISCONTINUITY},
      {S_FALSE, S_OK, S_OK, E_FAIL, S_FALSE, AM_SAMPLE_PREROLL | AM_SAMPLE_SPLICEPOINT},
      {S_FALSE, S_FALSE, S_FALSE, VFW_S_NO_STOP_TIME, S_OK,
       AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID | AM_SAMPLE_TYPECHANGED},
      {E_FAIL, E_FAIL, E_FAIL, E_FAIL, E_OUTOFMEMORY, 0},
  };
  for (const PropertyCase& c : cases) {
    OldSample sample;
    sample.discontinuity = c.discontinuity;
    sample.preroll = c.preroll;
    sample.sync = c.sync;
    sample.time = c.time;
    sample.type = c.type;
    sample.newType = &video;  // an acceptable change
    input->properties.clear();
    ASSERT_EQ(input->Receive(&sample), S_OK);
    ASSERT_EQ(input->properties.size(), 1u);
    const AM_SAMPLE2_PROPERTIES& p = input->properties[0];
    EXPECT_EQ(p.dwSampleFlags, c.flags);
    EXPECT_EQ(p.cbData, sizeof(AM_SAMPLE2_PROPERTIES));
    EXPECT_EQ(p.pbBuffer, sample.buffer);
    EXPECT_EQ(p.lActual, 12);
    EXPECT_EQ(p.cbBuffer, 16);
    if (c.flags & AM_SAMPLE_TIMEVALID) EXPECT_EQ(p.tStop, 200);
    EXPECT_EQ(p.pMediaType, nullptr) << "the copied type is freed before Receive returns";
  }
}

TEST_F(InputPin, PropertiesOfAPoolSampleComeWhole) {
  Run();
  IMediaSample* sample = PoolSample();
  REFERENCE_TIME start = 5, stop = 9;
  sample->SetTime(&start, &stop);
  sample->SetSyncPoint(TRUE);
  sample->SetActualDataLength(3);
  ASSERT_EQ(input->Receive(sample), S_OK);
  const AM_SAMPLE2_PROPERTIES& p = input->properties.at(0);
  EXPECT_EQ(p.dwSampleFlags, AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
  EXPECT_EQ(p.tStart, 5);
  EXPECT_EQ(p.tStop, 9);
  EXPECT_EQ(p.lActual, 3);
  EXPECT_EQ(p.cbBuffer, source->Output()->bufferSize);
  sample->Release();
}

TEST_F(InputPin, RefusedTypeChangeAbortsTheStreamUntilFlushOrStop) {
  Run();
  TakeEvents();
  CMediaType accepted = VideoType(1280), refused = AudioType();
  IMediaSample* sample = PoolSample();
  sample->SetMediaType(&accepted);
  EXPECT_EQ(input->Receive(sample), S_OK);
  AM_MEDIA_TYPE current;
  ASSERT_EQ(input->ConnectionMediaType(&current), S_OK);
  EXPECT_TRUE(CMediaType(current) == VideoType()) << "an accepted change leaves the connection type";
  FreeMediaType(current);

  sample->SetMediaType(&refused);
  EXPECT_EQ(input->Receive(sample), VFW_E_INVALIDMEDIATYPE);
  sample->SetMediaType(nullptr);
  EXPECT_EQ(input->Receive(sample), VFW_E_RUNTIME_ERROR);
  EXPECT_EQ(input->EndOfStream(), VFW_E_RUNTIME_ERROR);
  LONG code;
  LONG_PTR p1, p2;
  ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_ERRORABORT);
  EXPECT_EQ(p1, VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(p2, 0);
  EXPECT_TRUE(TakeEvents().empty()) << "one abort, and the end of stream it tried raised nothing";

  input->BeginFlush();
  input->EndFlush();
  EXPECT_EQ(input->Receive(sample), S_OK);
  sample->SetMediaType(&refused);
  EXPECT_EQ(input->Receive(sample), VFW_E_INVALIDMEDIATYPE);
  sample->Release();
  sink->Interface()->Stop();
  ASSERT_EQ(sink->Interface()->Run(0), S_OK);
  source->Output()->Allocator()->Commit();  // the sink's stop decommitted the shared allocator
  sample = PoolSample();
  EXPECT_EQ(input->Receive(sample), S_OK) << "a stop clears the error";
  sample->Release();
}

TEST_F(InputPin, ReceiveMultipleStopsAtTheFirstAnswerThatIsNotOk) {
  Run();
  IMediaSample* samples[3] = {PoolSample(), PoolSample(), nullptr};
  OldSample third;
  samples[2] = &third;
  input->receiveResults = {S_OK, S_FALSE, S_OK};
  LONG processed = -1;
  EXPECT_EQ(input->ReceiveMultiple(samples, 3, &processed), S_FALSE);
  EXPECT_EQ(processed, 1);
  EXPECT_EQ(input->received, 2);
  EXPECT_EQ(input->ReceiveMultiple(samples, 0, &processed), S_OK);
  EXPECT_EQ(processed, 0);
  EXPECT_EQ(input->ReceiveMultiple(nullptr, 1, &processed), E_POINTER);
  samples[0]->Release();
  samples[1]->Release();
}

TEST_F(InputPin, EndOfStreamCompletesOncePerRun) {
  ASSERT_EQ(input->EndOfStream(), VFW_E_WRONG_STATE);
  ASSERT_EQ(sink->Interface()->Pause(), S_OK);
  EXPECT_EQ(input->EndOfStream(), S_OK);
  EXPECT_TRUE(TakeEvents().empty()) << "paused: remembered, not reported";
  ASSERT_EQ(sink->Interface()->Run(0), S_OK);
  EXPECT_EQ(TakeEvents(), std::vector<LONG>{EC_COMPLETE});
  EXPECT_EQ(input->EndOfStream(), S_OK);
  EXPECT_TRUE(TakeEvents().empty()) << "a second end of stream in the run";
  // Pausing and running again reports it again: a new run.
  sink->Interface()->Pause();
  sink->Interface()->Run(0);
  EXPECT_EQ(TakeEvents(), std::vector<LONG>{EC_COMPLETE});
  // A flush forgets it.
  input->BeginFlush();
  input->EndFlush();
  EXPECT_FALSE(input->IsAtEndOfStream());
  sink->Interface()->Pause();
  sink->Interface()->Run(0);
  EXPECT_TRUE(TakeEvents().empty());
  EXPECT_EQ(input->EndOfStream(), S_OK);
  EXPECT_EQ(TakeEvents(), std::vector<LONG>{EC_COMPLETE});
}

TEST_F(InputPin, AllocatorAndQuality) {
  IMemAllocator* first = nullptr;
  IMemAllocator* second = nullptr;
  ASSERT_EQ(input->GetAllocator(&first), S_OK);
  ASSERT_EQ(input->GetAllocator(&second), S_OK);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first, source->Output()->Allocator());
  second->Release();
  EXPECT_EQ(input->NotifyAllocator(nullptr, FALSE), E_POINTER);
  ASSERT_EQ(input->GetAllocator(&second), S_OK);
  EXPECT_EQ(second, first) << "a null allocator keeps the old one";
  second->Release();
  first->Release();
  EXPECT_EQ(input->GetAllocator(nullptr), E_POINTER);
  ALLOCATOR_PROPERTIES props;
  EXPECT_EQ(input->GetAllocatorRequirements(&props), E_NOTIMPL);
  EXPECT_EQ(input->ReceiveCanBlock(), S_OK) << "a filter without output pins";
  Quality q{};
  EXPECT_EQ(input->Notify(nullptr, q), E_POINTER);
  EXPECT_EQ(input->Notify(sink->Interface(), q), S_OK);
  EXPECT_EQ(input->SetSink(nullptr), S_OK);

  // A pin that never got an allocator says so when the filter stops.
  CTestSinkFilter* lone = Create<CTestSinkFilter>(1);
  CMediaType video = VideoType();
  ASSERT_EQ(lone->Input()->ReceiveConnection(source->Output(), &video), S_OK);
  ASSERT_EQ(lone->Interface()->Pause(), S_OK);
  EXPECT_EQ(lone->Interface()->Stop(), VFW_E_NO_ALLOCATOR);
  lone->Input()->Disconnect();
  lone->Interface()->Release();
}

}  // namespace
