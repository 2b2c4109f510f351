#include "platform/win/sync.h"

#include <atomic>
#include <chrono>
#include <thread>

static std::atomic<SleepHook> g_sleepHook{nullptr};

void Sleep(DWORD milliseconds) {
  if (SleepHook hook = g_sleepHook.load()) {
    hook(milliseconds);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SetSleepHook(SleepHook hook) { g_sleepHook.store(hook); }

DWORD GetTickCount() {
  using namespace std::chrono;
  return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
