// A real player's demuxer accepts what the writer makes: ffprobe lists the streams, the title and
// the duration of a finished file, and reads a file cut short before Close.
#include <cstdio>

#include "asf_test_support.h"
#include "tests/support/command_output.h"

using namespace asf_test;

namespace {

bool HaveFfprobe() { return std::system("ffprobe -version >/dev/null 2>&1") == 0; }

// 2 s of PCM audio and a "video" of synthetic bytes under an MJPEG code: the demuxer does not
// decode, so its view of the container is what is checked.
void WriteTwoSeconds(asf::Writer& writer, const std::string& path, bool close, size_t bufferBytes = 0,
                     uint32_t declaredVideoRate = 1000000) {
  asf::WriterOptions options;
  auto video = Video(8, "MJPG");
  video.bitrate = declaredVideoRate;
  options.streams = {Audio(6), video};
  options.title = u"ASF File";
  options.bufferBytes = bufferBytes;
  ASSERT_EQ(S_OK, writer.Open(path, options));
  for (uint32_t frame = 0; frame < 50; ++frame) {
    const int64_t t = frame * 400000;
    for (int half = 0; half < 2; ++half) {
      std::vector<uint8_t> pcm(3840, static_cast<uint8_t>(frame));
      ASSERT_EQ(S_OK, writer.WriteSample(6, t + half * 200000, 200000, false, false, pcm.data(), pcm.size()));
    }
    auto bytes = SampleBytes(8, frame, frame % 25 == 0 ? 20000 : 4000);
    ASSERT_EQ(S_OK, writer.WriteSample(8, t, 400000, frame % 25 == 0, false, bytes.data(), bytes.size()));
  }
  if (close) {
    ASSERT_EQ(S_OK, writer.Close());
  }
}

}  // namespace

TEST(AsfFfprobe, ListsStreamsTitleAndDuration) {
  if (!HaveFfprobe()) {
    GTEST_SKIP() << "ffprobe is not installed";
  }
  TempDir dir;
  const std::string path = dir / "probe.asf";
  asf::Writer writer;
  WriteTwoSeconds(writer, path, true);
  const std::string out = CommandOutput("ffprobe -v error -show_entries stream=index,codec_type,codec_name,sample_rate,channels,width,height"
                              ":format=duration,format_name:format_tags=title -of flat '" + path + "' 2>&1");
  EXPECT_NE(std::string::npos, out.find("streams.stream.0.codec_type=\"audio\"")) << out;
  EXPECT_NE(std::string::npos, out.find("streams.stream.0.codec_name=\"pcm_s16le\"")) << out;
  EXPECT_NE(std::string::npos, out.find("streams.stream.0.sample_rate=\"48000\"")) << out;
  EXPECT_NE(std::string::npos, out.find("streams.stream.1.codec_type=\"video\"")) << out;
  EXPECT_NE(std::string::npos, out.find("streams.stream.1.codec_name=\"mjpeg\"")) << out;
  EXPECT_NE(std::string::npos, out.find("streams.stream.1.width=320")) << out;
  EXPECT_NE(std::string::npos, out.find("format.format_name=\"asf\"")) << out;
  EXPECT_NE(std::string::npos, out.find("format.duration=\"2.000000\"")) << out;
  EXPECT_NE(std::string::npos, out.find("format.tags.title=\"ASF File\"")) << out;

  // Every packet of both streams demuxes, with the times the writer gave.
  const std::string packets = CommandOutput("ffprobe -v error -show_entries packet=stream_index,pts_time -of csv '" + path + "'");
  size_t audio = 0, video = 0;
  for (size_t at = 0; (at = packets.find("packet,", at)) != std::string::npos; ++at)
    (packets[at + 7] == '0' ? audio : video)++;
  EXPECT_EQ(100u, audio);
  EXPECT_EQ(50u, video);
  EXPECT_NE(std::string::npos, packets.find("packet,1,1.960000")) << packets;
}

TEST(AsfFfprobe, ReadsAFileCutShortBeforeClose) {
  if (!HaveFfprobe()) {
    GTEST_SKIP() << "ffprobe is not installed";
  }
  TempDir dir;
  const std::string path = dir / "live.asf";
  {
    asf::Writer writer;
    WriteTwoSeconds(writer, path, false, 64 << 10);
    WriteFile(dir / "copy.asf", ReadFile(path));
  }  // abandoned: the writer keeps what it accepted, the header stays "broadcast"
  for (const char* name : {"copy.asf", "live.asf"}) {
    const std::string packets = CommandOutput("ffprobe -v error -show_entries packet=stream_index -of csv '" + (dir / name) + "' 2>&1");
    EXPECT_NE(std::string::npos, packets.find("packet,0")) << name << packets;
    EXPECT_NE(std::string::npos, packets.find("packet,1")) << name << packets;
  }
}

// A recorder declares a guess before it has seen a frame; the finished file declares what the
// streams carried: 2 key frames of 20,000 bytes and 48 frames of 4,000 in 2 s make 928 kbit/s.
TEST(AsfFfprobe, FinishedFileDeclaresTheMeasuredBitRates) {
  if (!HaveFfprobe()) {
    GTEST_SKIP() << "ffprobe is not installed";
  }
  TempDir dir;
  const std::string path = dir / "rate.asf";
  asf::Writer writer;
  WriteTwoSeconds(writer, path, false, 0, 15000000);
  const std::string live = CommandOutput("ffprobe -v error -show_entries stream=bit_rate -of flat '" + path + "' 2>&1");
  EXPECT_NE(std::string::npos, live.find("streams.stream.1.bit_rate=\"15000000\"")) << "broadcast header: " << live;
  ASSERT_EQ(S_OK, writer.Close());
  const std::string out = CommandOutput("ffprobe -v error -show_entries stream=bit_rate:format=bit_rate -of flat '" + path + "' 2>&1");
  EXPECT_NE(std::string::npos, out.find("streams.stream.0.bit_rate=\"1536000\"")) << out;
  EXPECT_NE(std::string::npos, out.find("streams.stream.1.bit_rate=\"928000\"")) << out;
}
