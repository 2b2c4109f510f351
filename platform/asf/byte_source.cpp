#include "platform/asf/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace asf {

ByteSource::~ByteSource() { Close(); }

void ByteSource::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  memory_ = nullptr;
  size_ = 0;
  blockBytes_ = 0;
  blockStart_ = 0;
}

void ByteSource::SetFile(int fd, uint64_t size) {
  Close();
  fd_ = fd;
  size_ = size;
}

void ByteSource::SetMemory(const uint8_t* data, uint64_t size) {
  Close();
  static const uint8_t kEmpty = 0;
  memory_ = data ? data : &kEmpty;
  size_ = data ? size : 0;
}

bool ByteSource::ReadAt(uint64_t offset, void* out, size_t size) const {
  if (offset > size_ || size > size_ - offset) return false;
  if (memory_) {
    if (size) std::memcpy(out, memory_ + offset, size);
    return true;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd_, static_cast<uint8_t*>(out) + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

const uint8_t* ByteSource::View(uint64_t offset, size_t size) {
  if (offset > size_ || size > size_ - offset) return nullptr;
  if (memory_) return memory_ + offset;
  if (offset >= blockStart_ && offset - blockStart_ <= blockBytes_ && size <= blockBytes_ - (offset - blockStart_))
    return block_.data() + (offset - blockStart_);
  const size_t want = static_cast<size_t>(std::min<uint64_t>(std::max(size, kBlockSize), size_ - offset));
  if (block_.size() < want) block_.resize(want);
  blockBytes_ = 0;
  if (!ReadAt(offset, block_.data(), want)) return nullptr;
  blockStart_ = offset;
  blockBytes_ = want;
  return block_.data();
}

}  // namespace asf
