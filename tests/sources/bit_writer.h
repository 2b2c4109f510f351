// Builds headers bit by bit for the parser tests: the few fields a case is about, written as an
// encoder would, instead of opaque hex.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win/types.h"

class BitWriter {
 public:
  BitWriter& Bits(uint32_t value, unsigned count) {
    for (unsigned i = count; i-- > 0;) Bit((value >> i) & 1u);
    return *this;
  }
  BitWriter& Bit(uint32_t bit) {
    if (used_ == 0) bytes_.push_back(0);
    if (bit) bytes_.back() |= static_cast<BYTE>(0x80u >> used_);
    used_ = (used_ + 1) & 7u;
    return *this;
  }
  BitWriter& Ue(uint32_t value) {
    uint64_t code = uint64_t{value} + 1;
    unsigned length = 0;
    while ((code >> length) > 1) ++length;
    Bits(0, length);
    for (unsigned i = length + 1; i-- > 0;) Bit(static_cast<uint32_t>((code >> i) & 1u));
    return *this;
  }
  // H.264 rbsp_trailing_bits.
  BitWriter& Trailing() {
    Bit(1);
    while (used_) Bit(0);
    return *this;
  }
  // MPEG-4 next_start_code stuffing: a zero, then ones to the byte boundary.
  BitWriter& Stuffing() {
    Bit(0);
    while (used_) Bit(1);
    return *this;
  }
  // The bytes behind a start code (00 00 01) and `code`, with H.264 emulation prevention when asked.
  std::vector<BYTE> WithStartCode(BYTE code, bool emulation = false) const {
    std::vector<BYTE> out = {0, 0, 0, 1, code};
    unsigned zeros = 0;
    for (BYTE b : bytes_) {
      if (emulation && zeros >= 2 && b <= 3) {
        out.push_back(3);
        zeros = 0;
      }
      out.push_back(b);
      zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
  }

 private:
  std::vector<BYTE> bytes_;
  unsigned used_ = 0;
};
