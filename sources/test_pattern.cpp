#include "sources/test_pattern.h"

#include <cmath>
#include <cstring>

namespace {

// Colour bars in Y'CbCr (BT.601, studio range): white, yellow, cyan, green, magenta, red, blue, black.
constexpr uint8_t kBars[8][3] = {{235, 128, 128}, {210, 16, 146}, {170, 166, 16}, {145, 54, 34},
                                 {106, 202, 222}, {81, 90, 240},  {41, 240, 110}, {16, 128, 128}};

// Seven-segment digits: bits a (top) b c d e f g (middle), clockwise from the top.
constexpr uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void FillLuma(uint8_t* luma, int stride, int x0, int y0, int w, int h, int maxW, int maxH, uint8_t value) {
  for (int y = y0; y < y0 + h && y < maxH; ++y)
    for (int x = x0; x < x0 + w && x < maxW; ++x)
      if (x >= 0 && y >= 0) luma[y * stride + x] = value;
}

void DrawDigit(uint8_t* luma, int stride, int maxW, int maxH, int x, int y, int size, int digit) {
  int t = size / 5 > 0 ? size / 5 : 1;  // stroke thickness
  int w = size, h = size * 2;
  uint8_t on = kSegments[digit];
  auto seg = [&](int bit, int sx, int sy, int sw, int sh) {
    if (on & (1 << bit)) FillLuma(luma, stride, x + sx, y + sy, sw, sh, maxW, maxH, 235);
  };
  seg(0, 0, 0, w, t);              // a
  seg(1, w - t, 0, t, h / 2);      // b
  seg(2, w - t, h / 2, t, h / 2);  // c
  seg(3, 0, h - t, w, t);          // d
  seg(4, 0, h / 2, t, h / 2);      // e
  seg(5, 0, 0, t, h / 2);          // f
  seg(6, 0, h / 2 - t / 2, w, t);  // g
}

}  // namespace

TestPattern::TestPattern(int width, int height) : m_width(width), m_height(height) {}

void TestPattern::Render(uint64_t frame, uint8_t* out) const {
  const int w = m_width, h = m_height, cw = w / 2, ch = h / 2;
  uint8_t* luma = out;
  uint8_t* cb = out + static_cast<size_t>(w) * h;
  uint8_t* cr = cb + static_cast<size_t>(cw) * ch;
  // The bars slide one bar width every two seconds at 25 pictures per second.
  const int shift = static_cast<int>((frame * static_cast<uint64_t>(w)) / 400 % static_cast<uint64_t>(w));
  for (int x = 0; x < w; ++x) {
    const uint8_t* bar = kBars[((x + shift) % w) * 8 / w];
    for (int y = 0; y < h; ++y) luma[y * w + x] = bar[0];
    if ((x & 1) == 0) {
      for (int y = 0; y < ch; ++y) {
        cb[y * cw + x / 2] = bar[1];
        cr[y * cw + x / 2] = bar[2];
      }
    }
  }
  // A black box at the bottom with the frame number in it.
  const int size = h / 12 > 4 ? h / 12 : 4;
  const int digits = 6;
  const int boxW = digits * (size + size / 2) + size / 2, boxH = size * 3;
  const int boxX = (w - boxW) / 2, boxY = h - boxH - size / 2;
  FillLuma(luma, w, boxX, boxY, boxW, boxH, w, h, 16);
  for (int y = boxY / 2; y < (boxY + boxH) / 2 && y < ch; ++y)
    for (int x = boxX / 2; x < (boxX + boxW) / 2 && x < cw; ++x)
      if (x >= 0 && y >= 0) cb[y * cw + x] = cr[y * cw + x] = 128;
  uint64_t value = frame;
  for (int i = digits - 1; i >= 0; --i) {
    DrawDigit(luma, w, w, h, boxX + size / 2 + i * (size + size / 2), boxY + size / 2, size, static_cast<int>(value % 10));
    value /= 10;
  }
}

ToneGenerator::ToneGenerator(int sampleRate, int channels, double frequency, double amplitude)
    : m_sampleRate(sampleRate), m_channels(channels), m_frequency(frequency), m_amplitude(amplitude) {}

void ToneGenerator::Render(size_t frames, uint8_t* out) {
  const double step = 2.0 * M_PI * m_frequency / m_sampleRate;
  for (size_t i = 0; i < frames; ++i) {
    // The phase from the sample count keeps long recordings free of drift.
    double phase = std::fmod(static_cast<double>(m_position + i) * step, 2.0 * M_PI);
    auto value = static_cast<int16_t>(std::lround(std::sin(phase) * m_amplitude * 32767.0));
    for (int c = 0; c < m_channels; ++c) {
      std::memcpy(out, &value, 2);  // little-endian like the platform
      out += 2;
    }
  }
  m_position += frames;
}
