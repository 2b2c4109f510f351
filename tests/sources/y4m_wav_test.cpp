#include <gtest/gtest.h>

#include <cstring>

#include "sources/wav_reader.h"
#include "sources/y4m_reader.h"
#include "tests/sources/split_all.h"

namespace {

std::vector<BYTE> Bytes(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }

TEST(Y4m, FourTwoZeroColourSpacesOnly) {
  const std::pair<const char*, bool> cases[] = {
      {"", true}, {" C420jpeg", true}, {" C420paldv", true}, {" C420mpeg2", true}, {" C420", true},
      {" C422", false}, {" C444", false}, {" Cmono", false}, {" C420p10", false},
  };
  for (auto [colour, accepted] : cases) {
    SCOPED_TRACE(colour);
    // 3x3: odd sizes round the chroma planes up, 9 + 2*4 bytes.
    std::string stream = std::string("YUV4MPEG2 W3 H3 F30000:1001 Ip") + colour + "\nFRAME Ixyz\n" + std::string(17, 'a');
    Y4mReader reader;
    SplitResult result = SplitAll(reader, Bytes(stream));
    if (accepted) {
      ASSERT_EQ(result.status, S_OK) << result.error;
      ASSERT_EQ(result.units.size(), 1u);
      EXPECT_EQ(result.units[0].bytes.size(), 17u);
      EXPECT_EQ(result.units[0].stop, 333666);  // 1001/30000 s, in 100 ns
      EXPECT_EQ(reader.FrameParameters(), "Ixyz");
    } else {
      EXPECT_EQ(result.status, VFW_E_TYPE_NOT_ACCEPTED);
      EXPECT_NE(result.error.find("4:2:0 only"), std::string::npos) << result.error;
    }
  }
}

// A RIFF/WAVE stream from its fmt chunk and the chunks after it.
std::vector<BYTE> Wav(const std::vector<BYTE>& fmt, const std::vector<std::pair<std::string, std::vector<BYTE>>>& chunks,
                      uint32_t data_size_override = 0) {
  auto le32 = [](std::vector<BYTE>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
  };
  std::vector<BYTE> out = Bytes("RIFF");
  le32(out, 0);  // never relied on
  for (BYTE b : Bytes("WAVEfmt ")) out.push_back(b);
  le32(out, static_cast<uint32_t>(fmt.size()));
  out.insert(out.end(), fmt.begin(), fmt.end());
  for (const auto& [id, body] : chunks) {
    for (BYTE b : Bytes(id)) out.push_back(b);
    le32(out, id == "data" && data_size_override ? data_size_override : static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 && &body != &chunks.back().second) out.push_back(0);  // no pad at the very end
  }
  return out;
}

std::vector<BYTE> Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t avg, uint16_t align, uint16_t bits,
                      std::vector<BYTE> extra = {}, bool with_cb_size = true) {
  std::vector<BYTE> f(16);
  std::memcpy(&f[0], &tag, 2);
  std::memcpy(&f[2], &channels, 2);
  std::memcpy(&f[4], &rate, 4);
  std::memcpy(&f[8], &avg, 4);
  std::memcpy(&f[12], &align, 2);
  std::memcpy(&f[14], &bits, 2);
  if (with_cb_size) {
    f.push_back(static_cast<BYTE>(extra.size()));
    f.push_back(static_cast<BYTE>(extra.size() >> 8));
    f.insert(f.end(), extra.begin(), extra.end());
  }
  return f;
}

struct WavCase {
  const char* what;
  std::vector<BYTE> stream;
  size_t block;             // bytes of a full unit
  size_t total;             // audio bytes handed out
  REFERENCE_TIME last_stop;
};

