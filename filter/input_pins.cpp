#include "filter/input_pins.h"

#include "filter/velder_muxer.h"

CXRenderedPin::CXRenderedPin(LPCSTR objectName, CVelderMuxer* filter, HRESULT* status, LPCWSTR pinName)
    : CRenderedInputPin(objectName, filter, filter->FilterLock(), status, pinName), m_pOwner(filter) {
  InitializeCriticalSection(&m_ReceiveLock);
}

CXRenderedPin::~CXRenderedPin() { DeleteCriticalSection(&m_ReceiveLock); }

HRESULT CXRenderedPin::WriteSample(IMediaSample*) { return S_OK; }

HRESULT CXRenderedPin::Run(REFERENCE_TIME) {
  SetCompleteNotified(false);
  // An end of stream that came before this run counts again, judged over both pins.
  if (IsAtEndOfStream()) m_pOwner->CheckEndOfStream();
  return S_OK;
}

HRESULT CXRenderedPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  CAutoLock lock(&m_ReceiveLock);
  HRESULT hr = CBaseInputPin::Receive(sample);
  if (FAILED(hr)) return hr;
  // S_FALSE (flushing) too: the sample is written all the same.
  return WriteSample(sample);
}

HRESULT CXRenderedPin::ReceiveCanBlock() { return S_OK; }

HRESULT CXRenderedPin::EndOfStream() {
  CAutoLock lock(&m_ReceiveLock);
  HRESULT hr = CheckStreaming();
  if (hr == S_OK && !IsAtEndOfStream()) {
    SetAtEndOfStream(true);
    hr = m_pOwner->CheckEndOfStream();
  }
  return hr;
}

HRESULT CXRenderedPin::BeginFlush() {
  CAutoLock lock(m_pLock);
  return CBaseInputPin::BeginFlush();
}

HRESULT CXRenderedPin::EndFlush() {
  CAutoLock lock(m_pLock);
  return CRenderedInputPin::EndFlush();
}

CAudioInputPin::CAudioInputPin(CVelderMuxer* filter, HRESULT* status, LPCWSTR pinName)
    : CXRenderedPin(nullptr, filter, status, pinName) {}

HRESULT CAudioInputPin::CheckMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  return type->majortype == MEDIATYPE_Audio && type->formattype == FORMAT_WaveFormatEx ? S_OK : E_FAIL;
}

HRESULT CAudioInputPin::WriteSample(IMediaSample* sample) { return Owner()->WriteAudioSample(sample); }

CVideoInputPin::CVideoInputPin(CVelderMuxer* filter, HRESULT* status, LPCWSTR pinName)
    : CXRenderedPin(nullptr, filter, status, pinName) {}

HRESULT CVideoInputPin::CheckMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  if (type->majortype != MEDIATYPE_Video) return E_FAIL;
  return type->formattype == FORMAT_VideoInfo || type->formattype == FORMAT_MPEG2Video ? S_OK : E_FAIL;
}

HRESULT CVideoInputPin::WriteSample(IMediaSample* sample) { return Owner()->WriteVideoSample(sample); }
