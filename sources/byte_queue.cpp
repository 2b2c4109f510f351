#include "sources/byte_queue.h"

#include <cstring>
#include <new>
#include <stdexcept>

HRESULT ByteQueue::Append(const BYTE* data, size_t size) {
  if (size == 0) return S_OK;
  try {
    // Move the live bytes to the front before growing, so a long stream does not grow the
    // buffer past about twice the largest unit.
    if (begin_ > 0 && bytes_.size() + size > bytes_.capacity()) {
      bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(begin_));
      begin_ = 0;
    }
    bytes_.insert(bytes_.end(), data, data + size);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::length_error&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void ByteQueue::Consume(size_t n) {
  begin_ += n < size() ? n : size();
  if (begin_ == bytes_.size()) {
    bytes_.clear();
    begin_ = 0;
  }
}
