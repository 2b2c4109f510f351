// A growable byte buffer with a consumed front, for parsers that hold a unit in progress.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/win/status.h"
#include "platform/win/types.h"

class ByteQueue {
 public:
  // Appends; E_OUTOFMEMORY when the buffer cannot grow.
  HRESULT Append(const BYTE* data, size_t size);
  // Drops n bytes from the front (n <= size()).
  void Consume(size_t n);

  const BYTE* data() const { return bytes_.data() + begin_; }
  size_t size() const { return bytes_.size() - begin_; }
  bool empty() const { return size() == 0; }
  BYTE operator[](size_t i) const { return bytes_[begin_ + i]; }

 private:
  std::vector<BYTE> bytes_;
  size_t begin_ = 0;
};
