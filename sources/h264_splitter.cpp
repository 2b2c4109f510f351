#include "sources/h264_splitter.h"

#include "sources/bit_reader.h"

namespace {

enum NalType : unsigned {
  kSlice = 1, kPartitionA = 2, kPartitionC = 4, kIdrSlice = 5, kSei = 6, kSps = 7, kPps = 8,
  kDelimiter = 9, kPrefixFirst = 14, kPrefixLast = 18,
};

// Field periods a picture is shown for, by its pic_struct: field, frame, frame with a repeated
// field, doubled and tripled frames.
constexpr unsigned kPicStructFields[9] = {2, 1, 1, 2, 2, 3, 3, 4, 6};

}  // namespace

void H264AccessUnitSplitter::ReadSliceHeader(const BYTE* nal, size_t size) {
  if (!have_sequence_ || sequence_.frame_mbs_only) return;
  BitReader bits(nal + 1, size - 1, /*skip_emulation=*/true);
  bits.Ue();  // first_mb_in_slice
  bits.Ue();  // slice_type
  bits.Ue();  // pic_parameter_set_id
  if (sequence_.separate_colour_planes) bits.Skip(2);
  bits.Skip(sequence_.log2_max_frame_num);  // frame_num
  bool field = bits.Bit() != 0;
  if (!bits.Overrun()) field_picture_ = field;
}

void H264AccessUnitSplitter::ReadSei(const BYTE* nal, size_t size) {
  if (!have_sequence_ || !sequence_.pic_struct_present) return;
  BitReader bits(nal + 1, size - 1, /*skip_emulation=*/true);
  // Messages until the trailing bits; each a type and a size in the FF-extended byte form.
  for (unsigned message = 0; message < 64 && !bits.Overrun(); ++message) {
    uint32_t type = 0, length = 0, byte;
    while ((byte = bits.Bits(8)) == 0xFF && !bits.Overrun()) type += 255;
    type += byte;
    while ((byte = bits.Bits(8)) == 0xFF && !bits.Overrun()) length += 255;
    length += byte;
    if (bits.Overrun()) return;
    if (type == 1) {  // picture timing
      if (sequence_.cpb_dpb_delays_present)
        bits.Skip(sequence_.cpb_removal_delay_length + sequence_.dpb_output_delay_length);
      uint32_t pic_struct = bits.Bits(4);
      if (!bits.Overrun() && pic_struct < 9) sei_fields_ = kPicStructFields[pic_struct];
      return;
    }
    if (length > size) return;
    bits.Skip(length * 8);
  }
}

unsigned H264AccessUnitSplitter::UnitFields() const {
  if (sei_fields_) return sei_fields_;
  return field_picture_ ? 1 : 2;
}

HRESULT H264AccessUnitSplitter::Push(const BYTE* data, size_t size) {
  if (FAILED(failed_)) return failed_;
  if (finished_) return Fail(E_UNEXPECTED, "H.264: input after its end");
  HRESULT hr = queue_.Append(data, size);
  return FAILED(hr) ? Fail(hr, "H.264: out of memory") : S_OK;
}

HRESULT H264AccessUnitSplitter::AddNal(size_t header, size_t end, bool* begins_unit) {
  *begins_unit = false;
  if (header >= end) return S_OK;  // empty NAL unit: nothing to judge, it rides along
  const BYTE* nal = queue_.data() + header;
  size_t size = end - header;
  unsigned type = nal[0] & 0x1Fu;

  bool begins = false;
  last_nal_cut_ = false;
  if (type == kSlice || type == kPartitionA || type == kIdrSlice) {
    BitReader bits(nal + 1, size - 1, /*skip_emulation=*/true);
    uint32_t first_mb = bits.Ue();
    bits.Ue();  // slice_type: a slice cut before it is surely torn
    last_nal_cut_ = bits.Overrun();
    // The first slice of a picture starts at macroblock 0; later slices of the same picture
    // stay in its unit.
    begins = has_slice_ && first_mb == 0;
  } else if (type == kDelimiter) {
    begins = nal_count_ > 0;
  } else if (type == kSei || type == kSps || type == kPps ||
             (type >= kPrefixFirst && type <= kPrefixLast)) {
    begins = has_slice_;
  }
  if (begins) {
    *begins_unit = true;
    nal_count_ = 0;
    has_slice_ = has_idr_ = field_picture_ = false;
    sei_fields_ = 0;
  }
  if ((type == kSlice || type == kPartitionA || type == kIdrSlice) && !has_slice_) ReadSliceHeader(nal, size);
  if (type == kSei) ReadSei(nal, size);
  ++nal_count_;
  if (type >= kSlice && type <= kIdrSlice) has_slice_ = true;
  if (type == kIdrSlice) has_idr_ = true;
  if (type == kSps) {
    H264SequenceInfo sps;
    std::string why;
    if (!ParseH264Sps(nal, size, &sps, &why)) return Fail(E_STREAM_INVALID_DATA, why);
    sequence_ = sps;
    have_sequence_ = true;
  }
  return S_OK;
}

