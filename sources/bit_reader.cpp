#include "sources/bit_reader.h"

bool BitReader::LoadByte() {
  if (skip_emulation_ && zeros_ >= 2 && pos_ < size_ && data_[pos_] == 0x03) {
    ++pos_;
    zeros_ = 0;
  }
  if (pos_ >= size_) {
    overrun_ = true;
    current_ = 0;
    return false;
  }
  current_ = data_[pos_++];
  zeros_ = current_ == 0 ? zeros_ + 1 : 0;
  return true;
}

uint32_t BitReader::Bit() {
  if (bit_ == 0) LoadByte();
  uint32_t value = (current_ >> (7 - bit_)) & 1u;
  bit_ = (bit_ + 1) & 7u;
  return value;
}

uint32_t BitReader::Bits(unsigned count) {
  uint32_t value = 0;
  for (unsigned i = 0; i < count && i < 32; ++i) value = (value << 1) | Bit();
  return value;
}

void BitReader::Skip(unsigned count) {
  for (unsigned i = 0; i < count && !overrun_; ++i) Bit();
}

uint32_t BitReader::Ue() {
  unsigned leading = 0;
  while (Bit() == 0) {
    if (overrun_ || ++leading > 31) {
      overrun_ = true;
      return 0;
    }
  }
  if (leading == 0) return 0;
  uint64_t value = (uint64_t{1} << leading) - 1 + Bits(leading);
  if (value > UINT32_MAX) {
    overrun_ = true;
    return 0;
  }
  return static_cast<uint32_t>(value);
}

int32_t BitReader::Se() {
  uint32_t code = Ue();
  // 1, 2, 3, 4... map to 1, -1, 2, -2...
  int64_t magnitude = (static_cast<int64_t>(code) + 1) / 2;
  return static_cast<int32_t>((code & 1u) ? magnitude : -magnitude);
}
