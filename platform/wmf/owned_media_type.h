// A media type held by the writer objects: a deep copy of the caller's record (format block
// included, no object reference, since a Windows Media type carries none).
#pragma once

#include <vector>

#include "platform/wmf/wmsdk.h"

class OwnedMediaType {
 public:
  OwnedMediaType() = default;
  // Copies keep their own block (a copy may throw std::bad_alloc).
  OwnedMediaType(const OwnedMediaType& other) : m_record(other.m_record), m_format(other.m_format), m_set(other.m_set) {
    Rebind();
  }
  OwnedMediaType& operator=(const OwnedMediaType& other) {
    if (this != &other) {
      m_format = other.m_format;
      m_record = other.m_record;
      m_set = other.m_set;
      Rebind();
    }
    return *this;
  }

  bool IsSet() const { return m_set; }
  // Copies the record; E_OUTOFMEMORY when the block cannot be held.
  HRESULT Assign(const WM_MEDIA_TYPE& type);
  // Fills the caller's buffer the platform's way: the record first, the block right after it.
  HRESULT CopyOut(WM_MEDIA_TYPE* out, DWORD* size) const;
  const WM_MEDIA_TYPE& Record() const { return m_record; }
  const std::vector<BYTE>& Format() const { return m_format; }

 private:
  void Rebind() { m_record.pbFormat = m_format.empty() ? nullptr : m_format.data(); }

  WM_MEDIA_TYPE m_record{};
  std::vector<BYTE> m_format;
  bool m_set = false;
};
