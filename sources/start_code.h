// The 00 00 01 start code scan shared by the H.264 and MPEG-4 video splitters.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/win/types.h"

constexpr size_t kNoStartCode = static_cast<size_t>(-1);

// Position of the first 00 00 01 that begins at or after `from` in bytes[0, size), or
// kNoStartCode. Looks for the 01 and then checks the two zeros in front: 01 is rare in coded
// data, so memchr skips most of the bytes. Safe for any `from`, past the end included.
inline size_t FindStartCode(const BYTE* bytes, size_t size, size_t from) {
  if (from > size) return kNoStartCode;
  size_t pos = from + 2;
  while (pos < size) {
    const void* hit = std::memchr(bytes + pos, 0x01, size - pos);
    if (!hit) return kNoStartCode;
    pos = static_cast<size_t>(static_cast<const BYTE*>(hit) - bytes);
    if (bytes[pos - 1] == 0 && bytes[pos - 2] == 0) return pos - 2;
    ++pos;
  }
  return kNoStartCode;
}
