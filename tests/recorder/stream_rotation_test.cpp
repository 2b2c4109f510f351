// Recording real elementary streams with a new file name set mid-stream: each file must decode
// from its first frame, the frames of both files together must be the original stream's, audio
// must follow the switch, and the second file's times must continue the first's. A real decoder
// (ffmpeg) is the judge.
#include <cstdio>
#include <limits>
#include <memory>
#include <sstream>

#include "platform/asf/reader.h"
#include "recorder_test_support.h"
#include "sources/h264_splitter.h"
#include "sources/mjpeg_splitter.h"
#include "sources/mpeg4_splitter.h"
#include "sources/wav_reader.h"
#include "sources/y4m_reader.h"

using namespace recorder_test;

namespace {

constexpr REFERENCE_TIME kFrameTime = 400000;

bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1") == 0; }

struct CommandResult {
  std::string out, err;
  int status = -1;
};

CommandResult RunCommand(const std::string& command, const TempDir& dir) {
  CommandResult result;
  const std::string errPath = dir / "stderr.txt";
  FILE* pipe = popen((command + " 2>'" + errPath + "'").c_str(), "r");
  if (!pipe) return result;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) result.out.append(buf, n);
  result.status = pclose(pipe);
  std::vector<BYTE> err = ReadBytes(errPath);
  result.err.assign(err.begin(), err.end());
  return result;
}

// The per-frame hashes of the video that ffmpeg decodes from `input`, every frame as decoded.
std::vector<std::string> DecodedFrames(const std::string& input, const TempDir& dir, std::string* errors) {
  CommandResult r = RunCommand("ffmpeg -nostdin -v error " + input + " -map 0:v -fps_mode passthrough -f framemd5 -", dir);
  *errors = r.err + (r.status == 0 ? "" : "exit status " + std::to_string(r.status));
  std::vector<std::string> hashes;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty() && line[0] != '#') hashes.push_back(line.substr(line.rfind(',') + 1));
  return hashes;
}

struct Unit {
  std::vector<BYTE> bytes;
  bool sync = false;
  REFERENCE_TIME start = 0, stop = 0;
};

std::vector<Unit> Split(StreamParser& parser, const std::vector<BYTE>& input) {
  std::vector<Unit> units;
  EXPECT_EQ(S_OK, parser.Push(input.data(), input.size()));
  parser.Finish();
  StreamUnit unit;
  HRESULT hr;
  while ((hr = parser.Next(&unit)) == S_OK)
    units.push_back({std::vector<BYTE>(unit.data, unit.data + unit.size), unit.sync, unit.start, unit.stop});
  EXPECT_EQ(S_FALSE, hr) << parser.Error();
  return units;
}

struct VideoStream {
  std::vector<Unit> units;
  CMediaType type;
  bool inspected = false;  // an inspected class switches only at a key frame
};

// The fixture's units through a `Parser`, typed as `subtype` by what `format(parser)` reads
// from the parser once it has seen them all.
template <class Parser, class Format>
VideoStream Parsed(const std::string& fixture, REFGUID subtype, bool inspected, Format&& format) {
  Parser parser;
  VideoStream s;
  s.units = Split(parser, Fixture(fixture));
  s.type = VideoInfoType(subtype, format(parser));
  s.inspected = inspected;
  return s;
}

VideoStream H264(const std::string& fixture) {
  return Parsed<H264AccessUnitSplitter>(fixture, MEDIASUBTYPE_H264_INPUT, true, [](H264AccessUnitSplitter& parser) {
    const H264SequenceInfo* sequence = parser.Sequence();
    EXPECT_NE(nullptr, sequence);
    return VideoFormat{LONG(sequence ? sequence->width : 0), LONG(sequence ? sequence->height : 0), 24, kFrameTime};
  });
}

VideoStream Mpeg4(const std::string& fixture) {
  return Parsed<Mpeg4VopSplitter>(fixture, MEDIASUBTYPE_xvid, true, [](Mpeg4VopSplitter& parser) {
    const Mpeg4LayerInfo* layer = parser.Layer();
    EXPECT_NE(nullptr, layer);
    return VideoFormat{LONG(layer ? layer->width : 0), LONG(layer ? layer->height : 0), 12, kFrameTime};
  });
}

VideoStream Mjpeg(const std::string& fixture) {
  return Parsed<MjpegFrameSplitter>(fixture, MEDIASUBTYPE_MJPG, false, [](MjpegFrameSplitter& parser) {
    return VideoFormat{LONG(parser.Width()), LONG(parser.Height()), 24, kFrameTime};
  });
}

