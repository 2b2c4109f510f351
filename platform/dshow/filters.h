// Filters as the filter runtime sees them: identity, run state, clock, graph membership and pins.
#pragma once

#include "platform/com/unknown.h"

struct IPin;
struct IFilterGraph;
struct IReferenceClock;

enum FILTER_STATE : int32_t { State_Stopped = 0, State_Paused = 1, State_Running = 2 };

constexpr int MAX_FILTER_NAME = 128;
constexpr int MAX_PIN_NAME = 128;

struct IBaseFilter;

struct FILTER_INFO {
  WCHAR achName[MAX_FILTER_NAME];
  IFilterGraph* pGraph;  // one reference held by the record, or null
};

inline constexpr IID IID_IPersist = MakeGuid("0000010C-0000-0000-C000-000000000046");
inline constexpr IID IID_IMediaFilter = MakeGuid("56A86899-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IBaseFilter = MakeGuid("56A86895-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IEnumPins = MakeGuid("56A86892-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IEnumFilters = MakeGuid("56A86893-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IAMovieSetup = MakeGuid("A3D8CEC0-7E5A-11CF-BBC5-00805F6CEF20");

struct IPersist : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) = 0;
};

struct IMediaFilter : IPersist {
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
  virtual HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* pClock) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** pClock) = 0;
};

struct IEnumPins : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cPins) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumPins** ppEnum) = 0;
};

struct IBaseFilter : IMediaFilter {
  virtual HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR Id, IPin** ppPin) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* pInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* pVendorInfo) = 0;
};

struct IEnumFilters : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cFilters) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumFilters** ppEnum) = 0;
};

// Self-registration of a filter with the filter mapper.
struct IAMovieSetup : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Register() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unregister() = 0;
};
