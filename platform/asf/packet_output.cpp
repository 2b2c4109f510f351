#include "platform/asf/packet_output.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

namespace asf {

HRESULT WriteFully(int fd, const uint8_t* data, size_t size, uint64_t offset, size_t* written) {
  size_t done = 0;
  HRESULT hr = S_OK;
  while (done < size) {
    ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      hr = HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno));
      break;
    }
    if (n == 0) {
      hr = NS_E_FILE_WRITE;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (written) *written = done;
  return hr;
}

HRESULT PacketOutput::Init(int fd, uint64_t dataStart, uint32_t packetSize, size_t bufferBytes) {
  Reset();
  size_t capacity = bufferBytes / packetSize;
  if (capacity < 2) capacity = 2;
  // One spare slot: the open packet always has a place, even with the block full.
  block_.reset(new (std::nothrow) uint8_t[(capacity + 1) * packetSize]);
  if (!block_) return E_OUTOFMEMORY;
  fd_ = fd;
  dataStart_ = dataStart;
  packetSize_ = packetSize;
  capacity_ = capacity;
  return S_OK;
}

void PacketOutput::Reset() {
  block_.reset();
  fd_ = -1;
  capacity_ = complete_ = 0;
  written_ = 0;
}

HRESULT PacketOutput::Flush() {
  if (complete_ == 0) return S_OK;
  size_t done = 0;
  HRESULT hr = WriteFully(fd_, block_.get(), complete_ * packetSize_, FileEnd(), &done);
  const size_t wholePackets = done / packetSize_;
  if (done % packetSize_ != 0 && ftruncate(fd_, static_cast<off_t>(FileEnd() + wholePackets * packetSize_)) != 0 &&
      SUCCEEDED(hr))
    hr = HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno));
  written_ += wholePackets;
  // The unwritten packets and the open slot move to the front; on success that is one packet.
  const size_t keep = (complete_ - wholePackets + 1) * packetSize_;
  std::memmove(block_.get(), block_.get() + wholePackets * packetSize_, keep);
  complete_ -= wholePackets;
  return hr;
}

HRESULT PacketOutput::Reserve(size_t slots) {
  if (complete_ + slots <= capacity_) return S_OK;
  HRESULT hr = Flush();
  if (complete_ + slots <= capacity_) return S_OK;
  if (FAILED(hr)) return hr;
  // A sample larger than the block: grow it so the sample is taken whole or not at all.
  std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[(complete_ + slots + 1) * packetSize_]);
  if (!bigger) return E_OUTOFMEMORY;
  std::memcpy(bigger.get(), block_.get(), (complete_ + 1) * packetSize_);
  block_ = std::move(bigger);
  capacity_ = complete_ + slots;
  return S_OK;
}

HRESULT PacketOutput::Append(const uint8_t* data, size_t size) {
  size_t done = 0;
  HRESULT hr = WriteFully(fd_, data, size, FileEnd(), &done);
  if (FAILED(hr) && done) (void)!ftruncate(fd_, static_cast<off_t>(FileEnd()));
  return hr;
}

}  // namespace asf
