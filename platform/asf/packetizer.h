// Lays media objects into fixed-size multiple-payload packets: small objects share a packet,
// large ones are split across packets, and every packet gets its send time when it is closed.
#pragma once

#include <cstdint>

#include "platform/asf/packet_output.h"

namespace asf {

struct MediaObjectHeader {
  uint8_t stream = 0;  // stream number, with kKeyFrameBit for a clean point
  uint8_t objectNumber = 0;
  uint32_t size = 0;
  uint32_t presentationMs = 0;  // preroll included
  int64_t mediaStartMs = 0;     // presentation time without the preroll
  int64_t mediaEndMs = 0;
};

class Packetizer {
 public:
  void Init(PacketOutput* output);
  // Packet slots an object of `size` bytes may touch, the open packet included.
  static size_t SlotsFor(uint32_t packetSize, uint64_t size);
  // Places one object; the caller reserved SlotsFor(size) slots. Reports the numbers of the
  // packets that hold its first and last bytes.
  void Add(const MediaObjectHeader& object, const uint8_t* data, uint64_t* firstPacket, uint64_t* lastPacket);
  // Pads and finishes the open packet, if there is one.
  void FinishPacket() { FinishPacket(true); }
  bool HasOpenPacket() const { return open_; }
  // End of the last packet on the send-time axis, in ms.
  uint64_t SendEndMs() const { return sendEndMs_; }

 private:
  void FinishPacket(bool endsObject);

  PacketOutput* output_ = nullptr;
  bool open_ = false;
  uint32_t used_ = 0;
  uint32_t payloads_ = 0;
  int64_t minStartMs_ = 0;
  int64_t maxEndMs_ = 0;
  int64_t completedEndMs_ = 0;  // of the objects whose last bytes are in the open packet
  uint32_t lastSendMs_ = 0;
  uint64_t sendEndMs_ = 0;
};

}  // namespace asf
