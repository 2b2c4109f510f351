// The parts of an H.264 sequence parameter set that give the picture size, its timing, and what
// is needed to read the field flags of slice headers and the picture timing of SEI messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win/types.h"
#include "sources/stream_parser.h"

struct H264SequenceInfo {
  unsigned profile_idc = 0;
  unsigned level_idc = 0;
  unsigned sps_id = 0;
  unsigned chroma_format_idc = 1;
  bool frame_mbs_only = true;
  // Displayed size: the coded macroblocks less the frame cropping.
  unsigned width = 0;
  unsigned height = 0;
  bool separate_colour_planes = false;
  unsigned log2_max_frame_num = 4;
  // Timing information: a tick lasts num_units_in_tick / time_scale seconds, a field one tick and
  // a frame two. Zero when the stream carries none.
  uint32_t num_units_in_tick = 0;
  uint32_t time_scale = 0;
  bool fixed_frame_rate = false;
  // Picture timing SEI layout: the two delays in front of pic_struct, when present.
  bool cpb_dpb_delays_present = false;
  unsigned cpb_removal_delay_length = 0;
  unsigned dpb_output_delay_length = 0;
  bool pic_struct_present = false;
};

// Parses a sequence parameter set NAL unit (header byte included, start code excluded).
// On failure returns false and says why in *error.
bool ParseH264Sps(const BYTE* nal, size_t size, H264SequenceInfo* info, std::string* error);

// The frame rate the timing information states; unknown without it, or when it is beyond belief.
FramesPerSecond H264FrameRate(const H264SequenceInfo& sps);
