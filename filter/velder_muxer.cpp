#include "filter/velder_muxer.h"

#include "filter/input_pins.h"
#include "filter/new_object.h"
#include "framework/posthru.h"
#include "recorder/asf_recorder.h"

namespace {

// The recorder keeps its size limit in kibibytes, 32 bits wide.
constexpr DWORD kMinimumMebibytes = 11;
constexpr DWORD kLimitMebibytes = 4194304;  // 4,194,304 MiB × 1024 no longer fits
constexpr size_t kMaxFileNameChars = 259;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;

}  // namespace

CUnknown* CVelderMuxer::CreateInstance(IUnknown* outer, HRESULT* status) {
  CVelderMuxer* filter = PlatformAllocationAllowed() ? new (std::nothrow) CVelderMuxer(outer, status) : nullptr;
  if (!filter) *status = E_OUTOFMEMORY;
  return filter;
}

CVelderMuxer::CVelderMuxer(IUnknown* outer, HRESULT* status)
    : CBaseFilter(nullptr, outer, &m_Lock, CLSID_VelderMuxer) {
  InitializeCriticalSection(&m_Lock);
  InitializeCriticalSection(&m_EndOfStreamLock);
  m_pVideoPin = NewObject<CVideoInputPin>(this, status, u"Video In");
  m_pAudioPin = NewObject<CAudioInputPin>(this, status, u"Audio In");
  m_pRecorder = NewObject<CASFRecorder>(static_cast<CRecorderOwner*>(this));
  *status = m_pVideoPin && m_pAudioPin && m_pRecorder ? S_OK : E_OUTOFMEMORY;
}

CVelderMuxer::~CVelderMuxer() {
  delete m_pPosition;
  m_pPosition = nullptr;
  delete m_pVideoPin;
  m_pVideoPin = nullptr;
  delete m_pAudioPin;
  m_pAudioPin = nullptr;
  delete m_pRecorder;
  m_pRecorder = nullptr;
  DeleteCriticalSection(&m_EndOfStreamLock);
  DeleteCriticalSection(&m_Lock);
}

HRESULT CVelderMuxer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaPosition || riid == IID_IMediaSeeking) {
    {
      // Two threads asking at once for the first time get one pass-through.
      CAutoLock lock(&m_Lock);
      if (!m_pPosition) {
        HRESULT hr = S_OK;
        CPosPassThru* position =
            NewObject<CPosPassThru>(nullptr, GetOwner(), &hr, static_cast<IPin*>(static_cast<CBasePin*>(m_pVideoPin)));
        if (!position) return E_OUTOFMEMORY;
        if (FAILED(hr)) {
          delete position;
          return hr;
        }
        m_pPosition = position;
      }
    }
    return m_pPosition->NonDelegatingQueryInterface(riid, ppv);
  }
  if (riid == IID_IFileSinkFilter) return GetInterface(static_cast<IFileSinkFilter*>(this), ppv);
  if (riid == IID_IASFMuxer) return GetInterface(static_cast<IASFMuxer*>(this), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CVelderMuxer::GetPin(int index) {
  if (index == 0) return m_pVideoPin;
  if (index == 1) return m_pAudioPin;
  return nullptr;
}

HRESULT CVelderMuxer::Stop() {
  CAutoLock lock(&m_Lock);
  // The file is finished before the pins are deactivated; the pins stop even when finishing it
  // failed, and the failure is what the graph hears.
  const HRESULT finished = m_pRecorder->StopRecording();
  const HRESULT hr = CBaseFilter::Stop();
  return FAILED(finished) ? finished : hr;
}

HRESULT CVelderMuxer::Pause() {
  CAutoLock lock(&m_Lock);
  if (!IsAudioConnected() && !IsVideoConnected()) return E_UNEXPECTED;
  if (IsStopped()) {
    HRESULT hr = m_pRecorder->StartRecording();
    if (FAILED(hr)) return hr;
  }
  return CBaseFilter::Pause();
}

HRESULT CVelderMuxer::Run(REFERENCE_TIME start) {
  CAutoLock lock(&m_Lock);
  return CBaseFilter::Run(start);
}

HRESULT CVelderMuxer::SetFileName(const WCHAR* name, const AM_MEDIA_TYPE*) {
  if (!name) return E_POINTER;
  size_t length = 0;
  while (length <= kMaxFileNameChars && name[length] != 0) ++length;
  if (length > kMaxFileNameChars) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  return m_pRecorder->SetFileName(name);
}

HRESULT CVelderMuxer::GetCurFile(WCHAR** name, AM_MEDIA_TYPE* type) {
  if (!name) return E_POINTER;
  *name = nullptr;
  if (type) *type = AM_MEDIA_TYPE{};
  return m_pRecorder->CopyFileName(name);
}

HRESULT CVelderMuxer::SetMaxFileSize(DWORD mebibytes) {
  if (mebibytes < kMinimumMebibytes || mebibytes >= kLimitMebibytes) return E_INVALIDARG;
  m_pRecorder->SetSizeLimit(mebibytes * 1024);
  return S_OK;
}

HRESULT CVelderMuxer::SetVideoBitrate(DWORD bitsPerSecond) {
  m_pRecorder->SetVideoBitrate(bitsPerSecond);
  return S_OK;
}

HRESULT CVelderMuxer::WriteAudioSample(IMediaSample* sample) { return m_pRecorder->WriteAudio(sample); }

HRESULT CVelderMuxer::WriteVideoSample(IMediaSample* sample) { return m_pRecorder->WriteVideo(sample); }

HRESULT CVelderMuxer::CheckEndOfStream() {
  // Both streaming threads may end at the same moment; one of them reports.
  CAutoLock lock(&m_EndOfStreamLock);
  CXRenderedPin* const pins[] = {m_pAudioPin, m_pVideoPin};
  for (CXRenderedPin* pin : pins)
    if (pin->IsConnected() && !pin->IsAtEndOfStream()) return S_OK;
  // Only connected pins count: an unconnected pin's flag is never cleared by a run.
  for (CXRenderedPin* pin : pins)
    if (pin->IsConnected() && pin->IsCompleteNotified()) return S_OK;
  NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
  for (CXRenderedPin* pin : pins)
    if (pin->IsConnected()) pin->MarkCompleteNotified();
  return S_OK;
}

BOOL CVelderMuxer::IsAudioConnected() { return m_pAudioPin->IsConnected(); }

BOOL CVelderMuxer::HasAudioEnded() { return m_pAudioPin->IsAtEndOfStream(); }

BOOL CVelderMuxer::HasVideoEnded() { return m_pVideoPin->IsAtEndOfStream(); }

BOOL CVelderMuxer::IsVideoConnected() { return m_pVideoPin->IsConnected(); }

AM_MEDIA_TYPE* CVelderMuxer::GetAudioMediaType() { return m_pAudioPin->ConnectionType(); }

AM_MEDIA_TYPE* CVelderMuxer::GetVideoMediaType() { return m_pVideoPin->ConnectionType(); }

HRESULT CVelderMuxer::NotifySizeLimit(LONG_PTR param) { return NotifyEvent(EC_RECORD_SIZE_LIMIT, param, 0); }
