// CLSID_MemoryAllocator: a fixed pool of samples in one block of memory. GetBuffer blocks until a
// sample is free; a sample goes back to the pool on its last Release, and each sample handed out
// holds a reference on the allocator so the pool outlives it.
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <new>
#include <vector>

#include "platform/com/alloc_fault.h"
#include "platform/com/runtime.h"
#include "platform/com/taskmem.h"
#include "platform/dshow/allocator.h"
#include "platform/dshow/runtime_object.h"

namespace {

void FreeType(AM_MEDIA_TYPE* type) {
  if (!type) return;
  if (type->cbFormat) CoTaskMemFree(type->pbFormat);
  if (type->pUnk) type->pUnk->Release();
  CoTaskMemFree(type);
}

// A deep copy in task memory, as the media type utilities make it; null when memory is short.
AM_MEDIA_TYPE* CopyType(const AM_MEDIA_TYPE* source) {
  auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!type) return nullptr;
  *type = *source;
  if (source->cbFormat) {
    type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (!type->pbFormat) {
      CoTaskMemFree(type);
      return nullptr;
    }
    std::memcpy(type->pbFormat, source->pbFormat, source->cbFormat);
  } else {
    type->pbFormat = nullptr;
  }
  if (type->pUnk) type->pUnk->AddRef();
  return type;
}

class MemAllocator;

class PoolSample final : public IMediaSample2 {
 public:
  PoolSample(MemAllocator* allocator, BYTE* buffer, LONG size) : m_allocator(allocator), m_buffer(buffer), m_size(size) {}
  ~PoolSample() { FreeType(m_type); }

