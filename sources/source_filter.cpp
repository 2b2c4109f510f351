#include "sources/source_filter.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/com/runtime.h"
#include "platform/com/taskmem.h"
#include "platform/dshow/graph.h"
#include "platform/win/sync.h"
#include "sources/live_timeline.h"

namespace {

constexpr const char16_t* kPinName = u"Output";
// The muxer copies each sample before Receive returns, so two buffers keep the thread busy.
constexpr LONG kBuffers = 2;
// In live input, a unit arriving this much (or three units) behind its time re-anchors the times.
constexpr REFERENCE_TIME kLiveStall = 100 * 10000;
// Longest single wait for the clock, so a stop is seen quickly.
constexpr REFERENCE_TIME kClockStep = 10 * 10000;

bool SameType(const AM_MEDIA_TYPE& a, const SourceFormat& f) {
  return IsEqualGUID(a.majortype, f.majortype) && IsEqualGUID(a.subtype, f.subtype) &&
         IsEqualGUID(a.formattype, f.formattype) && a.cbFormat == f.block.size() &&
         (f.block.empty() || (a.pbFormat && std::memcmp(a.pbFormat, f.block.data(), f.block.size()) == 0));
}

// A partial type (null GUIDs) asks for any value of those fields.
bool Accepts(const AM_MEDIA_TYPE* want, const SourceFormat& f) {
  if (!want) return true;
  auto fits = [](REFGUID asked, REFGUID ours) { return IsEqualGUID(asked, GUID_NULL) || IsEqualGUID(asked, ours); };
  if (!fits(want->majortype, f.majortype) || !fits(want->subtype, f.subtype)) return false;
  if (IsEqualGUID(want->formattype, GUID_NULL)) return true;
  return SameType(*want, f);
}

// Fills a media type record; its format block in task memory, as the caller frees it.
HRESULT FillMediaType(const SourceFormat& f, AM_MEDIA_TYPE* type) {
  *type = AM_MEDIA_TYPE{};
  type->majortype = f.majortype;
  type->subtype = f.subtype;
  type->formattype = f.formattype;
  type->bFixedSizeSamples = f.fixed_size;
  type->bTemporalCompression = !f.fixed_size;
  type->lSampleSize = f.sample_size;
  if (!f.block.empty()) {
    type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(f.block.size()));
    if (!type->pbFormat) return E_OUTOFMEMORY;
    std::memcpy(type->pbFormat, f.block.data(), f.block.size());
    type->cbFormat = static_cast<ULONG>(f.block.size());
  }
  return S_OK;
}

void FreeMediaTypeBlock(AM_MEDIA_TYPE* type) {
  CoTaskMemFree(type->pbFormat);
  type->pbFormat = nullptr;
  type->cbFormat = 0;
  SafeRelease(type->pUnk);
}

LPWSTR CopyToTaskMemory(const std::u16string& text) {
  auto* out = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
  if (!out) return nullptr;
  std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  return out;
}

void CopyName(const std::u16string& name, WCHAR* out, size_t capacity) {
  const size_t n = std::min(name.size(), capacity - 1);
  std::memcpy(out, name.data(), n * sizeof(WCHAR));
  out[n] = 0;
}

// The enumerators of a list of exactly one item: the pin of the filter, the type of the pin.
// Derived supplies FetchOne (a new reference or copy of the item) and Copy (for Clone).
template <class Derived, class Interface, const IID& kIid, class Item>
class OneItemEnumerator : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid != IID_IUnknown && riid != kIid) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete static_cast<Derived*>(this);
    return left;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* items, ULONG* fetched) override {
    if (!items) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    ULONG n = 0;
    if (count > 0 && position_ == 0) {
      HRESULT hr = static_cast<Derived*>(this)->FetchOne(&items[0]);
      if (FAILED(hr)) return hr;
      position_ = n = 1;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const ULONG left = 1 - position_;
    position_ += std::min(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Interface** out) override {
    if (!out) return E_POINTER;
    *out = static_cast<Derived*>(this)->Copy();
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 protected:
  explicit OneItemEnumerator(ULONG position) : position_(position) {}
  ULONG position_;

 private:
  std::atomic<ULONG> refs_{1};
};

class PinEnumerator final : public OneItemEnumerator<PinEnumerator, IEnumPins, IID_IEnumPins, IPin*> {
 public:
  PinEnumerator(CSourceFilter* filter, ULONG position) : OneItemEnumerator(position), filter_(filter) {
    filter_->AddRef();
  }
  HRESULT FetchOne(IPin** pin) {
    *pin = filter_->OutputPin();
    (*pin)->AddRef();
    return S_OK;
  }
  PinEnumerator* Copy() { return new (std::nothrow) PinEnumerator(filter_, position_); }

 private:
  friend class OneItemEnumerator;
  ~PinEnumerator() { filter_->Release(); }
  CSourceFilter* filter_;
};

class TypeEnumerator final
    : public OneItemEnumerator<TypeEnumerator, IEnumMediaTypes, IID_IEnumMediaTypes, AM_MEDIA_TYPE*> {
 public:
  TypeEnumerator(IPin* pin, const SourceFormat* format, ULONG position)
      : OneItemEnumerator(position), pin_(pin), format_(format) {
    pin_->AddRef();
  }
  HRESULT FetchOne(AM_MEDIA_TYPE** out) {
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!type) return E_OUTOFMEMORY;
    if (FAILED(FillMediaType(*format_, type))) {
      CoTaskMemFree(type);
      return E_OUTOFMEMORY;
    }
    *out = type;
    return S_OK;
  }
  TypeEnumerator* Copy() { return new (std::nothrow) TypeEnumerator(pin_, format_, position_); }

 private:
  friend class OneItemEnumerator;
  ~TypeEnumerator() { pin_->Release(); }
  IPin* pin_;
  const SourceFormat* format_;
};

}  // namespace

