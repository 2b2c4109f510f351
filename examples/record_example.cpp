// Records three seconds of generated video into an ASF file through the pelistra muxer filter,
// using only the installed SDK: the platform's COM and filter-graph interfaces and IASFMuxer.
//
//   record_example OUTPUT.asf [MODULE]
//
// With MODULE (the path of pelistra.ax) the filter comes straight from the module's
// DllGetClassObject; without it, from CoCreateInstance, which needs the module registered
// (regsvr32 pelistra.ax).
#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>

#include "filter/asf_muxer.h"
#include "platform/com/runtime.h"
#include "platform/com/taskmem.h"
#include "platform/dshow/graph.h"
#include "platform/win/module.h"
#include "platform/win/text.h"

namespace {

constexpr LONG kWidth = 160, kHeight = 120;
constexpr LONG kFrameBytes = kWidth * kHeight * 3 / 2;  // I420
constexpr int kFrames = 75;
constexpr REFERENCE_TIME kFrameTime = 10000000 / 25;
constexpr CLSID CLSID_FrameSource = MakeGuid("3B9A4E52-7D1C-4F0A-8E6B-2C51D0A9F713");

// The format of the generated frames: small I420 pictures, 25 per second.
void DescribeFrames(AM_MEDIA_TYPE* type, VIDEOINFOHEADER* format) {
  *format = {};
  format->AvgTimePerFrame = kFrameTime;
  format->bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, kHeight, 1, 12,
                       FourCCGuid("I420").Data1, kFrameBytes, 0, 0, 0, 0};
  *type = {};
  type->majortype = MEDIATYPE_Video;
  type->subtype = MEDIASUBTYPE_I420;
  type->bFixedSizeSamples = TRUE;
  type->lSampleSize = kFrameBytes;
  type->formattype = FORMAT_VideoInfo;
  type->cbFormat = sizeof(VIDEOINFOHEADER);
  type->pbFormat = reinterpret_cast<BYTE*>(format);
}

class FrameSource;

