// Position pass-through: a filter that only consumes data answers the graph's seeking interfaces
// by forwarding every call to the upstream pin connected to one of its input pins. The dispatch
// half of IMediaPosition goes through the platform's type description, loaded on first use.
#pragma once

#include "framework/combase.h"
#include "platform/dshow/pins.h"
#include "platform/dshow/seeking.h"

class CMediaPosition : public IMediaPosition, public CUnknown {
 public:
  CMediaPosition(LPCSTR name, IUnknown* outer);
  ~CMediaPosition() override;

  FRAMEWORK_DELEGATING_UNKNOWN

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

 private:
  // The type description of `riid` from the registered type library, else from "control.tlb".
  HRESULT GetTypeInfoOf(REFIID riid, UINT index, LCID lcid, ITypeInfo** info);

  ITypeInfo* m_pTypeInfo = nullptr;  // kept for the object's life once loaded
};

class CPosPassThru : public IMediaSeeking, public CMediaPosition {
 public:
  // `pin` is the filter's own input pin; a null pin sets *status to E_POINTER.
  CPosPassThru(LPCSTR name, IUnknown* outer, HRESULT* status, IPin* pin);

  FRAMEWORK_DELEGATING_UNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMediaSeeking
  HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) override;
  HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* capabilities) override;
  HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override;
  HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override;
  HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override;
  HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override;
  HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override;
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
  HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) override;
  HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override;
  HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                              const GUID* sourceFormat) override;
  HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                         DWORD stopFlags) override;
  HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override;
  HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
  HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
  HRESULT STDMETHODCALLTYPE GetRate(double* rate) override;
  HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override;
  // A filter that knows its own media time answers GetCurrentPosition itself; the base does not.
  virtual HRESULT GetMediaTime(LONGLONG* start, LONGLONG* end);

  // IMediaPosition
  HRESULT STDMETHODCALLTYPE get_Duration(REFTIME* length) override;
  HRESULT STDMETHODCALLTYPE put_CurrentPosition(REFTIME time) override;
  HRESULT STDMETHODCALLTYPE get_CurrentPosition(REFTIME* time) override;
  HRESULT STDMETHODCALLTYPE get_StopTime(REFTIME* time) override;
  HRESULT STDMETHODCALLTYPE put_StopTime(REFTIME time) override;
  HRESULT STDMETHODCALLTYPE get_PrerollTime(REFTIME* time) override;
  HRESULT STDMETHODCALLTYPE put_PrerollTime(REFTIME time) override;
  HRESULT STDMETHODCALLTYPE put_Rate(double rate) override;
  HRESULT STDMETHODCALLTYPE get_Rate(double* rate) override;
  HRESULT STDMETHODCALLTYPE CanSeekForward(LONG* can) override;
  HRESULT STDMETHODCALLTYPE CanSeekBackward(LONG* can) override;

 protected:
  // The upstream pin's interface with one reference; E_NOTIMPL when unconnected or not offered.
  HRESULT GetPeerSeeking(IMediaSeeking** seeking);
  HRESULT GetPeer(IMediaPosition** position);

 private:
  IPin* m_pPin;  // not counted: the filter owns the pin and this object
};
