// Live times: the stream's own spacing, anchored where its first unit arrived and anchored again
// only after a stall. Arrivals are made up here (a fake clock), so the cases run in no time.
#include "sources/live_timeline.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr REFERENCE_TIME kMs = 10000;
constexpr REFERENCE_TIME kFrame = 40 * kMs;        // 25 fps
constexpr REFERENCE_TIME kStall = 3 * kFrame;      // what the source filter takes for 25 fps

struct ArrivalCase {
  const char* what;
  std::vector<REFERENCE_TIME> arrivals;    // of units 0, 1, 2... each one frame long
  std::vector<size_t> discontinuities;     // units that re-anchor
  std::vector<std::pair<size_t, REFERENCE_TIME>> starts;  // some units' expected start
};

std::vector<REFERENCE_TIME> OnTime(size_t count, REFERENCE_TIME first, REFERENCE_TIME late_from_unit = 0,
                                   size_t from = SIZE_MAX, REFERENCE_TIME jitter = 0) {
  std::vector<REFERENCE_TIME> out;
  std::mt19937 rng(7);
  for (size_t i = 0; i < count; ++i) {
    REFERENCE_TIME t = first + static_cast<REFERENCE_TIME>(i) * kFrame + (i >= from ? late_from_unit : 0);
    if (jitter) t += std::uniform_int_distribution<REFERENCE_TIME>(-jitter, jitter)(rng);
    out.push_back(t);
  }
  return out;
}

std::vector<ArrivalCase> Cases() {
  std::vector<ArrivalCase> cases;
  cases.push_back({"jitter of a third of a frame changes nothing", OnTime(200, 50 * kMs, 0, SIZE_MAX, 13 * kMs), {0},
                   {{199, 50 * kMs + 199 * kFrame}}});
  cases[0].arrivals[0] = 50 * kMs;  // the anchor is the first arrival, whatever its jitter
  {
    // An encoder that hands over ten pictures at once, then keeps pace.
    std::vector<REFERENCE_TIME> burst = OnTime(100, 0);
    for (size_t i = 0; i < 10; ++i) burst[i] = 400 * kMs;
    for (size_t i = 10; i < burst.size(); ++i) burst[i] += 400 * kMs;
    cases.push_back({"a burst does not run ahead of the stream rate", burst, {0}, {{9, 400 * kMs + 9 * kFrame}, {99, 400 * kMs + 99 * kFrame}}});
  }
  cases.push_back({"a 1.5 s stall re-anchors at the late unit", OnTime(100, 0, 1500 * kMs, 50), {0, 50},
                   {{49, 49 * kFrame}, {50, 50 * kFrame + 1500 * kMs}, {99, 99 * kFrame + 1500 * kMs}}});
  cases.push_back({"lateness just under the stall limit is jitter", OnTime(100, 0, kStall, 50), {0},
                   {{50, 50 * kFrame}}});
  {
    // A writer a millisecond slow per picture falls behind slowly: each time the lag passes the
    // limit, the times catch up once.
    std::vector<REFERENCE_TIME> slow;
    for (size_t i = 0; i < 300; ++i) slow.push_back(static_cast<REFERENCE_TIME>(i) * (kFrame + kMs));
    cases.push_back({"a slow writer", slow, {0, 121, 242}, {{121, 121 * (kFrame + kMs)}}});
  }
  return cases;
}

