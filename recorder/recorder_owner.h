// What the recorder asks of the filter that owns it. The filter implements these; none of them
// takes a lock that the recorder's callers may hold.
#pragma once

#include "platform/dshow/mediatype.h"

class CRecorderOwner {
 public:
  virtual BOOL IsAudioConnected() = 0;
  virtual BOOL IsVideoConnected() = 0;
  // The input has delivered its end of stream in this run: its samples are over.
  virtual BOOL HasAudioEnded() = 0;
  virtual BOOL HasVideoEnded() = 0;
  // The input's own connection record, valid while it stays connected. The recorder marks it
  // variable-size when it builds a profile.
  virtual AM_MEDIA_TYPE* GetAudioMediaType() = 0;
  virtual AM_MEDIA_TYPE* GetVideoMediaType() = 0;
  // Raises EC_RECORD_SIZE_LIMIT with this first parameter.
  virtual HRESULT NotifySizeLimit(LONG_PTR param) = 0;

 protected:
  ~CRecorderOwner() = default;
};