VideoStream Uncompressed(const std::string& fixture) {
  return Parsed<Y4mReader>(fixture, MEDIASUBTYPE_IYUV, false, [](Y4mReader& parser) {
    const Y4mStreamInfo& info = parser.Info();
    return VideoFormat{LONG(info.width), LONG(info.height), 12,
                       REFERENCE_TIME(10000000) * info.rate_den / info.rate_num};
  });
}

struct AudioStream {
  std::vector<Unit> units;
  CMediaType type;
};

AudioStream Wav() {
  WavReader parser;
  AudioStream s;
  s.units = Split(parser, Fixture("audio.wav"));
  s.type = PcmType(parser.Format());
  return s;
}

struct FileContents {
  std::vector<asf::MediaObject> video, audio;  // data copied into the vectors below
  std::vector<std::vector<BYTE>> videoBytes, audioBytes;
};

FileContents ReadAsf(const std::string& path) {
  FileContents f;
  asf::Reader reader;
  EXPECT_EQ(S_OK, reader.Open(path)) << path;
  EXPECT_EQ(S_OK, reader.ReadObjects([&](const asf::MediaObject& o) {
    bool video = o.stream == kVideoStreamNumber;
    (video ? f.video : f.audio).push_back(o);
    (video ? f.videoBytes : f.audioBytes).emplace_back(o.data, o.data + o.size);
  }));
  EXPECT_FALSE(reader.HasErrors()) << path;
  return f;
}

struct Case {
  const char* name;
  VideoStream (*video)(const std::string& fixture);
  const char* fixture;
  const char* ffmpegFormat;  // how ffmpeg reads the original
  // Decoder options for both sides: ffmpeg picks the Xvid IDCT for an "XVID" code, which the
  // original stream does not ask for; one IDCT on both sides compares the frames.
  const char* decoderOptions;
  size_t renameAfter;       // video samples written before the new name is set
  bool withAudio;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class RecorderStreamRotation : public ::testing::TestWithParam<Case> {};

TEST_P(RecorderStreamRotation, NewNameMidStream) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  const Case& c = GetParam();
  TempDir dir;
  VideoStream video = c.video(c.fixture);
  ASSERT_GT(video.units.size(), c.renameAfter + 2);
  AudioStream audio;
  if (c.withAudio) audio = Wav();

  TestOwner owner;
  owner.videoConnected = true;
  owner.videoType = video.type;
  owner.audioConnected = c.withAudio;
  if (c.withAudio) owner.audioType = audio.type;
  CASFRecorder recorder(&owner);
  ASSERT_EQ(S_OK, recorder.SetFileName(Wide(dir / "first.asf").c_str()));
  ASSERT_EQ(S_OK, recorder.StartRecording());

  // Both streams in time order, as two live sources deliver them.
  size_t nextAudio = 0, audioBeforeSwitch = 0;
  auto writeAudioUntil = [&](REFERENCE_TIME until) {
    for (; nextAudio < audio.units.size() && audio.units[nextAudio].start <= until; ++nextAudio) {
      const Unit& a = audio.units[nextAudio];
      TestSample sample(a.start, a.stop, a.bytes, true);
      HRESULT hr = recorder.WriteAudio(&sample);
      if (hr != S_OK) return hr;
    }
    return S_OK;
  };
  size_t switchAt = c.renameAfter;
  if (video.inspected)
    while (switchAt < video.units.size() && !video.units[switchAt].sync) ++switchAt;
  ASSERT_LT(switchAt, video.units.size());
  for (size_t i = 0; i < video.units.size(); ++i) {
    const Unit& v = video.units[i];
    REFERENCE_TIME start = v.stop > v.start ? v.start : REFERENCE_TIME(i) * kFrameTime;
    REFERENCE_TIME stop = v.stop > v.start ? v.stop : start + kFrameTime;
    ASSERT_EQ(S_OK, writeAudioUntil(start));
    if (i == switchAt) audioBeforeSwitch = nextAudio;
    if (i == c.renameAfter) {
      ASSERT_EQ(S_OK, recorder.SetFileName(Wide(dir / "second.asf").c_str()));
    }
    TestSample sample(start, stop, v.bytes, !video.inspected || v.sync);
    ASSERT_EQ(S_OK, recorder.WriteVideo(&sample)) << i;
  }
  ASSERT_EQ(S_OK, writeAudioUntil(std::numeric_limits<REFERENCE_TIME>::max()));
  ASSERT_EQ(S_OK, recorder.StopRecording());

