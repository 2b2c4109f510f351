#include "sources/stream_pacer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

constexpr REFERENCE_TIME kWindow = 5000000;

// Two streams of very different unit lengths, each going as fast as it can: neither gets more
// than the window (and one unit) ahead of the other, and both reach their end.
TEST(StreamPacer, KeepsTwoStreamsTogether) {
  StreamPacer pacer(kWindow);
  std::atomic<bool> stop{false};
  std::atomic<REFERENCE_TIME> position[2] = {0, 0};
  std::atomic<bool> done[2] = {false, false};
  std::atomic<REFERENCE_TIME> worstLead{0};
  const int lanes[2] = {pacer.Join(), pacer.Join()};
  auto stream = [&](int index, REFERENCE_TIME unit, int units) {
    const int lane = lanes[index];
    for (int i = 0; i < units; ++i) {
      const REFERENCE_TIME start = i * unit;
      ASSERT_TRUE(pacer.WaitTurn(lane, start, stop));
      position[index] = start;
      if (done[1 - index]) continue;  // alone after the other's end
      const REFERENCE_TIME lead = start - position[1 - index];
      REFERENCE_TIME worst = worstLead;
      while (lead > worst && !worstLead.compare_exchange_weak(worst, lead)) {
      }
    }
    done[index] = true;
    pacer.Leave(lane);
  };
  std::thread video(stream, 0, 400000, 250);  // 10 s of 40 ms pictures
  std::thread audio(stream, 1, 200000, 300);  // 6 s of 20 ms blocks: video goes on alone after
  video.join();
  audio.join();
  EXPECT_LE(worstLead.load(), kWindow + 400000);
}

TEST(StreamPacer, StopReleasesAWaitingStream) {
  StreamPacer pacer(kWindow);
  std::atomic<bool> stop{false};
  const int ahead = pacer.Join();
  pacer.Join();  // a lane that never moves
  std::thread waiter([&] { EXPECT_FALSE(pacer.WaitTurn(ahead, 10 * kWindow, stop)); });
  stop = true;
  waiter.join();
  EXPECT_FALSE(pacer.WaitTurn(ahead, 10 * kWindow, stop));
  stop = false;
  pacer.Cancel();
  EXPECT_FALSE(pacer.WaitTurn(ahead, 10 * kWindow, stop));
}

}  // namespace
