#include "platform/com/taskmem.h"

#include <atomic>
#include <cstdlib>

#include "platform/com/alloc_fault.h"

// -1 successes means the fault is off.
static std::atomic<long> g_successesLeft{-1};
static std::atomic<long> g_failuresLeft{0};

void FailAllocations(long successes, long failures) {
  g_failuresLeft.store(failures);
  g_successesLeft.store(successes);
}

bool PlatformAllocationAllowed() {
  long successes = g_successesLeft.load(std::memory_order_relaxed);
  if (successes < 0) return true;
  if (successes > 0) {
    g_successesLeft.fetch_sub(1);
    return true;
  }
  long failures = g_failuresLeft.load();
  if (failures == 0) {
    g_successesLeft.store(-1);
    return true;
  }
  if (failures > 0 && g_failuresLeft.fetch_sub(1) == 1) g_successesLeft.store(-1);
  return false;
}

extern "C" void* CoTaskMemAlloc(SIZE_T size) {
  if (!PlatformAllocationAllowed()) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

extern "C" void* CoTaskMemRealloc(void* block, SIZE_T size) {
  if (!PlatformAllocationAllowed()) return nullptr;
  return std::realloc(block, size == 0 ? 1 : size);
}

extern "C" void CoTaskMemFree(void* block) { std::free(block); }
