// Sample allocators: a pool of media samples that an output pin fills and an input pin receives.
#pragma once

#include "platform/dshow/media_sample.h"

struct ALLOCATOR_PROPERTIES {
  LONG cBuffers;
  LONG cbBuffer;
  LONG cbAlign;
  LONG cbPrefix;
};

// GetBuffer flags.
constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 0x1;
constexpr DWORD AM_GBF_NOTASYNCPOINT = 0x2;
constexpr DWORD AM_GBF_NOWAIT = 0x4;

constexpr HRESULT VFW_E_BADALIGN = MakeStatus(0x8004020E);
constexpr HRESULT VFW_E_ALREADY_COMMITTED = MakeStatus(0x8004020F);
constexpr HRESULT VFW_E_BUFFER_OVERFLOW = MakeStatus(0x8004020D);
constexpr HRESULT VFW_S_NO_STOP_TIME = MakeStatus(0x00040270);

inline constexpr IID IID_IMemAllocator = MakeGuid("56A8689C-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr CLSID CLSID_MemoryAllocator = MakeGuid("1E651CC0-B199-11D0-8212-00C04FC32C45");

struct IMemAllocator : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* pProps) = 0;
  virtual HRESULT STDMETHODCALLTYPE Commit() = 0;
  virtual HRESULT STDMETHODCALLTYPE Decommit() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                                              REFERENCE_TIME* pEndTime, DWORD dwFlags) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* pBuffer) = 0;
};