void H264AccessUnitSplitter::Emit(size_t size, StreamUnit* unit) {
  *unit = StreamUnit{};
  unit->data = queue_.data();
  unit->size = size;
  consumed_ = size;
  ++units_;
}

HRESULT H264AccessUnitSplitter::Next(StreamUnit* unit) {
  if (FAILED(failed_)) return failed_;
  if (consumed_ > 0) {
    queue_.Consume(consumed_);
    if (nal_start_ != kNone) {
      nal_start_ -= consumed_;
      nal_header_ -= consumed_;
    }
    search_ = search_ > consumed_ ? search_ - consumed_ : 0;
    consumed_ = 0;
  }
  const size_t size = queue_.size();
  if (drained_) {
    if (size == 0) return S_FALSE;
    drained_ = false;  // nothing is left after this one
    nal_start_ = kNone;
    if (!has_slice_ || last_nal_cut_) {
      // Parameter sets or a delimiter with no picture after them, or a slice cut inside its first
      // fields: the input ended in front of the picture or just into it.
      Truncated("the input ends inside access unit " + std::to_string(units_));
      queue_.Consume(size);
      return S_FALSE;
    }
    Emit(size, unit);
    unit->sync = has_idr_;
    unit->fields = UnitFields();
    return S_OK;
  }

  for (;;) {
    size_t code = FindStartCode(queue_.data(), queue_.size(), search_);
    if (nal_start_ == kNone) {
      if (code == kNone) {
        if (finished_) {
          if (size == 0) return S_FALSE;
          return Fail(E_STREAM_INVALID_DATA, "H.264: no start code (00 00 01) in the input");
        }
        if (size > kMaxStreamUnitSize)
          return Fail(E_STREAM_INVALID_DATA, "H.264: no start code (00 00 01) in the input");
        search_ = size > 2 ? size - 2 : 0;
        return S_FALSE;
      }
      // Anything in front of the first start code (leading zero bytes) goes with the first unit.
      nal_start_ = code;
      while (nal_start_ > 0 && queue_[nal_start_ - 1] == 0) --nal_start_;
      nal_header_ = code + 3;
      search_ = nal_header_;
      continue;
    }

    size_t end, next_start;
    if (code != kNone) {
      // Zero bytes in front of a start code belong to the next NAL unit (its zero_byte and any
      // trailing zeros), but never the header byte of this one.
      end = code;
      size_t keep = code > nal_header_ ? nal_header_ + 1 : code;
      while (end > keep && queue_[end - 1] == 0) --end;
      next_start = end;
    } else if (finished_) {
      end = next_start = size;
    } else {
      if (size > kMaxStreamUnitSize)
        return Fail(E_STREAM_INVALID_DATA, "H.264: access unit larger than 64 MiB");
      search_ = size > nal_header_ + 2 ? size - 2 : nal_header_;
      return S_FALSE;
    }

    const size_t this_start = nal_start_;
    bool had_nals = nal_count_ > 0;
    bool was_idr = has_idr_;
    unsigned was_fields = UnitFields();
    bool begins;
    HRESULT hr = AddNal(nal_header_, end, &begins);
    if (FAILED(hr)) return hr;
    if (code != kNone) {
      nal_start_ = next_start;
      nal_header_ = code + 3;
      search_ = nal_header_;
    } else {
      drained_ = true;
    }
    if (begins && had_nals) {
      Emit(this_start, unit);
      unit->sync = was_idr;
      unit->fields = was_fields;
      return S_OK;
    }
    if (drained_) return Next(unit);
  }
}
