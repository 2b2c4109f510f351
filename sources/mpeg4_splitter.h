// Splits an MPEG-4 Part 2 elementary stream into video object planes. The headers in front of a
// plane (visual object sequence, object, object layer, group of planes, user data) travel in
// the plane's unit, so every unit that starts with headers can begin a file on its own. The
// units put end to end give back the input.
#pragma once

#include <string>

#include "sources/byte_queue.h"
#include "sources/start_code.h"
#include "sources/stream_parser.h"

struct Mpeg4LayerInfo {
  unsigned width = 0;
  unsigned height = 0;
  unsigned time_increment_resolution = 0;
};

// Parses a video object layer header; `data` starts just after its start code.
bool ParseMpeg4Vol(const BYTE* data, size_t size, Mpeg4LayerInfo* info, std::string* error);

class Mpeg4VopSplitter : public StreamParser {
 public:
  HRESULT Push(const BYTE* data, size_t size) override;
  void Finish() override { finished_ = true; }
  HRESULT Next(StreamUnit* unit) override;

  // The latest video object layer header seen; null before the first.
  const Mpeg4LayerInfo* Layer() const { return have_layer_ ? &layer_ : nullptr; }

 private:
  static constexpr size_t kNone = kNoStartCode;
  void Emit(size_t size, bool sync, StreamUnit* unit);

  ByteQueue queue_;
  size_t consumed_ = 0;
  size_t search_ = 0;
  size_t layer_start_ = kNone;  // start code of an object layer header in the unit in progress
  bool has_plane_ = false;      // the unit in progress holds its plane
  bool intra_ = false;
  bool any_plane_ = false;
  bool have_layer_ = false;
  Mpeg4LayerInfo layer_;
};
