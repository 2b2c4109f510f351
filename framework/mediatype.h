// Operations on media type records that own a format block and an object reference, and the
// owning value type CMediaType.
#pragma once

#include "platform/dshow/mediatype.h"

// Every byte 0, then fixed-size samples of size 1.
void InitMediaType(AM_MEDIA_TYPE* type);
// Deep copy: a new format block in task memory and one more reference on pUnk. The target's
// earlier contents are overwritten, not freed. E_OUTOFMEMORY leaves a target with no block that
// is still valid to free.
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// Frees the block and releases the object; the other fields stay. Safe to call twice.
void FreeMediaType(AM_MEDIA_TYPE& type);
// Frees a record that was itself allocated from task memory; null does nothing.
void DeleteMediaType(AM_MEDIA_TYPE* type);
// A record allocated from task memory holding a deep copy of `source`, or null when memory is
// short. Disposed of with DeleteMediaType.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

// The same tests as CMediaType's, for any record (types fetched from an enumerator).
bool IsPartiallySpecified(const AM_MEDIA_TYPE* type);
bool MatchesPartial(const AM_MEDIA_TYPE* type, const AM_MEDIA_TYPE* partial);

class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  ~CMediaType();
  CMediaType(const CMediaType& other);
  explicit CMediaType(const AM_MEDIA_TYPE& other);
  // Deep copy; a failed copy leaves this type empty (see Set).
  CMediaType& operator=(const CMediaType& other);
  CMediaType& operator=(const AM_MEDIA_TYPE& other);

  // Same object: S_OK and no change. Otherwise frees, then copies; E_OUTOFMEMORY on failure.
  HRESULT Set(const AM_MEDIA_TYPE& other);

  bool operator==(const CMediaType& other) const;

  // True when the major type or the format type is GUID_NULL.
  bool IsPartiallySpecified() const;
  // True when every field that the partial type names matches this type.
  bool MatchesPartial(const AM_MEDIA_TYPE* partial) const;
  void SetVariableSize() { bFixedSizeSamples = FALSE; }

  // Replaces the format block with a copy of `format`; false when memory is short.
  bool SetFormat(const void* format, ULONG length);
  void SetType(REFGUID major) { majortype = major; }
  void SetSubtype(REFGUID sub) { subtype = sub; }
  void SetFormatType(REFGUID format) { formattype = format; }
};

// SetVariableSize on any record.
inline void SetVariableSize(AM_MEDIA_TYPE* type) { type->bFixedSizeSamples = FALSE; }
