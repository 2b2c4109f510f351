#include "platform/wmf/file_flusher.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/win/status.h"
#include "platform/wmf/file_sink.h"

namespace file_flusher {
namespace {

class Flusher {
 public:
  ~Flusher() { Stop(); }  // the library unloading never leaves the thread behind

  HRESULT Add(FileSink* sink) {
    std::lock_guard<std::mutex> life(lifecycle_);
    try {
      std::lock_guard<std::mutex> hold(lock_);
      ForgetParentAfterFork();
      if (std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end()) sinks_.push_back(sink);
      if (!thread_.joinable()) {
        stopping_ = false;
        thread_ = std::thread(&Flusher::Run, this);
        owner_ = getpid();
      }
    } catch (const std::bad_alloc&) {
      Forget(sink);
      return E_OUTOFMEMORY;
    } catch (const std::system_error&) {
      Forget(sink);
      return E_OUTOFMEMORY;  // no thread could be made: short of resources
    }
    return S_OK;
  }

  void Remove(FileSink* sink) {
    std::lock_guard<std::mutex> life(lifecycle_);
    Forget(sink);
    bool last = false;
    {
      std::lock_guard<std::mutex> hold(lock_);
      ForgetParentAfterFork();
      last = sinks_.empty();
    }
    if (last) Stop();
  }

 private:
  void Forget(FileSink* sink) {
    std::lock_guard<std::mutex> hold(lock_);
    sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
  }

  // A forked child has a copy of the parent's state but not its thread, and must neither wait
  // for that thread nor write the parent's files from copies of its sinks. Called with lock_ held.
  void ForgetParentAfterFork() {
    if (!thread_.joinable() || owner_ == getpid()) return;
    new (&thread_) std::thread();  // the handle names no thread here: dropped, not destroyed
    sinks_.clear();
  }

  // The thread is joined outside lock_, which it needs to see that it must stop.
  void Stop() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      ForgetParentAfterFork();
      stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  void Run() noexcept {
    std::unique_lock<std::mutex> hold(lock_);
    while (!stopping_) {
      wake_.wait_for(hold, std::chrono::milliseconds(kWakeIntervalMs));
      if (stopping_) break;
      // A sink remembers and reports its own failure (to its next caller and its observer);
      // there is no one here to give the status to.
      for (FileSink* sink : sinks_) (void)sink->WriteDue();
    }
  }

  std::mutex lifecycle_;  // orders starts and stops of the thread; the thread never takes it
  std::mutex lock_;       // the list and the stop flag
  std::condition_variable wake_;
  std::vector<FileSink*> sinks_;
  bool stopping_ = false;
  std::thread thread_;
  pid_t owner_ = 0;  // the process the thread runs in
};

Flusher g_flusher;

}  // namespace

HRESULT Add(FileSink* sink) { return g_flusher.Add(sink); }
void Remove(FileSink* sink) { g_flusher.Remove(sink); }

}  // namespace file_flusher
