// The base filter: state changes reaching connected pins, clock and stream time, events, pin
// lookup and enumeration.
#include <string>
#include <vector>

#include "platform/com/runtime.h"
#include "tests/framework/framework_test.h"
#include "tests/framework/test_filters.h"

using namespace testing_filters;
using Calls = std::vector<std::string>;

namespace {

class BaseFilter : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    sink = Create<CTestSinkFilter>(2);
  }
  void TearDown() override {
    sink->Interface()->Stop();
    for (CTestSourceFilter* source : sources) {
      source->Output()->Disconnect();
      source->Interface()->Release();
    }
    for (int i = 0; i < sink->GetPinCount(); ++i) sink->Input(i)->Disconnect();
    sink->Interface()->Release();
    FrameworkTest::TearDown();
  }
  // Connects a new source to the sink's pin `index`.
  void ConnectInput(int index) {
    CTestSourceFilter* source = Create<CTestSourceFilter>();
    sources.push_back(source);
    ASSERT_EQ(source->Output()->Connect(sink->Input(index), nullptr), S_OK);
    sink->Input(index)->calls.clear();
  }
  Calls TakeCalls(int index) {
    Calls calls = sink->Input(index)->calls;
    sink->Input(index)->calls.clear();
    return calls;
  }

  CTestSinkFilter* sink = nullptr;
  std::vector<CTestSourceFilter*> sources;
};

struct StateCase {
  FILTER_STATE from;
  const char* operation;
  FILTER_STATE to;
  Calls calls;  // on the connected pin
};

TEST_F(BaseFilter, StateTableReachesOnlyConnectedPins) {
  ConnectInput(0);
  const StateCase cases[] = {
      {State_Stopped, "Pause", State_Paused, {"Active"}},
      {State_Paused, "Pause", State_Paused, {}},
      {State_Running, "Pause", State_Paused, {}},
      {State_Stopped, "Run", State_Running, {"Active", "Run"}},
      {State_Paused, "Run", State_Running, {"Run"}},
      {State_Running, "Run", State_Running, {}},
      {State_Paused, "Stop", State_Stopped, {"Inactive"}},
      {State_Running, "Stop", State_Stopped, {"Inactive"}},
      {State_Stopped, "Stop", State_Stopped, {}},
  };
  IBaseFilter* filter = sink->Interface();
  for (const StateCase& c : cases) {
    SCOPED_TRACE(std::string(c.operation) + " from " + std::to_string(c.from));
    filter->Stop();
    if (c.from == State_Paused) filter->Pause();
    if (c.from == State_Running) filter->Run(0);
    TakeCalls(0);
    int pausesBefore = sink->pauseCalls;
    HRESULT hr = c.operation == std::string("Pause") ? filter->Pause()
                 : c.operation == std::string("Run") ? filter->Run(0)
                                                     : filter->Stop();
    EXPECT_EQ(hr, S_OK);
    FILTER_STATE state;
    EXPECT_EQ(filter->GetState(INFINITE_TIMEOUT, &state), S_OK);
    EXPECT_EQ(state, c.to);
    EXPECT_EQ(TakeCalls(0), c.calls);
    EXPECT_TRUE(TakeCalls(1).empty()) << "an unconnected pin was told";
    if (c.from == State_Stopped && c.operation == std::string("Run")) {
      EXPECT_EQ(sink->pauseCalls, pausesBefore + 1) << "Run from stopped goes through the derived Pause";
    }
  }
}

TEST_F(BaseFilter, PauseStopsAtTheFirstFailingPinAndStaysStopped) {
  ConnectInput(0);
  ConnectInput(1);
  sink->Input(1)->activeResult = E_OUTOFMEMORY;
  EXPECT_EQ(sink->Interface()->Pause(), E_OUTOFMEMORY);
  EXPECT_EQ(sink->State(), State_Stopped);
  EXPECT_EQ(TakeCalls(0), Calls{"Active"});
}

TEST_F(BaseFilter, RunFailureLeavesThePausedState) {
  ConnectInput(0);
  sink->Input(0)->runResult = E_FAIL;
  EXPECT_EQ(sink->Interface()->Run(0), E_FAIL);
  EXPECT_EQ(sink->State(), State_Paused);
}