// The source's one output pin. It lives inside the filter and counts its references there.
class OutputPin final : public IPin {
 public:
  explicit OutputPin(FrameSource* filter) : m_filter(filter) {}
  ~OutputPin() { ReleaseAll(m_peer, m_input, m_allocator); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = riid == IID_IUnknown || riid == IID_IPin ? this : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // Offers the one type it makes, then takes the input pin's allocator (or a memory allocator)
  // sized for a frame.
  HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE*) override {
    if (!receiver) return E_POINTER;
    if (m_peer) return VFW_E_ALREADY_CONNECTED;
    AM_MEDIA_TYPE type;
    VIDEOINFOHEADER format;
    DescribeFrames(&type, &format);
    HRESULT hr = receiver->ReceiveConnection(this, &type);
    if (FAILED(hr)) return hr;
    hr = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_input));
    if (SUCCEEDED(hr) && FAILED(m_input->GetAllocator(&m_allocator)))
      hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                            reinterpret_cast<void**>(&m_allocator));
    ALLOCATOR_PROPERTIES want{4, kFrameBytes, 1, 0}, got{};
    if (SUCCEEDED(hr)) hr = m_allocator->SetProperties(&want, &got);
    if (SUCCEEDED(hr)) hr = m_input->NotifyAllocator(m_allocator, FALSE);
    if (FAILED(hr)) {
      receiver->Disconnect();
      ReleaseAll(m_input, m_allocator);
      return hr;
    }
    m_peer = receiver;
    m_peer->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Disconnect() override {
    if (!m_peer) return S_FALSE;
    ReleaseAll(m_peer, m_input, m_allocator);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** peer) override {
    if (!peer) return E_POINTER;
    *peer = m_peer;
    if (!m_peer) return VFW_E_NOT_CONNECTED;
    m_peer->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* out) override {
    if (!out) return E_POINTER;
    if (!m_peer) return VFW_E_NOT_CONNECTED;
    VIDEOINFOHEADER format;
    DescribeFrames(out, &format);
    // The caller owns the format block, in task memory.
    out->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof format));
    if (!out->pbFormat) return E_OUTOFMEMORY;
    std::memcpy(out->pbFormat, &format, sizeof format);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* dir) override {
    if (!dir) return E_POINTER;
    *dir = PINDIR_OUTPUT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override {
    if (!id) return E_POINTER;
    *id = static_cast<WCHAR*>(CoTaskMemAlloc(sizeof u"Output"));
    if (!*id) return E_OUTOFMEMORY;
    std::memcpy(*id, u"Output", sizeof u"Output");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override {
    return type && type->subtype == MEDIASUBTYPE_I420 ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

  HRESULT Active() { return m_allocator ? m_allocator->Commit() : VFW_E_NOT_CONNECTED; }
  // A decommitted allocator fails the streaming thread's next GetBuffer, so it ends.
  void Inactive() {
    m_stopping = true;
    if (m_allocator) m_allocator->Decommit();
    if (m_thread.joinable()) m_thread.join();
    m_stopping = false;
  }
  HRESULT StartStreaming() {
    if (m_thread.joinable()) return S_OK;
    try {
      m_thread = std::thread([this] { Stream(); });
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  template <class... T>
  static void ReleaseAll(T*&... p) {
    (SafeRelease(p), ...);
  }

  // A bright bar moves across a grey picture, one frame after another, then the stream ends.
  void Stream() {
    for (int frame = 0; frame < kFrames && !m_stopping; ++frame) {
      IMediaSample* sample = nullptr;
      if (FAILED(m_allocator->GetBuffer(&sample, nullptr, nullptr, 0))) return;
      BYTE* data = nullptr;
      sample->GetPointer(&data);
      std::memset(data, 0x80, kFrameBytes);
      for (LONG y = 0; y < kHeight; ++y) std::memset(data + y * kWidth + frame * 2 % (kWidth - 8), 0xEB, 8);
      REFERENCE_TIME start = frame * kFrameTime, stop = start + kFrameTime;
      sample->SetTime(&start, &stop);
      sample->SetActualDataLength(kFrameBytes);
      sample->SetSyncPoint(TRUE);
      sample->SetDiscontinuity(frame == 0);
      HRESULT hr = m_input->Receive(sample);
      sample->Release();
      if (hr != S_OK) return;  // the muxer refused: the graph is stopping or failed
    }
    if (!m_stopping) m_peer->EndOfStream();
  }

  FrameSource* m_filter;
  IPin* m_peer = nullptr;
  IMemInputPin* m_input = nullptr;
  IMemAllocator* m_allocator = nullptr;
  std::thread m_thread;
  std::atomic<bool> m_stopping{false};
};

// Lists the source's one pin.
class PinList final : public IEnumPins {
 public:
  explicit PinList(IPin* pin, ULONG position = 0) : m_pin(pin), m_position(position) { m_pin->AddRef(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = riid == IID_IUnknown || riid == IID_IEnumPins ? this : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --m_refs;
    if (left == 0) {
      m_pin->Release();
      delete this;
    }
    return left;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins) return E_POINTER;
    ULONG n = 0;
    if (count > 0 && m_position == 0) {
      pins[n++] = m_pin;
      m_pin->AddRef();
      m_position = 1;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    m_position = count + m_position > 1 ? 1 : m_position + count;
    return m_position == 1 && count > 0 ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    m_position = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumPins** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) PinList(m_pin, m_position);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::atomic<ULONG> m_refs{1};
  IPin* m_pin;
  ULONG m_position;
};

// A push source: one output pin that streams generated frames from the moment the graph runs.
class FrameSource final : public IBaseFilter {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = riid == IID_IUnknown || riid == IID_IPersist || riid == IID_IMediaFilter || riid == IID_IBaseFilter
               ? this
               : nullptr;
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_FrameSource;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Stop() override {
    m_pin.Inactive();
    m_state = State_Stopped;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Pause() override {
    if (m_state == State_Stopped) {
      HRESULT hr = m_pin.Active();
      if (FAILED(hr)) return hr;
    }
    m_state = State_Paused;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override {
    if (m_state == State_Stopped) {
      HRESULT hr = Pause();
      if (FAILED(hr)) return hr;
    }
    m_state = State_Running;
    return m_pin.StartStreaming();
  }
  HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE* state) override {
    if (!state) return E_POINTER;
    *state = m_state;
    return S_OK;
  }
  // The frames carry their own times; the source keeps no clock.
  HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override {
    if (!clock) return E_POINTER;
    *clock = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) PinList(&m_pin);
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override {
    if (!id || !pin) return E_POINTER;
    *pin = std::u16string_view(id) == u"Output" ? &m_pin : nullptr;
    if (!*pin) return VFW_E_NOT_FOUND;
    m_pin.AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override {
    if (!info) return E_POINTER;
    *info = {};
    std::memcpy(info->achName, u"Frames", sizeof u"Frames");
    info->pGraph = m_graph;
    if (m_graph) m_graph->AddRef();
    return S_OK;
  }
  // The graph holds the filter, so the filter does not hold the graph.
  HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR) override {
    m_graph = graph;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }

  IPin* Output() { return &m_pin; }

 private:
  ~FrameSource() { m_pin.Inactive(); }

  std::atomic<ULONG> m_refs{1};
  OutputPin m_pin{this};
  FILTER_STATE m_state = State_Stopped;
  IFilterGraph* m_graph = nullptr;
};

ULONG OutputPin::AddRef() { return m_filter->AddRef(); }
ULONG OutputPin::Release() { return m_filter->Release(); }

HRESULT OutputPin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  *info = {};
  info->pFilter = m_filter;
  m_filter->AddRef();
  info->dir = PINDIR_OUTPUT;
  std::memcpy(info->achName, u"Output", sizeof u"Output");
  return S_OK;
}

// The muxer from the module file itself, with the module kept loaded in *module.
HRESULT CreateMuxerFromModule(const char* path, HMODULE* module, IBaseFilter** muxer) {
  *module = LoadLibraryA(path);
  if (!*module) return HRESULT_FROM_WIN32(GetLastError());
  using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
  auto getClassObject = reinterpret_cast<GetClassObject>(GetProcAddress(*module, "DllGetClassObject"));
  if (!getClassObject) return E_NOINTERFACE;
  IClassFactory* factory = nullptr;
  HRESULT hr = getClassObject(CLSID_VelderMuxer, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(muxer));
  factory->Release();
  return hr;
}

HRESULT Check(const char* what, HRESULT hr) {
  if (FAILED(hr)) std::fprintf(stderr, "record_example: %s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
  return hr;
}

HRESULT Record(const char* output, const char* modulePath) {
  HMODULE module = nullptr;
  IBaseFilter* muxer = nullptr;
  HRESULT hr = modulePath ? CreateMuxerFromModule(modulePath, &module, &muxer)
                          : CoCreateInstance(CLSID_VelderMuxer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                             reinterpret_cast<void**>(&muxer));
  if (FAILED(Check("creating the muxer", hr))) {
    if (module) FreeLibrary(module);
    return hr;
  }
  IGraphBuilder* graph = nullptr;
  FrameSource* source = new (std::nothrow) FrameSource;
  IPin* videoIn = nullptr;
  IFileSinkFilter* sink = nullptr;
  IASFMuxer* settings = nullptr;
  IMediaControl* control = nullptr;
  IMediaEvent* events = nullptr;
  hr = source ? S_OK : E_OUTOFMEMORY;
  if (SUCCEEDED(hr))
    hr = Check("creating the graph", CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                                      IID_IGraphBuilder, reinterpret_cast<void**>(&graph)));
  if (SUCCEEDED(hr)) hr = Check("adding the muxer", graph->AddFilter(muxer, u"ASF muxer"));
  if (SUCCEEDED(hr)) hr = Check("adding the source", graph->AddFilter(source, u"Frames"));
  if (SUCCEEDED(hr)) hr = Check("finding Video In", muxer->FindPin(u"Video In", &videoIn));
  if (SUCCEEDED(hr)) hr = Check("connecting", graph->Connect(source->Output(), videoIn));
  if (SUCCEEDED(hr))
    hr = Check("naming the file", muxer->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&sink)));
  if (SUCCEEDED(hr)) hr = Check("naming the file", sink->SetFileName(Utf8ToWide(output).c_str(), nullptr));
  // Uncompressed frames: tell the profile their real rate rather than leave it to an estimate.
  if (SUCCEEDED(hr)) hr = muxer->QueryInterface(IID_IASFMuxer, reinterpret_cast<void**>(&settings));
  if (SUCCEEDED(hr)) hr = Check("setting the bit rate", settings->SetVideoBitrate(kFrameBytes * 8 * 25));
  if (SUCCEEDED(hr)) hr = graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
  if (SUCCEEDED(hr)) hr = graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events));
  if (SUCCEEDED(hr)) hr = Check("running", control->Run());
  while (SUCCEEDED(hr)) {
    LONG code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    hr = Check("waiting for the end", events->GetEvent(&code, &param1, &param2, 30000));
    if (FAILED(hr)) break;
    events->FreeEventParams(code, param1, param2);
    if (code == EC_COMPLETE) break;
    if (code == EC_ERRORABORT || code == EC_USERABORT) hr = Check("recording", static_cast<HRESULT>(param1));
  }
  // Stopping finishes the file, whatever happened before.
  if (control) {
    HRESULT stopped = Check("stopping", control->Stop());
    if (SUCCEEDED(hr)) hr = stopped;
  }
  for (IUnknown* p : {static_cast<IUnknown*>(events), static_cast<IUnknown*>(control),
                      static_cast<IUnknown*>(settings), static_cast<IUnknown*>(sink),
                      static_cast<IUnknown*>(videoIn), static_cast<IUnknown*>(graph)})
    if (p) p->Release();
  if (source) source->Release();
  muxer->Release();
  if (module) FreeLibrary(module);
  return hr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: record_example OUTPUT.asf [MODULE]\n");
    return 2;
  }
  if (FAILED(CoInitialize(nullptr))) return 1;
  HRESULT hr = Record(argv[1], argc == 3 ? argv[2] : nullptr);
  CoUninitialize();
  if (FAILED(hr)) return 1;
  std::printf("recorded %d frames into %s\n", kFrames, argv[1]);
  return 0;
}
