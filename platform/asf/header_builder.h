// Serialises the Header Object and the Data Object's own header. The layout depends only on the
// stream descriptions and the title, so the header written at the start of a recording and the
// one rewritten with the totals at the end have the same size.
#pragma once

#include <string>
#include <vector>

#include "platform/asf/stream.h"
#include "platform/win/guid.h"

namespace asf {

struct HeaderFields {
  GUID fileId = GUID_NULL;
  uint64_t creationTime = 0;  // FILETIME
  uint32_t packetSize = 0;
  uint32_t prerollMs = 0;
  // Totals: zero with the Broadcast flag while recording.
  uint64_t fileSize = 0;
  uint64_t packetCount = 0;
  uint64_t playDuration = 0;  // 100 ns, preroll included
  uint64_t sendDuration = 0;  // 100 ns
  uint32_t flags = 0;
  std::vector<uint32_t> maxObjectSizes;  // per stream, in the order of the descriptions
};

// Header Object followed by the 50-byte Data Object header. The Data Object's size is 0 while
// the Broadcast flag is set.
std::vector<uint8_t> BuildHeader(const std::vector<StreamDescription>& streams, const std::u16string& title,
                                 const HeaderFields& fields);

// The Audio Spread data for a WAVEFORMATEX with span 1.
constexpr uint32_t kAudioSpreadDataSize = 8;

}  // namespace asf