  // Readies the sample for a new user: one reference, nothing set.
  void Reset() {
    m_refs = 1;
    m_flags = 0;
    m_typeSpecificFlags = 0;
    m_streamId = AM_STREAM_MEDIA;
    m_start = m_stop = 0;
    m_mediaTimeValid = false;
    m_actual = m_size;
    FreeType(m_type);
    m_type = nullptr;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMediaSample || riid == IID_IMediaSample2) {
      *ppv = static_cast<IMediaSample2*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** ppBuffer) override {
    if (!ppBuffer) return E_POINTER;
    *ppBuffer = m_buffer;
    return S_OK;
  }
  LONG STDMETHODCALLTYPE GetSize() override { return m_size; }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override {
    if (!(m_flags & AM_SAMPLE_TIMEVALID)) return VFW_E_SAMPLE_TIME_NOT_SET;
    if (!start || !stop) return E_POINTER;
    *start = m_start;
    if (m_flags & AM_SAMPLE_STOPVALID) {
      *stop = m_stop;
      return S_OK;
    }
    *stop = m_start + 1;
    return VFW_S_NO_STOP_TIME;
  }
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override {
    if (!start) {
      m_flags &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
      return S_OK;
    }
    m_start = *start;
    m_flags |= AM_SAMPLE_TIMEVALID;
    if (stop) {
      m_stop = *stop;
      m_flags |= AM_SAMPLE_STOPVALID;
    } else {
      m_flags &= ~AM_SAMPLE_STOPVALID;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return Flag(AM_SAMPLE_SPLICEPOINT); }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL on) override { return SetFlag(AM_SAMPLE_SPLICEPOINT, on); }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return Flag(AM_SAMPLE_PREROLL); }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL on) override { return SetFlag(AM_SAMPLE_PREROLL, on); }
  LONG STDMETHODCALLTYPE GetActualDataLength() override { return m_actual; }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) override {
    if (length < 0) return E_INVALIDARG;
    if (length > m_size) return VFW_E_BUFFER_OVERFLOW;
    m_actual = length;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** ppMediaType) override {
    if (!ppMediaType) return E_POINTER;
    *ppMediaType = nullptr;
    if (!(m_flags & AM_SAMPLE_TYPECHANGED) || !m_type) return S_FALSE;
    *ppMediaType = CopyType(m_type);
    return *ppMediaType ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* type) override {
    FreeType(m_type);
    m_type = nullptr;
    m_flags &= ~AM_SAMPLE_TYPECHANGED;
    if (!type) return S_OK;
    m_type = CopyType(type);
    if (!m_type) return E_OUTOFMEMORY;
    m_flags |= AM_SAMPLE_TYPECHANGED;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return Flag(AM_SAMPLE_DATADISCONTINUITY); }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL on) override { return SetFlag(AM_SAMPLE_DATADISCONTINUITY, on); }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* start, LONGLONG* stop) override {
    if (!m_mediaTimeValid) return VFW_E_MEDIA_TIME_NOT_SET;
    if (!start || !stop) return E_POINTER;
    *start = m_mediaStart;
    *stop = m_mediaStop;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* start, LONGLONG* stop) override {
    if (!start) {
      m_mediaTimeValid = false;
      return S_OK;
    }
    if (!stop) return E_POINTER;
    m_mediaStart = *start;
    m_mediaStop = *stop;
    m_mediaTimeValid = true;
    return S_OK;
  }

  // The record is written up to the size the caller gives, so an older, shorter record works.
  HRESULT STDMETHODCALLTYPE GetProperties(DWORD size, BYTE* out) override {
    if (!out) return E_POINTER;
    AM_SAMPLE2_PROPERTIES props{};
    props.cbData = size < sizeof props ? size : static_cast<DWORD>(sizeof props);
    props.dwTypeSpecificFlags = m_typeSpecificFlags;
    props.dwSampleFlags = m_flags;
    props.lActual = m_actual;
    props.tStart = m_start;
    props.tStop = m_stop;
    props.dwStreamId = m_streamId;
    props.pMediaType = (m_flags & AM_SAMPLE_TYPECHANGED) ? m_type : nullptr;
    props.pbBuffer = m_buffer;
    props.cbBuffer = m_size;
    std::memcpy(out, &props, props.cbData);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetProperties(DWORD size, const BYTE* in) override {
    if (!in) return E_POINTER;
    AM_SAMPLE2_PROPERTIES props{};
    std::memcpy(&props, in, size < sizeof props ? size : sizeof props);
    auto covers = [&](size_t end) { return size >= end; };
    if (!covers(offsetof(AM_SAMPLE2_PROPERTIES, tStart))) return E_INVALIDARG;
    // The buffer is the pool's: a record that names another one is refused.
    if (covers(offsetof(AM_SAMPLE2_PROPERTIES, cbBuffer) + sizeof(LONG)) &&
        (props.pbBuffer != m_buffer || props.cbBuffer != m_size))
      return E_INVALIDARG;
    if (props.lActual < 0 || props.lActual > m_size) return VFW_E_BUFFER_OVERFLOW;
    if (covers(offsetof(AM_SAMPLE2_PROPERTIES, pMediaType) + sizeof(void*))) {
      HRESULT hr = SetMediaType((props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) ? props.pMediaType : nullptr);
      if (FAILED(hr)) return hr;
    }
    m_typeSpecificFlags = props.dwTypeSpecificFlags;
    m_flags = (props.dwSampleFlags & ~AM_SAMPLE_TYPECHANGED) | (m_flags & AM_SAMPLE_TYPECHANGED);
    m_actual = props.lActual;
    if (covers(offsetof(AM_SAMPLE2_PROPERTIES, tStop) + sizeof(REFERENCE_TIME))) {
      m_start = props.tStart;
      m_stop = props.tStop;
    } else {
      m_flags &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
    }
    if (covers(offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId) + sizeof(DWORD))) m_streamId = props.dwStreamId;
    return S_OK;
  }

 private:
  HRESULT Flag(DWORD bit) const { return (m_flags & bit) ? S_OK : S_FALSE; }
  HRESULT SetFlag(DWORD bit, BOOL on) {
    if (on)
      m_flags |= bit;
    else
      m_flags &= ~bit;
    return S_OK;
  }

  MemAllocator* const m_allocator;
  BYTE* const m_buffer;
  const LONG m_size;
  LONG volatile m_refs = 0;
  DWORD m_flags = 0;
  DWORD m_typeSpecificFlags = 0;
  DWORD m_streamId = AM_STREAM_MEDIA;
  LONG m_actual = 0;
  REFERENCE_TIME m_start = 0, m_stop = 0;
  bool m_mediaTimeValid = false;
  LONGLONG m_mediaStart = 0, m_mediaStop = 0;
  AM_MEDIA_TYPE* m_type = nullptr;
};

