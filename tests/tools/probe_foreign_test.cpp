// `pelistra probe` on streamed files other programs make: GStreamer's asfmux with
// streamable=true, ffmpeg's ASF muxer writing to a pipe, and ffmpeg's "asf_stream" chunked form.
// Their headers stay "broadcast" with the data size unknown; probe reads them to the end and
// lists the frames ffprobe reads. Each case is skipped when its tools are missing.
#include <cstdio>
#include <map>

#include "probe_fixtures.h"
#include "tests/support/command_output.h"

using namespace probe_test;

namespace {

bool RunCommand(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0; }

// Frame sizes per stream, streams in the order of their numbers.
using FrameSizes = std::map<int, std::vector<uint32_t>>;

FrameSizes ProbeFrames(const std::string& path) {
  FrameSizes frames;
  for (const auto& line : Lines(RunOn(path, false, true).out, "frame ")) {
    unsigned stream = 0, time = 0, size = 0;
    if (sscanf(line.c_str(), "frame stream %u time %u ms size %u", &stream, &time, &size) == 3)
      frames[static_cast<int>(stream)].push_back(size);
  }
  return frames;
}

// ffprobe numbers streams from 0 in header order; ours are numbered as the file numbers them.
std::vector<std::vector<uint32_t>> FfprobeFrames(const std::string& path) {
  std::vector<std::vector<uint32_t>> frames;
  std::istringstream in(CommandOutput("ffprobe -v quiet -show_entries packet=stream_index,size -of csv=p=0 '" + path + "' 2>/dev/null"));
  for (std::string line; std::getline(in, line);) {
    unsigned index = 0, size = 0;
    if (sscanf(line.c_str(), "%u,%u", &index, &size) != 2) continue;
    if (frames.size() <= index) frames.resize(index + 1);
    frames[index].push_back(size);
  }
  return frames;
}

std::vector<std::vector<uint32_t>> InOrder(const FrameSizes& frames) {
  std::vector<std::vector<uint32_t>> out;
  for (const auto& [stream, sizes] : frames) out.push_back(sizes);
  return out;
}

bool HaveGstreamer() {
  return RunCommand("gst-inspect-1.0 asfmux") && RunCommand("gst-inspect-1.0 avenc_wmv2") && RunCommand("gst-inspect-1.0 avenc_wmav2");
}
bool HaveFfmpeg() { return RunCommand("ffmpeg -version") && RunCommand("ffprobe -version"); }

// Two seconds of MPEG-4 video and WMA audio; -bitexact so two runs give the same packets.
const std::string kFfmpegInput =
    "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=2 -f lavfi -i sine=duration=2 "
    "-c:v mpeg4 -c:a wmav2 -fflags +bitexact -flags:v +bitexact -flags:a +bitexact";

void ExpectUnfinishedAndSound(const std::string& path) {
  Probe p = RunOn(path);
  EXPECT_EQ(3, p.code) << p.err << p.out;
  EXPECT_TRUE(Contains(p.out, "Status: not finished")) << p.out;
  EXPECT_FALSE(Contains(p.out, "error at")) << p.out;
  EXPECT_FALSE(Contains(p.out, " 0 present")) << p.out;
}

}  // namespace

TEST(ProbeForeign, GstreamerStreamableFile) {
  if (!HaveGstreamer() || !HaveFfmpeg()) GTEST_SKIP() << "needs GStreamer with asfmux and the libav WMV2/WMA encoders, and ffprobe";
  TempDir dir;
  const std::string path = dir / "gst.asf";
  ASSERT_TRUE(RunCommand("gst-launch-1.0 -q videotestsrc num-buffers=50 ! video/x-raw,width=320,height=240,framerate=25/1 ! "
                  "avenc_wmv2 ! queue ! asfmux name=mux streamable=true ! filesink location='" + path + "' "
                  "audiotestsrc num-buffers=40 ! audioconvert ! avenc_wmav2 ! queue ! mux."));
  ExpectUnfinishedAndSound(path);
  const auto ours = InOrder(ProbeFrames(path));
  const auto theirs = FfprobeFrames(path);
  ASSERT_EQ(2u, ours.size());
  ASSERT_EQ(2u, theirs.size());
  EXPECT_EQ(50u, ours[0].size());  // every frame GStreamer was given
  // ffprobe drops what the last, short packet holds; every frame it reads is ours too.
  for (size_t i = 0; i < 2; ++i) {
    ASSERT_LE(theirs[i].size(), ours[i].size()) << i;
    EXPECT_TRUE(std::equal(theirs[i].begin(), theirs[i].end(), ours[i].begin())) << i;
  }
}

TEST(ProbeForeign, FfmpegFileWrittenToAPipeAndItsChunkedStream) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "needs ffmpeg and ffprobe";
  TempDir dir;
  const std::string piped = dir / "piped.asf", chunked = dir / "chunked.asf";
  // Through a pipe the muxer cannot go back to write the sizes.
  ASSERT_TRUE(RunCommand(kFfmpegInput + " -f asf - | cat > '" + piped + "'"));
  ASSERT_TRUE(RunCommand(kFfmpegInput + " -f asf_stream '" + chunked + "'"));
  ExpectUnfinishedAndSound(piped);
  ExpectUnfinishedAndSound(chunked);
  EXPECT_TRUE(Contains(RunOn(chunked).out, "Form: chunked stream"));

  const auto theirs = FfprobeFrames(piped);
  ASSERT_EQ(2u, theirs.size());
  EXPECT_EQ(50u, theirs[0].size());
  EXPECT_EQ(theirs, InOrder(ProbeFrames(piped)));
  // ffprobe does not take the chunked form for ASF; it holds the same packets as the piped file.
  EXPECT_EQ(theirs, InOrder(ProbeFrames(chunked)));

  // Each cut short inside its last packet: the frames before it are still read.
  for (const std::string& path : {piped, chunked}) {
    SCOPED_TRACE(path);
    auto bytes = ReadFile(path);
    bytes.resize(bytes.size() - 5000);
    WriteFile(path, bytes);
    Probe p = RunOn(path, true);
    EXPECT_EQ(3, p.code) << p.err;
    EXPECT_FALSE(Contains(p.out, "\"torn_bytes\": 0,")) << p.out.substr(0, 3000);
    const auto cut = InOrder(ProbeFrames(path));
    ASSERT_EQ(2u, cut.size());
    EXPECT_GT(cut[0].size(), 40u);
    EXPECT_TRUE(std::equal(cut[0].begin(), cut[0].end(), theirs[0].begin()));
  }
}