// The output pin; its references are the filter's.
class CSourceOutputPin final : public IPin {
 public:
  explicit CSourceOutputPin(CSourceFilter* filter) : filter_(filter) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid != IID_IUnknown && riid != IID_IPin) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = static_cast<IPin*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return filter_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return filter_->Release(); }

  HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* wanted) override {
    if (!receiver) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(filter_->lock_);
    if (peer_) return VFW_E_ALREADY_CONNECTED;
    if (filter_->state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    const SourceFormat& format = filter_->source_->Format();
    if (!Accepts(wanted, format)) return VFW_E_NO_ACCEPTABLE_TYPES;
    AM_MEDIA_TYPE type;
    HRESULT hr = FillMediaType(format, &type);
    if (FAILED(hr)) {
      FreeMediaTypeBlock(&type);
      return hr;
    }
    hr = receiver->ReceiveConnection(this, &type);
    FreeMediaTypeBlock(&type);
    if (FAILED(hr)) return hr == E_FAIL ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    hr = SetUpAllocator(receiver);
    if (FAILED(hr)) {
      receiver->Disconnect();
      Drop();
      return hr;
    }
    peer_ = receiver;
    peer_->AddRef();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }

  HRESULT STDMETHODCALLTYPE Disconnect() override {
    std::lock_guard<std::recursive_mutex> hold(filter_->lock_);
    if (filter_->state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!peer_) return S_FALSE;
    Drop();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override {
    if (!pin) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(filter_->lock_);
    *pin = peer_;
    if (!peer_) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    std::lock_guard<std::recursive_mutex> hold(filter_->lock_);
    if (!peer_) {
      *type = AM_MEDIA_TYPE{};
      return VFW_E_NOT_CONNECTED;
    }
    HRESULT hr = FillMediaType(filter_->source_->Format(), type);
    if (FAILED(hr)) FreeMediaTypeBlock(type);
    return hr;
  }

  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override {
    if (!info) return E_POINTER;
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = PINDIR_OUTPUT;
    CopyName(kPinName, info->achName, MAX_PIN_NAME);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override {
    if (!dir) return E_POINTER;
    *dir = PINDIR_OUTPUT;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = CopyToTaskMemory(kPinName);
    return *id ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override {
    if (!type) return E_POINTER;
    return SameType(*type, filter_->source_->Format()) ? S_OK : S_FALSE;
  }

  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) TypeEnumerator(this, &filter_->source_->Format(), 0);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  // An output pin takes no stream calls from upstream.
  HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  IMemInputPin* input_ = nullptr;
  IMemAllocator* allocator_ = nullptr;
  IPin* peer_ = nullptr;

  void Drop() {
    SafeRelease(input_);
    SafeRelease(allocator_);
    SafeRelease(peer_);
  }

 private:
  // The input pin's allocator when it offers one, else a memory allocator; buffers sized for the
  // largest unit the source expects.
  HRESULT SetUpAllocator(IPin* receiver) {
    HRESULT hr = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input_));
    if (FAILED(hr)) return hr;
    if (FAILED(input_->GetAllocator(&allocator_)) || !allocator_) {
      hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                            reinterpret_cast<void**>(&allocator_));
      if (FAILED(hr)) return hr;
    }
    const size_t largest = std::max<size_t>(filter_->source_->MaxUnitSize(), 1);
    if (largest > 0x7FFFFFFF / kBuffers) return E_OUTOFMEMORY;
    ALLOCATOR_PROPERTIES want{kBuffers, static_cast<LONG>(largest), 1, 0}, got{};
    hr = allocator_->SetProperties(&want, &got);
    if (FAILED(hr)) return hr;
    if (got.cbBuffer < want.cbBuffer) return VFW_E_BUFFER_OVERFLOW;
    return input_->NotifyAllocator(allocator_, FALSE);
  }

  CSourceFilter* filter_;
};

