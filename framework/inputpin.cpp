#include "framework/inputpin.h"

#include "framework/basefilter.h"
#include "platform/com/runtime.h"

CBaseInputPin::CBaseInputPin(LPCSTR objectName, CBaseFilter* filter, CRITICAL_SECTION* lock, HRESULT* status,
                             LPCWSTR pinName)
    : CBasePin(objectName, filter, lock, status, pinName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() { SafeRelease(m_pAllocator); }

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::Inactive() {
  SetRunTimeError(false);
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  SetFlushing(false);
  return m_pAllocator->Decommit();
}

HRESULT CBaseInputPin::BreakConnect() {
  if (m_pAllocator) {
    HRESULT hr = m_pAllocator->Decommit();
    if (FAILED(hr)) return hr;
    SafeRelease(m_pAllocator);
  }
  return S_OK;
}

HRESULT CBaseInputPin::CheckStreaming() {
  if (m_pFilter->IsStopped()) return VFW_E_WRONG_STATE;
  if (IsFlushing()) return S_FALSE;
  if (RunTimeError()) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (!m_pAllocator) {
    HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  reinterpret_cast<void**>(&m_pAllocator));
    if (FAILED(hr)) {
      *allocator = nullptr;
      return hr;
    }
  }
  *allocator = m_pAllocator;
  m_pAllocator->AddRef();
  return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (!allocator) return E_POINTER;
  CAutoLock lock(m_pLock);
  allocator->AddRef();
  if (m_pAllocator) m_pAllocator->Release();
  m_pAllocator = allocator;
  m_bReadOnly = static_cast<BYTE>(readOnly) != 0;
  return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

// Fills the sample properties, from IMediaSample2 when the sample has it. A type that an older
// sample hands out from GetMediaType is ours to free: *ownedType.
HRESULT CBaseInputPin::ReadSampleProperties(IMediaSample* sample, AM_MEDIA_TYPE** ownedType) {
  *ownedType = nullptr;
  IMediaSample2* sample2 = nullptr;
  if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2)))) {
    HRESULT hr = sample2->GetProperties(sizeof m_SampleProps, reinterpret_cast<BYTE*>(&m_SampleProps));
    sample2->Release();
    return FAILED(hr) ? hr : S_OK;
  }
  AM_SAMPLE2_PROPERTIES& p = m_SampleProps;
  p.cbData = sizeof p;
  p.dwTypeSpecificFlags = 0;
  p.dwStreamId = AM_STREAM_MEDIA;
  p.dwSampleFlags = 0;
  if (sample->IsDiscontinuity() == S_OK) p.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
  if (sample->IsPreroll() == S_OK) p.dwSampleFlags |= AM_SAMPLE_PREROLL;
  if (sample->IsSyncPoint() == S_OK) p.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
  if (SUCCEEDED(sample->GetTime(&p.tStart, &p.tStop))) p.dwSampleFlags |= AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
  p.pMediaType = nullptr;
  if (sample->GetMediaType(&p.pMediaType) == S_OK) {
    p.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
    *ownedType = p.pMediaType;
  } else if (p.pMediaType) {
    DeleteMediaType(p.pMediaType);  // a type given with another answer is still ours to free
    p.pMediaType = nullptr;
  }
  p.pbBuffer = nullptr;
  sample->GetPointer(&p.pbBuffer);
  p.lActual = sample->GetActualDataLength();
  p.cbBuffer = sample->GetSize();
  return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  AM_MEDIA_TYPE* ownedType = nullptr;
  hr = ReadSampleProperties(sample, &ownedType);
  if (FAILED(hr)) return hr;
  if (m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
    hr = CheckMediaType(m_SampleProps.pMediaType) == S_OK ? S_OK : VFW_E_INVALIDMEDIATYPE;
    if (hr != S_OK) {
      SetRunTimeError(true);
      // The error flag is set, so an end of stream that checks the streaming state changes nothing.
      static_cast<IPin*>(this)->EndOfStream();
      m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
    }
  }
  // The base keeps nothing of the sample: a type copied out of it goes now.
  if (ownedType) {
    DeleteMediaType(ownedType);
    m_SampleProps.pMediaType = nullptr;
  }
  return hr;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) {
  if (!samples || !processed) return E_POINTER;
  *processed = 0;
  HRESULT hr = S_OK;
  for (LONG i = 0; i < count; ++i) {
    // Through the table, so the derived pin's Receive takes each sample.
    hr = static_cast<IMemInputPin*>(this)->Receive(samples[i]);
    if (hr != S_OK) break;
    ++*processed;
  }
  return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() {
  int outputs = 0;
  for (int i = 0, n = m_pFilter->GetPinCount(); i < n; ++i) {
    CBasePin* pin = m_pFilter->GetPin(i);
    PIN_DIRECTION direction;
    HRESULT hr = pin->QueryDirection(&direction);
    if (FAILED(hr)) return hr;
    IPin* peer = pin->GetConnected();
    if (direction != PINDIR_OUTPUT || !peer) continue;
    ++outputs;
    IMemInputPin* downstream = nullptr;
    if (FAILED(peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&downstream)))) return S_OK;
    hr = downstream->ReceiveCanBlock();
    downstream->Release();
    if (hr != S_FALSE) return S_OK;
  }
  return outputs == 0 ? S_OK : S_FALSE;
}

HRESULT CBaseInputPin::BeginFlush() {
  CAutoLock lock(m_pLock);
  SetFlushing(true);
  return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
  CAutoLock lock(m_pLock);
  SetFlushing(false);
  SetRunTimeError(false);
  return S_OK;
}

HRESULT CBaseInputPin::Notify(IBaseFilter* sender, Quality) { return sender ? S_OK : E_POINTER; }

CRenderedInputPin::CRenderedInputPin(LPCSTR objectName, CBaseFilter* filter, CRITICAL_SECTION* lock,
                                     HRESULT* status, LPCWSTR pinName)
    : CBaseInputPin(objectName, filter, lock, status, pinName) {}

HRESULT CRenderedInputPin::Active() {
  SetAtEndOfStream(false);
  SetCompleteNotified(false);
  return S_OK;
}

HRESULT CRenderedInputPin::Run(REFERENCE_TIME) {
  SetCompleteNotified(false);
  // An end of stream that came while paused is reported now.
  if (IsAtEndOfStream()) DoCompleteHandling();
  return S_OK;
}

HRESULT CRenderedInputPin::EndOfStream() {
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  if (IsAtEndOfStream()) return S_OK;
  SetAtEndOfStream(true);
  FILTER_STATE state = State_Stopped;
  static_cast<IBaseFilter*>(m_pFilter)->GetState(0, &state);
  if (state == State_Running) DoCompleteHandling();
  return S_OK;
}

HRESULT CRenderedInputPin::EndFlush() {
  CAutoLock lock(m_pLock);
  SetAtEndOfStream(false);
  SetCompleteNotified(false);
  return CBaseInputPin::EndFlush();
}

void CRenderedInputPin::DoCompleteHandling() {
  // Test and set in one step: the streaming thread's EndOfStream and the filter's Run may meet.
  if (__atomic_exchange_n(&m_bCompleteNotified, TRUE, __ATOMIC_SEQ_CST)) return;
  m_pFilter->NotifyEvent(EC_COMPLETE, S_OK, 0);
}
