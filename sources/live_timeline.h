// Times the units of a live input. The stream's own times (frame rate, sample count) decide the
// spacing; the clock decides only where the stream sits: its first unit starts when it arrives,
// and the rest follow at the stream's rate from there. Arrival jitter and bursts (an encoder
// that hands over several units at once) therefore leave the times alone, and two live inputs
// anchored together stay together for as long as they run. A unit that arrives more than the
// stall limit after its time means the input stalled or lost units: the times anchor again at
// that arrival, and the unit is marked as a discontinuity.
#pragma once

#include "platform/win/types.h"

class LiveTimeline {
 public:
  explicit LiveTimeline(REFERENCE_TIME stall) : stall_(stall) {}

  struct Stamp {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    bool discontinuity = false;
  };
  // `arrival` is the clock's stream time when the unit became whole; `mediaStart` and `mediaStop`
  // are its times by the stream's own rate, counted from the input's first unit.
  Stamp Place(REFERENCE_TIME arrival, REFERENCE_TIME mediaStart, REFERENCE_TIME mediaStop);

 private:
  const REFERENCE_TIME stall_;
  bool anchored_ = false;
  REFERENCE_TIME anchor_ = 0;       // the time given to the unit at the anchor
  REFERENCE_TIME anchor_media_ = 0; // that unit's own media time
};
