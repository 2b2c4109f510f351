#include "platform/wmf/owned_media_type.h"

#include <cstring>
#include <new>

HRESULT OwnedMediaType::Assign(const WM_MEDIA_TYPE& type) {
  if (type.cbFormat != 0 && !type.pbFormat) return E_POINTER;
  try {
    m_format.assign(type.pbFormat, type.pbFormat + type.cbFormat);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  m_record = type;
  m_record.pUnk = nullptr;
  m_record.pbFormat = m_format.empty() ? nullptr : m_format.data();
  m_set = true;
  return S_OK;
}

HRESULT OwnedMediaType::CopyOut(WM_MEDIA_TYPE* out, DWORD* size) const {
  if (!size) return E_POINTER;
  if (!m_set) return NS_E_NOT_CONFIGURED;
  DWORD needed = static_cast<DWORD>(sizeof(WM_MEDIA_TYPE) + m_format.size());
  if (!out) {
    *size = needed;
    return S_OK;
  }
  if (*size < needed) {
    *size = needed;
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  *out = m_record;
  BYTE* block = reinterpret_cast<BYTE*>(out + 1);
  if (!m_format.empty()) std::memcpy(block, m_format.data(), m_format.size());
  out->pbFormat = m_format.empty() ? nullptr : block;
  *size = needed;
  return S_OK;
}
