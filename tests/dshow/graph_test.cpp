// The filter graph as an application uses it: named filters, direct connection, state changes
// with the clock set, the event queue and completion.
#include <gtest/gtest.h>

#include "platform/com/runtime.h"
#include "platform/win/event.h"
#include "tests/framework/framework_test.h"
#include "tests/framework/test_filters.h"

using namespace testing_filters;

namespace {

constexpr HRESULT VFW_E_NOT_IN_GRAPH = MakeStatus(0x8004025F);

class Graph : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&graph)),
              S_OK);
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events));
  }
  void TearDown() override {
    control->Release();
    events->Release();
    EXPECT_EQ(graph->Release(), 0u);
    for (IBaseFilter* f : filters) f->Release();
    FrameworkTest::TearDown();
  }
  // A source feeding a sink, both in the graph and connected.
  std::pair<CTestSourceFilter*, CTestSinkFilter*> AddChain(const char16_t* sourceName, const char16_t* sinkName) {
    auto* source = Create<CTestSourceFilter>();
    auto* sink = Create<CTestSinkFilter>(1);
    filters.push_back(source->Interface());
    filters.push_back(sink->Interface());
    EXPECT_EQ(graph->AddFilter(source->Interface(), sourceName), S_OK);
    EXPECT_EQ(graph->AddFilter(sink->Interface(), sinkName), S_OK);
    EXPECT_EQ(graph->ConnectDirect(source->Output(), sink->Input(), nullptr), S_OK);
    return {source, sink};
  }
  std::vector<LONG> TakeEvents() {
    std::vector<LONG> codes;
    LONG code;
    LONG_PTR p1, p2;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) codes.push_back(code);
    return codes;
  }

  IGraphBuilder* graph = nullptr;
  IMediaControl* control = nullptr;
  IMediaEvent* events = nullptr;
  std::vector<IBaseFilter*> filters;  // the test's own references
};

