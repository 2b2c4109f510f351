// Malformed input of every kind ends in a failure status and a message that says what is wrong,
// never in a crash or a read out of bounds (the suite runs under AddressSanitizer).
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "sources/h264_splitter.h"
#include "sources/mjpeg_splitter.h"
#include "sources/mpeg4_splitter.h"
#include "sources/wav_reader.h"
#include "sources/y4m_reader.h"
#include "tests/sources/fixtures.h"
#include "tests/sources/split_all.h"

namespace {

using MakeParser = std::function<std::unique_ptr<StreamParser>()>;

template <typename T>
MakeParser Make() {
  return [] { return std::make_unique<T>(); };
}

std::vector<BYTE> Text(const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); }

struct MalformedCase {
  const char* what;
  MakeParser make;
  std::vector<BYTE> input;
  HRESULT status;
  const char* message;  // part of Error()
};

TEST(Malformed, EveryParserRefusesWithAReason) {
  const std::vector<BYTE> no_start_codes(5000, 0x5A);
  const MalformedCase cases[] = {
      {"H.264 without any start code", Make<H264AccessUnitSplitter>(), no_start_codes, E_STREAM_INVALID_DATA, "no start code"},
      {"MPEG-4 headers without a plane", Make<Mpeg4VopSplitter>(), FromHex("000001b001 000001b509"), E_STREAM_INVALID_DATA,
       "no video object plane"},
      {"MPEG-4 layer of a non-rectangular shape", Make<Mpeg4VopSplitter>(), FromHex("00000120 0084c00660 000001b600"),
       E_STREAM_INVALID_DATA, "rectangular"},
      {"MPEG-4 layer cut short", Make<Mpeg4VopSplitter>(), FromHex("00000120 008440 000001b600"), E_STREAM_INVALID_DATA,
       "truncated"},
      {"MJPEG without SOI", Make<MjpegFrameSplitter>(), no_start_codes, E_STREAM_INVALID_DATA, "no JPEG frame"},
      {"MJPEG segment length below 2", Make<MjpegFrameSplitter>(), FromHex("ffd8 ffe0 0001 ffd9"), E_STREAM_INVALID_DATA,
       "shorter than its length"},
      {"MJPEG scan before the frame header", Make<MjpegFrameSplitter>(), FromHex("ffd8 ffda 0002 00 ffd9"),
       E_STREAM_INVALID_DATA, "before the frame header"},
      {"MJPEG frame header with zero size", Make<MjpegFrameSplitter>(), FromHex("ffd8 ffc0 000b 08 0000 0008 01 011100 ffd9"),
       E_STREAM_INVALID_DATA, "zero size"},
      {"MJPEG garbage where a marker belongs", Make<MjpegFrameSplitter>(), FromHex("ffd8 1234"), E_STREAM_INVALID_DATA,
       "expected a marker"},
      {"MJPEG junk after the last frame", Make<MjpegFrameSplitter>(),
       FromHex("ffd8 ffc0 000b 08 0008 0008 01 011100 ffda 0002 00 ffd9 1234"), E_STREAM_INVALID_DATA, "after the last frame"},
      {"Y4M bad magic", Make<Y4mReader>(), Text("YUV4MPEG W2 H2 F1:1\n"), E_STREAM_INVALID_DATA, "not a YUV4MPEG2"},
      {"Y4M without a size", Make<Y4mReader>(), Text("YUV4MPEG2 F25:1\n"), E_STREAM_INVALID_DATA, "without a size"},
      {"Y4M without a rate", Make<Y4mReader>(), Text("YUV4MPEG2 W2 H2\n"), E_STREAM_INVALID_DATA, "frame rate"},
      {"Y4M rate with a zero", Make<Y4mReader>(), Text("YUV4MPEG2 W2 H2 F25:0\n"), E_STREAM_INVALID_DATA, "F25:0"},
      {"Y4M width out of range", Make<Y4mReader>(), Text("YUV4MPEG2 W99999999999 H2 F1:1\n"), E_STREAM_INVALID_DATA, "W9999"},
      {"Y4M header without its newline", Make<Y4mReader>(), Text(std::string("YUV4MPEG2 W2 H2 F1:1") + std::string(5000, ' ')),
       E_STREAM_INVALID_DATA, "too long"},
      {"Y4M frame record missing", Make<Y4mReader>(), Text("YUV4MPEG2 W2 H2 F1:1\nFRAMX\n123456"), E_STREAM_INVALID_DATA,
       "expected FRAME"},
      {"WAV not RIFF", Make<WavReader>(), Text(std::string("RIFX\0\0\0\0WAVE", 12)), E_STREAM_INVALID_DATA, "not a RIFF/WAVE"},
      {"WAV cut in the RIFF header", Make<WavReader>(), Text("RIFF"), E_STREAM_INVALID_DATA, "truncated RIFF"},
      {"WAV data before fmt", Make<WavReader>(), Text(std::string("RIFF\0\0\0\0WAVEdata\4\0\0\0abcd", 24)),
       E_STREAM_INVALID_DATA, "before the fmt"},
      {"WAV without data", Make<WavReader>(),
       Text(std::string("RIFF\0\0\0\0WAVEfmt \20\0\0\0\1\0\1\0\100\37\0\0\200\76\0\0\2\0\20\0", 36)), E_STREAM_INVALID_DATA,
       "no data chunk"},
      {"WAV PCM block alignment that lies", Make<WavReader>(),
       Text(std::string("RIFF\0\0\0\0WAVEfmt \20\0\0\0\1\0\2\0\100\37\0\0\200\76\0\0\2\0\20\0data\0\0\0\0", 44)),
       E_STREAM_INVALID_DATA, "block alignment"},
      {"WAV fmt shorter than its cbSize", Make<WavReader>(),
       Text(std::string("RIFF\0\0\0\0WAVEfmt \22\0\0\0\1\0\1\0\100\37\0\0\200\76\0\0\2\0\20\0\4\0data\0\0\0\0", 46)),
       E_STREAM_INVALID_DATA, "cbSize"},
      {"WAV extensible with a short extension", Make<WavReader>(),
       Text(std::string("RIFF\0\0\0\0WAVEfmt \22\0\0\0\376\377\1\0\100\37\0\0\200\76\0\0\2\0\20\0\0\0data\0\0\0\0", 46)),
       E_STREAM_INVALID_DATA, "EXTENSIBLE"},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.what);
    for (Chunking chunking : {Chunking{}, Chunking{1, false}}) {
      auto parser = c.make();
      SplitResult result = SplitAll(*parser, c.input, chunking);
      EXPECT_EQ(result.status, c.status) << result.error;
      EXPECT_NE(result.error.find(c.message), std::string::npos) << result.error;
      StreamUnit unit;
      EXPECT_EQ(parser->Next(&unit), c.status);  // the error stays
    }
  }
}

