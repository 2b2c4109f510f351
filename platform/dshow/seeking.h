// Seeking: the position interfaces a graph asks its filters for.
#pragma once

#include "platform/com/automation.h"

using REFTIME = double;  // seconds

// Capabilities.
constexpr DWORD AM_SEEKING_CanSeekAbsolute = 0x1;
constexpr DWORD AM_SEEKING_CanSeekForwards = 0x2;
constexpr DWORD AM_SEEKING_CanSeekBackwards = 0x4;
constexpr DWORD AM_SEEKING_CanGetCurrentPos = 0x8;
constexpr DWORD AM_SEEKING_CanGetStopPos = 0x10;
constexpr DWORD AM_SEEKING_CanGetDuration = 0x20;
// SetPositions flags.
constexpr DWORD AM_SEEKING_NoPositioning = 0x0;
constexpr DWORD AM_SEEKING_AbsolutePositioning = 0x1;
constexpr DWORD AM_SEEKING_RelativePositioning = 0x2;
constexpr DWORD AM_SEEKING_IncrementalPositioning = 0x3;

inline constexpr GUID TIME_FORMAT_NONE = GUID_NULL;
inline constexpr GUID TIME_FORMAT_FRAME = MakeGuid("7B785570-8C82-11CF-BC0C-00AA00AC74F6");
inline constexpr GUID TIME_FORMAT_SAMPLE = MakeGuid("7B785572-8C82-11CF-BC0C-00AA00AC74F6");
inline constexpr GUID TIME_FORMAT_MEDIA_TIME = MakeGuid("7B785574-8C82-11CF-BC0C-00AA00AC74F6");

inline constexpr IID IID_IMediaSeeking = MakeGuid("36B73880-C2C8-11CF-8B46-00805F6CEF60");
inline constexpr IID IID_IMediaPosition = MakeGuid("56A868B2-0AD4-11CE-B03A-0020AF0BA770");
// The type library that describes IMediaPosition (and the application's control interfaces).
inline constexpr GUID LIBID_QuartzTypeLib = MakeGuid("56A868B0-0AD4-11CE-B03A-0020AF0BA770");

struct IMediaSeeking : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* pCapabilities) = 0;
  virtual HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* pCapabilities) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* pFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* pFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* pFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* pFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* pFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* pDuration) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* pStop) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* pCurrent) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                                      const GUID* pSourceFormat) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                                 DWORD dwStopFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetRate(double dRate) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetRate(double* pdRate) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* pllPreroll) = 0;
};

struct IMediaPosition : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get_Duration(REFTIME* plength) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_CurrentPosition(REFTIME llTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CurrentPosition(REFTIME* pllTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_StopTime(REFTIME* pllTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_StopTime(REFTIME llTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PrerollTime(REFTIME* pllTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_PrerollTime(REFTIME llTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Rate(double dRate) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Rate(double* pdRate) = 0;
  virtual HRESULT STDMETHODCALLTYPE CanSeekForward(LONG* pCanSeekForward) = 0;
  virtual HRESULT STDMETHODCALLTYPE CanSeekBackward(LONG* pCanSeekBackward) = 0;
};
