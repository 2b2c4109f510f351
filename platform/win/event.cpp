#include "platform/win/event.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace {
struct Event {
  std::mutex mutex;
  std::condition_variable changed;
  bool manualReset = false;
  bool signalled = false;
};

std::mutex g_handlesLock;
uintptr_t g_nextHandle = 0x1000;
std::map<uintptr_t, std::shared_ptr<Event>>& Handles() {
  static auto* handles = new std::map<uintptr_t, std::shared_ptr<Event>>;
  return *handles;
}

// Keeps the event alive for the caller even if another thread closes the handle meanwhile.
std::shared_ptr<Event> Lookup(HANDLE handle) {
  std::lock_guard<std::mutex> hold(g_handlesLock);
  auto it = Handles().find(reinterpret_cast<uintptr_t>(handle));
  return it == Handles().end() ? nullptr : it->second;
}
}  // namespace

extern "C" HANDLE CreateEventA(void* attributes, BOOL manualReset, BOOL initialState, LPCSTR name) {
  if (attributes || name) return nullptr;
  std::shared_ptr<Event> event(new (std::nothrow) Event);
  if (!event) return nullptr;
  event->manualReset = manualReset != FALSE;
  event->signalled = initialState != FALSE;
  try {
    std::lock_guard<std::mutex> hold(g_handlesLock);
    uintptr_t id = g_nextHandle;
    g_nextHandle += 4;
    Handles().emplace(id, std::move(event));
    return reinterpret_cast<HANDLE>(id);
  } catch (...) {
    return nullptr;
  }
}

extern "C" BOOL SetEvent(HANDLE handle) {
  std::shared_ptr<Event> event = Lookup(handle);
  if (!event) return FALSE;
  std::lock_guard<std::mutex> hold(event->mutex);
  event->signalled = true;
  if (event->manualReset)
    event->changed.notify_all();
  else
    event->changed.notify_one();
  return TRUE;
}

extern "C" BOOL ResetEvent(HANDLE handle) {
  std::shared_ptr<Event> event = Lookup(handle);
  if (!event) return FALSE;
  std::lock_guard<std::mutex> hold(event->mutex);
  event->signalled = false;
  return TRUE;
}

extern "C" DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  std::shared_ptr<Event> event = Lookup(handle);
  if (!event) return WAIT_FAILED;
  std::unique_lock<std::mutex> hold(event->mutex);
  auto ready = [&] { return event->signalled; };
  if (milliseconds == INFINITE)
    event->changed.wait(hold, ready);
  else if (!event->changed.wait_for(hold, std::chrono::milliseconds(milliseconds), ready))
    return WAIT_TIMEOUT;
  if (!event->manualReset) event->signalled = false;
  return WAIT_OBJECT_0;
}

extern "C" BOOL CloseHandle(HANDLE handle) {
  std::lock_guard<std::mutex> hold(g_handlesLock);
  return Handles().erase(reinterpret_cast<uintptr_t>(handle)) ? TRUE : FALSE;
}
