// Reads a YUV4MPEG2 stream: the stream header (size, frame rate, colour space) and its frames,
// each handed out as one unit of raw 4:2:0 planes (Y, then U, then V: the IYUV layout), timed
// from the header's frame rate. Colour spaces other than 4:2:0 are refused.
#pragma once

#include <string>

#include "sources/byte_queue.h"
#include "sources/stream_parser.h"

struct Y4mStreamInfo {
  unsigned width = 0;
  unsigned height = 0;
  unsigned rate_num = 0;  // frames per second = rate_num / rate_den
  unsigned rate_den = 0;
  char interlace = '?';            // the I parameter: p, t, b, m, or ? when absent
  std::string colour_space = "420jpeg";
  size_t frame_size = 0;           // bytes of one 4:2:0 frame
};

class Y4mReader : public StreamParser {
 public:
  HRESULT Push(const BYTE* data, size_t size) override;
  void Finish() override { finished_ = true; }
  HRESULT Next(StreamUnit* unit) override;

  // Valid once the stream header has been read (after the first unit, or HeaderRead()).
  bool HeaderRead() const { return header_read_; }
  const Y4mStreamInfo& Info() const { return info_; }
  // The parameters written after FRAME for the latest unit (usually empty).
  const std::string& FrameParameters() const { return frame_parameters_; }
  FramesPerSecond StatedFrameRate() const override {
    return header_read_ ? FramesPerSecond{info_.rate_num, info_.rate_den} : FramesPerSecond{};
  }

 private:
  HRESULT ReadLine(size_t* length, bool* need_input);  // a line ending in \n at the front
  HRESULT ParseHeader(const std::string& line);
  HRESULT Torn();  // the input ended inside a frame: it is dropped

  ByteQueue queue_;
  size_t consumed_ = 0;
  bool header_read_ = false;
  Y4mStreamInfo info_;
  std::string frame_parameters_;
  uint64_t frames_ = 0;
};
