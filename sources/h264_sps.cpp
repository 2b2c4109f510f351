#include "sources/h264_sps.h"

#include "sources/bit_reader.h"

namespace {

// High profiles and their relatives carry chroma format, bit depths and scaling matrices.
bool HasChromaFields(unsigned profile) {
  switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128:
    case 138: case 139: case 134: case 135:
      return true;
    default:
      return false;
  }
}

bool SkipScalingList(BitReader& bits, unsigned count) {
  int last = 8, next = 8;
  for (unsigned j = 0; j < count && !bits.Overrun(); ++j) {
    if (next != 0) {
      int delta = bits.Se();
      if (delta < -128 || delta > 127) return false;
      next = (last + delta + 256) % 256;
    }
    if (next != 0) last = next;
  }
  return true;
}

// hrd_parameters(): only the delay lengths that the picture timing SEI depends on are kept.
void ReadHrd(BitReader& bits, H264SequenceInfo* sps) {
  unsigned count = bits.Ue() + 1;
  if (count > 32) {
    bits.Skip(UINT32_MAX);  // out of range: treat as cut short, so the timing is not trusted
    return;
  }
  bits.Skip(8);  // bit_rate_scale, cpb_size_scale
  for (unsigned i = 0; i < count && !bits.Overrun(); ++i) {
    bits.Ue();
    bits.Ue();
    bits.Skip(1);
  }
  bits.Skip(5);  // initial_cpb_removal_delay_length_minus1
  sps->cpb_removal_delay_length = bits.Bits(5) + 1;
  sps->dpb_output_delay_length = bits.Bits(5) + 1;
  bits.Skip(5);  // time_offset_length
}

// vui_parameters() up to pic_struct_present_flag. A stream whose VUI is cut short or malformed
// still records; it only loses its timing.
void ReadTiming(BitReader& bits, H264SequenceInfo* sps) {
  if (!bits.Bit()) return;  // vui_parameters_present_flag
  H264SequenceInfo vui = *sps;
  if (bits.Bit() && bits.Bits(8) == 255) bits.Skip(32);  // aspect ratio, extended
  if (bits.Bit()) bits.Skip(1);                          // overscan
  if (bits.Bit()) {                                      // video signal type
    bits.Skip(4);
    if (bits.Bit()) bits.Skip(24);  // colour description
  }
  if (bits.Bit()) {  // chroma sample location
    bits.Ue();
    bits.Ue();
  }
  if (bits.Bit()) {  // timing_info_present_flag
    vui.num_units_in_tick = bits.Bits(32);
    vui.time_scale = bits.Bits(32);
    vui.fixed_frame_rate = bits.Bit();
  }
  bool nal_hrd = bits.Bit();
  if (nal_hrd) ReadHrd(bits, &vui);
  bool vcl_hrd = bits.Bit();
  if (vcl_hrd) ReadHrd(bits, &vui);
  vui.cpb_dpb_delays_present = nal_hrd || vcl_hrd;
  if (vui.cpb_dpb_delays_present) bits.Skip(1);  // low_delay_hrd_flag
  vui.pic_struct_present = bits.Bit();
  if (bits.Overrun()) return;
  *sps = vui;
}

}  // namespace

FramesPerSecond H264FrameRate(const H264SequenceInfo& sps) {
  if (sps.num_units_in_tick == 0 || sps.time_scale == 0) return {};
  // Frames per second: time_scale / (2 * num_units_in_tick), in 64 bits then reduced.
  uint64_t num = sps.time_scale, den = uint64_t{2} * sps.num_units_in_tick;
  uint64_t a = num, b = den;
  while (b) {
    uint64_t t = a % b;
    a = b;
    b = t;
  }
  num /= a;
  den /= a;
  if (den > UINT32_MAX) return {};
  // Beyond what any camera gives: a stream that says so is not to be believed.
  if (num > den * 1000 || num * 1000 < den) return {};
  return {static_cast<uint32_t>(num), static_cast<uint32_t>(den)};
}

