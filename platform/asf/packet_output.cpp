#include "platform/asf/packet_output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

#include "platform/asf/format.h"

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
  lastEndsObject_ = true;
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
    lastEndsObject_ = s.endsObject;
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

HRESULT PacketOutput::CutBackToPackets() {
  return ftruncate(fd_, static_cast<off_t>(FileEnd())) == 0 ? S_OK : LastErrorStatus();
}

HRESULT PacketOutput::DropUnfinishedObject() {
  complete_ = 0;
  // The packets are read back into the first slot, free now that nothing is buffered.
  uint8_t* packet = block_.get();
  while (written_ > 0 && !lastEndsObject_) {
    const uint64_t at = FileEnd() - packetSize_;
    for (size_t done = 0; done < packetSize_;) {
      ssize_t n = pread(fd_, packet + done, packetSize_ - done, static_cast<off_t>(at + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? LastErrorStatus() : NS_E_FILE_WRITE;
      done += static_cast<size_t>(n);
    }
    // The packet layout is the packetiser's: the payloads follow the packet header, each with
    // its fixed header and a WORD length; the unfinished object is the last payload.
    const uint32_t payloads = packet[kPacketHeaderSize - 1] & 0x3F;
    uint32_t last = kPacketHeaderSize;
    for (uint32_t i = 1; i < payloads; ++i) last += kPayloadHeaderSize + GetU16(packet + last + kPayloadHeaderSize - 2);
    const bool startsHere = GetU32(packet + last + 2) == 0;
    if (payloads > 1) {
      // Earlier objects share the packet: it stays, padded where the object was.
      const uint32_t padding = packetSize_ - last;
      std::memset(packet + last, 0, packetSize_ - last);
      uint8_t* p = packet + 5;
      PutU16(p, static_cast<uint16_t>(padding));
      packet[kPacketHeaderSize - 1] = static_cast<uint8_t>(kPayloadLengthTypeWord | (payloads - 1));
      HRESULT hr = WriteFully(fd_, packet, packetSize_, at, nullptr);
      if (FAILED(hr)) return hr;
    } else {
      --written_;
      writtenRun_.packets = written_;
    }
    // An object that starts here leaves the packets before whole.
    lastEndsObject_ = startsHere;
  }
  return CutBackToPackets();
}

}  // namespace asf
