// The built-in source's pictures and sound: moving colour bars with a frame counter, and a tone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Planar 4:2:0 pictures (Y, then U, then V; I420 / IYUV order). Width and height must be even.
class TestPattern {
 public:
  TestPattern(int width, int height);
  int Width() const { return m_width; }
  int Height() const { return m_height; }
  size_t FrameBytes() const { return static_cast<size_t>(m_width) * m_height * 3 / 2; }
  // Draws picture number `frame` into `out` (FrameBytes() bytes).
  void Render(uint64_t frame, uint8_t* out) const;

 private:
  int m_width;
  int m_height;
};

// A sine tone in signed 16-bit PCM, interleaved channels; continuous across calls.
class ToneGenerator {
 public:
  ToneGenerator(int sampleRate, int channels, double frequency, double amplitude = 0.25);
  // Fills `frames` sample frames (frames × channels × 2 bytes).
  void Render(size_t frames, uint8_t* out);
  uint64_t FramesRendered() const { return m_position; }

 private:
  int m_sampleRate;
  int m_channels;
  double m_frequency;
  double m_amplitude;
  uint64_t m_position = 0;
};
