// Critical sections, interlocked counters and Sleep.
#pragma once

#include <mutex>

#include "platform/win/types.h"

// A re-entrant lock: the thread that holds it may enter it again.
struct CRITICAL_SECTION {
  std::recursive_mutex mutex;
};

inline void InitializeCriticalSection(CRITICAL_SECTION*) {}
inline void DeleteCriticalSection(CRITICAL_SECTION*) {}
inline void EnterCriticalSection(CRITICAL_SECTION* cs) { cs->mutex.lock(); }
inline void LeaveCriticalSection(CRITICAL_SECTION* cs) { cs->mutex.unlock(); }

// Holds a critical section for the life of a scope.
class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
  ~CriticalSectionLock() { LeaveCriticalSection(&m_cs); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION& m_cs;
};

inline LONG InterlockedIncrement(LONG volatile* value) { return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedDecrement(LONG volatile* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST); }
inline LONG InterlockedExchange(LONG volatile* target, LONG value) { return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST); }
inline LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}

// Suspends the thread for about that many milliseconds. Goes through the sleep seam.
void Sleep(DWORD milliseconds);
// Milliseconds since an arbitrary start, monotonic.
DWORD GetTickCount();

// Test seam: replaces Sleep for the whole process (null restores the real one). The hook is
// called on the sleeping thread.
using SleepHook = void (*)(DWORD milliseconds);
void SetSleepHook(SleepHook hook);
