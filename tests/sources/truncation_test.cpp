// An input that ends inside its last picture or audio block: every format drops the torn unit,
// keeps all before it, and says so once, naming the input; the stream still ends cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "sources/h264_splitter.h"
#include "sources/mjpeg_splitter.h"
#include "sources/mpeg4_splitter.h"
#include "sources/wav_reader.h"
#include "sources/y4m_reader.h"
#include "tests/sources/fixtures.h"
#include "tests/sources/source_test_files.h"
#include "tests/sources/split_all.h"

namespace {

std::vector<BYTE> Cut(const std::vector<BYTE>& bytes, size_t cut) {
  return std::vector<BYTE>(bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>(std::min(cut, bytes.size())));
}

std::vector<BYTE> Plus(std::vector<BYTE> bytes, const std::string& hex_or_text, bool text = false) {
  std::vector<BYTE> more = text ? std::vector<BYTE>(hex_or_text.begin(), hex_or_text.end()) : FromHex(hex_or_text);
  bytes.insert(bytes.end(), more.begin(), more.end());
  return bytes;
}

void Le(std::vector<BYTE>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

// A WAV of `audio` bytes of data under a data chunk header that says `declared` bytes.
std::vector<BYTE> Wav(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t align, uint16_t bits,
                      std::vector<BYTE> extra, size_t audio, uint32_t declared) {
  std::vector<BYTE> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  Le(out, static_cast<uint32_t>(18 + extra.size()), 4);
  Le(out, tag, 2);
  Le(out, channels, 2);
  Le(out, rate, 4);
  Le(out, rate * align, 4);
  Le(out, align, 2);
  Le(out, bits, 2);
  Le(out, static_cast<uint32_t>(extra.size()), 2);
  out.insert(out.end(), extra.begin(), extra.end());
  for (char c : std::string("data")) out.push_back(static_cast<BYTE>(c));
  Le(out, declared, 4);
  for (size_t i = 0; i < audio; ++i) out.push_back(static_cast<BYTE>(i * 7));
  return out;
}

using MakeParser = std::function<std::unique_ptr<StreamParser>()>;
template <typename T>
MakeParser Make() {
  return [] { return std::make_unique<T>(); };
}

struct TornCase {
  const char* what;
  MakeParser make;
  std::vector<BYTE> input;
  size_t units;
  const char* truncation;  // part of Truncation(); empty when the input ended cleanly
};

std::vector<TornCase> TornCases() {
  const std::vector<BYTE> h264 = ReadFixture("h264-aud.264"), m4v = ReadFixture("mpeg4.m4v"),
                          mjpeg = ReadFixture("mjpeg.mjpeg"), y4m = ReadFixture("video.y4m");
  const std::vector<BYTE> pcm_stereo = Wav(1, 2, 8000, 4, 16, {}, 1001, 0);
  const std::string y4m_header(y4m.begin(), std::find(y4m.begin(), y4m.end(), '\n') + 1);
  return {
      {"H.264 whole", Make<H264AccessUnitSplitter>(), h264, 100, ""},
      {"H.264 cut after a picture's delimiter and parameter sets", Make<H264AccessUnitSplitter>(),
       Plus(h264, "00000001 0910 00000001 6764000dacb20283f60220000003002000000651e28549"), 100, "access unit 100"},
      {"H.264 cut just after a slice's header byte", Make<H264AccessUnitSplitter>(), Plus(h264, "00000001 0910 00000001 41"),
       100, "access unit 100"},
      // Where the slice data ends is known only to a decoder: the picture stays, as short as it came.
      {"H.264 cut inside slice data", Make<H264AccessUnitSplitter>(), Cut(h264, 100), 100, ""},
      {"MPEG-4 whole", Make<Mpeg4VopSplitter>(), m4v, 100, ""},
      {"MPEG-4 cut inside a plane's start code", Make<Mpeg4VopSplitter>(), Plus(m4v, "000001b6"), 100, "plane 100"},
      {"MPEG-4 cut inside a plane's header", Make<Mpeg4VopSplitter>(), Plus(m4v, "000001b6 40"), 100, "plane 100"},
      {"MPEG-4 cut after a group header", Make<Mpeg4VopSplitter>(), Plus(m4v, "000001b3 001007"), 100, "plane 100"},
      {"MJPEG whole", Make<MjpegFrameSplitter>(), mjpeg, 100, ""},
      {"MJPEG cut inside a frame", Make<MjpegFrameSplitter>(), Cut(mjpeg, 700), 99, "frame 99"},
      {"Y4M whole", Make<Y4mReader>(), y4m, 40, ""},
      {"Y4M cut inside a frame", Make<Y4mReader>(), Cut(y4m, 100), 39, "frame 39"},
      {"Y4M cut inside the first FRAME line", Make<Y4mReader>(), Plus(FromHex(""), y4m_header + "FRA", true), 0,
       "frame 0"},
      {"WAV of unknown size, cut inside a sample frame", Make<WavReader>(), pcm_stereo, 2, "inside an audio block"},
      {"WAV of unknown size ending on a sample frame", Make<WavReader>(), Cut(pcm_stereo, 1), 2, ""},
      {"WAV cut short of its data size", Make<WavReader>(), Wav(1, 2, 8000, 4, 16, {}, 1000, 100000), 2,
       "1000 bytes into a data chunk of 100000"},
      {"IMA ADPCM cut inside a block", Make<WavReader>(), Wav(0x11, 1, 8000, 256, 4, {0xF9, 0x01}, 3 * 256 + 100, 0), 3,
       "inside an audio block"},
  };
}

TEST(Truncation, TheTornUnitIsDroppedAndNamed) {
  for (const TornCase& c : TornCases()) {
    SCOPED_TRACE(c.what);
    for (Chunking chunking : {Chunking{}, Chunking{1, false}}) {
      auto parser = c.make();
      SplitResult result = SplitAll(*parser, c.input, chunking);
      ASSERT_EQ(result.status, S_OK) << result.error;
      EXPECT_EQ(result.units.size(), c.units);
      if (*c.truncation)
        EXPECT_NE(parser->Truncation().find(c.truncation), std::string::npos) << parser->Truncation();
      else
        EXPECT_EQ(parser->Truncation(), "");
      StreamUnit unit;
      EXPECT_EQ(parser->Next(&unit), S_FALSE);  // and the end stays the end
    }
  }
}

TEST(Truncation, TheSourceWarnsOnceNamingTheInputAndEndsCleanly) {
  const struct {
    StreamFormat format;
    std::vector<BYTE> input;
  } cases[] = {
      {StreamFormat::H264, Plus(ReadFixture("h264-aud.264"), "00000001 0910")},
      {StreamFormat::Mpeg4, Plus(ReadFixture("mpeg4.m4v"), "000001b6")},
      {StreamFormat::Mjpeg, Cut(ReadFixture("mjpeg.mjpeg"), 700)},
      {StreamFormat::Y4m, Cut(ReadFixture("video.y4m"), 100)},
      {StreamFormat::Wav, Wav(1, 2, 8000, 4, 16, {}, 1001, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(StreamFormatName(c.format));
    SourceRun run = RunSource(c.format, c.input, 25, "torn.input");
    ASSERT_EQ(run.open, S_OK) << run.error;
    EXPECT_EQ(run.end, S_FALSE) << run.error;
    EXPECT_FALSE(run.stops.empty());
    ASSERT_EQ(run.warnings.size(), 1u);
    EXPECT_EQ(run.warnings[0].rfind(run.path + ": the input ends inside ", 0), 0u) << run.warnings[0];
    EXPECT_NE(run.warnings[0].find("left out"), std::string::npos) << run.warnings[0];
  }
}

}  // namespace
