#include "recorder/key_frame_scan.h"

namespace key_frame_scan {
namespace {

bool IsStartCode(const uint8_t* bytes, size_t i) { return bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1; }

// One past the last start position of the scan window.
size_t ScanEnd(size_t length) { return length > 5 ? length - 5 : 0; }

uint8_t NalType(uint8_t byte) { return byte & 0x1F; }

}  // namespace

ptrdiff_t FindH264Idr(const uint8_t* bytes, size_t length) {
  for (size_t i = 0; i < ScanEnd(length); ++i)
    if (IsStartCode(bytes, i) && NalType(bytes[i + 3]) == kH264Idr) return static_cast<ptrdiff_t>(i);
  return -1;
}

ptrdiff_t FindMpeg4Vop(const uint8_t* bytes, size_t length) {
  for (size_t i = 0; i < ScanEnd(length); ++i)
    if (IsStartCode(bytes, i) && bytes[i + 3] == kMpeg4VopCode) return static_cast<ptrdiff_t>(i);
  return -1;
}

bool IsH264RotationPoint(const uint8_t* bytes, size_t length) {
  if (length < 5) return false;
  for (size_t i = 0; i < ScanEnd(length); ++i) {
    if (!IsStartCode(bytes, i)) continue;
    uint8_t type = NalType(bytes[i + 3]);
    if (type == kH264Idr || type == kH264Sps || type == kH264Pps) return true;
    // Encoders that open every access unit with a delimiter put the key frame behind it.
    if (type == kH264AccessUnitDelimiter) return FindH264Idr(bytes + i + 3, length - i - 3) >= 0;
    return false;
  }
  return false;
}

bool IsMpeg4RotationPoint(const uint8_t* bytes, size_t length) {
  if (length < 5) return false;
  ptrdiff_t vop = FindMpeg4Vop(bytes, length);
  // vop_coding_type, the two bits after the start code: 00 is an intra-coded plane. The scan
  // window leaves that byte inside the sample.
  return vop >= 0 && (bytes[vop + 4] >> 6) == 0;
}

}  // namespace key_frame_scan
