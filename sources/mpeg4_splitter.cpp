#include "sources/mpeg4_splitter.h"

#include "sources/bit_reader.h"

namespace {

constexpr BYTE kVopCode = 0xB6;
constexpr BYTE kSequenceEndCode = 0xB1;
constexpr unsigned kRectangular = 0, kGrayscale = 3;

bool IsLayerCode(BYTE code) { return code >= 0x20 && code <= 0x2F; }
// Planes with a step between their time stamps before the smallest step is taken as a frame.
constexpr unsigned kStepsToJudge = 8;

FramesPerSecond Reduced(uint32_t num, uint32_t den) {
  uint32_t a = num, b = den;
  while (b) {
    uint32_t t = a % b;
    a = b;
    b = t;
  }
  if (a == 0) return {};
  num /= a;
  den /= a;
  if (num > uint64_t{den} * 1000) return {};  // beyond belief, as for H.264
  return {num, den};
}

}  // namespace

bool ParseMpeg4Vol(const BYTE* data, size_t size, Mpeg4LayerInfo* info, std::string* error) {
  auto fail = [&](const char* why) {
    *error = std::string("MPEG-4 video object layer header: ") + why;
    return false;
  };
  BitReader bits(data, size);
  bits.Skip(1);  // random_accessible_vol
  bits.Skip(8);  // video_object_type_indication
  unsigned verid = 1;
  if (bits.Bit()) {  // is_object_layer_identifier
    verid = bits.Bits(4);
    bits.Skip(3);
  }
  if (bits.Bits(4) == 0xF) bits.Skip(16);  // extended pixel aspect ratio
  if (bits.Bit()) {                        // vol_control_parameters
    bits.Skip(2 + 1);                      // chroma_format, low_delay
    if (bits.Bit()) bits.Skip(15 + 1 + 15 + 1 + 15 + 1 + 3 + 11 + 1 + 15 + 1);  // vbv parameters
  }
  unsigned shape = bits.Bits(2);
  if (shape == kGrayscale && verid != 1) bits.Skip(4);
  bits.Skip(1);  // marker
  unsigned resolution = bits.Bits(16);
  bits.Skip(1);  // marker
  // vop_time_increment is as wide as the resolution needs.
  unsigned increment_bits = 1;
  while (increment_bits < 16 && (1u << increment_bits) < resolution) ++increment_bits;
  unsigned fixed_increment = 0;
  if (bits.Bit()) fixed_increment = bits.Bits(increment_bits);  // fixed_vop_rate
  if (shape != kRectangular) return fail("only rectangular shapes are supported");
  bits.Skip(1);
  unsigned width = bits.Bits(13);
  bits.Skip(1);
  unsigned height = bits.Bits(13);
  if (bits.Overrun()) return fail("truncated");
  if (resolution == 0) return fail("zero time increment resolution");
  if (width == 0 || height == 0) return fail("zero picture size");
  info->width = width;
  info->height = height;
  info->time_increment_resolution = resolution;
  info->time_increment_bits = increment_bits;
  info->fixed_increment = fixed_increment;
  return true;
}

FramesPerSecond Mpeg4VopSplitter::StatedFrameRate() const {
  if (!have_layer_) return {};
  if (layer_.fixed_increment) return Reduced(layer_.time_increment_resolution, layer_.fixed_increment);
  if (smallest_step_ && (steps_ >= kStepsToJudge || finished_))
    return Reduced(layer_.time_increment_resolution, smallest_step_);
  return {};
}

void Mpeg4VopSplitter::ResetEstimate() {
  have_increment_ = false;
  smallest_step_ = steps_ = 0;
}

// The plane's header: not coded planes take no time; coded ones feed the frame step estimate.
void Mpeg4VopSplitter::ReadPlaneHeader(size_t end, StreamUnit* unit) {
  plane_cut_ = false;
  if (!have_layer_) return;
  BitReader bits(queue_.data() + plane_start_ + 4, end - plane_start_ - 4);
  bits.Skip(2);  // vop_coding_type
  while (bits.Bit() && !bits.Overrun()) {  // modulo_time_base: whole seconds, not needed
  }
  bits.Skip(1);  // marker
  unsigned increment = bits.Bits(layer_.time_increment_bits);
  bits.Skip(1);  // marker
  bool coded = bits.Bit() != 0;
  plane_cut_ = bits.Overrun();
  if (plane_cut_) return;
  if (!coded) {
    unit->fields = 0;
    return;
  }
  const unsigned resolution = layer_.time_increment_resolution;
  if (have_increment_ && increment < resolution && last_increment_ < resolution) {
    // The step modulo a second, either way: B-planes step back.
    unsigned forward = (increment + resolution - last_increment_) % resolution;
    unsigned step = forward * 2 <= resolution ? forward : resolution - forward;
    if (step > 0) {
      if (smallest_step_ == 0 || step < smallest_step_) smallest_step_ = step;
      ++steps_;
    }
  }
  have_increment_ = true;
  last_increment_ = increment;
}

