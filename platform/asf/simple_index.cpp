#include "platform/asf/simple_index.h"

#include <algorithm>

#include "platform/asf/format.h"

namespace asf {

std::vector<SimpleIndexEntry> ComputeSimpleIndex(std::vector<KeyFrameMark>& marks, uint64_t playDuration,
                                                 uint64_t interval) {
  std::vector<SimpleIndexEntry> entries;
  if (marks.empty() || interval == 0) return entries;
  std::stable_sort(marks.begin(), marks.end(),
                   [](const KeyFrameMark& a, const KeyFrameMark& b) { return a.presentationMs < b.presentationMs; });
  const uint64_t count = (playDuration + interval - 1) / interval + 1;
  entries.reserve(count);
  size_t k = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t t = i * interval;
    while (k + 1 < marks.size() && uint64_t{marks[k + 1].presentationMs} * kTicksPerMs <= t) ++k;
    const KeyFrameMark& m = marks[k];
    entries.push_back({m.firstPacket, static_cast<uint16_t>(std::min<uint32_t>(m.packetCount, 0xFFFF))});
  }
  return entries;
}

std::vector<uint8_t> BuildSimpleIndexObject(const GUID& fileId, uint64_t interval,
                                            const std::vector<SimpleIndexEntry>& entries) {
  std::vector<uint8_t> out(kSimpleIndexFixedSize + 6 * entries.size());
  uint32_t maxCount = 0;
  for (const auto& e : entries) maxCount = std::max<uint32_t>(maxCount, e.packetCount);
  uint8_t* p = out.data();
  PutGuid(p, kSimpleIndexObject);
  PutU64(p, out.size());
  PutGuid(p, fileId);
  PutU64(p, interval);
  PutU32(p, maxCount);
  PutU32(p, static_cast<uint32_t>(entries.size()));
  for (const auto& e : entries) {
    PutU32(p, e.packetNumber);
    PutU16(p, e.packetCount);
  }
  return out;
}

}  // namespace asf
