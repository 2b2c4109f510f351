// Keeps the streams of file inputs within a window of media time of each other. Files are read
// as fast as the muxer takes them; without this one stream would run far ahead and the recorder
// would slow it down a millisecond per sample. Not used for live input, whose times come from
// the clock: a stalled live stream must hold up nothing else.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "platform/win/types.h"

class StreamPacer {
 public:
  static constexpr int kLanes = 2;
  explicit StreamPacer(REFERENCE_TIME window) : window_(window) {}

  // A lane for one stream, or -1 when all are taken. Every stream joins before any starts, so
  // the first to start waits for the others instead of running ahead alone.
  int Join();
  // Waits while `start` lies more than the window ahead of the next time of another active lane.
  // False when `stop` became true or the pacer was cancelled.
  bool WaitTurn(int lane, REFERENCE_TIME start, const std::atomic<bool>& stop);
  // The lane's stream has ended: the others no longer wait for it.
  void Leave(int lane);
  // Releases every waiter for good.
  void Cancel();

 private:
  struct Lane {
    bool active = false;
    REFERENCE_TIME next = 0;
  };
  const REFERENCE_TIME window_;
  std::mutex lock_;
  std::condition_variable moved_;
  Lane lanes_[kLanes];
  bool cancelled_ = false;
};
