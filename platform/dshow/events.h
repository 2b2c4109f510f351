// Graph events: what filters raise through the graph's event sink and the application reads.
#pragma once

#include "platform/com/unknown.h"

constexpr LONG EC_COMPLETE = 0x01;
constexpr LONG EC_USERABORT = 0x02;
constexpr LONG EC_ERRORABORT = 0x03;
constexpr LONG EC_TIME = 0x04;
constexpr LONG EC_REPAINT = 0x05;
constexpr LONG EC_ERROR_STILLPLAYING = 0x08;
constexpr LONG EC_CLOCK_CHANGED = 0x0D;
// Raised by the muxer when its file passes the size threshold.
constexpr LONG EC_RECORD_SIZE_LIMIT = 0x8082;

inline constexpr IID IID_IMediaEventSink = MakeGuid("56A868A2-0AD4-11CE-B03A-0020AF0BA770");

struct IMediaEventSink : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) = 0;
};
