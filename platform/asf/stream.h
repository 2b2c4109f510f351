// What the writer is told about a stream, and what the reader reports of one.
#pragma once

#include <cstdint>
#include <vector>

namespace asf {

enum class StreamKind { Audio, Video };

struct StreamDescription {
  uint16_t number = 0;          // 1..127
  StreamKind kind = StreamKind::Audio;
  std::vector<uint8_t> format;  // audio: WAVEFORMATEX with cbSize and its extra bytes;
                                // video: BITMAPINFOHEADER and the codec bytes after it
  int32_t width = 0, height = 0;  // video: encoded image size
  uint32_t bitrate = 0;           // bits per second
  uint32_t bufferWindowMs = 3000;
  int64_t averageTimePerFrame = 0;  // 100 ns, video
};

}  // namespace asf
