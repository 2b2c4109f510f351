#include "sources/mjpeg_splitter.h"

#include <cstring>

namespace {

constexpr BYTE kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA;

bool IsStandalone(BYTE marker) { return (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01; }

// SOF0..SOF15 less DHT (C4), JPG (C8) and DAC (CC), which share the range.
bool IsFrameHeader(BYTE marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

}  // namespace

HRESULT MjpegFrameSplitter::Push(const BYTE* data, size_t size) {
  if (FAILED(failed_)) return failed_;
  if (finished_) return Fail(E_UNEXPECTED, "MJPEG: input after its end");
  HRESULT hr = queue_.Append(data, size);
  return FAILED(hr) ? Fail(hr, "MJPEG: out of memory") : S_OK;
}

HRESULT MjpegFrameSplitter::Step(bool* need_input, StreamUnit* unit, bool* emitted) {
  const BYTE* bytes = queue_.data();
  const size_t size = queue_.size();
  switch (state_) {
    case State::SeekStart: {
      while (pos_ + 1 < size && !(bytes[pos_] == 0xFF && bytes[pos_ + 1] == kSoi)) ++pos_;
      if (pos_ + 1 >= size) {
        *need_input = true;
        return S_OK;
      }
      pos_ += 2;
      have_frame_header_ = false;
      state_ = State::Markers;
      return S_OK;
    }
    case State::Markers: {
      if (pos_ >= size) {
        *need_input = true;
        return S_OK;
      }
      if (bytes[pos_] != 0xFF)
        return Fail(E_STREAM_INVALID_DATA, "MJPEG: expected a marker in frame " + std::to_string(frames_));
      size_t at = pos_;
      while (at < size && bytes[at] == 0xFF) ++at;  // fill bytes
      if (at >= size) {
        *need_input = true;
        return S_OK;
      }
      BYTE marker = bytes[at];
      if (marker == kEoi) {
        if (!have_frame_header_)
          return Fail(E_STREAM_INVALID_DATA, "MJPEG: frame without a frame header (SOF)");
        *unit = StreamUnit{};
        unit->data = bytes;
        unit->size = at + 1;
        unit->sync = true;
        consumed_ = at + 1;
        width_ = frame_width_;
        height_ = frame_height_;
        ++frames_;
        *emitted = true;
        return S_OK;
      }
      if (IsStandalone(marker)) {
        pos_ = at + 1;
        return S_OK;
      }
      if (marker == 0x00 || marker == kSoi)
        return Fail(E_STREAM_INVALID_DATA, "MJPEG: unexpected marker inside frame " + std::to_string(frames_));
      if (at + 3 > size) {
        *need_input = true;
        return S_OK;
      }
      size_t length = (size_t{bytes[at + 1]} << 8) | bytes[at + 2];
      if (length < 2) return Fail(E_STREAM_INVALID_DATA, "MJPEG: marker segment shorter than its length field");
      size_t end = at + 1 + length;
      if (end > size) {
        *need_input = true;
        return S_OK;
      }
      if (IsFrameHeader(marker)) {
        if (length < 8) return Fail(E_STREAM_INVALID_DATA, "MJPEG: frame header too short");
        frame_height_ = (unsigned{bytes[at + 4]} << 8) | bytes[at + 5];
        frame_width_ = (unsigned{bytes[at + 6]} << 8) | bytes[at + 7];
        if (frame_width_ == 0 || frame_height_ == 0)
          return Fail(E_STREAM_INVALID_DATA, "MJPEG: frame header with a zero size");
        have_frame_header_ = true;
      }
      pos_ = end;
      if (marker == kSos) {
        if (!have_frame_header_) return Fail(E_STREAM_INVALID_DATA, "MJPEG: scan before the frame header");
        state_ = State::EntropyData;
      }
      return S_OK;
    }
    case State::EntropyData: {
      for (;;) {
        const void* hit = pos_ < size ? std::memchr(bytes + pos_, 0xFF, size - pos_) : nullptr;
        if (!hit) {
          pos_ = size;
          *need_input = true;
          return S_OK;
        }
        size_t at = static_cast<size_t>(static_cast<const BYTE*>(hit) - bytes);
        if (at + 1 >= size) {
          pos_ = at;
          *need_input = true;
          return S_OK;
        }
        BYTE next = bytes[at + 1];
        if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {  // stuffing, restart marker
          pos_ = at + 2;
          continue;
        }
        pos_ = at;  // a marker (after any fill bytes) ends the scan
        state_ = State::Markers;
        return S_OK;
      }
    }
  }
  return S_OK;
}

HRESULT MjpegFrameSplitter::Next(StreamUnit* unit) {
  if (FAILED(failed_)) return failed_;
  if (consumed_ > 0) {
    queue_.Consume(consumed_);
    consumed_ = 0;
    pos_ = 0;
    state_ = State::SeekStart;
  }
  for (;;) {
    bool need_input = false, emitted = false;
    HRESULT hr = Step(&need_input, unit, &emitted);
    if (FAILED(hr)) return hr;
    if (emitted) return S_OK;
    if (!need_input) continue;
    if (queue_.size() > kMaxStreamUnitSize)
      return Fail(E_STREAM_INVALID_DATA, "MJPEG: frame larger than 64 MiB");
    if (!finished_ || queue_.empty()) return S_FALSE;
    if (state_ != State::SeekStart) {
      Truncated("the input ends inside frame " + std::to_string(frames_));
      queue_.Consume(queue_.size());
      state_ = State::SeekStart;
      pos_ = 0;
      return S_FALSE;
    }
    if (frames_ == 0) return Fail(E_STREAM_INVALID_DATA, "MJPEG: no JPEG frame (FF D8) in the input");
    // Nothing but padding may follow the last frame.
    for (size_t i = 0; i < queue_.size(); ++i)
      if (queue_[i] != 0x00 && queue_[i] != 0xFF)
        return Fail(E_STREAM_INVALID_DATA, "MJPEG: bytes after the last frame");
    return S_FALSE;
  }
}
