#include "platform/asf/packetizer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/asf/format.h"

namespace asf {

void Packetizer::Init(PacketOutput* output) {
  *this = Packetizer();
  output_ = output;
}

size_t Packetizer::SlotsFor(uint32_t packetSize, uint64_t size) {
  return static_cast<size_t>(size / (packetSize - kPacketHeaderSize - kPayloadHeaderSize)) + 2;
}

void Packetizer::Add(const MediaObjectHeader& object, const uint8_t* data, uint64_t* firstPacket,
                     uint64_t* lastPacket) {
  const uint32_t packetSize = output_->PacketSize();
  uint32_t offset = 0;
  while (offset < object.size) {
    if (!open_) {
      open_ = true;
      used_ = kPacketHeaderSize;
      payloads_ = 0;
      minStartMs_ = std::numeric_limits<int64_t>::max();
      maxEndMs_ = std::numeric_limits<int64_t>::min();
      completedEndMs_ = std::numeric_limits<int64_t>::min();
    }
    const uint32_t room = packetSize - used_;
    if (room <= kPayloadHeaderSize || payloads_ == kMaxPayloadsPerPacket) {
      FinishPacket(offset == 0);
      continue;
    }
    const uint32_t fragment = std::min(object.size - offset, room - kPayloadHeaderSize);
    if (offset == 0) *firstPacket = output_->PacketCount();
    *lastPacket = output_->PacketCount();

    uint8_t* p = output_->OpenSlot() + used_;
    PutU8(p, object.stream);
    PutU8(p, object.objectNumber);
    PutU32(p, offset);
    PutU8(p, 8);
    PutU32(p, object.size);
    PutU32(p, object.presentationMs);
    PutU16(p, static_cast<uint16_t>(fragment));
    std::memcpy(p, data + offset, fragment);
    used_ += kPayloadHeaderSize + fragment;
    ++payloads_;
    minStartMs_ = std::min(minStartMs_, object.mediaStartMs);
    maxEndMs_ = std::max(maxEndMs_, object.mediaEndMs);
    offset += fragment;
    if (offset == object.size) completedEndMs_ = std::max(completedEndMs_, object.mediaEndMs);
    if (packetSize - used_ <= kPayloadHeaderSize) FinishPacket(offset == object.size);
  }
}

void Packetizer::FinishPacket(bool endsObject) {
  if (!open_) return;
  const uint32_t packetSize = output_->PacketSize();
  uint8_t* slot = output_->OpenSlot();
  const uint32_t padding = packetSize - used_;
  std::memset(slot + used_, 0, padding);
  // Send times never go below zero or backwards, whatever order the samples came in.
  const int64_t start = std::clamp<int64_t>(minStartMs_, 0, std::numeric_limits<uint32_t>::max());
  const uint32_t send = std::max(lastSendMs_, static_cast<uint32_t>(start));
  const uint16_t duration = static_cast<uint16_t>(std::clamp<int64_t>(maxEndMs_ - send, 0, 0xFFFF));
  uint8_t* p = slot;
  PutU8(p, kErrorCorrectionFlags);
  PutU8(p, 0);
  PutU8(p, 0);
  PutU8(p, kLengthTypeFlags);
  PutU8(p, kPropertyFlags);
  PutU16(p, static_cast<uint16_t>(padding));
  PutU32(p, send);
  PutU16(p, duration);
  PutU8(p, static_cast<uint8_t>(kPayloadLengthTypeWord | payloads_));
  lastSendMs_ = send;
  sendEndMs_ = std::max<uint64_t>(sendEndMs_, uint64_t{send} + duration);
  output_->Commit({completedEndMs_, uint64_t{send} + duration, endsObject});
  open_ = false;
}

}  // namespace asf
