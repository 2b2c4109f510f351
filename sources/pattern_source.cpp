#include "sources/pattern_source.h"

#include <cmath>
#include <cstring>
#include <new>

PatternSource::PatternSource(int width, int height, double framesPerSecond)
    : pattern_(width, height),
      fps_(framesPerSecond > 0 ? framesPerSecond : kDefaultFramesPerSecond),
      frame_time_(static_cast<REFERENCE_TIME>(std::llround(1e7 / fps_))) {}

HRESULT PatternSource::Open(const std::atomic<bool>&) {
  picture_.reset(new (std::nothrow) BYTE[pattern_.FrameBytes()]);
  if (!picture_) {
    error_ = "out of memory";
    return E_OUTOFMEMORY;
  }
  format_ = VideoInfoFormat(MEDIASUBTYPE_IYUV, FourCC("IYUV"), static_cast<unsigned>(pattern_.Width()),
                            static_cast<unsigned>(pattern_.Height()), frame_time_, true);
  return S_OK;
}

HRESULT PatternSource::Next(MediaUnit* unit, const std::atomic<bool>& stop) {
  if (stop.load()) return E_ABORT;
  pattern_.Render(frame_, picture_.get());
  unit->data = picture_.get();
  unit->size = pattern_.FrameBytes();
  unit->sync = true;
  unit->timed = true;
  // From the frame number, so the times do not drift over a long recording.
  unit->start = static_cast<REFERENCE_TIME>(std::llround(static_cast<double>(frame_) * 1e7 / fps_));
  unit->stop = static_cast<REFERENCE_TIME>(std::llround(static_cast<double>(frame_ + 1) * 1e7 / fps_));
  ++frame_;
  return S_OK;
}

ToneSource::ToneSource(int sampleRate, int channels, double frequency)
    : tone_(sampleRate, channels, frequency),
      rate_(sampleRate),
      channels_(channels),
      block_frames_(static_cast<size_t>(sampleRate / 50)),
      block_bytes_(block_frames_ * static_cast<size_t>(channels) * 2) {}

HRESULT ToneSource::Open(const std::atomic<bool>&) {
  block_.reset(new (std::nothrow) BYTE[block_bytes_]);
  if (!block_) {
    error_ = "out of memory";
    return E_OUTOFMEMORY;
  }
  WAVEFORMATEX wave{};
  wave.wFormatTag = WAVE_FORMAT_PCM;
  wave.nChannels = static_cast<WORD>(channels_);
  wave.nSamplesPerSec = static_cast<DWORD>(rate_);
  wave.nBlockAlign = static_cast<WORD>(channels_ * 2);
  wave.nAvgBytesPerSec = wave.nSamplesPerSec * wave.nBlockAlign;
  wave.wBitsPerSample = 16;
  std::vector<BYTE> block(sizeof wave);
  std::memcpy(block.data(), &wave, sizeof wave);
  format_ = WaveFormat(block);
  return S_OK;
}

HRESULT ToneSource::Next(MediaUnit* unit, const std::atomic<bool>& stop) {
  if (stop.load()) return E_ABORT;
  const uint64_t first = tone_.FramesRendered();
  tone_.Render(block_frames_, block_.get());
  unit->data = block_.get();
  unit->size = block_bytes_;
  unit->sync = true;
  unit->timed = true;
  unit->start = static_cast<REFERENCE_TIME>(first * 10000000 / static_cast<uint64_t>(rate_));
  unit->stop = static_cast<REFERENCE_TIME>((first + block_frames_) * 10000000 / static_cast<uint64_t>(rate_));
  return S_OK;
}
