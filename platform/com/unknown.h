// IUnknown and IClassFactory: the root of every COM interface. Interfaces are abstract classes
// of pure virtual methods in the platform's method order, without a virtual destructor, so a
// vtable crosses module boundaries unchanged.
#pragma once

#include "platform/win/guid.h"
#include "platform/win/status.h"

inline constexpr IID IID_IUnknown = MakeGuid("00000000-0000-0000-C000-000000000046");
inline constexpr IID IID_IClassFactory = MakeGuid("00000001-0000-0000-C000-000000000046");

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
using LPUNKNOWN = IUnknown*;

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};

// Releases a reference if there is one and clears the pointer.
template <class T>
inline void SafeRelease(T*& p) {
  if (p) {
    T* q = p;
    p = nullptr;
    q->Release();
  }
}
