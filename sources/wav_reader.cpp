#include "sources/wav_reader.h"

#include <cstring>
#include <new>

namespace {

constexpr WORD kPcm = 1, kMsAdpcm = 2, kIeeeFloat = 3, kALaw = 6, kMuLaw = 7, kImaAdpcm = 0x11,
               kGsm610 = 0x31, kExtensible = 0xFFFE;
// riffSize, dataSize and sampleCount of the ds64 chunk; a table of other chunk sizes may follow.
constexpr size_t kDs64Bytes = 24;
constexpr size_t kMaxFormatChunk = 18 + 65535 + 1;

WORD Le16(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD Le32(const BYTE* p) { return DWORD{p[0]} | (DWORD{p[1]} << 8) | (DWORD{p[2]} << 16) | (DWORD{p[3]} << 24); }
uint64_t Le64(const BYTE* p) { return uint64_t{Le32(p)} | (uint64_t{Le32(p + 4)} << 32); }

}  // namespace

HRESULT WavReader::Push(const BYTE* data, size_t size) {
  if (FAILED(failed_)) return failed_;
  if (finished_) return Fail(E_UNEXPECTED, "WAV: input after its end");
  if (state_ == State::Done) return S_OK;  // whatever follows the data chunk is not needed
  HRESULT hr = queue_.Append(data, size);
  return FAILED(hr) ? Fail(hr, "WAV: out of memory") : S_OK;
}

// Samples per block of a block format: its extra bytes begin with wSamplesPerBlock (IMA and
// Microsoft ADPCM, GSM 6.10); the two ADPCMs also say it by their block layout.
unsigned WavReader::BlockSamples(WORD extra_size, const BYTE* extra) const {
  // Other tags put other things there (MPEG layer 3: its wID).
  if (tag_ != kMsAdpcm && tag_ != kImaAdpcm && tag_ != kGsm610) return 0;
  unsigned samples = extra_size >= 2 ? Le16(extra) : 0;
  if (samples == 0 && bits_ == 4) {
    if (tag_ == kImaAdpcm && block_align_ > 4u * channels_)
      samples = (block_align_ - 4u * channels_) * 8u / (4u * channels_) + 1;
    else if (tag_ == kMsAdpcm && block_align_ > 7u * channels_)
      samples = (block_align_ - 7u * channels_) * 8u / (4u * channels_) + 2;
  }
  return samples;
}

HRESULT WavReader::ParseFormat(const BYTE* chunk, size_t size) {
  if (size < 16) return Fail(E_STREAM_INVALID_DATA, "WAV: fmt chunk shorter than 16 bytes");
  tag_ = Le16(chunk);
  channels_ = Le16(chunk + 2);
  rate_ = Le32(chunk + 4);
  avg_bytes_ = Le32(chunk + 8);
  block_align_ = Le16(chunk + 12);
  bits_ = Le16(chunk + 14);
  WORD extra = size >= 18 ? Le16(chunk + 16) : 0;
  if (size_t{18} + extra > size && size >= 18)
    return Fail(E_STREAM_INVALID_DATA, "WAV: fmt chunk shorter than its extra bytes (cbSize)");
  if (channels_ == 0 || rate_ == 0 || block_align_ == 0)
    return Fail(E_STREAM_INVALID_DATA, "WAV: fmt with zero channels, sample rate or block alignment");
  if (tag_ == kPcm && (bits_ == 0 || bits_ > 32 || block_align_ != channels_ * ((bits_ + 7u) / 8u)))
    return Fail(E_STREAM_INVALID_DATA, "WAV: PCM block alignment does not match channels and sample size");
  if (tag_ == kExtensible && extra < 22)
    return Fail(E_STREAM_INVALID_DATA, "WAV: WAVE_FORMAT_EXTENSIBLE with fewer than 22 extra bytes");
  sample_timed_ = tag_ == kPcm || tag_ == kIeeeFloat || tag_ == kALaw || tag_ == kMuLaw || tag_ == kExtensible;
  if (!sample_timed_) {
    samples_per_block_ = BlockSamples(size >= 18 ? extra : 0, chunk + 18);
    // At least a bit per sample: more would make each byte last longer than it can.
    if (samples_per_block_ > uint64_t{block_align_} * 8 + 2)
      return Fail(E_STREAM_INVALID_DATA, "WAV: more samples per block than its block holds");
  }
  if (!sample_timed_ && !samples_per_block_ && avg_bytes_ == 0)
    return Fail(E_STREAM_INVALID_DATA, "WAV: compressed format without a byte rate");

  try {
    format_.assign(chunk, chunk + 18 + extra > chunk + size ? chunk + size : chunk + 18 + extra);
    format_.resize(size_t{18} + extra, 0);  // a 16-byte PCM fmt gets cbSize 0
  } catch (const std::bad_alloc&) {
    return Fail(E_OUTOFMEMORY, "WAV: out of memory");
  }

  // About 20 ms, at least one block.
  uint64_t blocks;
  if (sample_timed_)
    blocks = (uint64_t{rate_} + 25) / 50;
  else if (samples_per_block_)
    blocks = (uint64_t{rate_} / 50 + samples_per_block_ / 2) / samples_per_block_;
  else
    blocks = (uint64_t{avg_bytes_} / 50 + block_align_ / 2) / block_align_;
  if (blocks == 0) blocks = 1;
  if (blocks * block_align_ > kMaxStreamUnitSize) blocks = kMaxStreamUnitSize / block_align_;
  block_bytes_ = static_cast<size_t>(blocks * block_align_);
  return S_OK;
}

REFERENCE_TIME WavReader::TimeAt(uint64_t bytes) const {
  unsigned __int128 t;
  if (sample_timed_)
    t = static_cast<unsigned __int128>(bytes / block_align_) * 10000000u / rate_;
  else if (samples_per_block_)
    t = static_cast<unsigned __int128>(bytes / block_align_) * samples_per_block_ * 10000000u / rate_;
  else
    t = static_cast<unsigned __int128>(bytes) * 10000000u / avg_bytes_;
  return t > INT64_MAX ? INT64_MAX : static_cast<REFERENCE_TIME>(t);
}

HRESULT WavReader::Next(StreamUnit* unit) {
  if (FAILED(failed_)) return failed_;
  queue_.Consume(consumed_);
  consumed_ = 0;
  for (;;) {
    const size_t have = queue_.size();
    const BYTE* bytes = queue_.data();
    switch (state_) {
      case State::RiffHeader:
        if (have < 12) {
          if (finished_ && have > 0) return Fail(E_STREAM_INVALID_DATA, "WAV: truncated RIFF header");
          return S_FALSE;
        }
        rf64_ = std::memcmp(bytes, "RF64", 4) == 0 || std::memcmp(bytes, "BW64", 4) == 0;
        if ((std::memcmp(bytes, "RIFF", 4) != 0 && !rf64_) || std::memcmp(bytes + 8, "WAVE", 4) != 0)
          return Fail(E_STREAM_INVALID_DATA, "WAV: not a RIFF/WAVE stream");
        queue_.Consume(12);  // the RIFF size is not relied on
        state_ = State::ChunkHeader;
        break;
      case State::ChunkHeader: {
        if (have < 8) {
          if (finished_) return Fail(E_STREAM_INVALID_DATA, "WAV: no data chunk");
          return S_FALSE;
        }
        DWORD size = Le32(bytes + 4);
        bool is_format = std::memcmp(bytes, "fmt ", 4) == 0;
        bool is_data = std::memcmp(bytes, "data", 4) == 0;
        bool is_sizes = rf64_ && std::memcmp(bytes, "ds64", 4) == 0;
        queue_.Consume(8);
        if (is_data) {
          if (format_.empty()) return Fail(E_STREAM_INVALID_DATA, "WAV: data chunk before the fmt chunk");
          uint64_t data_size = size;
          if (rf64_ && size == 0xFFFFFFFFu) data_size = rf64_data_size_;
          // Zero or all ones: the writer did not know the size, so the data runs to the end.
          data_size_known_ = data_size != 0 && data_size != 0xFFFFFFFFu;
          chunk_left_ = data_size;
          state_ = State::Data;
        } else if (is_sizes) {
          if (size < kDs64Bytes) return Fail(E_STREAM_INVALID_DATA, "WAV: ds64 chunk shorter than 24 bytes");
          chunk_left_ = uint64_t{size} + (size & 1u);
          state_ = State::SizesChunk;
        } else if (is_format) {
          if (!format_.empty()) return Fail(E_STREAM_INVALID_DATA, "WAV: second fmt chunk");
          if (size > kMaxFormatChunk) return Fail(E_STREAM_INVALID_DATA, "WAV: fmt chunk too large");
          chunk_left_ = size;
          state_ = State::FormatChunk;
        } else {
          chunk_left_ = uint64_t{size} + (size & 1u);  // chunks are padded to an even size
          state_ = State::SkipChunk;
        }
        break;
      }
      case State::SkipChunk: {
        size_t skip = chunk_left_ < have ? static_cast<size_t>(chunk_left_) : have;
        queue_.Consume(skip);
        chunk_left_ -= skip;
        if (chunk_left_ > 0) {
          if (finished_) return Fail(E_STREAM_INVALID_DATA, "WAV: no data chunk");
          return S_FALSE;
        }
        state_ = State::ChunkHeader;
        break;
      }
      case State::FormatChunk: {
        size_t size = static_cast<size_t>(chunk_left_);
        if (have < size) {
          if (finished_) return Fail(E_STREAM_INVALID_DATA, "WAV: truncated fmt chunk");
          return S_FALSE;
        }
        HRESULT hr = ParseFormat(bytes, size);
        if (FAILED(hr)) return hr;
        queue_.Consume(size);
        chunk_left_ = size & 1u;
        state_ = State::SkipChunk;
        break;
      }
      case State::SizesChunk: {
        if (have < kDs64Bytes) {
          if (finished_) return Fail(E_STREAM_INVALID_DATA, "WAV: truncated ds64 chunk");
          return S_FALSE;
        }
        rf64_data_size_ = Le64(bytes + 8);
        queue_.Consume(kDs64Bytes);
        chunk_left_ -= kDs64Bytes;  // the chunk size table and the pad byte are skipped
        state_ = State::SkipChunk;
        break;
      }
      case State::Data: {
        uint64_t left = data_size_known_ ? chunk_left_ - data_done_ : UINT64_MAX;
        size_t want = left < block_bytes_ ? static_cast<size_t>(left) : block_bytes_;
        size_t take = want;
        if (have < want) {
          if (!finished_) return S_FALSE;
          take = have;  // the data chunk says more than there is
          if (take % block_align_ != 0)
            Truncated("the input ends inside an audio block, " + std::to_string(data_done_ + take - take % block_align_) +
                      " bytes into the data");
          else if (data_size_known_ && data_done_ + take < chunk_left_)
            Truncated("the input ends " + std::to_string(data_done_ + take) + " bytes into a data chunk of " +
                      std::to_string(chunk_left_) + " bytes");
        }
        take -= take % block_align_;  // never part of a block
        if (take == 0) {
          state_ = State::Done;
          queue_.Consume(queue_.size());
          return S_FALSE;
        }
        *unit = StreamUnit{};
        unit->data = bytes;
        unit->size = take;
        unit->sync = true;
        unit->start = TimeAt(data_done_);
        unit->stop = TimeAt(data_done_ + take);
        data_done_ += take;
        consumed_ = take;
        return S_OK;
      }
      case State::Done:
        return S_FALSE;
    }
  }
}
