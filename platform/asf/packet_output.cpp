#include "platform/asf/packet_output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

namespace asf {

HRESULT LastErrorStatus() { return HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno)); }

HRESULT WriteFully(int fd, const uint8_t* data, size_t size, uint64_t offset, size_t* written) {
  size_t done = 0;
  HRESULT hr = S_OK;
  while (done < size) {
    ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      hr = LastErrorStatus();
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
  summaries_.reset(new (std::nothrow) PacketSummary[capacity + 1]);
  if (!block_ || !summaries_) {
    Reset();
    return E_OUTOFMEMORY;
  }
  fd_ = fd;
  dataStart_ = dataStart;
  packetSize_ = packetSize;
  capacity_ = capacity;
  return S_OK;
}

void PacketOutput::Reset() {
  block_.reset();
  summaries_.reset();
  fd_ = -1;
  capacity_ = complete_ = 0;
  written_ = 0;
  writtenRun_ = WrittenRun();
  wholeRun_ = WrittenRun();
}

HRESULT PacketOutput::Flush() {
  if (complete_ == 0) return S_OK;
  size_t done = 0;
  HRESULT hr = WriteFully(fd_, block_.get(), complete_ * packetSize_, FileEnd(), &done);
  const size_t wholePackets = done / packetSize_;
  if (done % packetSize_ != 0 && ftruncate(fd_, static_cast<off_t>(FileEnd() + wholePackets * packetSize_)) != 0 &&
      SUCCEEDED(hr))
    hr = LastErrorStatus();
  for (size_t i = 0; i < wholePackets; ++i) {
    const PacketSummary& s = summaries_[i];
    writtenRun_.packets = written_ + i + 1;
    writtenRun_.mediaEndMs = std::max(writtenRun_.mediaEndMs, s.mediaEndMs);
    writtenRun_.sendEndMs = std::max(writtenRun_.sendEndMs, s.sendEndMs);
    if (s.endsObject) wholeRun_ = writtenRun_;
  }
  written_ += wholePackets;
  // The unwritten packets and the open slot move to the front; on success that is one packet.
  const size_t keep = complete_ - wholePackets + 1;
  std::memmove(block_.get(), block_.get() + wholePackets * packetSize_, keep * packetSize_);
  std::memmove(summaries_.get(), summaries_.get() + wholePackets, keep * sizeof(PacketSummary));
  complete_ -= wholePackets;
  return hr;
}

HRESULT PacketOutput::Reserve(size_t slots) {
  if (complete_ + slots <= capacity_) return S_OK;
  // A failed flush fails the sample even when it freed enough room: the file lost its packets.
  HRESULT hr = Flush();
  if (FAILED(hr)) return hr;
  if (complete_ + slots <= capacity_) return S_OK;
  // A sample larger than the block: grow it so the sample is taken whole or not at all.
  std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[(complete_ + slots + 1) * packetSize_]);
  std::unique_ptr<PacketSummary[]> biggerSummaries(new (std::nothrow) PacketSummary[complete_ + slots + 1]);
  if (!bigger || !biggerSummaries) return E_OUTOFMEMORY;
  std::memcpy(bigger.get(), block_.get(), (complete_ + 1) * packetSize_);
  std::copy(summaries_.get(), summaries_.get() + complete_ + 1, biggerSummaries.get());
  block_ = std::move(bigger);
  summaries_ = std::move(biggerSummaries);
  capacity_ = complete_ + slots;
  return S_OK;
}

HRESULT PacketOutput::Append(const uint8_t* data, size_t size) {
  size_t done = 0;
  HRESULT hr = WriteFully(fd_, data, size, FileEnd(), &done);
  // The cut is what keeps the file whole; should it fail too, the write's status is the one to
  // report, and the reader still stops at the last whole packet.
  if (FAILED(hr) && done) (void)!ftruncate(fd_, static_cast<off_t>(FileEnd()));
  return hr;
}

HRESULT PacketOutput::CutBackTo(const WrittenRun& run) {
  complete_ = 0;
  const uint64_t packets = std::min(run.packets, written_);
  if (ftruncate(fd_, static_cast<off_t>(dataStart_ + packets * packetSize_)) != 0) return LastErrorStatus();
  if (packets < written_) {
    written_ = packets;
    writtenRun_ = run;
    wholeRun_ = run;
  }
  return S_OK;
}

}  // namespace asf
