// The frame rate of pictures whose stream states none and for which none was given.
inline constexpr double kDefaultFramesPerSecond = 25;

// What a source filter streams: a media type and a sequence of units (pictures, audio blocks).
// Open() runs on the application's thread before the graph is built, so a bad input is refused
// before any file exists; Next() runs on the filter's streaming thread.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/dshow/mediatype.h"
#include "sources/input_stream.h"

// The fields of the media type a source offers.
struct SourceFormat {
  GUID majortype{};
  GUID subtype{};
  GUID formattype{};
  bool fixed_size = false;
  ULONG sample_size = 0;
  std::vector<BYTE> block;  // the format block
};

struct MediaUnit {
  const BYTE* data = nullptr;  // valid until the next call to the source
  size_t size = 0;
  bool sync = false;
  bool timed = false;  // the source knows the unit's times (Y4M, WAV, the generators)
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
};

class UnitSource {
 public:
  virtual ~UnitSource() = default;

  // Reads until the media type is known and a unit that a decoder can start at is ready.
  // E_ABORT when `stop` became true; another failure says why in Error().
  virtual HRESULT Open(const std::atomic<bool>& stop) = 0;
  virtual const SourceFormat& Format() const = 0;
  // The largest unit the source expects to hand out; a sample buffer of this size holds it.
  virtual size_t MaxUnitSize() const = 0;
  // The nominal length of one unit, 100 ns.
  virtual REFERENCE_TIME UnitDuration() const = 0;
  // S_OK with a unit, S_FALSE at the end, E_ABORT when `stop` became true, another failure with
  // Error().
  virtual HRESULT Next(MediaUnit* unit, const std::atomic<bool>& stop) = 0;
  virtual std::string Error() const = 0;
  // Made here rather than read: paced by the clock when recording live.
  virtual bool Generated() const { return false; }
  // The input read, for progress; null for a generator.
  virtual const InputStream* Input() const { return nullptr; }

  // Where remarks go that do not stop the recording (a frame rate assumed, a torn last picture
  // left out), one line each, naming the input. Set before Open(); without one they are dropped.
  void SetWarnings(std::function<void(const std::string&)> sink) { warnings_ = std::move(sink); }

 protected:
  void Warn(const std::string& message) const {
    if (warnings_) warnings_(message);
  }

 private:
  std::function<void(const std::string&)> warnings_;
};

// The four-character code as a DWORD, first character in the low byte.
constexpr DWORD FourCC(const char (&code)[5]) {
  return static_cast<DWORD>(static_cast<BYTE>(code[0])) | static_cast<DWORD>(static_cast<BYTE>(code[1])) << 8 |
         static_cast<DWORD>(static_cast<BYTE>(code[2])) << 16 | static_cast<DWORD>(static_cast<BYTE>(code[3])) << 24;
}

// A video format: VIDEOINFOHEADER and nothing after its BITMAPINFOHEADER (an elementary stream
// carries its parameter sets in band; bytes after the header would reach players as codec data).
SourceFormat VideoInfoFormat(REFGUID subtype, DWORD compression, unsigned width, unsigned height,
                             REFERENCE_TIME frameTime, bool uncompressed);
// An audio format from a WAVEFORMATEX block kept byte for byte.
SourceFormat WaveFormat(const std::vector<BYTE>& waveFormatEx);