bool ParseH264Sps(const BYTE* nal, size_t size, H264SequenceInfo* info, std::string* error) {
  auto fail = [&](const char* why) {
    *error = std::string("H.264 sequence parameter set: ") + why;
    return false;
  };
  if (size < 4 || (nal[0] & 0x1F) != 7) return fail("too short");
  BitReader bits(nal + 1, size - 1, /*skip_emulation=*/true);
  H264SequenceInfo sps;
  sps.profile_idc = bits.Bits(8);
  bits.Skip(8);  // constraint flags
  sps.level_idc = bits.Bits(8);
  sps.sps_id = bits.Ue();
  if (sps.sps_id > 31) return fail("identifier out of range");

  bool separate_colour_planes = false;
  if (HasChromaFields(sps.profile_idc)) {
    sps.chroma_format_idc = bits.Ue();
    if (sps.chroma_format_idc > 3) return fail("chroma format out of range");
    if (sps.chroma_format_idc == 3) separate_colour_planes = bits.Bit();
    if (bits.Ue() > 6 || bits.Ue() > 6) return fail("bit depth out of range");
    bits.Skip(1);  // qpprime_y_zero_transform_bypass_flag
    if (bits.Bit()) {  // seq_scaling_matrix_present_flag
      unsigned lists = sps.chroma_format_idc == 3 ? 12 : 8;
      for (unsigned i = 0; i < lists && !bits.Overrun(); ++i)
        if (bits.Bit() && !SkipScalingList(bits, i < 6 ? 16 : 64)) return fail("bad scaling list");
    }
  }
  const unsigned frame_num_bits = bits.Ue();
  if (frame_num_bits > 12) return fail("log2_max_frame_num out of range");
  sps.log2_max_frame_num = frame_num_bits + 4;
  sps.separate_colour_planes = separate_colour_planes;
  unsigned poc_type = bits.Ue();
  if (poc_type == 0) {
    if (bits.Ue() > 12) return fail("log2_max_pic_order_cnt_lsb out of range");
  } else if (poc_type == 1) {
    bits.Skip(1);
    bits.Se();
    bits.Se();
    unsigned cycle = bits.Ue();
    if (cycle > 255) return fail("picture order cycle too long");
    for (unsigned i = 0; i < cycle && !bits.Overrun(); ++i) bits.Se();
  } else if (poc_type != 2) {
    return fail("picture order count type out of range");
  }
  bits.Ue();     // max_num_ref_frames
  bits.Skip(1);  // gaps_in_frame_num_value_allowed_flag
  uint32_t width_mbs = bits.Ue();
  uint32_t height_map_units = bits.Ue();
  sps.frame_mbs_only = bits.Bit();
  if (!sps.frame_mbs_only) bits.Skip(1);  // mb_adaptive_frame_field_flag
  bits.Skip(1);                           // direct_8x8_inference_flag
  uint32_t crop[4] = {0, 0, 0, 0};        // left, right, top, bottom
  if (bits.Bit())
    for (uint32_t& c : crop) c = bits.Ue();
  if (bits.Overrun()) return fail("truncated");

  // 16384 pixels a side is far beyond every level; it also keeps the sums below in range.
  if (width_mbs >= 1024 || height_map_units >= 1024) return fail("picture too large");
  uint64_t coded_width = (uint64_t{width_mbs} + 1) * 16;
  uint64_t coded_height = (uint64_t{height_map_units} + 1) * 16 * (sps.frame_mbs_only ? 1 : 2);
  unsigned crop_x = 1, crop_y = sps.frame_mbs_only ? 1 : 2;
  if (!separate_colour_planes && sps.chroma_format_idc != 0) {
    crop_x = sps.chroma_format_idc == 3 ? 1 : 2;
    crop_y *= sps.chroma_format_idc == 1 ? 2 : 1;
  }
  uint64_t crop_w = (uint64_t{crop[0]} + crop[1]) * crop_x;
  uint64_t crop_h = (uint64_t{crop[2]} + crop[3]) * crop_y;
  if (crop_w >= coded_width || crop_h >= coded_height) return fail("cropping larger than the picture");
  sps.width = static_cast<unsigned>(coded_width - crop_w);
  sps.height = static_cast<unsigned>(coded_height - crop_h);
  ReadTiming(bits, &sps);
  *info = sps;
  return true;
}
