// The common shape of the elementary-stream parsers: bytes go in as they arrive (any chunking),
// whole units come out. Every parser is safe on any input: malformed bytes end in a failure
// status and a message, never in a read outside what was pushed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win/status.h"
#include "platform/win/types.h"

constexpr DWORD ERROR_INVALID_DATA = 13;
// Malformed input; the parser's Error() says what.
constexpr HRESULT E_STREAM_INVALID_DATA = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// No single unit (picture, frame, audio block) may grow beyond this; garbage without any
// boundary then ends in an error instead of eating memory.
constexpr size_t kMaxStreamUnitSize = 64u << 20;

// One unit handed out by a parser. The bytes stay valid until the next call to the parser.
struct StreamUnit {
  const BYTE* data = nullptr;
  size_t size = 0;
  bool sync = false;  // a decoder can start here (IDR, intra plane, every JPEG/raw/audio unit)
  // Times, 100 ns units, for formats whose container gives them (Y4M frame rate, WAV sample
  // count); zero for elementary streams, which are timed by their caller.
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  // Pictures: the unit's length in field periods, half a frame each. 2 for a frame, 1 for a field
  // picture, 3 or more for a frame shown with a repeated field or doubled, 0 for a plane that
  // only stands in for another (an MPEG-4 plane marked not coded) and takes no time of its own.
  unsigned fields = 2;
};

// Frames per second as a ratio.
struct FramesPerSecond {
  uint32_t num = 0;
  uint32_t den = 0;
  bool Known() const { return num > 0 && den > 0; }
};

class StreamParser {
 public:
  virtual ~StreamParser() = default;

  // Appends input bytes. Fails only on allocation failure or after an earlier error.
  virtual HRESULT Push(const BYTE* data, size_t size) = 0;
  // No more input will come; the unit in progress is completed (or reported as truncated).
  virtual void Finish() = 0;
  // S_OK with a unit; S_FALSE when none is ready (more input needed, or after Finish() the end);
  // a failure status on malformed input, sticky from then on.
  virtual HRESULT Next(StreamUnit* unit) = 0;

  // The frame rate the stream states for itself (H.264 timing information, the MPEG-4 time base,
  // the Y4M header); unknown when it states none, or has not yet shown enough of itself.
  virtual FramesPerSecond StatedFrameRate() const { return {}; }

  const std::string& Error() const { return error_; }
  bool Finished() const { return finished_; }
  // What was left out because the input ended inside it (a torn last picture or audio block);
  // empty when the input ended cleanly. Such a unit is dropped, not handed out: a decoder could
  // not make whole what is missing.
  const std::string& Truncation() const { return truncation_; }

 protected:
  HRESULT Fail(HRESULT status, std::string message) {
    if (SUCCEEDED(failed_)) {
      failed_ = status;
      error_ = std::move(message);
    }
    return failed_;
  }
  void Truncated(std::string what) {
    if (truncation_.empty()) truncation_ = std::move(what);
  }
  HRESULT failed_ = S_OK;
  bool finished_ = false;
  std::string error_;
  std::string truncation_;
};
