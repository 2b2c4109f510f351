// The parts of an H.264 sequence parameter set that give the picture size.
#pragma once

#include <cstddef>
#include <string>

#include "platform/win/types.h"

struct H264SequenceInfo {
  unsigned profile_idc = 0;
  unsigned level_idc = 0;
  unsigned sps_id = 0;
  unsigned chroma_format_idc = 1;
  bool frame_mbs_only = true;
  // Displayed size: the coded macroblocks less the frame cropping.
  unsigned width = 0;
  unsigned height = 0;
};

// Parses a sequence parameter set NAL unit (header byte included, start code excluded).
// On failure returns false and says why in *error.
bool ParseH264Sps(const BYTE* nal, size_t size, H264SequenceInfo* info, std::string* error);
