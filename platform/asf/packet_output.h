// The data packets on their way to the file: a block of packet slots that the packetiser fills in
// place, written out in large writes. The file only ever grows by whole packets: a failed or short
// write is cut back to the last whole packet, and what was not written stays in the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/win/status.h"

namespace asf {

// What the packetiser tells about a finished packet, for the totals of a file that ends there.
struct PacketSummary {
  int64_t mediaEndMs = 0;   // latest end of the objects that end in it, preroll excluded
  uint64_t sendEndMs = 0;   // send time plus duration
  bool endsObject = true;   // no object continues into the next packet
};

// The packets in the file, and the times they reach.
struct WrittenRun {
  uint64_t packets = 0;
  int64_t mediaEndMs = 0;
  uint64_t sendEndMs = 0;
};

class PacketOutput {
 public:
  PacketOutput() = default;
  PacketOutput(const PacketOutput&) = delete;
  PacketOutput& operator=(const PacketOutput&) = delete;

  // Takes the descriptor (not owned); packets start at dataStart.
  HRESULT Init(int fd, uint64_t dataStart, uint32_t packetSize, size_t bufferBytes);
  void Reset();

  uint32_t PacketSize() const { return packetSize_; }
  // The slot of the packet being filled; valid until the next Reserve or Flush.
  uint8_t* OpenSlot() { return block_.get() + static_cast<size_t>(complete_) * packetSize_; }
  // The packet in OpenSlot is finished.
  void Commit(const PacketSummary& summary) { summaries_[complete_++] = summary; }
  // Packets finished so far, written or buffered.
  uint64_t PacketCount() const { return written_ + complete_; }
  uint64_t WrittenPackets() const { return written_; }
  bool HasBufferedPackets() const { return complete_ != 0; }
  // Byte offset where the next written packet goes.
  uint64_t FileEnd() const { return dataStart_ + written_ * packetSize_; }
  const WrittenRun& Written() const { return writtenRun_; }

  // Makes room for `slots` packet slots from the open one on: writes the buffered packets when
  // the block is short of room and grows it for a sample larger than the whole block. A failed
  // write leaves the file at its last whole packet and returns the write's status.
  HRESULT Reserve(size_t slots);
  // Writes every finished packet; the open slot's bytes are kept. Any failure, a partly written
  // block included, returns the failing status with the file cut back to its last whole packet.
  HRESULT Flush();
  // Writes bytes after the last packet (the index); on failure the file is cut back to the packets.
  HRESULT Append(const uint8_t* data, size_t size);
  // The end of a file whose writing failed: forgets the buffered packets and takes the object
  // the last written packet leaves unfinished out of the file, rewriting the packet it starts in
  // without it, so a finished header can declare every packet.
  HRESULT DropUnfinishedObject();
  // Cuts the file back to its packets, dropping whatever follows them.
  HRESULT CutBackToPackets();

 private:
  int fd_ = -1;
  uint64_t dataStart_ = 0;
  uint32_t packetSize_ = 0;
  std::unique_ptr<uint8_t[]> block_;
  std::unique_ptr<PacketSummary[]> summaries_;  // one per slot of block_
  size_t capacity_ = 0;  // slots in block_
  size_t complete_ = 0;  // finished packets in block_, not yet in the file
  uint64_t written_ = 0;
  WrittenRun writtenRun_;
  bool lastEndsObject_ = true;  // the last written packet ends with a whole object
};

// Writes all bytes at the offset, retrying short writes; reports how many made it.
HRESULT WriteFully(int fd, const uint8_t* data, size_t size, uint64_t offset, size_t* written);
// The status of the last failed system call.
HRESULT LastErrorStatus();

}  // namespace asf