class MemAllocator final : public RuntimeObject, public IMemAllocator {
 public:
  ~MemAllocator() override { FreePool(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMemAllocator) {
      *ppv = static_cast<IMemAllocator*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefObject(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseObject(); }

  HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
    if (!request || !actual) return E_POINTER;
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_committed) return VFW_E_ALREADY_COMMITTED;
    if (m_outstanding > 0) return VFW_E_BUFFERS_OUTSTANDING;
    const ALLOCATOR_PROPERTIES want = *request;
    if (want.cbAlign <= 0 || (want.cbAlign & (want.cbAlign - 1)) != 0) return VFW_E_BADALIGN;
    if (want.cBuffers < 0 || want.cbBuffer < 0 || want.cbPrefix < 0) return E_INVALIDARG;
    // Each buffer, prefix included, starts on the alignment.
    int64_t stride = (static_cast<int64_t>(want.cbBuffer) + want.cbPrefix + want.cbAlign - 1) / want.cbAlign * want.cbAlign;
    if (stride > INT32_MAX || stride * want.cBuffers > INT32_MAX) return E_INVALIDARG;
    m_props = want;
    m_props.cbBuffer = static_cast<LONG>(stride - want.cbPrefix);
    *actual = m_props;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* props) override {
    if (!props) return E_POINTER;
    std::lock_guard<std::mutex> hold(m_lock);
    *props = m_props;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Commit() override {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_committed) return S_OK;
    if (m_props.cBuffers <= 0 || m_props.cbBuffer <= 0) return VFW_E_SIZENOTSET;
    // A pool kept alive by samples still out after a Decommit is taken up again.
    if (m_samples.empty()) {
      HRESULT hr = AllocatePool();
      if (FAILED(hr)) return hr;
    }
    m_committed = true;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Decommit() override {
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_committed) return S_OK;
    m_committed = false;
    m_changed.notify_all();  // waiters in GetBuffer give up
    if (m_outstanding == 0) FreePool();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** out, REFERENCE_TIME*, REFERENCE_TIME*, DWORD flags) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    PoolSample* sample = nullptr;
    {
      std::unique_lock<std::mutex> hold(m_lock);
      for (;;) {
        if (!m_committed) return VFW_E_NOT_COMMITTED;
        if (!m_free.empty()) break;
        if (flags & AM_GBF_NOWAIT) return VFW_E_TIMEOUT;
        m_changed.wait(hold);
      }
      sample = m_free.back();
      m_free.pop_back();
      ++m_outstanding;
      sample->Reset();
    }
    AddRef();  // dropped when the sample comes back
    *out = sample;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* buffer) override {
    if (!buffer) return E_POINTER;
    std::lock_guard<std::mutex> hold(m_lock);
    for (PoolSample* s : m_samples) {
      if (static_cast<IMediaSample*>(s) != buffer) continue;
      m_free.push_back(s);
      --m_outstanding;
      if (!m_committed && m_outstanding == 0)
        FreePool();
      else
        m_changed.notify_one();
      return S_OK;
    }
    return E_INVALIDARG;
  }

 private:
  HRESULT AllocatePool() {
    const size_t stride = static_cast<size_t>(m_props.cbBuffer) + m_props.cbPrefix;
    if (!PlatformAllocationAllowed()) return E_OUTOFMEMORY;
    size_t align = m_props.cbAlign < static_cast<LONG>(sizeof(void*)) ? sizeof(void*) : m_props.cbAlign;
    void* memory = nullptr;
    if (posix_memalign(&memory, align, stride * m_props.cBuffers) != 0) return E_OUTOFMEMORY;
    m_memory = static_cast<BYTE*>(memory);
    try {
      m_samples.reserve(m_props.cBuffers);
      m_free.reserve(m_props.cBuffers);
    } catch (...) {
      FreePool();
      return E_OUTOFMEMORY;
    }
    for (LONG i = 0; i < m_props.cBuffers; ++i) {
      auto* sample = new (std::nothrow) PoolSample(this, m_memory + i * stride + m_props.cbPrefix, m_props.cbBuffer);
      if (!sample) {
        FreePool();
        return E_OUTOFMEMORY;
      }
      m_samples.push_back(sample);
      m_free.push_back(sample);
    }
    return S_OK;
  }

  void FreePool() {
    for (PoolSample* s : m_samples) delete s;
    m_samples.clear();
    m_free.clear();
    std::free(m_memory);
    m_memory = nullptr;
  }

  std::mutex m_lock;
  std::condition_variable m_changed;
  ALLOCATOR_PROPERTIES m_props{0, 0, 1, 0};
  bool m_committed = false;
  LONG m_outstanding = 0;
  BYTE* m_memory = nullptr;
  std::vector<PoolSample*> m_samples;
  std::vector<PoolSample*> m_free;
};

ULONG PoolSample::Release() {
  LONG left = InterlockedDecrement(&m_refs);
  if (left != 0) return static_cast<ULONG>(left);
  // Back to the pool; the allocator may go with its last reference, and this sample with it.
  MemAllocator* allocator = m_allocator;
  allocator->ReleaseBuffer(this);
  allocator->Release();
  return 0;
}

HRESULT CreateMemoryAllocator(IUnknown* outer, REFIID riid, void** ppv) {
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* allocator = new (std::nothrow) MemAllocator;
  if (!allocator) return E_OUTOFMEMORY;
  HRESULT hr = allocator->QueryInterface(riid, ppv);
  allocator->Release();
  return hr;
}

const bool g_registered = (RegisterBuiltinClass(CLSID_MemoryAllocator, CreateMemoryAllocator), true);

}  // namespace