TEST(Wav, BlocksClampAndTimes) {
  const std::vector<BYTE> pcm = Fmt(1, 1, 44100, 88200, 2, 16, {}, false);  // 16-byte fmt
  const std::vector<BYTE> second(88300, 7);
  const WavCase cases[] = {
      {"44.1 kHz mono: 882-sample blocks, the last one short", Wav(pcm, {{"data", second}}), 1764, 88300, 44150 * 10000000LL / 44100},
      {"odd chunk before data is skipped with its pad byte",
       Wav(pcm, {{"junk", std::vector<BYTE>(3, 1)}, {"data", std::vector<BYTE>(1764, 2)}}), 1764, 1764, 200000},
      {"a data size beyond the input is clamped, half a sample dropped",
       Wav(pcm, {{"data", std::vector<BYTE>(1001, 3)}}, 100000), 1764, 1000, 500 * 10000000LL / 44100},
      {"unknown size (FFFFFFFF) runs to the end", Wav(pcm, {{"data", std::vector<BYTE>(4000, 4)}}, 0xFFFFFFFFu),
       1764, 4000, 2000 * 10000000LL / 44100},
      {"a data size shorter than the input stops there",
       Wav(pcm, {{"data", std::vector<BYTE>(1000, 5)}, {"LIST", std::vector<BYTE>(50, 6)}}, 800), 1764, 800, 400 * 10000000LL / 44100},
      {"compressed tag: block-aligned ~20 ms, timed from the byte rate",
       Wav(Fmt(0x55, 2, 44100, 16000, 1, 0), {{"data", std::vector<BYTE>(1000, 8)}}), 320, 1000, 625000},
  };
  for (const WavCase& c : cases) {
    SCOPED_TRACE(c.what);
    for (Chunking chunking : {Chunking{}, Chunking{1, false}}) {
      WavReader reader;
      SplitResult result = SplitAll(reader, c.stream, chunking);
      ASSERT_EQ(result.status, S_OK) << result.error;
      ASSERT_FALSE(result.units.empty());
      EXPECT_EQ(reader.BlockBytes(), c.block);
      EXPECT_EQ(result.units[0].bytes.size(), std::min(c.block, c.total));
      size_t total = 0;
      REFERENCE_TIME expected_start = 0;
      for (const CollectedUnit& u : result.units) {
        EXPECT_EQ(u.start, expected_start);  // no gaps, no overlaps
        expected_start = u.stop;
        total += u.bytes.size();
      }
      EXPECT_EQ(total, c.total);
      EXPECT_EQ(result.units.back().stop, c.last_stop);
    }
  }
}

TEST(Wav, FormatBlockIsCarriedAsItIs) {
  // WAVE_FORMAT_EXTENSIBLE, 24 bits in 32-bit containers, 6 channels.
  std::vector<BYTE> extra(22, 0);
  extra[0] = 24;  // valid bits
  extra[2] = 0x3F;  // channel mask
  for (int i = 0; i < 16; ++i) extra[6 + i] = static_cast<BYTE>(i + 1);  // subformat
  std::vector<BYTE> fmt = Fmt(0xFFFE, 6, 48000, 48000 * 24, 24, 32, extra);
  WavReader reader;
  SplitResult result = SplitAll(reader, Wav(fmt, {{"data", std::vector<BYTE>(24 * 960 + 5, 1)}}));
  ASSERT_EQ(result.status, S_OK) << result.error;
  EXPECT_TRUE(reader.Format() == fmt);
  ASSERT_EQ(result.units.size(), 1u);
  EXPECT_EQ(result.units[0].bytes.size(), 24u * 960);
  EXPECT_EQ(result.units[0].stop, 200000);
}

