// The muxer's two input pins. Both end their streams in the filter, which reports completion to
// the graph once every connected pin has ended; they differ only in the types they accept and in
// which of the filter's writes takes their samples.
#pragma once

#include "framework/inputpin.h"

class CVelderMuxer;

class CXRenderedPin : public CRenderedInputPin {
 public:
  CXRenderedPin(LPCSTR objectName, CVelderMuxer* filter, HRESULT* status, LPCWSTR pinName);
  ~CXRenderedPin() override;

  // Hands an accepted sample to the filter; the base pin writes nothing.
  virtual HRESULT WriteSample(IMediaSample* sample);

  HRESULT Run(REFERENCE_TIME start) override;

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;
  // IPin
  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;

  // The connection's own record, which the recorder reads and marks variable-size.
  AM_MEDIA_TYPE* ConnectionType() { return &m_mt; }
  // Set by the filter when it has raised EC_COMPLETE for this run.
  void MarkCompleteNotified() { SetCompleteNotified(true); }

 protected:
  CVelderMuxer* Owner() const { return m_pOwner; }

 private:
  CRITICAL_SECTION m_ReceiveLock;  // serialises Receive and EndOfStream on this pin
  CVelderMuxer* const m_pOwner;    // not counted: the filter owns the pin
};

// "Audio In": MEDIATYPE_Audio with FORMAT_WaveFormatEx, any subtype.
class CAudioInputPin final : public CXRenderedPin {
 public:
  CAudioInputPin(CVelderMuxer* filter, HRESULT* status, LPCWSTR pinName);
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT WriteSample(IMediaSample* sample) override;
};

// "Video In": MEDIATYPE_Video with FORMAT_VideoInfo or FORMAT_MPEG2Video, any subtype.
class CVideoInputPin final : public CXRenderedPin {
 public:
  CVideoInputPin(CVelderMuxer* filter, HRESULT* status, LPCWSTR pinName);
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT WriteSample(IMediaSample* sample) override;
};
