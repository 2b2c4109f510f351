// MSB-first bit reading over a byte range, with the exp-Golomb codes of H.264. Reading past the
// end never touches memory outside the range: it sets a sticky overrun flag and yields zeros,
// so a parser reads a whole header and checks Overrun() once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win/types.h"

class BitReader {
 public:
  // With skip_emulation set, the H.264 emulation prevention byte (00 00 03) is dropped on the
  // fly, so the reader sees the raw payload of a NAL unit.
  BitReader(const BYTE* data, size_t size, bool skip_emulation = false)
      : data_(data), size_(size), skip_emulation_(skip_emulation) {}

  uint32_t Bit();
  uint32_t Bits(unsigned count);  // count <= 32
  void Skip(unsigned count);
  uint32_t Ue();  // unsigned exp-Golomb; a code longer than 32 bits sets the overrun flag
  int32_t Se();

  bool Overrun() const { return overrun_; }
  bool ByteAligned() const { return bit_ == 0; }

 private:
  bool LoadByte();

  const BYTE* data_;
  size_t size_;
  bool skip_emulation_;
  size_t pos_ = 0;
  unsigned zeros_ = 0;  // zero bytes just read, for emulation prevention
  uint32_t current_ = 0;
  unsigned bit_ = 0;  // bits of current_ already used; 0 means load the next byte
  bool overrun_ = false;
};
