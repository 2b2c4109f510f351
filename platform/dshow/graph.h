// The filter graph: the application's view (building, running, events) and the filters' view
// (membership, the event sink in events.h).
#pragma once

#include "platform/com/automation.h"
#include "platform/dshow/events.h"
#include "platform/dshow/pins.h"

using OAFilterState = LONG;
using OAEVENT = LONG_PTR;
using OAHWND = LONG_PTR;

// AddFilter gave the filter a name other than the one asked for, which was taken.
constexpr HRESULT VFW_S_DUPLICATE_NAME = MakeStatus(0x0004022D);

inline constexpr IID IID_IFilterGraph = MakeGuid("56A8689F-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IGraphBuilder = MakeGuid("56A868A9-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaControl = MakeGuid("56A868B1-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaEvent = MakeGuid("56A868B6-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IMediaEventEx = MakeGuid("56A868C0-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr CLSID CLSID_FilterGraph = MakeGuid("E436EBB3-524F-11CE-9F53-0020AF0BA770");

struct IFilterGraph : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* pFilter, LPCWSTR pName) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* pFilter) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** ppEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reconnect(IPin* ppin) = 0;
  virtual HRESULT STDMETHODCALLTYPE Disconnect(IPin* ppin) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() = 0;
};

struct IGraphBuilder : IFilterGraph {
  virtual HRESULT STDMETHODCALLTYPE Connect(IPin* ppinOut, IPin* ppinIn) = 0;
  virtual HRESULT STDMETHODCALLTYPE Render(IPin* ppinOut) = 0;
  virtual HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName,
                                                    IBaseFilter** ppFilter) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR hFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE Abort() = 0;
  virtual HRESULT STDMETHODCALLTYPE ShouldOperationContinue() = 0;
};

struct IMediaControl : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Run() = 0;
  virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState* pfs) = 0;
  virtual HRESULT STDMETHODCALLTYPE RenderFile(BSTR strFilename) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR strFilename, IDispatch** ppUnk) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch** ppUnk) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch** ppUnk) = 0;
  virtual HRESULT STDMETHODCALLTYPE StopWhenReady() = 0;
};

// INFINITE for the timeouts below.
constexpr LONG INFINITE_TIMEOUT = -1;

struct IMediaEvent : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* hEvent) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                                             LONG msTimeout) = 0;
  virtual HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG msTimeout, LONG* pEvCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG lEvCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG lEvCode) = 0;
  virtual HRESULT STDMETHODCALLTYPE FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) = 0;
};

struct IMediaEventEx : IMediaEvent {
  virtual HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG lNoNotifyFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG* lplNoNotifyFlags) = 0;
};
