#include "framework/mediatype.h"

#include <cstring>

#include "platform/com/taskmem.h"

void InitMediaType(AM_MEDIA_TYPE* type) {
  std::memset(type, 0, sizeof *type);
  type->bFixedSizeSamples = TRUE;
  type->lSampleSize = 1;
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  *target = *source;
  HRESULT hr = S_OK;
  if (source->cbFormat != 0) {
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (target->pbFormat) {
      std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    } else {
      target->cbFormat = 0;
      hr = E_OUTOFMEMORY;
    }
  }
  // The target owns what it holds, also after a failed block allocation.
  if (target->pUnk) target->pUnk->AddRef();
  return hr;
}

void FreeMediaType(AM_MEDIA_TYPE& type) {
  if (type.cbFormat != 0) {
    CoTaskMemFree(type.pbFormat);
    type.cbFormat = 0;
    type.pbFormat = nullptr;
  }
  if (type.pUnk) {
    IUnknown* unk = type.pUnk;
    type.pUnk = nullptr;
    unk->Release();
  }
}

void DeleteMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return;
  FreeMediaType(*type);
  CoTaskMemFree(type);
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
  auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!type) return nullptr;
  if (FAILED(CopyMediaType(type, source))) {
    DeleteMediaType(type);
    return nullptr;
  }
  return type;
}

CMediaType::CMediaType() { InitMediaType(this); }
CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType::CMediaType(const CMediaType& other) : CMediaType() { Set(other); }
CMediaType::CMediaType(const AM_MEDIA_TYPE& other) : CMediaType() { Set(other); }

CMediaType& CMediaType::operator=(const CMediaType& other) {
  Set(other);
  return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
  Set(other);
  return *this;
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& other) {
  if (&other == static_cast<const AM_MEDIA_TYPE*>(this)) return S_OK;
  FreeMediaType(*this);
  return FAILED(CopyMediaType(this, &other)) ? E_OUTOFMEMORY : S_OK;
}

bool CMediaType::operator==(const CMediaType& other) const {
  return IsEqualGUID(majortype, other.majortype) && IsEqualGUID(subtype, other.subtype) &&
         IsEqualGUID(formattype, other.formattype) && cbFormat == other.cbFormat &&
         (cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0);
}

bool IsPartiallySpecified(const AM_MEDIA_TYPE* type) {
  return IsEqualGUID(type->majortype, GUID_NULL) || IsEqualGUID(type->formattype, GUID_NULL);
}

bool MatchesPartial(const AM_MEDIA_TYPE* type, const AM_MEDIA_TYPE* partial) {
  if (!IsEqualGUID(partial->majortype, GUID_NULL) && !IsEqualGUID(partial->majortype, type->majortype)) return false;
  if (!IsEqualGUID(partial->subtype, GUID_NULL) && !IsEqualGUID(partial->subtype, type->subtype)) return false;
  if (IsEqualGUID(partial->formattype, GUID_NULL)) return true;
  if (!IsEqualGUID(partial->formattype, type->formattype) || partial->cbFormat != type->cbFormat) return false;
  return type->cbFormat == 0 || std::memcmp(partial->pbFormat, type->pbFormat, type->cbFormat) == 0;
}

bool CMediaType::IsPartiallySpecified() const { return ::IsPartiallySpecified(this); }

bool CMediaType::MatchesPartial(const AM_MEDIA_TYPE* partial) const { return ::MatchesPartial(this, partial); }

bool CMediaType::SetFormat(const void* format, ULONG length) {
  BYTE* block = nullptr;
  if (length != 0) {
    block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!block) return false;
    std::memcpy(block, format, length);
  }
  if (cbFormat != 0) CoTaskMemFree(pbFormat);
  pbFormat = block;
  cbFormat = length;
  return true;
}
