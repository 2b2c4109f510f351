// What an application needs to drive the muxer filter: its class identifier, its own interface
// and the file sink interface it answers. Usable without the filter framework.
#pragma once

#include "platform/dshow/events.h"  // EC_RECORD_SIZE_LIMIT, EC_COMPLETE
#include "platform/dshow/file_sink_filter.h"

// "Halvorn ASF Muxer".
inline constexpr CLSID CLSID_VelderMuxer = MakeGuid("E007F9AB-C9B8-403D-91BA-B1E50AA0F55A");
inline constexpr IID IID_IASFMuxer = MakeGuid("8F43C4AE-CA87-4F34-AC83-18FA372060C8");

struct IASFMuxer : IUnknown {
  // The file size, in mebibytes, past 95% of which the filter raises EC_RECORD_SIZE_LIMIT.
  // E_INVALIDARG for 10 or less, and for 4,194,304 or more.
  virtual HRESULT STDMETHODCALLTYPE SetMaxFileSize(DWORD mebibytes) = 0;
  // The video bit rate written into the file's profile in place of the recorder's estimate.
  virtual HRESULT STDMETHODCALLTYPE SetVideoBitrate(DWORD bitsPerSecond) = 0;
};
