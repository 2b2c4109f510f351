// IFileSinkFilter: how an application names the file that a writing filter produces.
#pragma once

#include "platform/dshow/mediatype.h"

inline constexpr IID IID_IFileSinkFilter = MakeGuid("A2104830-7C70-11CF-8BCE-00AA00A3F1A6");

struct IFileSinkFilter : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetFileName(const WCHAR* pszFileName, const AM_MEDIA_TYPE* pmt) = 0;
  // The name comes back in task memory, which the caller frees.
  virtual HRESULT STDMETHODCALLTYPE GetCurFile(WCHAR** ppszFileName, AM_MEDIA_TYPE* pmt) = 0;
};