TEST(LiveTimeline, StreamSpacingAnchoredToArrival) {
  for (const ArrivalCase& c : Cases()) {
    SCOPED_TRACE(c.what);
    LiveTimeline timeline(kStall);
    std::vector<LiveTimeline::Stamp> stamps;
    std::vector<size_t> discontinuities;
    for (size_t i = 0; i < c.arrivals.size(); ++i) {
      const REFERENCE_TIME media = static_cast<REFERENCE_TIME>(i) * kFrame;
      stamps.push_back(timeline.Place(c.arrivals[i], media, media + kFrame));
      if (stamps.back().discontinuity) discontinuities.push_back(i);
      EXPECT_EQ(stamps.back().stop - stamps.back().start, kFrame);
      if (i > 0) {
        ASSERT_GE(stamps[i].start, stamps[i - 1].stop) << "unit " << i;
      }
    }
    EXPECT_EQ(stamps[0].start, c.arrivals[0]);
    EXPECT_EQ(discontinuities, c.discontinuities);
    for (auto [unit, start] : c.starts) EXPECT_EQ(stamps[unit].start, start) << "unit " << unit;
  }
}

TEST(LiveTimeline, UnitsOfNoTimeShareTheirNeighboursTime) {
  LiveTimeline timeline(kStall);
  LiveTimeline::Stamp a = timeline.Place(0, 0, kFrame);
  LiveTimeline::Stamp none = timeline.Place(kFrame, kFrame, kFrame);
  LiveTimeline::Stamp b = timeline.Place(kFrame, kFrame, 2 * kFrame);
  EXPECT_EQ(none.start, a.stop);
  EXPECT_EQ(none.stop, none.start);
  EXPECT_EQ(b.start, a.stop);
  EXPECT_FALSE(none.discontinuity || b.discontinuity);
}

// Ten minutes of 29.97 fps video and 48 kHz audio from two pipes, each with its own jitter, both
// held up together by a 2 s stall half way: they end within a frame of each other, the stall
// included, because neither stream's spacing depends on when its units happen to arrive.
TEST(LiveTimeline, TenMinutesOfVideoAndAudioEndTogether) {
  constexpr int64_t kVideoFrames = 17982;  // 600.0006 s at 30000/1001
  constexpr int64_t kAudioBlocks = 30000;  // 600 s of 960 samples
  constexpr REFERENCE_TIME kStallAt = 300 * 10000000LL, kStallLength = 2 * 10000000LL;
  auto frameTime = [](int64_t n) { return n * 1001 * 10000000LL / 30000; };
  auto blockTime = [](int64_t n) { return n * 960 * 10000000LL / 48000; };
  std::mt19937 rng(11);
  // Each unit arrives a pipe's delay and some jitter after its end; both pipes are held up by the
  // same stall.
  auto arrival = [&](REFERENCE_TIME media, REFERENCE_TIME delay, REFERENCE_TIME jitter) {
    REFERENCE_TIME t = media + delay + std::uniform_int_distribution<REFERENCE_TIME>(0, jitter)(rng);
    return media >= kStallAt ? t + kStallLength : t;
  };
  LiveTimeline video(std::max<REFERENCE_TIME>(100 * kMs, 3 * frameTime(1)));
  LiveTimeline audio(std::max<REFERENCE_TIME>(100 * kMs, 3 * blockTime(1)));
  REFERENCE_TIME videoEnd = 0, audioEnd = 0;
  int videoAnchors = 0, audioAnchors = 0;
  for (int64_t i = 0; i < kVideoFrames; ++i) {
    LiveTimeline::Stamp s = video.Place(arrival(frameTime(i + 1), 40 * kMs, 15 * kMs), frameTime(i), frameTime(i + 1));
    videoEnd = s.stop;
    videoAnchors += s.discontinuity;
  }
  for (int64_t i = 0; i < kAudioBlocks; ++i) {
    LiveTimeline::Stamp s = audio.Place(arrival(blockTime(i + 1), 50 * kMs, 10 * kMs), blockTime(i), blockTime(i + 1));
    audioEnd = s.stop;
    audioAnchors += s.discontinuity;
  }
  EXPECT_EQ(videoAnchors, 2);  // the start and the stall
  EXPECT_EQ(audioAnchors, 2);
  EXPECT_LE(std::abs(videoEnd - audioEnd), frameTime(1)) << "video ends " << videoEnd << ", audio " << audioEnd;
}

}  // namespace
