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

}  // namespace
