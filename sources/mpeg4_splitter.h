// Splits an MPEG-4 Part 2 elementary stream into video object planes. The headers in front of a
// plane (visual object sequence, object, object layer, group of planes, user data) travel in
// the plane's unit, so every unit that starts with headers can begin a file on its own. The
// units put end to end give back the input.
//
// A plane marked not coded (vop_coded 0: the few bytes a DivX-style "packed" stream puts where a
// picture would be, after a B-plane was packed with the plane in front of it) is handed out as a
// unit of its own that takes no frame time, so the stream keeps its duration and every byte.
#pragma once

#include <string>

#include "sources/byte_queue.h"
#include "sources/start_code.h"
#include "sources/stream_parser.h"

struct Mpeg4LayerInfo {
  unsigned width = 0;
  unsigned height = 0;
  unsigned time_increment_resolution = 0;
  unsigned time_increment_bits = 1;  // width of vop_time_increment
  unsigned fixed_increment = 0;      // ticks per plane with fixed_vop_rate; 0 without
};

// Parses a video object layer header; `data` starts just after its start code.
bool ParseMpeg4Vol(const BYTE* data, size_t size, Mpeg4LayerInfo* info, std::string* error);

class Mpeg4VopSplitter : public StreamParser {
 public:
  HRESULT Push(const BYTE* data, size_t size) override;
  void Finish() override { finished_ = true; }
  HRESULT Next(StreamUnit* unit) override;

  // The latest video object layer header seen; null before the first.
  const Mpeg4LayerInfo* Layer() const { return have_layer_ ? &layer_ : nullptr; }
  // A fixed plane rate states the frame rate; without one it is the time base over the smallest
  // step between the time stamps of coded planes, once enough planes have been seen (B-planes
  // come out of display order, so neighbouring pictures meet only within a few planes).
  FramesPerSecond StatedFrameRate() const override;

 private:
  static constexpr size_t kNone = kNoStartCode;
  void Emit(size_t size, bool sync, StreamUnit* unit);
  void ReadPlaneHeader(size_t end, StreamUnit* unit);
  void ResetEstimate();

  ByteQueue queue_;
  size_t consumed_ = 0;
  size_t search_ = 0;
  size_t layer_start_ = kNone;  // start code of an object layer header in the unit in progress
  bool has_plane_ = false;      // the unit in progress holds its plane
  size_t plane_start_ = 0;      // its start code
  bool plane_cut_ = false;      // the input ended inside the header of the plane read last
  uint64_t planes_ = 0;         // units handed out
  bool intra_ = false;
  bool any_plane_ = false;
  bool have_layer_ = false;
  Mpeg4LayerInfo layer_;
  // The frame step estimate: the latest coded plane's vop_time_increment and the smallest step.
  bool have_increment_ = false;
  unsigned last_increment_ = 0;
  unsigned smallest_step_ = 0;
  unsigned steps_ = 0;
};
