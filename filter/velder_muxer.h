// CVelderMuxer, the "Halvorn ASF Muxer": a sink filter with a "Video In" and an "Audio In" pin
// that hands every sample to its recorder. Leaving the stopped state starts a recording and Stop
// ends it; the filter reports completion once every connected pin has ended its stream, and
// relays the recorder's size event to the graph.
#pragma once

#include "filter/asf_muxer.h"
#include "framework/basefilter.h"
#include "recorder/recorder_owner.h"

class CASFRecorder;
class CAudioInputPin;
class CPosPassThru;
class CVideoInputPin;
class CXRenderedPin;

class CVelderMuxer final : public CBaseFilter,
                           public IFileSinkFilter,
                           public IASFMuxer,
                           private CRecorderOwner {
 public:
  // The factory table's creation function. Null only when the object itself cannot be allocated
  // (*status E_OUTOFMEMORY); a failure while building its parts comes back in *status with the
  // object, which the caller destroys.
  static CUnknown* CreateInstance(IUnknown* outer, HRESULT* status);
  ~CVelderMuxer() override;

  FRAMEWORK_DELEGATING_UNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  int GetPinCount() override { return 2; }
  CBasePin* GetPin(int index) override;

  // IMediaFilter
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Pause() override;
  HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;

  // IFileSinkFilter
  HRESULT STDMETHODCALLTYPE SetFileName(const WCHAR* name, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE GetCurFile(WCHAR** name, AM_MEDIA_TYPE* type) override;

  // IASFMuxer
  HRESULT STDMETHODCALLTYPE SetMaxFileSize(DWORD mebibytes) override;
  HRESULT STDMETHODCALLTYPE SetVideoBitrate(DWORD bitsPerSecond) override;

  // For the pins.
  HRESULT WriteAudioSample(IMediaSample* sample);
  HRESULT WriteVideoSample(IMediaSample* sample);
  // Raises EC_COMPLETE once per run, when every connected pin has ended its stream.
  HRESULT CheckEndOfStream();
  CRITICAL_SECTION* FilterLock() { return &m_Lock; }

 private:
  CVelderMuxer(IUnknown* outer, HRESULT* status);

  // CRecorderOwner
  BOOL IsAudioConnected() override;
  BOOL HasAudioEnded() override;
  BOOL HasVideoEnded() override;
  BOOL IsVideoConnected() override;
  AM_MEDIA_TYPE* GetAudioMediaType() override;
  AM_MEDIA_TYPE* GetVideoMediaType() override;
  HRESULT NotifySizeLimit(LONG_PTR param) override;

  CRITICAL_SECTION m_Lock;  // the filter lock: state, connections, flushing; also the pins' lock
  // Taken last, by whichever thread asks whether the streams have all ended.
  CRITICAL_SECTION m_EndOfStreamLock;
  CPosPassThru* m_pPosition = nullptr;  // made on the first request for a seeking interface
  CAudioInputPin* m_pAudioPin = nullptr;
  CVideoInputPin* m_pVideoPin = nullptr;
  CASFRecorder* m_pRecorder = nullptr;
};
