#include "platform/wmf/file_events.h"

#include <atomic>
#include <mutex>

namespace {

std::mutex g_observerLock;  // an observer is never called after SetWriterFileObserver replaced it
WriterFileObserver g_observer = nullptr;
void* g_context = nullptr;
std::atomic<uint32_t> g_syncInterval{0};

}  // namespace

void SetWriterFileObserver(WriterFileObserver observer, void* context) {
  std::lock_guard<std::mutex> hold(g_observerLock);
  g_observer = observer;
  g_context = context;
}

void SetWriterSyncInterval(uint32_t milliseconds) { g_syncInterval = milliseconds; }
uint32_t WriterSyncInterval() { return g_syncInterval; }

void NotifyWriterFileEvent(const WriterFileEvent& event) {
  std::lock_guard<std::mutex> hold(g_observerLock);
  if (g_observer) g_observer(event, g_context);
}
