// The base filter: class identifier, run state passed to the connected pins, reference clock and
// stream time, graph membership with its event sink, name, and pin lookup and enumeration. The
// derived filter supplies its pins and the lock, and may override Stop, Pause and Run.
#pragma once

#include <vector>

#include "framework/combase.h"
#include "platform/dshow/clock.h"
#include "platform/dshow/events.h"
#include "platform/dshow/graph.h"

class CBasePin;
// The filter's registration record; the filter mapper's layout.
struct AMOVIESETUP_FILTER;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
 public:
  CBaseFilter(LPCSTR name, IUnknown* outer, CRITICAL_SECTION* lock, REFCLSID clsid);
  ~CBaseFilter() override;

  FRAMEWORK_DELEGATING_UNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // Clock time less the start time of the last Run.
  virtual HRESULT StreamTime(REFERENCE_TIME& streamTime);
  virtual LONG GetPinVersion();
  virtual int GetPinCount() = 0;
  // Every index below GetPinCount must yield a pin.
  virtual CBasePin* GetPin(int index) = 0;
  virtual const AMOVIESETUP_FILTER* GetSetupData();

  // IPersist
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
  // IMediaFilter
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
  HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE* state) override;
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
  // IBaseFilter
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;
  // IAMovieSetup
  HRESULT STDMETHODCALLTYPE Register() override;
  HRESULT STDMETHODCALLTYPE Unregister() override;

  // Raises an event through the graph's event sink; E_NOTIMPL outside a graph. EC_COMPLETE
  // always names this filter as its second parameter.
  HRESULT NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2);

  // Read without a lock, as the pins do on their streaming threads.
  FILTER_STATE State() const { return __atomic_load_n(&m_State, __ATOMIC_RELAXED); }
  bool IsStopped() const { return State() == State_Stopped; }

 protected:
  void SetFilterState(FILTER_STATE state) { __atomic_store_n(&m_State, state, __ATOMIC_RELAXED); }

  FILTER_STATE m_State = State_Stopped;
  IReferenceClock* m_pClock = nullptr;
  REFERENCE_TIME m_tStart = 0;
  CLSID m_clsid;
  CRITICAL_SECTION* m_pLock;
  WCHAR* m_pName = nullptr;
  IFilterGraph* m_pGraph = nullptr;
  IMediaEventSink* m_pSink = nullptr;
  LONG m_PinVersion = 1;
};

// Enumerates a filter's pins; notices a changed set of pins by the filter's pin version.
class CEnumPins final : public IEnumPins {
 public:
  // Starts at the first pin, or copies `source` (a clone).
  CEnumPins(CBaseFilter* filter, const CEnumPins* source);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** out) override;

  // False when the list of returned pins could not be copied.
  bool Valid() const { return m_valid; }

 private:
  virtual ~CEnumPins();
  bool AreInSync() const { return m_Version == m_pFilter->GetPinVersion(); }

  int m_Position = 0;
  int m_PinCount = 0;
  CBaseFilter* m_pFilter;
  LONG m_Version = 0;
  LONG volatile m_cRef = 1;
  std::vector<CBasePin*> m_PinCache;  // pins returned by Next since the last Reset
  bool m_valid = true;
};
