// A source filter with one output pin ("Output") that streams what a UnitSource hands out. From
// the first Run after the stopped state, a streaming thread of its own takes units, gives them
// times, copies each into a sample from the connected input pin's allocator (a memory allocator
// when it offers none) and delivers it; at the end of the input it ends the stream. Built on the
// platform's filter interfaces alone.
//
// Times: units that carry their own (the parsed inputs, the generators) keep them; others are
// timed from the frame rate. Live, units read from an input keep their spacing and are anchored
// to the graph clock's stream time at the first unit's arrival, and again after a stall (see
// LiveTimeline); generated units wait for the clock. The first unit, and in live input a unit
// after a stall, is marked as a discontinuity.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/dshow/clock.h"
#include "platform/dshow/events.h"
#include "platform/dshow/pins.h"
#include "sources/stream_pacer.h"
#include "sources/unit_source.h"

inline constexpr CLSID CLSID_PelistraSource = MakeGuid("5B7E9A3C-1D2F-4E6A-8B9C-0A1B2C3D4E5F");

struct SourceSettings {
  double fps = 0;                    // the frame rate of units without times of their own; 0: 25
  bool live = false;
  REFERENCE_TIME duration = -1;      // units that start at or after it are not sent; -1: no limit
  StreamPacer* pacer = nullptr;      // shared with the other file input, or null
  // Called on the streaming thread just before a unit with this start time goes downstream.
  std::function<void(REFERENCE_TIME)> beforeDeliver;
};

// What the streaming thread has done; read by the application while it runs.
struct SourceProgress {
  std::atomic<uint64_t> units{0};
  std::atomic<uint64_t> bytes{0};
  std::atomic<REFERENCE_TIME> time{0};  // end of the latest unit delivered
  std::atomic<bool> ended{false};       // the stream has ended (input done, limit reached or failure)
};

class CSourceOutputPin;

class CSourceFilter final : public IBaseFilter {
 public:
  // Takes the source, which must be open. Returns the filter with one reference, or null.
  static CSourceFilter* Create(std::unique_ptr<UnitSource> source, SourceSettings settings, const char16_t* name);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override;
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* pClock) override;
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** pClock) override;
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR Id, IPin** ppPin) override;
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* pInfo) override;
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* pVendorInfo) override;

  IPin* OutputPin();
  const SourceProgress& Progress() const { return progress_; }
  const UnitSource& Source() const { return *source_; }
  // The first failure of the stream and what it was; S_OK while there is none.
  HRESULT Failure(std::string* message) const;

 private:
  friend class CSourceOutputPin;
  CSourceFilter(std::unique_ptr<UnitSource> source, SourceSettings settings, const char16_t* name);
  ~CSourceFilter();

  void Stream();
  HRESULT Deliver(const MediaUnit& unit, REFERENCE_TIME start, REFERENCE_TIME stop, bool discontinuity);
  REFERENCE_TIME StreamTime();
  bool WaitForClock(REFERENCE_TIME time);
  void SetFailure(HRESULT hr, const std::string& message);
  void StopStreaming();

  std::atomic<ULONG> refs_{1};
  std::recursive_mutex lock_;  // state, clock, graph, connection
  FILTER_STATE state_ = State_Stopped;
  IReferenceClock* clock_ = nullptr;
  IFilterGraph* graph_ = nullptr;     // not counted: the graph holds the filter
  IMediaEventSink* events_ = nullptr; // not counted, as the graph
  std::u16string name_;
  REFERENCE_TIME run_start_ = 0;

  std::unique_ptr<UnitSource> source_;
  SourceSettings settings_;
  CSourceOutputPin* pin_ = nullptr;
  int lane_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  SourceProgress progress_;
  mutable std::mutex failure_lock_;
  HRESULT failure_ = S_OK;
  std::string failure_message_;
};
