// Helpers of the parser tests: feed a whole input in chunks and collect the units.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "sources/stream_parser.h"

struct CollectedUnit {
  std::vector<BYTE> bytes;
  bool sync = false;
  REFERENCE_TIME start = 0, stop = 0;
  unsigned fields = 2;
};

struct SplitResult {
  std::vector<CollectedUnit> units;
  HRESULT status = S_OK;  // the first failure, or S_OK
  std::string error;
};

// Chunk sizes: 0 means all at once; otherwise a fixed size, or random sizes 1..max when random.
struct Chunking {
  size_t size = 0;
  bool random = false;
};

inline SplitResult SplitAll(StreamParser& parser, const std::vector<BYTE>& input, Chunking chunking = {}) {
  SplitResult result;
  std::mt19937 rng(1234);
  auto drain = [&]() {
    StreamUnit unit;
    HRESULT hr;
    while ((hr = parser.Next(&unit)) == S_OK)
      result.units.push_back(
          {std::vector<BYTE>(unit.data, unit.data + unit.size), unit.sync, unit.start, unit.stop, unit.fields});
    return hr;
  };
  size_t pos = 0;
  while (pos < input.size()) {
    size_t n = input.size() - pos;
    if (chunking.size) {
      size_t want = chunking.random ? std::uniform_int_distribution<size_t>(1, chunking.size)(rng) : chunking.size;
      if (want < n) n = want;
    }
    HRESULT hr = parser.Push(input.data() + pos, n);
    if (SUCCEEDED(hr)) hr = drain();
    if (FAILED(hr)) {
      result.status = hr;
      result.error = parser.Error();
      return result;
    }
    pos += n;
  }
  parser.Finish();
  HRESULT hr = drain();
  if (FAILED(hr)) {
    result.status = hr;
    result.error = parser.Error();
  }
  return result;
}

inline std::vector<BYTE> Concatenate(const std::vector<CollectedUnit>& units) {
  std::vector<BYTE> all;
  for (const CollectedUnit& u : units) all.insert(all.end(), u.bytes.begin(), u.bytes.end());
  return all;
}
