#include "sources/parsed_source.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "recorder/media_types.h"
#include "sources/h264_splitter.h"
#include "sources/mjpeg_splitter.h"
#include "sources/mpeg4_splitter.h"
#include "sources/wav_reader.h"
#include "sources/y4m_reader.h"

namespace {

// Small reads keep a live stream's latency low and the memory flat.
constexpr size_t kChunkBytes = 64 * 1024;
// A compressed picture is given a buffer of this many bytes per pixel (or at least the floor):
// more than the uncompressed 4:2:0 picture needs.
constexpr size_t kCompressedBytesPerPixel = 2;
constexpr size_t kCompressedFloor = 1 << 20;
// How far an MPEG-4 stream without a fixed plane rate is read ahead for the steps between its
// time stamps; what is read stays in memory until its turn.
constexpr size_t kLookaheadUnits = 32;
constexpr size_t kLookaheadBytes = 16u << 20;

// A rate given in frames per second as a ratio, to a thousandth of a frame.
FramesPerSecond RateOf(double framesPerSecond) {
  uint64_t num = static_cast<uint64_t>(std::llround(framesPerSecond * 1000)), den = 1000;
  uint64_t a = num, b = den;
  while (b) {
    uint64_t t = a % b;
    a = b;
    b = t;
  }
  if (a == 0 || num / a > UINT32_MAX) return {};
  return {static_cast<uint32_t>(num / a), static_cast<uint32_t>(den / a)};
}

}  // namespace

bool StreamFormatFromName(const std::string& name, StreamFormat* format) {
  static const struct {
    const char* name;
    StreamFormat format;
  } kNames[] = {{"h264", StreamFormat::H264}, {"mpeg4", StreamFormat::Mpeg4}, {"mjpeg", StreamFormat::Mjpeg},
                {"y4m", StreamFormat::Y4m},   {"wav", StreamFormat::Wav}};
  for (const auto& entry : kNames)
    if (name == entry.name) {
      *format = entry.format;
      return true;
    }
  return false;
}

const char* StreamFormatName(StreamFormat format) {
  switch (format) {
    case StreamFormat::H264: return "H.264";
    case StreamFormat::Mpeg4: return "MPEG-4";
    case StreamFormat::Mjpeg: return "MJPEG";
    case StreamFormat::Y4m: return "Y4M";
    case StreamFormat::Wav: return "WAV";
  }
  return "?";
}

ParsedSource::ParsedSource(StreamFormat format, std::string path, double framesPerSecond)
    : kind_(format), path_(std::move(path)), fps_(framesPerSecond) {}

ParsedSource::~ParsedSource() = default;

HRESULT ParsedSource::Failed(HRESULT status, const std::string& message) {
  if (error_.empty()) error_ = message;
  return status;
}

// The next unit of the parser, reading input as it needs.
HRESULT ParsedSource::Pull(StreamUnit* unit, const std::atomic<bool>& stop) {
  for (;;) {
    HRESULT hr = parser_->Next(unit);
    if (hr == S_OK) {
      found_any_ = true;
      return S_OK;
    }
    if (FAILED(hr)) return Failed(hr, input_.Name() + ": " + parser_->Error());
    if (input_ended_) {
      // Told once, and only when something was recorded: otherwise Open says what is wrong.
      if (!truncation_told_ && found_any_ && !parser_->Truncation().empty()) {
        truncation_told_ = true;
        Warn(input_.Name() + ": " + parser_->Truncation() + "; what arrived of it is left out");
      }
      return S_FALSE;
    }
    size_t got = 0;
    hr = input_.Read(chunk_.get(), kChunkBytes, &got, stop);
    if (hr == E_ABORT) return hr;
    if (FAILED(hr)) return Failed(hr, input_.Error());
    if (hr == S_FALSE) {
      input_ended_ = true;
      parser_->Finish();
      continue;
    }
    hr = parser_->Push(chunk_.get(), got);
    if (FAILED(hr)) return Failed(hr, input_.Name() + ": " + parser_->Error());
  }
}

