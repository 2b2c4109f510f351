// Reference clocks: the time base a graph runs its filters on, in 100 ns units.
#pragma once

#include "platform/com/unknown.h"

using HEVENT = DWORD_PTR;      // an event handle (platform/win/event.h) to be set
using HSEMAPHORE = DWORD_PTR;  // an event handle set once per period on this platform

inline constexpr IID IID_IReferenceClock = MakeGuid("56A86897-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr CLSID CLSID_SystemClock = MakeGuid("E436EBB1-524F-11CE-9F53-0020AF0BA770");

struct IReferenceClock : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, HEVENT hEvent,
                                               DWORD_PTR* pdwAdviseCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME startTime, REFERENCE_TIME periodTime,
                                                   HSEMAPHORE hSemaphore, DWORD_PTR* pdwAdviseCookie) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR dwAdviseCookie) = 0;
};
