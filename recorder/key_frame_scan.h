// Byte scans of video samples: where the first key frame starts (everything before it is the
// stream header a new file needs), and whether a sample may begin a file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace key_frame_scan {

constexpr uint8_t kH264Idr = 5;
constexpr uint8_t kH264Sps = 7;
constexpr uint8_t kH264Pps = 8;
constexpr uint8_t kH264AccessUnitDelimiter = 9;
constexpr uint8_t kMpeg4VopCode = 0xB6;

// Scans start positions 0 .. length-6: a four-byte pattern must begin before length-5, and a
// sample of 5 bytes or fewer has no position to look at. Returns the offset of the first
// 00 00 01 whose NAL unit type is an IDR slice, or -1.
ptrdiff_t FindH264Idr(const uint8_t* bytes, size_t length);
// Offset of the first 00 00 01 B6 (video object plane), or -1.
ptrdiff_t FindMpeg4Vop(const uint8_t* bytes, size_t length);

// A sample whose first start code carries an IDR slice or a parameter set, or which begins with an
// access unit delimiter followed by an IDR slice in the same sample.
bool IsH264RotationPoint(const uint8_t* bytes, size_t length);
// A sample of 5 bytes or more whose first video object plane is intra-coded.
bool IsMpeg4RotationPoint(const uint8_t* bytes, size_t length);

}  // namespace key_frame_scan