HRESULT ParsedSource::Open(const std::atomic<bool>& stop) {
  switch (kind_) {
    case StreamFormat::H264: parser_.reset(new (std::nothrow) H264AccessUnitSplitter); break;
    case StreamFormat::Mpeg4: parser_.reset(new (std::nothrow) Mpeg4VopSplitter); break;
    case StreamFormat::Mjpeg: parser_.reset(new (std::nothrow) MjpegFrameSplitter); break;
    case StreamFormat::Y4m: parser_.reset(new (std::nothrow) Y4mReader); break;
    case StreamFormat::Wav: parser_.reset(new (std::nothrow) WavReader); break;
  }
  chunk_.reset(new (std::nothrow) BYTE[kChunkBytes]);
  if (!parser_ || !chunk_) return Failed(E_OUTOFMEMORY, "out of memory");
  HRESULT hr = input_.Open(path_);
  if (FAILED(hr)) return Failed(hr, input_.Error());

  // A decoder cannot start before an IDR access unit or an intra plane: what comes before one
  // (a live stream joined in the middle) is dropped.
  for (;;) {
    hr = Pull(&pending_, stop);
    if (FAILED(hr)) return hr;
    if (hr == S_FALSE) {
      const std::string& why = parser_->Error();
      if (!why.empty()) return Failed(E_STREAM_INVALID_DATA, input_.Name() + ": " + why);
      if (input_.BytesRead() == 0) return Failed(E_STREAM_INVALID_DATA, input_.Name() + " is empty");
      switch (kind_) {
        case StreamFormat::H264:
          return Failed(E_STREAM_INVALID_DATA, input_.Name() + ": no IDR access unit in the H.264 stream" +
                                                   (skipped_ ? " (" + std::to_string(skipped_) + " access units)" : ""));
        case StreamFormat::Mpeg4:
          return Failed(E_STREAM_INVALID_DATA, input_.Name() + ": no intra plane in the MPEG-4 stream");
        case StreamFormat::Wav: return Failed(E_STREAM_INVALID_DATA, input_.Name() + ": the WAV holds no samples");
        default:
          return Failed(E_STREAM_INVALID_DATA, input_.Name() + ": no " + StreamFormatName(kind_) + " picture in the input");
      }
    }
    if (pending_.sync) break;
    ++skipped_;
  }
  have_pending_ = true;
  hr = ChooseFrameRate(stop);
  if (FAILED(hr)) return hr;
  return DescribeStream();
}

HRESULT ParsedSource::ChooseFrameRate(const std::atomic<bool>& stop) {
  if (kind_ == StreamFormat::Wav) return S_OK;
  if (fps_ > 0) {
    rate_ = RateOf(fps_);
    if (rate_.Known()) return S_OK;
  }
  rate_ = parser_->StatedFrameRate();
  if (!rate_.Known() && kind_ == StreamFormat::Mpeg4) {
    // The rate shows in the time stamps of the planes to come: read on, keeping what is read.
    size_t held = 0;
    auto hold = [&](const StreamUnit& unit) -> HRESULT {
      try {
        ahead_.push_back({std::vector<BYTE>(unit.data, unit.data + unit.size), unit});
      } catch (const std::bad_alloc&) {
        return Failed(E_OUTOFMEMORY, "out of memory");
      }
      held += unit.size;
      return S_OK;
    };
    HRESULT hr = hold(pending_);
    if (FAILED(hr)) return hr;
    have_pending_ = false;
    while (!rate_.Known() && ahead_.size() < kLookaheadUnits && held < kLookaheadBytes) {
      StreamUnit next;
      hr = Pull(&next, stop);
      if (FAILED(hr)) return hr;
      if (hr == S_FALSE) {
        rate_ = parser_->StatedFrameRate();
        break;
      }
      hr = hold(next);
      if (FAILED(hr)) return hr;
      rate_ = parser_->StatedFrameRate();
    }
  }
  if (!rate_.Known()) {
    rate_ = RateOf(kDefaultFramesPerSecond);
    Warn("no frame rate in " + input_.Name() + "; using 25 fps (set --fps)");
  }
  return S_OK;
}

REFERENCE_TIME ParsedSource::FieldTime(uint64_t fields) const {
  const unsigned __int128 t = static_cast<unsigned __int128>(fields) * 10000000u * rate_.den / (2u * uint64_t{rate_.num});
  return t > INT64_MAX ? INT64_MAX : static_cast<REFERENCE_TIME>(t);
}

