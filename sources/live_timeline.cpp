#include "sources/live_timeline.h"

LiveTimeline::Stamp LiveTimeline::Place(REFERENCE_TIME arrival, REFERENCE_TIME mediaStart, REFERENCE_TIME mediaStop) {
  Stamp stamp;
  if (!anchored_ || arrival - (anchor_ + (mediaStart - anchor_media_)) > stall_) {
    // Later anchors only ever move the times forward, so they never overlap the unit before.
    anchored_ = true;
    anchor_ = arrival;
    anchor_media_ = mediaStart;
    stamp.discontinuity = true;
  }
  stamp.start = anchor_ + (mediaStart - anchor_media_);
  stamp.stop = anchor_ + (mediaStop - anchor_media_);
  return stamp;
}
