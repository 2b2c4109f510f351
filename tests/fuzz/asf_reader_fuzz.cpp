// Arbitrary bytes to the ASF reader: it must report, never crash or read out of bounds.
#include <cstddef>
#include <cstdint>

#include "platform/asf/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  asf::Reader reader;
  if (FAILED(reader.OpenMemory(data, size))) return 0;
  uint32_t sum = 0;
  reader.ReadObjects([&](const asf::MediaObject& object) {
    // Every byte handed out must be readable.
    for (uint32_t i = 0; i < object.size; ++i) sum += object.data[i];
  });
  (void)reader.HasErrors();
  return static_cast<int>(sum & 0);
}
