// The runtime across threads: a blocked GetBuffer, clock advice, a completion wait.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/com/runtime.h"
#include "platform/dshow/allocator.h"
#include "platform/dshow/clock.h"
#include "platform/dshow/graph.h"
#include "platform/win/event.h"
#include "platform/win/sync.h"

namespace {

TEST(RuntimeThreads, GetBufferWaitsForASampleAndDecommitReleasesTheWait) {
  IMemAllocator* allocator = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                             reinterpret_cast<void**>(&allocator)),
            S_OK);
  ALLOCATOR_PROPERTIES want{1, 32, 1, 0}, got{};
  ASSERT_EQ(allocator->SetProperties(&want, &got), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  IMediaSample* held = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);

  std::atomic<bool> got_sample{false};
  IMediaSample* waited = nullptr;
  std::thread waiter([&] {
    EXPECT_EQ(allocator->GetBuffer(&waited, nullptr, nullptr, 0), S_OK);
    got_sample = true;
  });
  Sleep(20);
  EXPECT_FALSE(got_sample) << "no sample is free while the only one is held";
  held->Release();
  waiter.join();
  EXPECT_EQ(waited, held);

  std::thread blocked([&] {
    IMediaSample* none = nullptr;
    EXPECT_EQ(allocator->GetBuffer(&none, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  });
  Sleep(20);
  EXPECT_EQ(allocator->Decommit(), S_OK);
  blocked.join();
  waited->Release();
  allocator->Release();
}

TEST(RuntimeThreads, SystemClockAdvisesAtTheTimeAndPeriodically) {
  IReferenceClock* clock = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                             reinterpret_cast<void**>(&clock)),
            S_OK);
  REFERENCE_TIME first = 0, second = 0;
  clock->GetTime(&first);
  clock->GetTime(&second);
  EXPECT_GE(second, first);

  HANDLE once = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE periodic = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  DWORD_PTR cookie = 0, periodicCookie = 0;
  EXPECT_EQ(clock->AdviseTime(second, 10000, reinterpret_cast<HEVENT>(once), &cookie), S_OK);
  EXPECT_EQ(clock->AdvisePeriodic(second, 10000, reinterpret_cast<HSEMAPHORE>(periodic), &periodicCookie), S_OK);
  EXPECT_EQ(WaitForSingleObject(once, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(periodic, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(periodic, 10000), WAIT_OBJECT_0) << "again, a period later";
  EXPECT_EQ(clock->Unadvise(periodicCookie), S_OK);
  EXPECT_EQ(clock->Unadvise(cookie), S_FALSE) << "a one-off advice is gone once given";
  EXPECT_EQ(clock->AdvisePeriodic(0, 0, reinterpret_cast<HSEMAPHORE>(periodic), &cookie), E_INVALIDARG);
  EXPECT_EQ(clock->AdviseTime(0, 0, 0, &cookie), E_INVALIDARG);
  clock->Release();
  CloseHandle(once);
  CloseHandle(periodic);
  EXPECT_EQ(SetEvent(once), FALSE) << "a closed handle";
}

TEST(RuntimeThreads, CompletionWaitEndsWhenAFilterNotifiesFromAnotherThread) {
  IMediaEvent* events = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaEvent,
                             reinterpret_cast<void**>(&events)),
            S_OK);
  IMediaControl* control = nullptr;
  IMediaEventSink* sink = nullptr;
  events->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
  events->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink));
  ASSERT_EQ(control->Run(), S_OK);  // an empty graph: no renderers, the first completion counts
  std::thread streaming([&] {
    Sleep(10);
    sink->Notify(EC_COMPLETE, S_OK, 0);
  });
  LONG code = 0;
  EXPECT_EQ(events->WaitForCompletion(INFINITE_TIMEOUT, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  streaming.join();
  control->Stop();
  sink->Release();
  control->Release();
  events->Release();
}

}  // namespace