CSourceFilter* CSourceFilter::Create(std::unique_ptr<UnitSource> source, SourceSettings settings,
                                     const char16_t* name) {
  if (!source) return nullptr;
  try {
    auto* filter = new CSourceFilter(std::move(source), std::move(settings), name);
    filter->pin_ = new (std::nothrow) CSourceOutputPin(filter);
    if (!filter->pin_) {
      delete filter;
      return nullptr;
    }
    return filter;
  } catch (...) {
    return nullptr;
  }
}

CSourceFilter::CSourceFilter(std::unique_ptr<UnitSource> source, SourceSettings settings, const char16_t* name)
    : name_(name ? name : u""), source_(std::move(source)), settings_(std::move(settings)) {}

CSourceFilter::~CSourceFilter() {
  StopStreaming();
  if (pin_) {
    pin_->Drop();
    delete pin_;
  }
  SafeRelease(clock_);
}

IPin* CSourceFilter::OutputPin() { return pin_; }

HRESULT CSourceFilter::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter || riid == IID_IBaseFilter) {
    *ppv = static_cast<IBaseFilter*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CSourceFilter::AddRef() { return ++refs_; }

ULONG CSourceFilter::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

HRESULT CSourceFilter::GetClassID(CLSID* id) {
  if (!id) return E_POINTER;
  *id = CLSID_PelistraSource;
  return S_OK;
}

HRESULT CSourceFilter::Stop() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  StopStreaming();
  state_ = State_Stopped;
  return S_OK;
}

// Waits for the streaming thread: a decommitted allocator fails its GetBuffer, the stop flag
// ends its reads and waits.
void CSourceFilter::StopStreaming() {
  stopping_ = true;
  if (pin_ && pin_->allocator_) pin_->allocator_->Decommit();
  if (thread_.joinable()) thread_.join();
  if (lane_ >= 0) settings_.pacer->Leave(lane_);
  lane_ = -1;
}

HRESULT CSourceFilter::Pause() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (state_ == State_Stopped && pin_->allocator_) {
    HRESULT hr = pin_->allocator_->Commit();
    if (FAILED(hr)) return hr;
    // The graph pauses every filter before it runs any: all streams are in the pacer before
    // the first one starts.
    if (settings_.pacer && !settings_.live && lane_ < 0 && !progress_.ended) lane_ = settings_.pacer->Join();
  }
  state_ = State_Paused;
  return S_OK;
}

HRESULT CSourceFilter::Run(REFERENCE_TIME start) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (state_ == State_Stopped) {
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  run_start_ = start;
  state_ = State_Running;
  // Streaming begins at the first run after the stopped state; a pause does not halt it (a live
  // source keeps going).
  if (thread_.joinable() || !pin_->peer_ || progress_.ended) return S_OK;
  stopping_ = false;
  try {
    thread_ = std::thread([this] { Stream(); });
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CSourceFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  *state = state_;
  return S_OK;
}

HRESULT CSourceFilter::SetSyncSource(IReferenceClock* clock) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  if (clock) clock->AddRef();
  SafeRelease(clock_);
  clock_ = clock;
  return S_OK;
}

HRESULT CSourceFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  *clock = clock_;
  if (clock_) clock_->AddRef();
  return S_OK;
}

HRESULT CSourceFilter::EnumPins(IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = new (std::nothrow) PinEnumerator(this, 0);
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT CSourceFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  if (std::u16string(id) != kPinName) {
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  *pin = pin_;
  pin_->AddRef();
  return S_OK;
}

HRESULT CSourceFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(lock_);
  CopyName(name_, info->achName, MAX_FILTER_NAME);
  info->pGraph = graph_;
  if (graph_) graph_->AddRef();
  return S_OK;
}

HRESULT CSourceFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  graph_ = graph;
  events_ = nullptr;
  if (graph) {
    // Not counted: the graph owns the filter, and a count would keep both alive.
    IMediaEventSink* sink = nullptr;
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
      events_ = sink;
      sink->Release();
    }
  }
  if (name) name_ = name;
  return S_OK;
}

HRESULT CSourceFilter::QueryVendorInfo(LPWSTR* info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT CSourceFilter::Failure(std::string* message) const {
  std::lock_guard<std::mutex> hold(failure_lock_);
  if (message) *message = failure_message_;
  return failure_;
}

void CSourceFilter::SetFailure(HRESULT hr, const std::string& message) {
  std::lock_guard<std::mutex> hold(failure_lock_);
  if (SUCCEEDED(failure_)) {
    failure_ = hr;
    failure_message_ = message;
  }
}

REFERENCE_TIME CSourceFilter::StreamTime() {
  REFERENCE_TIME now = 0, start = 0;
  IReferenceClock* clock = nullptr;
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    clock = clock_;
    if (clock) clock->AddRef();
    start = run_start_;
  }
  if (!clock) return 0;
  clock->GetTime(&now);
  clock->Release();
  return now > start ? now - start : 0;
}

