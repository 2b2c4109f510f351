#include "framework/basefilter.h"

#include <algorithm>
#include <new>

#include "framework/basepin.h"
#include "platform/win/text.h"

CBaseFilter::CBaseFilter(LPCSTR name, IUnknown* outer, CRITICAL_SECTION* lock, REFCLSID clsid)
    : CUnknown(name, outer), m_clsid(clsid), m_pLock(lock) {}

CBaseFilter::~CBaseFilter() {
  delete[] m_pName;
  SafeRelease(m_pClock);
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist)
    return GetInterface(static_cast<IBaseFilter*>(this), ppv);
  if (riid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME& streamTime) {
  if (!m_pClock) return VFW_E_NO_CLOCK;
  HRESULT hr = m_pClock->GetTime(&streamTime);
  if (FAILED(hr)) return hr;
  streamTime -= m_tStart;
  return S_OK;
}

LONG CBaseFilter::GetPinVersion() { return m_PinVersion; }

const AMOVIESETUP_FILTER* CBaseFilter::GetSetupData() { return nullptr; }

HRESULT CBaseFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = m_clsid;
  return S_OK;
}

HRESULT CBaseFilter::Stop() {
  CAutoLock lock(m_pLock);
  HRESULT result = S_OK;
  if (State() != State_Stopped) {
    // Every connected pin is told, also after a failure; the first failure is reported.
    for (int i = 0, n = GetPinCount(); i < n; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin->IsConnected()) continue;
      HRESULT hr = pin->Inactive();
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
  }
  SetFilterState(State_Stopped);
  return result;
}

HRESULT CBaseFilter::Pause() {
  CAutoLock lock(m_pLock);
  if (State() == State_Stopped) {
    for (int i = 0, n = GetPinCount(); i < n; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin->IsConnected()) continue;
      HRESULT hr = pin->Active();
      if (FAILED(hr)) return hr;
    }
  }
  SetFilterState(State_Paused);
  return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME start) {
  CAutoLock lock(m_pLock);
  m_tStart = start;
  if (State() == State_Stopped) {
    // Through the table, so a derived filter's Pause runs (a recording starts there).
    HRESULT hr = static_cast<IBaseFilter*>(this)->Pause();
    if (FAILED(hr)) return hr;
  }
  if (State() != State_Running) {
    for (int i = 0, n = GetPinCount(); i < n; ++i) {
      CBasePin* pin = GetPin(i);
      if (!pin->IsConnected()) continue;
      HRESULT hr = pin->Run(start);
      if (FAILED(hr)) return hr;
    }
  }
  SetFilterState(State_Running);
  return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = State();
  return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* clock) {
  CAutoLock lock(m_pLock);
  if (clock) clock->AddRef();
  if (m_pClock) m_pClock->Release();
  m_pClock = clock;
  return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  CAutoLock lock(m_pLock);
  *clock = m_pClock;
  if (m_pClock) m_pClock->AddRef();
  return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  auto* e = new (std::nothrow) CEnumPins(this, nullptr);
  if (!e) {
    *pins = nullptr;
    return E_OUTOFMEMORY;
  }
  *pins = e;
  return S_OK;
}

HRESULT CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!pin) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (id) {
    for (int i = 0, n = GetPinCount(); i < n; ++i) {
      CBasePin* candidate = GetPin(i);
      // A pin without a name (its copy failed) matches nothing.
      if (candidate->Name() && WideCompare(candidate->Name(), id) == 0)
        return GetInterface(static_cast<IPin*>(candidate), reinterpret_cast<void**>(pin));
    }
  }
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  size_t length = m_pName ? std::min<size_t>(WideLength(m_pName), MAX_FILTER_NAME - 1) : 0;
  std::copy(m_pName, m_pName + length, info->achName);
  info->achName[length] = 0;
  info->pGraph = m_pGraph;
  if (m_pGraph) m_pGraph->AddRef();
  return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  CAutoLock lock(m_pLock);
  m_pGraph = graph;
  if (graph) {
    // Held without a reference: the graph owns the filter, not the other way round.
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&m_pSink)))) m_pSink->Release();
    else m_pSink = nullptr;
  } else {
    m_pSink = nullptr;
  }
  delete[] m_pName;
  m_pName = nullptr;
  if (name) {
    size_t length = WideLength(name);
    m_pName = new (std::nothrow) WCHAR[length + 1];
    if (m_pName) std::copy(name, name + length + 1, m_pName);
  }
  return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

