// Shared body of the elementary-stream parser fuzz targets: the first byte picks a chunk size,
// the rest is the stream. The parser must never crash or read outside what it was given, and
// units must stay within the input (for the byte-exact splitters, be a prefix of it).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sources/stream_parser.h"

template <typename Parser>
int FuzzStreamParser(const uint8_t* data, size_t size, bool units_rebuild_input) {
  if (size == 0) return 0;
  size_t chunk = data[0] == 0 ? size : data[0];
  ++data;
  --size;
  Parser parser;
  size_t out = 0;
  for (size_t pos = 0;;) {
    size_t n = size - pos < chunk ? size - pos : chunk;
    if (n == 0) {
      parser.Finish();
    } else if (FAILED(parser.Push(data + pos, n))) {
      return 0;
    }
    pos += n;
    StreamUnit unit;
    HRESULT hr;
    while ((hr = parser.Next(&unit)) == S_OK) {
      if (unit.size == 0 || unit.size > size) std::abort();
      if (units_rebuild_input) {
        if (out + unit.size > size || std::memcmp(unit.data, data + out, unit.size) != 0) std::abort();
        out += unit.size;
      }
    }
    if (FAILED(hr)) {
      if (parser.Error().empty()) std::abort();  // a failure always says why
      return 0;
    }
    if (n == 0) break;
  }
  // Nothing lost at a clean end; a torn last unit is dropped and named.
  if (units_rebuild_input && size > 0 && out != size && parser.Truncation().empty()) std::abort();
  return 0;
}