TEST_F(Graph, FiltersAreNamedFoundEnumeratedAndRemoved) {
  auto* a = Create<CTestSinkFilter>(1);
  auto* b = Create<CTestSinkFilter>(1);
  auto* c = Create<CTestSinkFilter>(1);
  filters = {a->Interface(), b->Interface(), c->Interface()};
  EXPECT_EQ(graph->AddFilter(a->Interface(), u"Sink"), S_OK);
  EXPECT_EQ(graph->AddFilter(b->Interface(), u"Sink"), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(graph->AddFilter(c->Interface(), nullptr), S_OK);
  EXPECT_EQ(graph->AddFilter(a->Interface(), u"again"), E_INVALIDARG);
  FILTER_INFO info;
  b->Interface()->QueryFilterInfo(&info);
  EXPECT_EQ(std::u16string(info.achName), u"Sink 0001");
  EXPECT_EQ(info.pGraph, static_cast<IFilterGraph*>(graph));
  info.pGraph->Release();
  c->Interface()->QueryFilterInfo(&info);
  EXPECT_EQ(std::u16string(info.achName), u"0001");
  info.pGraph->Release();

  IBaseFilter* found = nullptr;
  ASSERT_EQ(graph->FindFilterByName(u"Sink 0001", &found), S_OK);
  EXPECT_EQ(found, b->Interface());
  found->Release();
  EXPECT_EQ(graph->FindFilterByName(u"sink", &found), VFW_E_NOT_FOUND);

  IEnumFilters* e = nullptr;
  ASSERT_EQ(graph->EnumFilters(&e), S_OK);
  IBaseFilter* all[4] = {};
  ULONG fetched = 0;
  EXPECT_EQ(e->Next(4, all, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 3u);
  for (ULONG i = 0; i < fetched; ++i) all[i]->Release();

  EXPECT_EQ(graph->RemoveFilter(b->Interface()), S_OK);
  EXPECT_EQ(graph->RemoveFilter(b->Interface()), VFW_E_NOT_FOUND);
  b->Interface()->QueryFilterInfo(&info);
  EXPECT_EQ(info.pGraph, nullptr);
  EXPECT_EQ(e->Next(1, all, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(2), S_OK);
  EXPECT_EQ(e->Next(1, all, nullptr), S_FALSE);
  e->Release();

  CTestSourceFilter* outsider = Create<CTestSourceFilter>();
  filters.push_back(outsider->Interface());
  EXPECT_EQ(graph->ConnectDirect(outsider->Output(), a->Input(), nullptr), VFW_E_NOT_IN_GRAPH);
}

TEST_F(Graph, RunPauseStopReachEveryFilterOnOneClock) {
  auto [source, sink] = AddChain(u"source", u"sink");
  ASSERT_EQ(control->Run(), S_OK);
  OAFilterState state;
  EXPECT_EQ(control->GetState(0, &state), S_OK);
  EXPECT_EQ(state, State_Running);
  EXPECT_EQ(sink->State(), State_Running);
  EXPECT_EQ(source->State(), State_Running);
  IReferenceClock *sourceClock = nullptr, *sinkClock = nullptr;
  source->Interface()->GetSyncSource(&sourceClock);
  sink->Interface()->GetSyncSource(&sinkClock);
  ASSERT_NE(sinkClock, nullptr);
  EXPECT_EQ(sourceClock, sinkClock);
  REFERENCE_TIME streamTime = 0;
  EXPECT_EQ(sink->StreamTime(streamTime), S_OK);
  sourceClock->Release();
  sinkClock->Release();
  EXPECT_EQ(sink->Input()->calls, (std::vector<std::string>{"CompleteConnect", "Active", "Run"}));

  ASSERT_EQ(control->Pause(), S_OK);
  EXPECT_EQ(sink->State(), State_Paused);
  EXPECT_EQ(graph->RemoveFilter(sink->Interface()), VFW_E_NOT_STOPPED);
  EXPECT_EQ(graph->ConnectDirect(source->Output(), sink->Input(), nullptr), VFW_E_NOT_STOPPED);
  ASSERT_EQ(control->Stop(), S_OK);
  EXPECT_EQ(sink->State(), State_Stopped);
  EXPECT_EQ(source->State(), State_Stopped);

  // A filter that fails to start leaves the whole graph stopped.
  sink->Input()->activeResult = E_OUTOFMEMORY;
  EXPECT_EQ(control->Run(), E_OUTOFMEMORY);
  EXPECT_EQ(source->State(), State_Stopped);
  control->GetState(0, &state);
  EXPECT_EQ(state, State_Stopped);
}

TEST_F(Graph, EventsQueueForTheApplication) {
  auto [source, sink] = AddChain(u"source", u"sink");
  OAEVENT handle = 0;
  ASSERT_EQ(events->GetEventHandle(&handle), S_OK);
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0), WAIT_TIMEOUT);
  sink->NotifyEvent(EC_RECORD_SIZE_LIMIT, 1, 0);
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0), WAIT_OBJECT_0);
  LONG code;
  LONG_PTR p1, p2;
  ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_RECORD_SIZE_LIMIT);
  EXPECT_EQ(p1, 1);
  EXPECT_EQ(events->FreeEventParams(code, p1, p2), S_OK);
  EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0), WAIT_TIMEOUT);
  LONG evCode = 0;
  EXPECT_EQ(events->WaitForCompletion(0, &evCode), VFW_E_WRONG_STATE) << "not running";
}

TEST_F(Graph, CompletionComesOnceEveryRendererHasFinished) {
  auto [source1, sink1] = AddChain(u"source 1", u"sink 1");
  auto [source2, sink2] = AddChain(u"source 2", u"sink 2");
  ASSERT_EQ(control->Run(), S_OK);
  LONG code = -1;
  EXPECT_EQ(events->WaitForCompletion(0, &code), E_ABORT);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(sink1->Input()->EndOfStream(), S_OK);
  EXPECT_TRUE(TakeEvents().empty()) << "one renderer of two";
  EXPECT_EQ(sink1->NotifyEvent(EC_COMPLETE, S_OK, 0), S_OK);
  EXPECT_TRUE(TakeEvents().empty()) << "the same renderer again";
  EXPECT_EQ(sink2->Input()->EndOfStream(), S_OK);
  EXPECT_EQ(TakeEvents(), std::vector<LONG>{EC_COMPLETE});
  EXPECT_EQ(events->WaitForCompletion(0, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);

  // A new run waits for a new completion; an error abort ends it too.
  control->Stop();
  ASSERT_EQ(control->Run(), S_OK);
  EXPECT_EQ(events->WaitForCompletion(0, &code), E_ABORT);
  sink2->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
  EXPECT_EQ(events->WaitForCompletion(INFINITE_TIMEOUT, &code), S_OK);
  EXPECT_EQ(code, EC_ERRORABORT);
  EXPECT_EQ(TakeEvents(), std::vector<LONG>{EC_ERRORABORT});
  control->Stop();
}

}  // namespace