TEST_F(BaseFilter, StopTellsEveryPinAndReportsTheFirstFailure) {
  ConnectInput(0);
  ConnectInput(1);
  ASSERT_EQ(sink->Interface()->Run(0), S_OK);
  sink->Input(0)->inactiveResult = E_ACCESSDENIED;
  sink->Input(1)->inactiveResult = E_FAIL;
  EXPECT_EQ(sink->Interface()->Stop(), E_ACCESSDENIED);
  EXPECT_EQ(sink->State(), State_Stopped);
  EXPECT_EQ(TakeCalls(1).back(), "Inactive");
  sink->Input(0)->inactiveResult = sink->Input(1)->inactiveResult = S_OK;
}

TEST_F(BaseFilter, StreamTimeIsClockTimeLessTheLastRunStart) {
  REFERENCE_TIME t = 0;
  EXPECT_EQ(sink->StreamTime(t), VFW_E_NO_CLOCK);
  ManualClock clock;
  ASSERT_EQ(sink->Interface()->SetSyncSource(&clock), S_OK);
  EXPECT_EQ(clock.refs, 2);
  ASSERT_EQ(sink->Interface()->Run(1000), S_OK);
  clock.now = 5000;
  ASSERT_EQ(sink->StreamTime(t), S_OK);
  EXPECT_EQ(t, 4000);
  // Run while running replaces only the start time.
  ASSERT_EQ(sink->Interface()->Run(2000), S_OK);
  ASSERT_EQ(sink->StreamTime(t), S_OK);
  EXPECT_EQ(t, 3000);
  clock.failure = E_UNEXPECTED;
  EXPECT_EQ(sink->StreamTime(t), E_UNEXPECTED);
  IReferenceClock* held = nullptr;
  ASSERT_EQ(sink->Interface()->GetSyncSource(&held), S_OK);
  EXPECT_EQ(held, &clock);
  held->Release();
  sink->Interface()->SetSyncSource(nullptr);
  EXPECT_EQ(clock.refs, 1);
}

TEST_F(BaseFilter, EventsGoToTheGraphsSinkAndCompletionNamesTheFilter) {
  EXPECT_EQ(sink->NotifyEvent(EC_COMPLETE, S_OK, 0), E_NOTIMPL) << "outside a graph";
  IGraphBuilder* graph = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  IMediaEvent* events = nullptr;
  graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events));
  events->CancelDefaultHandling(EC_COMPLETE);  // every completion straight through
  ASSERT_EQ(graph->AddFilter(sink->Interface(), u"sink"), S_OK);
  EXPECT_EQ(sink->NotifyEvent(EC_COMPLETE, 7, 12345), S_OK);
  EXPECT_EQ(sink->NotifyEvent(EC_RECORD_SIZE_LIMIT, 1, 0), S_OK);
  LONG code;
  LONG_PTR p1, p2;
  ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(p1, 7);
  EXPECT_EQ(p2, reinterpret_cast<LONG_PTR>(sink->Interface()));
  ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_RECORD_SIZE_LIMIT);
  EXPECT_EQ(p1, 1);
  EXPECT_EQ(p2, 0);
  EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);

  FILTER_INFO info;
  ASSERT_EQ(sink->Interface()->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::u16string(info.achName), u"sink");
  EXPECT_EQ(info.pGraph, static_cast<IFilterGraph*>(graph));
  info.pGraph->Release();
  events->Release();
  graph->Release();  // the graph takes the filter out of itself
  EXPECT_EQ(sink->NotifyEvent(EC_COMPLETE, S_OK, 0), E_NOTIMPL);
}

TEST_F(BaseFilter, NameIsKeptUpTo127CharactersAndIdentityAnswers) {
  std::u16string longName(200, u'n');
  ASSERT_EQ(sink->Interface()->JoinFilterGraph(nullptr, longName.c_str()), S_OK);
  FILTER_INFO info;
  ASSERT_EQ(sink->Interface()->QueryFilterInfo(&info), S_OK);
  EXPECT_EQ(std::u16string(info.achName), longName.substr(0, 127));
  EXPECT_EQ(info.pGraph, nullptr);
  sink->Interface()->JoinFilterGraph(nullptr, nullptr);
  sink->Interface()->QueryFilterInfo(&info);
  EXPECT_EQ(info.achName[0], 0);

  CLSID clsid;
  EXPECT_EQ(sink->Interface()->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TestSink);
  EXPECT_EQ(sink->Interface()->GetClassID(nullptr), E_POINTER);
  LPWSTR vendor = nullptr;
  EXPECT_EQ(sink->Interface()->QueryVendorInfo(&vendor), E_NOTIMPL);
  IAMovieSetup* setup = nullptr;
  ASSERT_EQ(sink->Interface()->QueryInterface(IID_IAMovieSetup, reinterpret_cast<void**>(&setup)), S_OK);
  EXPECT_EQ(setup->Register(), S_FALSE);
  EXPECT_EQ(setup->Unregister(), S_FALSE);
  setup->Release();
  for (const IID& iid : {IID_IBaseFilter, IID_IMediaFilter, IID_IPersist}) {
    IUnknown* unk = nullptr;
    ASSERT_EQ(sink->Interface()->QueryInterface(iid, reinterpret_cast<void**>(&unk)), S_OK);
    EXPECT_EQ(unk, static_cast<IUnknown*>(sink->Interface()));
    unk->Release();
  }
}

