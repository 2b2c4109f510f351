// Reference counting for the platform's own COM objects (the system's objects use the
// framework's CUnknown; the platform does not depend on the framework).
#pragma once

#include "platform/win/sync.h"

class RefCount {
 public:
  RefCount() = default;
  RefCount(const RefCount&) = delete;
  RefCount& operator=(const RefCount&) = delete;

 protected:
  virtual ~RefCount() = default;
  ULONG AddRefOnce() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
  // Deletes the object at zero.
  ULONG ReleaseOnce() {
    LONG left = InterlockedDecrement(&m_refs);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  LONG volatile m_refs = 1;
};

// Declares AddRef/Release for a class deriving from RefCount and one or more interfaces.
#define PLATFORM_REFCOUNT_METHODS                                \
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefOnce(); } \
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseOnce(); }
