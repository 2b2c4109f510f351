// Reference counting shared by the runtime's own objects (the system's objects use the
// framework's CUnknown; the platform does not depend on the framework).
#pragma once

#include "platform/win/sync.h"

class RuntimeObject {
 public:
  RuntimeObject() = default;
  RuntimeObject(const RuntimeObject&) = delete;
  RuntimeObject& operator=(const RuntimeObject&) = delete;

 protected:
  virtual ~RuntimeObject() = default;
  ULONG AddRefObject() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
  ULONG ReleaseObject() {
    LONG left = InterlockedDecrement(&m_refs);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 private:
  LONG volatile m_refs = 1;  // the creator's reference
};
