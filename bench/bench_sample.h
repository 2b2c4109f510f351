// A media sample over bytes it does not own, with times and a key mark: what the recorder and the
// muxer read of a sample, and no more. The benchmark owns it, so counting does nothing.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/dshow/media_sample.h"

namespace bench {

class BenchSample final : public IMediaSample {
 public:
  BenchSample(const std::vector<BYTE>& bytes, REFERENCE_TIME start, REFERENCE_TIME stop, bool sync)
      : m_bytes(bytes.data()), m_size(bytes.size()), m_start(start), m_stop(stop), m_sync(sync) {}
  void SetTimes(REFERENCE_TIME start, REFERENCE_TIME stop) {
    m_start = start;
    m_stop = stop;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid != IID_IUnknown && riid != IID_IMediaSample) return *ppv = nullptr, E_NOINTERFACE;
    *ppv = this;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override {
    *buffer = const_cast<BYTE*>(m_bytes);
    return S_OK;
  }
  LONG STDMETHODCALLTYPE GetSize() override { return static_cast<LONG>(m_size); }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override {
    *start = m_start;
    *stop = m_stop;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return m_sync ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL) override { return E_NOTIMPL; }
  LONG STDMETHODCALLTYPE GetActualDataLength() override { return static_cast<LONG>(m_size); }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** type) override {
    *type = nullptr;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

 private:
  const BYTE* m_bytes;
  size_t m_size;
  REFERENCE_TIME m_start, m_stop;
  bool m_sync;
};

}  // namespace bench