HRESULT Mpeg4VopSplitter::Push(const BYTE* data, size_t size) {
  if (FAILED(failed_)) return failed_;
  if (finished_) return Fail(E_UNEXPECTED, "MPEG-4: input after its end");
  HRESULT hr = queue_.Append(data, size);
  return FAILED(hr) ? Fail(hr, "MPEG-4: out of memory") : S_OK;
}

void Mpeg4VopSplitter::Emit(size_t size, bool sync, StreamUnit* unit) {
  *unit = StreamUnit{};
  unit->data = queue_.data();
  unit->size = size;
  unit->sync = sync;
  consumed_ = size;
  any_plane_ = any_plane_ || has_plane_;
  if (has_plane_) ReadPlaneHeader(size, unit);
  ++planes_;
}

HRESULT Mpeg4VopSplitter::Next(StreamUnit* unit) {
  if (FAILED(failed_)) return failed_;
  if (consumed_ > 0) {
    queue_.Consume(consumed_);
    search_ = search_ > consumed_ ? search_ - consumed_ : 0;
    consumed_ = 0;
    has_plane_ = intra_ = false;
    layer_start_ = kNone;
  }
  const size_t size = queue_.size();
  for (;;) {
    size_t code = FindStartCode(queue_.data(), queue_.size(), search_);
    // The start code value, and for a plane its coding type, must be in before judging it.
    size_t needed = code == kNone ? 0 : code + 5;
    if (code == kNone || needed > size) {
      if (!finished_) {
        if (size > kMaxStreamUnitSize)
          return Fail(E_STREAM_INVALID_DATA, "MPEG-4: video object plane larger than 64 MiB");
        if (code == kNone) search_ = size > search_ + 2 ? size - 2 : search_;
        return S_FALSE;
      }
      if (code != kNone && code + 4 <= size && queue_[code + 3] != kVopCode) {
        // A header start code in the last bytes: judged like any other below.
      } else {
        if (size == 0) return S_FALSE;
        if (!has_plane_ && !any_plane_)
          return Fail(E_STREAM_INVALID_DATA, "MPEG-4: no video object plane (00 00 01 B6) in the input");
        // A start code in the last bytes begins a plane cut short: the plane in front is whole.
        if (code != kNone && has_plane_) {
          Emit(code, intra_, unit);
          return S_OK;
        }
        const std::string torn = "the input ends inside video object plane " + std::to_string(planes_);
        if (!has_plane_ || code != kNone) {
          Truncated(torn);
          queue_.Consume(size);
          return S_FALSE;
        }
        Emit(size, intra_, unit);
        if (plane_cut_) {
          Truncated(torn);
          return S_FALSE;  // the unit's bytes go at the next call
        }
        return S_OK;
      }
    }
    BYTE value = queue_[code + 3];
    if (has_plane_ && value != kSequenceEndCode) {
      Emit(code, intra_, unit);
      return S_OK;
    }
    search_ = code + 3;
    if (IsLayerCode(value)) {
      layer_start_ = code;
    } else if (value == kVopCode) {
      if (layer_start_ != kNone) {
        std::string why;
        Mpeg4LayerInfo layer;
        if (!ParseMpeg4Vol(queue_.data() + layer_start_ + 4, code - layer_start_ - 4, &layer, &why))
          return Fail(E_STREAM_INVALID_DATA, why);
        if (have_layer_ && (layer.time_increment_resolution != layer_.time_increment_resolution))
          ResetEstimate();  // a new time base: start over
        layer_ = layer;
        have_layer_ = true;
        layer_start_ = kNone;
      }
      has_plane_ = true;
      plane_start_ = code;
      intra_ = (queue_[code + 4] >> 6) == 0;
    }
  }
}
