// Reads a RIFF/WAVE stream: the format chunk (PCM, WAVE_FORMAT_EXTENSIBLE or any other format
// tag, kept byte for byte as a WAVEFORMATEX block) and the data chunk, handed out in blocks of
// about 20 ms, a whole number of block-align units each, timed from the sample count. Block
// formats (ADPCM and the like) are timed from the samples each block holds, not from the
// header's rounded byte rate. RF64 (and BW64) files take their data size from the ds64 chunk. A
// data size of 0 or FFFFFFFF (a writer that streams, or could not seek back) means "to the end of
// the input"; a data size beyond the input is clamped to what is there. Memory stays bounded
// whatever a header says: chunks are skipped as they stream by, and a unit is at most 64 MiB.
#pragma once

#include <vector>

#include "sources/byte_queue.h"
#include "sources/stream_parser.h"

class WavReader : public StreamParser {
 public:
  HRESULT Push(const BYTE* data, size_t size) override;
  void Finish() override { finished_ = true; }
  HRESULT Next(StreamUnit* unit) override;

  // Valid once the data chunk has been reached (after the first unit, or FormatRead()).
  bool FormatRead() const { return state_ == State::Data || state_ == State::Done; }
  // The WAVEFORMATEX block: 18 bytes plus cbSize extra bytes, little-endian as in the file.
  const std::vector<BYTE>& Format() const { return format_; }
  WORD FormatTag() const { return tag_; }
  WORD Channels() const { return channels_; }
  DWORD SamplesPerSecond() const { return rate_; }
  DWORD AverageBytesPerSecond() const { return avg_bytes_; }
  WORD BlockAlign() const { return block_align_; }
  WORD BitsPerSample() const { return bits_; }
  size_t BlockBytes() const { return block_bytes_; }  // bytes of a full ~20 ms unit
  // Samples in one block-align unit of a block format; 0 when timed from the byte rate.
  unsigned SamplesPerBlock() const { return samples_per_block_; }

 private:
  enum class State { RiffHeader, ChunkHeader, SkipChunk, FormatChunk, SizesChunk, Data, Done };
  HRESULT ParseFormat(const BYTE* chunk, size_t size);
  unsigned BlockSamples(WORD extra_size, const BYTE* extra) const;
  REFERENCE_TIME TimeAt(uint64_t bytes) const;

  ByteQueue queue_;
  size_t consumed_ = 0;
  State state_ = State::RiffHeader;
  uint64_t chunk_left_ = 0;  // bytes of the current chunk still to come (with its pad byte)
  bool data_size_known_ = true;
  bool rf64_ = false;
  uint64_t rf64_data_size_ = 0;  // from the ds64 chunk
  uint64_t data_done_ = 0;   // bytes of the data chunk handed out

  std::vector<BYTE> format_;
  WORD tag_ = 0, channels_ = 0, block_align_ = 0, bits_ = 0;
  DWORD rate_ = 0, avg_bytes_ = 0;
  bool sample_timed_ = false;
  unsigned samples_per_block_ = 0;
  size_t block_bytes_ = 0;
};