TEST(Malformed, EmptyInputGivesNoUnitsAndNoError) {
  for (MakeParser make : {Make<H264AccessUnitSplitter>(), Make<Mpeg4VopSplitter>(), Make<MjpegFrameSplitter>(),
                          Make<Y4mReader>(), Make<WavReader>()}) {
    auto parser = make();
    SplitResult result = SplitAll(*parser, {});
    EXPECT_EQ(result.status, S_OK) << result.error;
    EXPECT_TRUE(result.units.empty());
  }
}

TEST(Malformed, EveryPrefixOfEveryFixtureIsSafe) {
  // Cut each fixture at many places: whatever the parser says, it must not crash or read past
  // what it was given, and what it handed out is a prefix of the input.
  const std::pair<const char*, MakeParser> fixtures[] = {
      {"h264-aud.264", Make<H264AccessUnitSplitter>()}, {"mpeg4.m4v", Make<Mpeg4VopSplitter>()},
      {"mjpeg.mjpeg", Make<MjpegFrameSplitter>()},
  };
  for (const auto& [name, make] : fixtures) {
    std::vector<BYTE> input = ReadFixture(name);
    for (size_t cut = 0; cut < input.size(); cut += 997) {
      std::vector<BYTE> prefix(input.begin(), input.begin() + static_cast<long>(cut));
      auto parser = make();
      SplitResult result = SplitAll(*parser, prefix, Chunking{333, true});
      std::vector<BYTE> out = Concatenate(result.units);
      ASSERT_LE(out.size(), prefix.size());
      EXPECT_TRUE(std::equal(out.begin(), out.end(), prefix.begin())) << name << " cut at " << cut;
    }
  }
}

}  // namespace