TEST_F(BaseFilter, FindPinMatchesNamesExactly) {
  IPin* pin = reinterpret_cast<IPin*>(1);
  EXPECT_EQ(sink->Interface()->FindPin(u"In 2", &pin), S_OK);
  EXPECT_EQ(pin, static_cast<IPin*>(sink->Input(1)));
  pin->Release();
  EXPECT_EQ(sink->Interface()->FindPin(u"in 2", &pin), VFW_E_NOT_FOUND);
  EXPECT_EQ(pin, nullptr);
  EXPECT_EQ(sink->Interface()->FindPin(u"In 2", nullptr), E_POINTER);
}

TEST_F(BaseFilter, PinEnumerationCountsAndEnds) {
  IEnumPins* e = nullptr;
  ASSERT_EQ(sink->Interface()->EnumPins(&e), S_OK);
  IPin* pins[5] = {};
  ULONG fetched = 99;
  EXPECT_EQ(e->Next(2, pins, nullptr), E_INVALIDARG);
  EXPECT_EQ(e->Next(0, pins, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(e->Next(1, nullptr, nullptr), E_POINTER);
  ASSERT_EQ(e->Next(5, pins, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(pins[0], static_cast<IPin*>(sink->Input(0)));
  EXPECT_EQ(pins[1], static_cast<IPin*>(sink->Input(1)));
  pins[0]->Release();
  pins[1]->Release();
  EXPECT_EQ(e->Next(1, pins, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(e->Skip(1), S_FALSE);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(3), S_FALSE) << "beyond the end leaves the position";
  EXPECT_EQ(e->Skip(1), S_OK);
  IEnumPins* clone = nullptr;
  ASSERT_EQ(e->Clone(&clone), S_OK);
  ASSERT_EQ(clone->Next(1, pins, nullptr), S_OK);
  EXPECT_EQ(pins[0], static_cast<IPin*>(sink->Input(1)));
  pins[0]->Release();
  clone->Release();
  EXPECT_EQ(e->QueryInterface(IID_IEnumPins, nullptr), E_POINTER);
  e->Release();
}

TEST_F(BaseFilter, PinEnumerationNoticesAChangedSetOfPins) {
  IEnumPins* e = nullptr;
  ASSERT_EQ(sink->Interface()->EnumPins(&e), S_OK);
  IPin* pin = nullptr;
  ASSERT_EQ(e->Next(1, &pin, nullptr), S_OK);
  pin->Release();
  sink->BumpPinVersion();
  IEnumPins* clone = reinterpret_cast<IEnumPins*>(1);
  EXPECT_EQ(e->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(e->Clone(&clone), VFW_E_ENUM_OUT_OF_SYNC);
  EXPECT_EQ(clone, nullptr);
  // Next starts over but does not hand out a pin twice.
  ULONG fetched = 0;
  IPin* pins[2] = {};
  ASSERT_EQ(e->Next(2, pins, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(pins[0], static_cast<IPin*>(sink->Input(1)));
  pins[0]->Release();

  // A pin the filter cannot give fails the call and hands out nothing.
  e->Reset();
  sink->Interface()->AddRef();
  ULONG refsBefore = sink->Interface()->Release();
  sink->dropLast = true;
  EXPECT_EQ(e->Next(2, pins, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
  sink->dropLast = false;
  sink->Interface()->AddRef();
  EXPECT_EQ(sink->Interface()->Release(), refsBefore) << "the failed call kept a reference it handed out";
  e->Release();
}

}  // namespace