// Registration needs setup data; a filter without any has nothing to register.
HRESULT CBaseFilter::Register() { return GetSetupData() ? E_NOTIMPL : S_FALSE; }
HRESULT CBaseFilter::Unregister() { return GetSetupData() ? E_NOTIMPL : S_FALSE; }

HRESULT CBaseFilter::NotifyEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
  IMediaEventSink* sink = m_pSink;
  if (!sink) return E_NOTIMPL;
  if (code == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return sink->Notify(code, param1, param2);
}

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* source) : m_pFilter(filter) {
  static_cast<IBaseFilter*>(m_pFilter)->AddRef();
  if (!source) {
    m_Version = filter->GetPinVersion();
    m_PinCount = filter->GetPinCount();
    return;
  }
  m_Position = source->m_Position;
  m_PinCount = source->m_PinCount;
  m_Version = source->m_Version;
  try {
    m_PinCache = source->m_PinCache;
  } catch (...) {
    m_valid = false;
  }
}

CEnumPins::~CEnumPins() { static_cast<IBaseFilter*>(m_pFilter)->Release(); }

HRESULT CEnumPins::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IEnumPins || riid == IID_IUnknown) return GetInterface(static_cast<IEnumPins*>(this), ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CEnumPins::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

ULONG CEnumPins::Release() {
  LONG left = InterlockedDecrement(&m_cRef);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
  if (!pins) return E_POINTER;
  if (fetched)
    *fetched = 0;
  else if (count > 1)
    return E_INVALIDARG;
  if (!AreInSync()) {
    // The set of pins changed: start over, still skipping the pins already handed out.
    m_Version = m_pFilter->GetPinVersion();
    m_PinCount = m_pFilter->GetPinCount();
    m_Position = 0;
  }
  ULONG wanted = std::min<ULONG>(static_cast<ULONG>(std::max(m_PinCount - m_Position, 0)), count);
  if (wanted == 0) return S_FALSE;
  ULONG got = 0;
  while (m_Position < m_PinCount) {
    CBasePin* pin = m_pFilter->GetPin(m_Position++);
    if (!pin) {
      // A failure hands out nothing: the caller would never release these.
      for (ULONG i = 0; i < got; ++i) {
        m_PinCache.pop_back();
        SafeRelease(pins[i]);
      }
      return VFW_E_ENUM_OUT_OF_SYNC;
    }
    if (std::find(m_PinCache.begin(), m_PinCache.end(), pin) != m_PinCache.end()) continue;
    try {
      m_PinCache.push_back(pin);
    } catch (...) {
      --m_Position;
      break;
    }
    pins[got] = pin;
    pins[got]->AddRef();
    if (++got == wanted) break;
  }
  if (fetched) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

HRESULT CEnumPins::Skip(ULONG count) {
  if (!AreInSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  if (count > static_cast<ULONG>(m_PinCount - m_Position)) return S_FALSE;
  m_Position += static_cast<int>(count);
  return S_OK;
}

HRESULT CEnumPins::Reset() {
  m_Version = m_pFilter->GetPinVersion();
  m_PinCount = m_pFilter->GetPinCount();
  m_Position = 0;
  m_PinCache.clear();
  return S_OK;
}

HRESULT CEnumPins::Clone(IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!AreInSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* e = new (std::nothrow) CEnumPins(m_pFilter, this);
  if (!e) return E_OUTOFMEMORY;
  if (!e->Valid()) {
    e->Release();
    return E_OUTOFMEMORY;
  }
  *out = e;
  return S_OK;
}
