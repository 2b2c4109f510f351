// The Simple Index of a video stream: for every interval on the presentation-time axis (preroll
// included), the packet where the latest key frame at or before that time begins.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win/guid.h"

namespace asf {

struct KeyFrameMark {
  uint32_t presentationMs;
  uint32_t firstPacket;
  uint32_t packetCount;
};

struct SimpleIndexEntry {
  uint32_t packetNumber;
  uint16_t packetCount;
};

constexpr uint64_t kDefaultIndexInterval = 10000000;  // 1 s in 100 ns

// Entries for t = 0, interval, ... up to the first t at or past playDuration. Times before the
// first key frame point at the first key frame. `marks` is sorted in place by time.
std::vector<SimpleIndexEntry> ComputeSimpleIndex(std::vector<KeyFrameMark>& marks, uint64_t playDuration,
                                                 uint64_t interval);
// The whole object, ready to append after the Data Object.
std::vector<uint8_t> BuildSimpleIndexObject(const GUID& fileId, uint64_t interval,
                                            const std::vector<SimpleIndexEntry>& entries);

}  // namespace asf
