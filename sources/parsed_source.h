// A source that reads a stream format from a file, a pipe or standard input and hands out the
// units its parser finds: H.264 access units, MPEG-4 Part 2 planes, JPEG frames, Y4M frames, or
// WAV blocks of about 20 ms. Input is read in small chunks, so memory stays bounded whatever the
// input's length.
//
// Pictures are timed from a frame rate: the one given, else the one the stream states (H.264
// timing information, the MPEG-4 time base, the Y4M header), else 25 with a warning. Each picture
// lasts its field periods (a field picture half a frame, a not-coded MPEG-4 plane nothing), and
// times come from the count of field periods, so they do not drift. Audio keeps the WAV's own
// times, from its sample count.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sources/stream_parser.h"
#include "sources/unit_source.h"

enum class StreamFormat { H264, Mpeg4, Mjpeg, Y4m, Wav };

// "h264", "mpeg4", "mjpeg", "y4m", "wav"; false for any other name.
bool StreamFormatFromName(const std::string& name, StreamFormat* format);
const char* StreamFormatName(StreamFormat format);

class ParsedSource final : public UnitSource {
 public:
  // `framesPerSecond` overrides the stream's own frame rate; 0 when none is given.
  ParsedSource(StreamFormat format, std::string path, double framesPerSecond);
  ~ParsedSource() override;

  HRESULT Open(const std::atomic<bool>& stop) override;
  const SourceFormat& Format() const override { return format_; }
  size_t MaxUnitSize() const override { return max_unit_; }
  REFERENCE_TIME UnitDuration() const override { return unit_duration_; }
  HRESULT Next(MediaUnit* unit, const std::atomic<bool>& stop) override;
  std::string Error() const override { return error_; }
  const InputStream* Input() const override { return &input_; }

  // Units dropped in front of the first one a decoder can start at.
  unsigned Skipped() const { return skipped_; }
  // The frame rate pictures are timed by; known once open.
  FramesPerSecond PictureRate() const { return rate_; }

 private:
  HRESULT Pull(StreamUnit* unit, const std::atomic<bool>& stop);
  HRESULT Failed(HRESULT status, const std::string& message);
  HRESULT DescribeStream();
  HRESULT ChooseFrameRate(const std::atomic<bool>& stop);
  REFERENCE_TIME FieldTime(uint64_t fields) const;

  // A unit read ahead of its turn, copied out of the parser.
  struct HeldUnit {
    std::vector<BYTE> bytes;
    StreamUnit unit;
  };

  const StreamFormat kind_;
  const std::string path_;
  const double fps_;
  InputStream input_;
  std::unique_ptr<StreamParser> parser_;
  std::unique_ptr<BYTE[]> chunk_;
  bool input_ended_ = false;
  bool have_pending_ = false;  // the first unit, found by Open and not yet handed out
  StreamUnit pending_;
  std::deque<HeldUnit> ahead_;  // units read while looking for the frame rate
  HeldUnit current_;            // the unit handed out last when it came from ahead_
  bool found_any_ = false;
  bool truncation_told_ = false;
  FramesPerSecond rate_;
  uint64_t fields_ = 0;  // field periods of the pictures handed out
  SourceFormat format_;
  size_t max_unit_ = 0;
  REFERENCE_TIME unit_duration_ = 0;
  unsigned skipped_ = 0;
  std::string error_;
};
