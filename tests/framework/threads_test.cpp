// Threads: reference counts changed from many threads at once, and samples pushed through a real
// graph on the source's own streaming thread.
#include <thread>
#include <vector>

#include "platform/com/runtime.h"
#include "tests/framework/framework_test.h"
#include "tests/framework/test_filters.h"

using namespace testing_filters;

namespace {

class FrameworkThreads : public FrameworkTest {};

TEST_F(FrameworkThreads, ReferencesFromManyThreadsDestroyTheFilterOnce) {
  LONG before = CBaseObject::ObjectsActive();
  CTestSinkFilter* filter = Create<CTestSinkFilter>(2);
  EXPECT_EQ(CBaseObject::ObjectsActive(), before + 3);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([filter, t] {
      IUnknown* target = t % 3 == 0   ? static_cast<IUnknown*>(filter->Interface())
                         : t % 3 == 1 ? static_cast<IUnknown*>(static_cast<IPin*>(filter->Input(0)))
                                      : static_cast<IUnknown*>(static_cast<IMemInputPin*>(filter->Input(1)));
      for (int i = 0; i < 20000; ++i) {
        target->AddRef();
        target->Release();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(filter->Interface()->Release(), 0u);
  EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

TEST_F(FrameworkThreads, SourceStreamsIntoTheSinkAndTheGraphCompletes) {
  IGraphBuilder* graph = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  CTestSourceFilter* source = Create<CTestSourceFilter>();
  CTestSinkFilter* sink = Create<CTestSinkFilter>(1);
  ASSERT_EQ(graph->AddFilter(source->Interface(), u"source"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink->Interface(), u"sink"), S_OK);
  ASSERT_EQ(graph->ConnectDirect(source->Output(), sink->Input(), nullptr), S_OK);
  IMediaControl* control = nullptr;
  IMediaEvent* events = nullptr;
  graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
  graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events));

  ASSERT_EQ(control->Run(), S_OK);
  std::vector<PushedSample> samples(50);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i].data.assign(100 + i, static_cast<BYTE>(i));
    samples[i].start = static_cast<REFERENCE_TIME>(i) * 400000;
    samples[i].stop = samples[i].start + 400000;
    samples[i].syncPoint = i % 10 == 0;
  }
  // Two buffers for fifty samples: the source waits for each to come back to the pool.
  source->Output()->Push(samples, true);
  LONG code = 0;
  ASSERT_EQ(events->WaitForCompletion(10000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  std::vector<HRESULT> results = source->Output()->Join();
  EXPECT_EQ(results, std::vector<HRESULT>(50, S_OK));
  ASSERT_EQ(sink->Input()->received, 50);
  EXPECT_EQ(sink->Input()->properties[49].lActual, 149);
  EXPECT_EQ(sink->Input()->properties[10].dwSampleFlags & AM_SAMPLE_SPLICEPOINT, AM_SAMPLE_SPLICEPOINT);
  EXPECT_EQ(control->Stop(), S_OK);

  control->Release();
  events->Release();
  graph->Release();
  source->Interface()->Release();
  sink->Interface()->Release();
}

}  // namespace
