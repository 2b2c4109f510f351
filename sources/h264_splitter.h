// Splits an H.264 Annex B byte stream into access units. A unit keeps every byte of its NAL
// units, start codes and zero bytes included, so the units put end to end give back the input.
// Each unit says how many field periods it lasts: from the picture timing SEI when the stream
// carries one, else a field picture one and a frame two. A last unit that holds no picture (the
// input ended after its headers), or whose last slice ends inside its first fields, is left out;
// a cut further into a slice only a decoder could tell.
#pragma once

#include "sources/byte_queue.h"
#include "sources/h264_sps.h"
#include "sources/start_code.h"
#include "sources/stream_parser.h"

class H264AccessUnitSplitter : public StreamParser {
 public:
  HRESULT Push(const BYTE* data, size_t size) override;
  void Finish() override { finished_ = true; }
  HRESULT Next(StreamUnit* unit) override;

  // The latest sequence parameter set seen; null before the first.
  const H264SequenceInfo* Sequence() const { return have_sequence_ ? &sequence_ : nullptr; }
  FramesPerSecond StatedFrameRate() const override { return have_sequence_ ? H264FrameRate(sequence_) : FramesPerSecond{}; }

 private:
  static constexpr size_t kNone = kNoStartCode;

  // Files one complete NAL unit; true when it begins a new access unit (the previous one is then
  // [0, nal_start_) and is handed out).
  HRESULT AddNal(size_t header, size_t end, bool* begins_unit);
  void Emit(size_t size, StreamUnit* unit);
  void ReadSliceHeader(const BYTE* nal, size_t size);
  void ReadSei(const BYTE* nal, size_t size);
  unsigned UnitFields() const;

  ByteQueue queue_;          // the access unit in progress from offset 0, then what follows
  size_t consumed_ = 0;      // bytes of the unit handed out last, dropped at the next call
  size_t nal_start_ = kNone; // first byte (zero prefix included) of the NAL unit in progress
  size_t nal_header_ = 0;    // its header byte, just after 00 00 01
  size_t search_ = 0;        // where to look for the next start code
  bool drained_ = false;     // the input ended and its last NAL unit has been filed
  uint64_t units_ = 0;       // access units handed out
  bool last_nal_cut_ = false; // the NAL unit filed last is a slice that ends inside its first fields

  // The access unit in progress.
  unsigned nal_count_ = 0;
  bool has_slice_ = false;
  bool has_idr_ = false;
  bool field_picture_ = false;  // its first slice codes one field
  unsigned sei_fields_ = 0;     // field periods from its picture timing SEI; 0 without one

  bool have_sequence_ = false;
  H264SequenceInfo sequence_;
};
