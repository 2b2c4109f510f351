// Allocation for the filter's objects: a failure is a null pointer, never an exception, and
// tests can make any allocation fail through the platform's allocation seam.
#pragma once

#include <new>
#include <utility>

#include "platform/com/alloc_fault.h"

template <class T, class... Args>
T* NewObject(Args&&... args) {
  if (!PlatformAllocationAllowed()) return nullptr;
  return new (std::nothrow) T(std::forward<Args>(args)...);
}