HRESULT ParsedSource::DescribeStream() {
  const REFERENCE_TIME frameTime = kind_ == StreamFormat::Wav ? 0 : FieldTime(2);
  unsigned width = 0, height = 0;
  auto compressed = [&](REFGUID subtype, DWORD code) {
    format_ = VideoInfoFormat(subtype, code, width, height, frameTime, false);
    max_unit_ = std::max(kCompressedFloor, size_t{width} * height * kCompressedBytesPerPixel);
    unit_duration_ = frameTime;
  };
  switch (kind_) {
    case StreamFormat::H264: {
      const H264SequenceInfo* sps = static_cast<H264AccessUnitSplitter*>(parser_.get())->Sequence();
      if (!sps) return Failed(E_STREAM_INVALID_DATA, input_.Name() + ": no sequence parameter set before the first IDR");
      width = sps->width, height = sps->height;
      compressed(MEDIASUBTYPE_H264_INPUT, FourCC("H264"));
      break;
    }
    case StreamFormat::Mpeg4: {
      const Mpeg4LayerInfo* vol = static_cast<Mpeg4VopSplitter*>(parser_.get())->Layer();
      if (!vol) return Failed(E_STREAM_INVALID_DATA, input_.Name() + ": no video object layer header before the first plane");
      width = vol->width, height = vol->height;
      compressed(MEDIASUBTYPE_xvid, FourCC("xvid"));
      break;
    }
    case StreamFormat::Mjpeg: {
      auto* mjpeg = static_cast<MjpegFrameSplitter*>(parser_.get());
      width = mjpeg->Width(), height = mjpeg->Height();
      compressed(MEDIASUBTYPE_MJPG, FourCC("MJPG"));
      break;
    }
    case StreamFormat::Y4m: {
      const Y4mStreamInfo& info = static_cast<Y4mReader*>(parser_.get())->Info();
      width = info.width, height = info.height;
      format_ = VideoInfoFormat(MEDIASUBTYPE_IYUV, FourCC("IYUV"), width, height, frameTime, true);
      max_unit_ = info.frame_size;
      unit_duration_ = frameTime;
      break;
    }
    case StreamFormat::Wav: {
      auto* wav = static_cast<WavReader*>(parser_.get());
      format_ = WaveFormat(wav->Format());
      max_unit_ = wav->BlockBytes();
      // The first block is a full one unless the whole input is shorter.
      unit_duration_ = pending_.stop > pending_.start ? pending_.stop - pending_.start : 200000;
      break;
    }
  }
  if (kind_ != StreamFormat::Wav && (width == 0 || height == 0 || width > 16384 || height > 16384))
    return Failed(E_STREAM_INVALID_DATA, input_.Name() + ": picture size " + std::to_string(width) + "x" +
                                             std::to_string(height) + " is not supported");
  return S_OK;
}

HRESULT ParsedSource::Next(MediaUnit* unit, const std::atomic<bool>& stop) {
  StreamUnit found;
  if (have_pending_) {
    found = pending_;
    have_pending_ = false;
  } else if (!ahead_.empty()) {
    current_ = std::move(ahead_.front());
    ahead_.pop_front();
    found = current_.unit;
    found.data = current_.bytes.data();
  } else {
    HRESULT hr = Pull(&found, stop);
    if (hr != S_OK) return hr;
  }
  if (found.size > max_unit_)
    return Failed(E_STREAM_INVALID_DATA, input_.Name() + ": a " + StreamFormatName(kind_) + " unit of " +
                                             std::to_string(found.size) + " bytes is larger than the " +
                                             std::to_string(max_unit_) + " bytes its picture size allows");
  unit->data = found.data;
  unit->size = found.size;
  unit->sync = found.sync;
  unit->timed = true;
  if (kind_ == StreamFormat::Wav) {
    unit->start = found.start;
    unit->stop = found.stop;
  } else {
    unit->start = FieldTime(fields_);
    fields_ += found.fields;
    unit->stop = FieldTime(fields_);
  }
  return S_OK;
}
