// The committed fixtures split into the units ffprobe sees (its -show_packets sizes and key
// flags, recorded below), whatever the chunks the input arrives in.
#include <gtest/gtest.h>

#include <memory>

#include "sources/h264_splitter.h"
#include "sources/mjpeg_splitter.h"
#include "sources/mpeg4_splitter.h"
#include "sources/wav_reader.h"
#include "sources/y4m_reader.h"
#include "tests/sources/fixtures.h"
#include "tests/sources/split_all.h"

namespace {

enum class Kind { H264, Mpeg4, Mjpeg };

struct FixtureCase {
  const char* file;
  Kind kind;
  size_t units;
  std::vector<size_t> key_units;    // indices of sync units
  std::vector<size_t> first_sizes;  // sizes of the first units
  unsigned width, height;
};

// ffprobe -show_packets -show_entries packet=size,flags -of csv FILE
const FixtureCase kFixtures[] = {
    {"h264-aud.264", Kind::H264, 100, {0, 25, 50, 75}, {3495, 695, 765}, 320, 240},
    {"h264-noaud-slices.264", Kind::H264, 100, {0, 25, 50, 75}, {3115, 65, 195}, 200, 120},
    {"h264-bframes.264", Kind::H264, 100, {0, 25, 50, 75}, {2522, 96, 89}, 176, 144},
    {"mpeg4.m4v", Kind::Mpeg4, 100, {0, 25, 50, 75}, {6026, 1700, 2033}, 320, 240},
    {"mjpeg.mjpeg", Kind::Mjpeg, 100, {}, {2062, 2060, 2092}, 160, 120},
};

std::unique_ptr<StreamParser> MakeParser(Kind kind) {
  switch (kind) {
    case Kind::H264: return std::make_unique<H264AccessUnitSplitter>();
    case Kind::Mpeg4: return std::make_unique<Mpeg4VopSplitter>();
    case Kind::Mjpeg: return std::make_unique<MjpegFrameSplitter>();
  }
  return nullptr;
}

void ExpectSize(StreamParser& parser, Kind kind, unsigned width, unsigned height) {
  unsigned w = 0, h = 0;
  if (kind == Kind::H264) {
    auto* sps = static_cast<H264AccessUnitSplitter&>(parser).Sequence();
    ASSERT_NE(sps, nullptr);
    w = sps->width, h = sps->height;
  } else if (kind == Kind::Mpeg4) {
    auto* vol = static_cast<Mpeg4VopSplitter&>(parser).Layer();
    ASSERT_NE(vol, nullptr);
    w = vol->width, h = vol->height;
  } else {
    w = static_cast<MjpegFrameSplitter&>(parser).Width();
    h = static_cast<MjpegFrameSplitter&>(parser).Height();
  }
  EXPECT_EQ(w, width);
  EXPECT_EQ(h, height);
}

TEST(FixtureSplit, UnitsMatchFfprobeAndRebuildTheInput) {
  for (const FixtureCase& c : kFixtures) {
    SCOPED_TRACE(c.file);
    std::vector<BYTE> input = ReadFixture(c.file);
    ASSERT_FALSE(input.empty());
    auto parser = MakeParser(c.kind);
    SplitResult whole = SplitAll(*parser, input);
    ASSERT_EQ(whole.status, S_OK) << whole.error;
    ASSERT_EQ(whole.units.size(), c.units);
    for (size_t i = 0; i < c.first_sizes.size(); ++i) EXPECT_EQ(whole.units[i].bytes.size(), c.first_sizes[i]);
    std::vector<size_t> keys;
    for (size_t i = 0; i < whole.units.size(); ++i)
      if (whole.units[i].sync) keys.push_back(i);
    if (c.kind == Kind::Mjpeg)
      EXPECT_EQ(keys.size(), c.units);
    else
      EXPECT_EQ(keys, c.key_units);
    EXPECT_TRUE(Concatenate(whole.units) == input);
    ExpectSize(*parser, c.kind, c.width, c.height);

    for (Chunking chunking : {Chunking{1, false}, Chunking{97, true}, Chunking{4096, true}}) {
      SCOPED_TRACE(chunking.size);
      auto again = MakeParser(c.kind);
      SplitResult chunked = SplitAll(*again, input, chunking);
      ASSERT_EQ(chunked.status, S_OK) << chunked.error;
      ASSERT_EQ(chunked.units.size(), whole.units.size());
      for (size_t i = 0; i < whole.units.size(); ++i) {
        EXPECT_TRUE(chunked.units[i].bytes == whole.units[i].bytes) << "unit " << i;
        EXPECT_EQ(chunked.units[i].sync, whole.units[i].sync) << "unit " << i;
      }
    }
  }
}

TEST(FixtureSplit, Y4mFramesAreTheRawPlanesTimedFromTheHeaderRate) {
  std::vector<BYTE> input = ReadFixture("video.y4m");
  for (Chunking chunking : {Chunking{}, Chunking{1, false}, Chunking{5000, true}}) {
    Y4mReader reader;
    SplitResult result = SplitAll(reader, input, chunking);
    ASSERT_EQ(result.status, S_OK) << result.error;
    ASSERT_EQ(result.units.size(), 40u);  // 4 s at 10 fps
    EXPECT_EQ(reader.Info().width, 64u);
    EXPECT_EQ(reader.Info().height, 48u);
    EXPECT_EQ(reader.Info().rate_num, 10u);
    EXPECT_EQ(reader.Info().rate_den, 1u);
    // Header line, then "FRAME\n" + 4608 bytes per frame: every frame is the bytes after its line.
    size_t header = std::string(input.begin(), input.begin() + 100).find('\n') + 1;
    for (size_t i = 0; i < result.units.size(); ++i) {
      const CollectedUnit& u = result.units[i];
      size_t at = header + i * (6 + 4608) + 6;
      ASSERT_EQ(u.bytes.size(), 4608u);
      EXPECT_TRUE(std::equal(u.bytes.begin(), u.bytes.end(), input.begin() + static_cast<long>(at)));
      EXPECT_EQ(u.start, static_cast<REFERENCE_TIME>(i) * 1000000);
      EXPECT_EQ(u.stop, static_cast<REFERENCE_TIME>(i + 1) * 1000000);
    }
  }
}

TEST(FixtureSplit, WavBlocksAre20MillisecondsOfTheDataChunk) {
  std::vector<BYTE> input = ReadFixture("audio.wav");
  const std::string text(input.begin(), input.end());
  const size_t data = text.find("data") + 8;  // behind the fmt and LIST chunks
  for (Chunking chunking : {Chunking{}, Chunking{1, false}, Chunking{3000, true}}) {
    WavReader reader;
    SplitResult result = SplitAll(reader, input, chunking);
    ASSERT_EQ(result.status, S_OK) << result.error;
    EXPECT_EQ(reader.FormatTag(), 1);
    EXPECT_EQ(reader.Channels(), 2);
    EXPECT_EQ(reader.SamplesPerSecond(), 16000u);
    EXPECT_EQ(reader.Format().size(), 18u);
    ASSERT_EQ(result.units.size(), 200u);  // 4 s in 20 ms blocks of 320 stereo samples
    for (size_t i = 0; i < result.units.size(); ++i) {
      EXPECT_EQ(result.units[i].bytes.size(), 1280u);
      EXPECT_EQ(result.units[i].start, static_cast<REFERENCE_TIME>(i) * 200000);
    }
    EXPECT_TRUE(Concatenate(result.units) == std::vector<BYTE>(input.begin() + static_cast<long>(data), input.end()));
  }
}

}  // namespace
