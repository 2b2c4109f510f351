// Arbitrary bytes to the ASF reader: it must report, never crash or read out of bounds, and stay
// within the memory limit run.sh sets whatever the bytes claim.
#include <cstddef>
#include <cstdint>

#include "platform/asf/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  asf::Reader reader;
  if (FAILED(reader.OpenMemory(data, size))) return 0;
  uint32_t sum = 0;
  // A failed pass is as good a result as any here; the problems list is what is checked.
  (void)reader.ReadObjects([&](const asf::MediaObject& object) {
    // Every byte handed out must be readable.
    for (uint32_t i = 0; i < object.size; ++i) sum += object.data[i];
  });
  // The way probe reads: objects without their bytes; its status ignored for the same reason.
  (void)reader.ReadObjects(
      [&](const asf::MediaObject& object) { sum += object.data == nullptr ? 0 : 1; },
      asf::Reader::ObjectBytes::None);
  (void)reader.HasErrors();
  return static_cast<int>(sum & 0);
}