bool CSourceFilter::WaitForClock(REFERENCE_TIME time) {
  for (;;) {
    if (stopping_) return false;
    const REFERENCE_TIME now = StreamTime();
    if (now >= time) return true;
    Sleep(static_cast<DWORD>(std::min(time - now, kClockStep) / 10000 + 1));
  }
}

HRESULT CSourceFilter::Deliver(const MediaUnit& unit, REFERENCE_TIME start, REFERENCE_TIME stop, bool discontinuity) {
  IMediaSample* sample = nullptr;
  HRESULT hr = pin_->allocator_->GetBuffer(&sample, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  if (unit.size > static_cast<size_t>(sample->GetSize())) {
    sample->Release();
    return VFW_E_BUFFER_OVERFLOW;
  }
  if (unit.size) std::memcpy(data, unit.data, unit.size);
  sample->SetActualDataLength(static_cast<LONG>(unit.size));
  sample->SetTime(&start, &stop);
  sample->SetSyncPoint(unit.sync);
  sample->SetDiscontinuity(discontinuity);
  hr = pin_->input_->Receive(sample);
  sample->Release();
  return hr;
}

void CSourceFilter::Stream() {
  UnitSource& source = *source_;
  const bool live = settings_.live;
  const REFERENCE_TIME unitTime = source.UnitDuration();
  const double fps = settings_.fps > 0 ? settings_.fps : kDefaultFramesPerSecond;
  LiveTimeline timeline(std::max(kLiveStall, 3 * unitTime));
  HRESULT failure = S_OK;
  std::string message;
  bool stopped = false;
  uint64_t index = 0;
  for (;; ++index) {
    MediaUnit unit;
    HRESULT hr = source.Next(&unit, stopping_);
    if (hr == E_ABORT || stopping_) {
      stopped = true;
      break;
    }
    if (FAILED(hr)) {
      failure = hr;
      message = source.Error();
      break;
    }
    if (hr == S_FALSE) break;

    REFERENCE_TIME start, stop;
    bool discontinuity = index == 0;
    if (unit.timed) {
      start = unit.start;
      stop = unit.stop;
    } else {
      start = static_cast<REFERENCE_TIME>(static_cast<double>(index) * 1e7 / fps + 0.5);
      stop = static_cast<REFERENCE_TIME>(static_cast<double>(index + 1) * 1e7 / fps + 0.5);
    }
    if (live && !source.Generated()) {
      const LiveTimeline::Stamp stamp = timeline.Place(StreamTime(), start, stop);
      start = stamp.start;
      stop = stamp.stop;
      discontinuity = stamp.discontinuity;
    }
    if (settings_.duration >= 0 && start >= settings_.duration) break;
    if (live && source.Generated() && !WaitForClock(start)) {
      stopped = true;
      break;
    }
    if (lane_ >= 0 && !settings_.pacer->WaitTurn(lane_, start, stopping_)) {
      stopped = true;
      break;
    }
    if (settings_.beforeDeliver) settings_.beforeDeliver(start);
    hr = Deliver(unit, start, stop, discontinuity);
    if (hr == VFW_E_NOT_COMMITTED || hr == VFW_E_WRONG_STATE || stopping_) {
      // The graph is stopping: the muxer stops before its sources.
      stopped = true;
      break;
    }
    if (hr == VFW_E_BUFFER_OVERFLOW) {
      failure = hr;
      message = "a unit of " + std::to_string(unit.size) + " bytes does not fit the sample buffers";
      break;
    }
    if (FAILED(hr)) {
      failure = hr;
      message = "the muxer did not take a sample";
      break;
    }
    progress_.units.fetch_add(1, std::memory_order_relaxed);
    progress_.bytes.fetch_add(unit.size, std::memory_order_relaxed);
    progress_.time.store(stop, std::memory_order_relaxed);
    if (hr != S_OK) break;  // S_FALSE: the input pin wants no more
  }
  if (lane_ >= 0) settings_.pacer->Leave(lane_);
  lane_ = -1;
  progress_.ended = true;
  if (stopped) return;
  IMediaEventSink* events = nullptr;
  {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    events = events_;
  }
  if (FAILED(failure)) {
    SetFailure(failure, message);
    // As a source does: the graph learns of the failure, then the stream ends.
    if (events) events->Notify(EC_ERRORABORT, failure, 0);
  }
  if (pin_->peer_) pin_->peer_->EndOfStream();
}
