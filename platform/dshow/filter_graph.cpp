// CLSID_FilterGraph: holds named filters, connects their pins directly, runs them on one clock and
// queues their events for the application. Intelligent connection and file rendering are not
// offered: every pin is connected by the application.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/com/runtime.h"
#include "platform/dshow/clock.h"
#include "platform/dshow/graph.h"
#include "platform/dshow/runtime_object.h"
#include "platform/win/event.h"

namespace {

constexpr HRESULT VFW_E_NOT_IN_GRAPH = MakeStatus(0x8004025F);
constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;
// Stream time 0 lies this far after the moment Run is called, so every filter is running by then.
constexpr REFERENCE_TIME kStartLatency = 10 * 10000;

std::u16string Text(LPCWSTR text) {
  std::u16string s;
  if (text)
    while (*text) s.push_back(*text++);
  return s;
}

// The filters on the other side of a filter's connected output pins.
std::vector<IBaseFilter*> DownstreamOf(IBaseFilter* filter) {
  std::vector<IBaseFilter*> result;
  IEnumPins* pins = nullptr;
  if (FAILED(filter->EnumPins(&pins))) return result;
  IPin* pin = nullptr;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION dir;
    IPin* peer = nullptr;
    if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == PINDIR_OUTPUT && SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
      PIN_INFO info{};
      if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter) {
        result.push_back(info.pFilter);
        info.pFilter->Release();  // the graph holds the filter
      }
      peer->Release();
    }
    pin->Release();
  }
  pins->Release();
  return result;
}

// A renderer: a filter with a connected input and no connected output. It reports EC_COMPLETE.
bool IsRenderer(IBaseFilter* filter) {
  bool connectedInput = false, connectedOutput = false;
  IEnumPins* pins = nullptr;
  if (FAILED(filter->EnumPins(&pins))) return false;
  IPin* pin = nullptr;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION dir;
    IPin* peer = nullptr;
    if (SUCCEEDED(pin->QueryDirection(&dir)) && SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
      (dir == PINDIR_INPUT ? connectedInput : connectedOutput) = true;
      peer->Release();
    }
    pin->Release();
  }
  pins->Release();
  return connectedInput && !connectedOutput;
}

void DisconnectAllPins(IBaseFilter* filter) {
  IEnumPins* pins = nullptr;
  if (FAILED(filter->EnumPins(&pins))) return;
  IPin* pin = nullptr;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    IPin* peer = nullptr;
    if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
      peer->Disconnect();
      peer->Release();
    }
    pin->Disconnect();
    pin->Release();
  }
  pins->Release();
}

class FilterGraph;

class FilterEnumerator final : public RuntimeObject, public IEnumFilters {
 public:
  FilterEnumerator(FilterGraph* graph, std::vector<IBaseFilter*> filters, LONG version, size_t position);
  ~FilterEnumerator() override;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IEnumFilters) {
      *ppv = static_cast<IEnumFilters*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefObject(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseObject(); }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IBaseFilter** out, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumFilters** out) override;

 private:
  void Drop() {
    for (IBaseFilter* f : m_filters) f->Release();
    m_filters.clear();
  }
  FilterGraph* m_graph;
  std::vector<IBaseFilter*> m_filters;
  LONG m_version;
  size_t m_position;
};

