// Splits concatenated JPEG frames (MJPEG) at their SOI and EOI markers, walking the marker
// segments and the entropy-coded data (with its FF 00 stuffing and restart markers), so an FF D9
// inside a segment or a scan never ends a frame early. Bytes between frames go in front of the
// next frame; every frame is a sync point.
#pragma once

#include "sources/byte_queue.h"
#include "sources/stream_parser.h"

class MjpegFrameSplitter : public StreamParser {
 public:
  HRESULT Push(const BYTE* data, size_t size) override;
  void Finish() override { finished_ = true; }
  HRESULT Next(StreamUnit* unit) override;

  // Size from the frame header of the latest frame handed out; 0 before the first.
  unsigned Width() const { return width_; }
  unsigned Height() const { return height_; }

 private:
  enum class State { SeekStart, Markers, EntropyData };
  HRESULT Step(bool* need_input, StreamUnit* unit, bool* emitted);

  ByteQueue queue_;
  size_t consumed_ = 0;
  State state_ = State::SeekStart;
  size_t pos_ = 0;  // where the state continues
  bool have_frame_header_ = false;
  unsigned frame_width_ = 0, frame_height_ = 0;
  unsigned width_ = 0, height_ = 0;
  unsigned frames_ = 0;
};
