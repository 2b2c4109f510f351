#include "sources/wav_reader.h"
#include "tests/fuzz/stream_parser_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzStreamParser<WavReader>(data, size, false);
}