class FilterGraph final : public RuntimeObject,
                          public IGraphBuilder,
                          public IMediaControl,
                          public IMediaEventEx,
                          public IMediaEventSink {
 public:
  FilterGraph() { m_eventHandle = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  bool Valid() const { return m_eventHandle != nullptr; }

  ~FilterGraph() override {
    StopFilters();
    // Connections hold references both ways between filters; breaking them lets each go.
    for (Entry& e : m_filters) DisconnectAllPins(e.filter);
    for (Entry& e : m_filters) {
      e.filter->SetSyncSource(nullptr);
      e.filter->JoinFilterGraph(nullptr, nullptr);
      e.filter->Release();
    }
    SafeRelease(m_clock);
    if (m_eventHandle) CloseHandle(m_eventHandle);
  }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IFilterGraph || riid == IID_IGraphBuilder)
      *ppv = static_cast<IGraphBuilder*>(this);
    else if (riid == IID_IMediaControl)
      *ppv = static_cast<IMediaControl*>(this);
    else if (riid == IID_IMediaEvent || riid == IID_IMediaEventEx)
      *ppv = static_cast<IMediaEventEx*>(this);
    else if (riid == IID_IMediaEventSink)
      *ppv = static_cast<IMediaEventSink*>(this);
    else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefObject(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseObject(); }

  // IFilterGraph
  HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* filter, LPCWSTR name) override {
    if (!filter) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
    if (Find(filter)) return E_INVALIDARG;
    std::u16string base = Text(name);
    std::u16string unique = base;
    HRESULT result = S_OK;
    // A taken (or missing) name gets a number, as names identify filters to the application.
    for (int n = 1; unique.empty() || FindByName(unique); ++n) {
      std::string number = std::to_string(10000 + n).substr(1);
      unique = base.empty() ? u"" : base + u" ";
      unique.append(number.begin(), number.end());
      if (!base.empty()) result = VFW_S_DUPLICATE_NAME;
    }
    try {
      m_filters.push_back({filter, unique});
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    HRESULT hr = filter->JoinFilterGraph(this, m_filters.back().name.c_str());
    if (FAILED(hr)) {
      m_filters.pop_back();
      return hr;
    }
    filter->AddRef();
    if (m_clock) filter->SetSyncSource(m_clock);
    ++m_version;
    return result;
  }

  HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* filter) override {
    if (!filter) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    auto it = std::find_if(m_filters.begin(), m_filters.end(), [&](const Entry& e) { return e.filter == filter; });
    if (it == m_filters.end()) return VFW_E_NOT_FOUND;
    if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
    DisconnectAllPins(filter);
    filter->SetSyncSource(nullptr);
    filter->JoinFilterGraph(nullptr, nullptr);
    m_filters.erase(it);
    ++m_version;
    filter->Release();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::vector<IBaseFilter*> snapshot;
    LONG version;
    if (!Snapshot(&snapshot, &version)) return E_OUTOFMEMORY;
    auto* e = new (std::nothrow) FilterEnumerator(this, std::move(snapshot), version, 0);
    if (!e) {
      for (IBaseFilter* f : snapshot) f->Release();
      return E_OUTOFMEMORY;
    }
    *out = e;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR name, IBaseFilter** out) override {
    if (!name || !out) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    *out = FindByName(Text(name));
    if (!*out) return VFW_E_NOT_FOUND;
    (*out)->AddRef();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* type) override {
    if (!out || !in) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!InGraph(out) || !InGraph(in)) return VFW_E_NOT_IN_GRAPH;
    return out->Connect(in, type);
  }

  HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE Disconnect(IPin* pin) override {
    if (!pin) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    return pin->Disconnect();
  }

  HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (m_state != State_Stopped) return VFW_E_NOT_STOPPED;
    IReferenceClock* clock = nullptr;
    // A filter that keeps its own clock (a renderer tied to a device) is preferred.
    for (Entry& e : m_filters)
      if (SUCCEEDED(e.filter->QueryInterface(IID_IReferenceClock, reinterpret_cast<void**>(&clock)))) break;
    if (!clock) {
      HRESULT hr = CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                                    reinterpret_cast<void**>(&clock));
      if (FAILED(hr)) return hr;
    }
    for (Entry& e : m_filters) {
      HRESULT hr = e.filter->SetSyncSource(clock);
      if (FAILED(hr)) {
        clock->Release();
        return hr;
      }
    }
    SafeRelease(m_clock);
    m_clock = clock;
    return S_OK;
  }

  // IGraphBuilder
  HRESULT STDMETHODCALLTYPE Connect(IPin* out, IPin* in) override { return ConnectDirect(out, in, nullptr); }
  HRESULT STDMETHODCALLTYPE Render(IPin*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Abort() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ShouldOperationContinue() override { return S_OK; }

  // IDispatch of the control and event interfaces: no type description is offered for them.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  // IMediaControl
  HRESULT STDMETHODCALLTYPE Run() override {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (m_state == State_Running) return S_OK;
    if (m_state == State_Stopped) {
      HRESULT hr = Pause();
      if (FAILED(hr)) return hr;
    }
    REFERENCE_TIME now = 0;
    m_clock->GetTime(&now);
    // Resuming continues the stream time where the pause left it.
    REFERENCE_TIME start = now + kStartLatency - m_pausedStreamTime;
    BeginRun();
    for (IBaseFilter* f : DownstreamFirst()) {
      HRESULT hr = f->Run(start);
      if (FAILED(hr)) {
        StopFilters();
        return hr;
      }
    }
    m_runStart = start;
    SetState(State_Running);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Pause() override {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    if (m_state == State_Paused) return S_OK;
    if (m_state == State_Stopped) {
      if (!m_clock) {
        HRESULT hr = SetDefaultSyncSource();
        if (FAILED(hr)) return hr;
      }
      m_pausedStreamTime = 0;
    } else {
      REFERENCE_TIME now = 0;
      m_clock->GetTime(&now);
      m_pausedStreamTime = now > m_runStart ? now - m_runStart : 0;
    }
    for (IBaseFilter* f : DownstreamFirst()) {
      HRESULT hr = f->Pause();
      if (FAILED(hr)) {
        StopFilters();
        return hr;
      }
    }
    SetState(State_Paused);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Stop() override {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    return StopFilters();
  }

  HRESULT STDMETHODCALLTYPE GetState(LONG timeout, OAFilterState* state) override {
    if (!state) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    *state = m_state;
    HRESULT result = S_OK;
    for (Entry& e : m_filters) {
      FILTER_STATE fs;
      HRESULT hr = e.filter->GetState(static_cast<DWORD>(timeout), &fs);
      if (FAILED(hr)) return hr;
      if (hr == VFW_S_STATE_INTERMEDIATE) result = hr;
    }
    return result;
  }

  HRESULT STDMETHODCALLTYPE RenderFile(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR, IDispatch** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE StopWhenReady() override {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
    return StopFilters();
  }

  // IMediaEvent
  HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* handle) override {
    if (!handle) return E_POINTER;
    *handle = reinterpret_cast<OAEVENT>(m_eventHandle);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeout) override {
    if (!code || !param1 || !param2) return E_POINTER;
    *code = 0;
    *param1 = *param2 = 0;
    std::unique_lock<std::mutex> hold(m_eventLock);
    if (!WaitFor(hold, timeout, [&] { return !m_events.empty(); })) return E_ABORT;
    QueuedEvent e = m_events.front();
    m_events.pop_front();
    if (m_events.empty()) ResetEvent(m_eventHandle);
    *code = e.code;
    *param1 = e.param1;
    *param2 = e.param2;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG timeout, LONG* code) override {
    if (!code) return E_POINTER;
    *code = 0;
    std::unique_lock<std::mutex> hold(m_eventLock);
    if (!m_running && m_completion == 0) return VFW_E_WRONG_STATE;
    if (!WaitFor(hold, timeout, [&] { return m_completion != 0 || !m_running; })) return E_ABORT;
    if (m_completion == 0) return VFW_E_WRONG_STATE;  // stopped while waiting
    *code = m_completion;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG code) override {
    if (code != EC_COMPLETE) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(m_eventLock);
    m_passCompletions = true;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG code) override {
    if (code != EC_COMPLETE) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(m_eventLock);
    m_passCompletions = false;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FreeEventParams(LONG, LONG_PTR, LONG_PTR) override { return S_OK; }

  // IMediaEventEx: there are no windows to post to; the application waits or polls.
  HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND, LONG, LONG_PTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG flags) override {
    if (flags & ~AM_MEDIAEVENT_NONOTIFY) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(m_eventLock);
    m_noNotify = flags != 0;
    if (m_noNotify) {
      m_events.clear();
      ResetEvent(m_eventHandle);
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG* flags) override {
    if (!flags) return E_POINTER;
    std::lock_guard<std::mutex> hold(m_eventLock);
    *flags = m_noNotify ? AM_MEDIAEVENT_NONOTIFY : 0;
    return S_OK;
  }

  // IMediaEventSink: called by filters, often on their streaming threads; takes only the event
  // lock, never the graph lock, so a filter can notify while the graph waits for it to stop.
  HRESULT STDMETHODCALLTYPE Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override {
    std::lock_guard<std::mutex> hold(m_eventLock);
    if (code == EC_COMPLETE && !m_passCompletions) {
      // One completion for the application once every renderer has finished.
      auto* filter = reinterpret_cast<IBaseFilter*>(param2);
      if (std::find(m_completed.begin(), m_completed.end(), filter) != m_completed.end()) return S_OK;
      try {
        m_completed.push_back(filter);
      } catch (...) {
        return E_OUTOFMEMORY;
      }
      if (static_cast<LONG>(m_completed.size()) < m_renderers || m_completion == EC_COMPLETE) return S_OK;
      param1 = S_OK;
      param2 = 0;
    }
    if ((code == EC_COMPLETE || code == EC_ERRORABORT || code == EC_USERABORT) && m_completion == 0) {
      m_completion = code;
      m_eventChanged.notify_all();
    }
    if (m_noNotify) return S_OK;
    try {
      m_events.push_back({code, param1, param2});
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    SetEvent(m_eventHandle);
    m_eventChanged.notify_all();
    return S_OK;
  }

 private:
  friend class FilterEnumerator;
  struct Entry {
    IBaseFilter* filter;
    std::u16string name;
  };
  struct QueuedEvent {
    LONG code;
    LONG_PTR param1, param2;
  };

  template <class Ready>
  bool WaitFor(std::unique_lock<std::mutex>& hold, LONG timeout, Ready ready) {
    if (timeout < 0) {
      m_eventChanged.wait(hold, ready);
      return true;
    }
    return m_eventChanged.wait_for(hold, std::chrono::milliseconds(timeout), ready);
  }

  Entry* Find(IBaseFilter* filter) {
    for (Entry& e : m_filters)
      if (e.filter == filter) return &e;
    return nullptr;
  }
  IBaseFilter* FindByName(const std::u16string& name) {
    for (Entry& e : m_filters)
      if (e.name == name) return e.filter;
    return nullptr;
  }
  bool InGraph(IPin* pin) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) return false;
    bool found = info.pFilter && Find(info.pFilter);
    if (info.pFilter) info.pFilter->Release();
    return found;
  }

  bool Snapshot(std::vector<IBaseFilter*>* out, LONG* version) {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    try {
      out->reserve(m_filters.size());
    } catch (...) {
      return false;
    }
    for (Entry& e : m_filters) {
      e.filter->AddRef();
      out->push_back(e.filter);
    }
    *version = m_version;
    return true;
  }

  // Renderers first, sources last: a filter changes state only after everything it feeds.
  std::vector<IBaseFilter*> DownstreamFirst() {
    std::vector<IBaseFilter*> filters;
    std::vector<std::vector<size_t>> feeds(m_filters.size());
    for (size_t i = 0; i < m_filters.size(); ++i) {
      filters.push_back(m_filters[i].filter);
      for (IBaseFilter* d : DownstreamOf(m_filters[i].filter))
        for (size_t j = 0; j < m_filters.size(); ++j)
          if (m_filters[j].filter == d) feeds[i].push_back(j);
    }
    std::vector<size_t> depth(m_filters.size(), 0);
    // Distance from the far end; bounded passes so a (bogus) cycle cannot loop forever.
    for (size_t pass = 0; pass < m_filters.size(); ++pass)
      for (size_t i = 0; i < m_filters.size(); ++i)
        for (size_t j : feeds[i]) depth[i] = std::max(depth[i], depth[j] + 1);
    std::vector<size_t> order(m_filters.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return depth[a] < depth[b]; });
    std::vector<IBaseFilter*> sorted;
    for (size_t i : order) sorted.push_back(filters[i]);
    return sorted;
  }

  void BeginRun() {
    LONG renderers = 0;
    for (Entry& e : m_filters)
      if (IsRenderer(e.filter)) ++renderers;
    std::lock_guard<std::mutex> hold(m_eventLock);
    m_renderers = renderers;
    m_completed.clear();
    m_completion = 0;
  }

  void SetState(FILTER_STATE state) {
    m_state = state;
    std::lock_guard<std::mutex> hold(m_eventLock);
    m_running = state == State_Running;
    m_eventChanged.notify_all();
  }

  HRESULT StopFilters() {
    HRESULT result = S_OK;
    for (IBaseFilter* f : DownstreamFirst()) {
      HRESULT hr = f->Stop();
      if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    m_pausedStreamTime = 0;
    SetState(State_Stopped);
    std::lock_guard<std::mutex> hold(m_eventLock);
    m_completed.clear();
    return result;
  }

  std::recursive_mutex m_lock;
  std::vector<Entry> m_filters;
  LONG m_version = 1;
  FILTER_STATE m_state = State_Stopped;
  IReferenceClock* m_clock = nullptr;
  REFERENCE_TIME m_runStart = 0;
  REFERENCE_TIME m_pausedStreamTime = 0;

  std::mutex m_eventLock;
  std::condition_variable m_eventChanged;
  std::deque<QueuedEvent> m_events;
  HANDLE m_eventHandle = nullptr;
  bool m_noNotify = false;
  bool m_passCompletions = false;
  bool m_running = false;
  LONG m_renderers = 0;
  std::vector<IBaseFilter*> m_completed;
  LONG m_completion = 0;  // the event that ended the current run, once delivered
};

FilterEnumerator::FilterEnumerator(FilterGraph* graph, std::vector<IBaseFilter*> filters, LONG version, size_t position)
    : m_graph(graph), m_filters(std::move(filters)), m_version(version), m_position(position) {
  m_graph->AddRef();
}

FilterEnumerator::~FilterEnumerator() {
  Drop();
  m_graph->Release();
}

HRESULT FilterEnumerator::Next(ULONG count, IBaseFilter** out, ULONG* fetched) {
  if (!out) return E_POINTER;
  if (fetched)
    *fetched = 0;
  else if (count > 1)
    return E_INVALIDARG;
  {
    std::lock_guard<std::recursive_mutex> hold(m_graph->m_lock);
    if (m_graph->m_version != m_version) return VFW_E_ENUM_OUT_OF_SYNC;
  }
  ULONG n = 0;
  while (n < count && m_position < m_filters.size()) {
    out[n] = m_filters[m_position++];
    out[n++]->AddRef();
  }
  if (fetched) *fetched = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT FilterEnumerator::Skip(ULONG count) {
  {
    std::lock_guard<std::recursive_mutex> hold(m_graph->m_lock);
    if (m_graph->m_version != m_version) return VFW_E_ENUM_OUT_OF_SYNC;
  }
  if (count > m_filters.size() - m_position) {
    m_position = m_filters.size();
    return S_FALSE;
  }
  m_position += count;
  return S_OK;
}

HRESULT FilterEnumerator::Reset() {
  std::vector<IBaseFilter*> snapshot;
  LONG version;
  if (!m_graph->Snapshot(&snapshot, &version)) return E_OUTOFMEMORY;
  Drop();
  m_filters = std::move(snapshot);
  m_version = version;
  m_position = 0;
  return S_OK;
}

HRESULT FilterEnumerator::Clone(IEnumFilters** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::vector<IBaseFilter*> copy;
  try {
    copy = m_filters;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  for (IBaseFilter* f : copy) f->AddRef();
  auto* e = new (std::nothrow) FilterEnumerator(m_graph, std::move(copy), m_version, m_position);
  if (!e) {
    for (IBaseFilter* f : copy) f->Release();
    return E_OUTOFMEMORY;
  }
  *out = e;
  return S_OK;
}

HRESULT CreateFilterGraph(IUnknown* outer, REFIID riid, void** ppv) {
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* graph = new (std::nothrow) FilterGraph;
  if (!graph) return E_OUTOFMEMORY;
  HRESULT hr = graph->Valid() ? graph->QueryInterface(riid, ppv) : E_OUTOFMEMORY;
  static_cast<IGraphBuilder*>(graph)->Release();
  return hr;
}

const bool g_registered = (RegisterBuiltinClass(CLSID_FilterGraph, CreateFilterGraph), true);

}  // namespace
