// The built-in source: the moving test pattern (uncompressed 4:2:0) and a tone (16-bit PCM in
// 20 ms blocks), without end; the recording's duration or a stop ends them.
#pragma once

#include <memory>

#include "sources/test_pattern.h"
#include "sources/unit_source.h"

class PatternSource final : public UnitSource {
 public:
  // A rate of 0 (none given) is the default rate.
  PatternSource(int width, int height, double framesPerSecond);

  HRESULT Open(const std::atomic<bool>& stop) override;
  const SourceFormat& Format() const override { return format_; }
  size_t MaxUnitSize() const override { return pattern_.FrameBytes(); }
  REFERENCE_TIME UnitDuration() const override { return frame_time_; }
  HRESULT Next(MediaUnit* unit, const std::atomic<bool>& stop) override;
  std::string Error() const override { return error_; }
  bool Generated() const override { return true; }

 private:
  TestPattern pattern_;
  double fps_;
  REFERENCE_TIME frame_time_;
  SourceFormat format_;
  std::unique_ptr<BYTE[]> picture_;
  uint64_t frame_ = 0;
  std::string error_;
};

class ToneSource final : public UnitSource {
 public:
  ToneSource(int sampleRate, int channels, double frequency);

  HRESULT Open(const std::atomic<bool>& stop) override;
  const SourceFormat& Format() const override { return format_; }
  size_t MaxUnitSize() const override { return block_bytes_; }
  REFERENCE_TIME UnitDuration() const override { return 200000; }
  HRESULT Next(MediaUnit* unit, const std::atomic<bool>& stop) override;
  std::string Error() const override { return error_; }
  bool Generated() const override { return true; }

 private:
  ToneGenerator tone_;
  int rate_;
  int channels_;
  size_t block_frames_;
  size_t block_bytes_;
  SourceFormat format_;
  std::unique_ptr<BYTE[]> block_;
  std::string error_;
};