void Le(std::vector<BYTE>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

// An RF64 (or BW64) stream: the ds64 chunk says the data size, the data chunk's own size is
// FFFFFFFF; `after` follows the audio.
std::vector<BYTE> Rf64(const char* id, uint64_t data_size, const std::vector<BYTE>& fmt, size_t audio,
                       const std::vector<BYTE>& after = {}) {
  std::vector<BYTE> out = Bytes(id);
  Le(out, 0xFFFFFFFFu, 4);
  for (BYTE b : Bytes("WAVEds64")) out.push_back(b);
  Le(out, 28, 4);
  Le(out, 0, 8);  // RIFF size: not relied on
  Le(out, data_size, 8);
  Le(out, 0, 8);  // sample count
  Le(out, 0, 4);  // no table
  for (BYTE b : Bytes("fmt ")) out.push_back(b);
  Le(out, fmt.size(), 4);
  out.insert(out.end(), fmt.begin(), fmt.end());
  for (BYTE b : Bytes("data")) out.push_back(b);
  Le(out, 0xFFFFFFFFu, 4);
  for (size_t i = 0; i < audio; ++i) out.push_back(static_cast<BYTE>(i));
  out.insert(out.end(), after.begin(), after.end());
  return out;
}

TEST(Wav, DataSizeFromRf64AndStreamingWriters) {
  const std::vector<BYTE> pcm = Fmt(1, 2, 48000, 192000, 4, 16);
  const std::vector<BYTE> list = Bytes("LIST\x04\0\0\0abcd");
  const struct {
    const char* what;
    std::vector<BYTE> stream;
    size_t total;
  } cases[] = {
      {"RF64: the ds64 data size, not what follows the data", Rf64("RF64", 4000, pcm, 4000, list), 4000},
      {"BW64 likewise", Rf64("BW64", 4000, pcm, 4000, list), 4000},
      {"RF64 streamed with a ds64 data size of zero: to the end", Rf64("RF64", 0, pcm, 6000), 6000},
      {"RIFF data size zero: to the end", [&] {
         std::vector<BYTE> w = Wav(pcm, {{"data", std::vector<BYTE>(6000, 1)}});
         std::memset(&w[w.size() - 6000 - 4], 0, 4);
         return w;
       }(), 6000},
      {"RIFF data size FFFFFFFF: to the end", Wav(pcm, {{"data", std::vector<BYTE>(6000, 1)}}, 0xFFFFFFFFu), 6000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (Chunking chunking : {Chunking{}, Chunking{7, true}}) {
      WavReader reader;
      SplitResult result = SplitAll(reader, c.stream, chunking);
      ASSERT_EQ(result.status, S_OK) << result.error;
      EXPECT_EQ(Concatenate(result.units).size(), c.total);
      EXPECT_EQ(result.units.back().stop, static_cast<REFERENCE_TIME>(c.total / 4) * 10000000 / 48000);
      EXPECT_EQ(reader.Truncation(), "");
    }
  }
}

struct BlockCase {
  const char* what;
  std::vector<BYTE> fmt;
  unsigned samples_per_block;
  size_t blocks_per_unit;
};

TEST(Wav, BlockFormatsAreTimedFromSamplesPerBlock) {
  // Byte rates in these headers are off, as a writer's rounding (or a careless one) leaves them:
  // times must not follow them.
  const BlockCase cases[] = {
      {"IMA ADPCM, samples per block in cbSize's extra", Fmt(0x11, 2, 44100, 44000, 2048, 4, {0xF9, 0x07}), 2041, 1},
      {"IMA ADPCM, 16-byte fmt: samples from the block layout", Fmt(0x11, 1, 8000, 4000, 256, 4, {}, false), 505, 1},
      {"Microsoft ADPCM, its coefficient table after the samples per block",
       Fmt(0x02, 1, 22050, 11000, 256, 4, [] {
         std::vector<BYTE> extra = {0xF4, 0x01, 7, 0};  // 500 samples, 7 coefficient pairs
         extra.resize(32, 0);
         return extra;
       }()), 500, 1},
      {"GSM 6.10: 320 samples in 65 bytes", Fmt(0x31, 1, 8000, 1625, 65, 0, {0x40, 0x01}), 320, 1},
      {"IMA ADPCM at 48 kHz with small blocks: several to a unit", Fmt(0x11, 1, 48000, 1, 36, 4, {0x41, 0}), 65, 15},
  };
  for (const BlockCase& c : cases) {
    SCOPED_TRACE(c.what);
    WORD align;
    DWORD rate;
    std::memcpy(&align, &c.fmt[12], 2);
    std::memcpy(&rate, &c.fmt[4], 4);
    const size_t blocks = 100 * c.blocks_per_unit;
    WavReader reader;
    SplitResult result = SplitAll(reader, Wav(c.fmt, {{"data", std::vector<BYTE>(blocks * align, 9)}}), Chunking{1000, true});
    ASSERT_EQ(result.status, S_OK) << result.error;
    EXPECT_EQ(reader.SamplesPerBlock(), c.samples_per_block);
    EXPECT_EQ(reader.BlockBytes(), c.blocks_per_unit * align);
    ASSERT_EQ(result.units.size(), 100u);
    EXPECT_EQ(result.units.back().stop,
              static_cast<REFERENCE_TIME>(static_cast<uint64_t>(blocks) * c.samples_per_block * 10000000 / rate));
  }
}

TEST(Wav, HostileHeadersCostLittle) {
  // A unit never grows past 64 MiB, however large the blocks and rate a header claims.
  WavReader huge;
  SplitResult result = SplitAll(huge, Wav(Fmt(3, 1, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFF, 32), {{"data", std::vector<BYTE>(70000, 0)}}));
  ASSERT_EQ(result.status, S_OK) << result.error;
  EXPECT_LE(huge.BlockBytes(), kMaxStreamUnitSize);
  EXPECT_EQ(Concatenate(result.units).size(), 65535u);

  const std::pair<const char*, std::vector<BYTE>> refused[] = {
      {"more samples per block", Wav(Fmt(0x11, 1, 8000, 4000, 4, 4, {0xFF, 0xFF}), {{"data", std::vector<BYTE>(8, 0)}})},
      {"ds64 chunk shorter", [] {
         std::vector<BYTE> s = Rf64("RF64", 8, Fmt(1, 1, 8000, 16000, 2, 16), 8);
         s[16] = 8;  // ds64 size
         return s;
       }()},
  };
  for (const auto& [message, stream] : refused) {
    SCOPED_TRACE(message);
    WavReader reader;
    SplitResult r = SplitAll(reader, stream);
    EXPECT_EQ(r.status, E_STREAM_INVALID_DATA);
    EXPECT_NE(r.error.find(message), std::string::npos) << r.error;
  }
}

}  // namespace