  // The switch came at the first sample that may begin a file, with the header in front.
  FileContents first = ReadAsf(dir / "first.asf"), second = ReadAsf(dir / "second.asf");
  ASSERT_EQ(switchAt, first.video.size());
  ASSERT_EQ(video.units.size() - switchAt, second.video.size());
  const std::vector<BYTE>& opening = second.videoBytes[0];
  const std::vector<BYTE>& unit = video.units[switchAt].bytes;
  ASSERT_GE(opening.size(), unit.size());
  const size_t prefix = opening.size() - unit.size();
  EXPECT_TRUE(std::equal(unit.begin(), unit.end(), opening.begin() + prefix));
  EXPECT_TRUE(std::equal(opening.begin(), opening.begin() + prefix, video.units[0].bytes.begin()));
  EXPECT_EQ(video.inspected, prefix > 0) << prefix;
  for (size_t i = 1; i < second.video.size(); ++i) EXPECT_EQ(video.units[switchAt + i].bytes, second.videoBytes[i]);

  // The second file's times go on from the first's (presentation times include the preroll).
  const REFERENCE_TIME switchStart =
      video.units[switchAt].stop > 0 ? video.units[switchAt].start : REFERENCE_TIME(switchAt) * kFrameTime;
  EXPECT_EQ(static_cast<uint32_t>(switchStart / 10000 + 3000), second.video[0].presentationMs);
  EXPECT_LT(first.video.back().presentationMs, second.video[0].presentationMs);

  // Audio went into the old file until the switch and into the new one after it.
  if (c.withAudio) {
    ASSERT_EQ(audioBeforeSwitch, first.audio.size());
    ASSERT_EQ(audio.units.size() - audioBeforeSwitch, second.audio.size());
    for (size_t i = 0; i < audio.units.size(); ++i) {
      const auto& bytes = i < audioBeforeSwitch ? first.audioBytes[i] : second.audioBytes[i - audioBeforeSwitch];
      ASSERT_EQ(audio.units[i].bytes, bytes) << i;
    }
    EXPECT_GT(audioBeforeSwitch, 0u);
    EXPECT_LT(audioBeforeSwitch, audio.units.size());
  }

  // A real decoder: each file decodes without an error from its first frame, and the frames of
  // both together are the original stream's.
  std::string errors;
  const std::string fixturePath = std::string(PELISTRA_SOURCE_DIR) + "/tests/fixtures/" + c.fixture;
  std::vector<std::string> original =
      DecodedFrames(std::string(c.decoderOptions) + " -f " + c.ffmpegFormat + " -i '" + fixturePath + "'", dir, &errors);
  ASSERT_EQ(video.units.size(), original.size()) << errors;
  std::vector<std::string> decoded;
  for (auto [name, frames] : {std::pair{"first.asf", switchAt}, std::pair{"second.asf", video.units.size() - switchAt}}) {
    SCOPED_TRACE(name);
    std::vector<std::string> hashes = DecodedFrames(std::string(c.decoderOptions) + " -i '" + (dir / name) + "'", dir, &errors);
    EXPECT_EQ("", errors);
    EXPECT_EQ(frames, hashes.size());
    decoded.insert(decoded.end(), hashes.begin(), hashes.end());
    CommandResult whole = RunCommand("ffmpeg -nostdin -v error -i '" + (dir / name) + "' -f null -", dir);
    EXPECT_EQ("", whole.err);
    EXPECT_EQ(0, whole.status);
  }
  EXPECT_EQ(original, decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, RecorderStreamRotation,
    ::testing::Values(
        // Every access unit opens with a delimiter: the switch waits for the next IDR picture.
        Case{"H264WithDelimiters", H264, "h264-aud.264", "h264", "", 30, true},
        Case{"H264Slices", H264, "h264-noaud-slices.264", "h264", "", 30, false},
        Case{"Mpeg4Part2", Mpeg4, "mpeg4.m4v", "m4v", "-idct simple", 60, false},
        Case{"Mjpeg", Mjpeg, "mjpeg.mjpeg", "mjpeg", "", 37, false},
        Case{"Uncompressed", Uncompressed, "video.y4m", "yuv4mpegpipe", "", 17, true}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
