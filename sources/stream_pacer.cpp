#include "sources/stream_pacer.h"

#include <chrono>

int StreamPacer::Join() {
  std::lock_guard<std::mutex> hold(lock_);
  for (int lane = 0; lane < kLanes; ++lane)
    if (!lanes_[lane].active) {
      lanes_[lane].active = true;
      lanes_[lane].next = 0;
      return lane;
    }
  return -1;
}

bool StreamPacer::WaitTurn(int lane, REFERENCE_TIME start, const std::atomic<bool>& stop) {
  if (lane < 0 || lane >= kLanes) return true;
  std::unique_lock<std::mutex> hold(lock_);
  lanes_[lane].next = start;
  moved_.notify_all();
  // A waiting lane is ahead of every lane it waits for, so two lanes never wait for each other.
  auto ahead = [&] {
    for (int other = 0; other < kLanes; ++other)
      if (other != lane && lanes_[other].active && start - lanes_[other].next > window_) return true;
    return false;
  };
  while (!cancelled_ && !stop.load() && ahead())
    // Bounded waits: the stop flag is set without the lock.
    moved_.wait_for(hold, std::chrono::milliseconds(20));
  return !cancelled_ && !stop.load();
}

void StreamPacer::Leave(int lane) {
  if (lane < 0 || lane >= kLanes) return;
  std::lock_guard<std::mutex> hold(lock_);
  lanes_[lane].active = false;
  moved_.notify_all();
}

void StreamPacer::Cancel() {
  std::lock_guard<std::mutex> hold(lock_);
  cancelled_ = true;
  moved_.notify_all();
}
