// `pelistra probe` on recordings that were never finished: the header still says broadcast, the
// file ends wherever the writer stopped. The report says so and shows what the packets hold.
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "probe_fixtures.h"

using namespace probe_test;

namespace {

constexpr uint32_t kPacket = 1000;

struct Layout {
  size_t dataStart, packets;
};

Layout LayoutOf(const std::vector<uint8_t>& bytes) {
  asf::Reader reader;
  EXPECT_EQ(S_OK, reader.OpenMemory(bytes.data(), bytes.size()));
  return {static_cast<size_t>(reader.DataStart()), static_cast<size_t>(reader.PacketsInFile())};
}

}  // namespace

TEST(ProbeUnfinished, ReportsWhatTheDataHoldsWhereverTheFileWasCut) {
  TempDir dir;
  WriteRecording(dir / "finished.asf", kPacket);
  const auto finished = ReadFile(dir / "finished.asf");
  const Layout layout = LayoutOf(finished);
  ASSERT_GT(layout.packets, 20u);
  const auto allFrames = Lines(RunOn(dir / "finished.asf", false, true).out, "frame ");
  ASSERT_EQ(100u, allFrames.size());

  struct Case {
    const char* what;
    size_t length;
    size_t packets, tornBytes;
  } cases[] = {
      {"no packet yet", layout.dataStart, 0, 0},
      {"one packet", layout.dataStart + kPacket, 1, 0},
      {"torn third packet", layout.dataStart + 2 * kPacket + 437, 2, 437},
      {"half the packets", layout.dataStart + layout.packets / 2 * kPacket, layout.packets / 2, 0},
      {"every packet, no index", layout.dataStart + layout.packets * kPacket, layout.packets, 0},
      {"every packet and the index", finished.size(), layout.packets, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto bytes = finished;
    MarkUnfinished(bytes);
    bytes.resize(c.length);
    const std::string path = dir / "cut.asf";
    WriteFile(path, bytes);

    Probe text = RunOn(path, false, true);
    EXPECT_EQ(3, text.code) << text.err << text.out;
    EXPECT_TRUE(Contains(text.out, "Status: not finished: the recording was cut short")) << text.out;
    EXPECT_TRUE(Contains(text.out, "Packets: unknown to the header, " + std::to_string(c.packets) + " present"));
    EXPECT_FALSE(Contains(text.out, "Problems: none"));
    EXPECT_FALSE(Contains(text.out, "error at")) << text.out;
    EXPECT_EQ(c.tornBytes != 0, Contains(text.out, "ends inside a packet"));
    EXPECT_EQ(c.tornBytes != 0, Contains(text.out, "last packet is incomplete"));
    EXPECT_TRUE(Contains(text.err, "not finished"));
    // The frames are the finished file's, up to where the data stops.
    const auto frames = Lines(text.out, "frame ");
    ASSERT_LE(frames.size(), allFrames.size());
    EXPECT_TRUE(std::equal(frames.begin(), frames.end(), allFrames.begin()));
    if (c.packets == layout.packets) {
      EXPECT_EQ(allFrames.size(), frames.size());
    }
    EXPECT_TRUE(Contains(text.out, "Read from the data: " + std::to_string(c.packets) + " packets, " +
                                       std::to_string(frames.size()) + " objects"))
        << text.out;

    Probe json = RunOn(path, true);
    EXPECT_EQ(3, json.code);
    for (const std::string& field : std::vector<std::string>{"\"finished\": false", "\"broadcast\": true",
                                    "\"packets_present\": " + std::to_string(c.packets),
                                    "\"torn_bytes\": " + std::to_string(c.tornBytes),
                                    "\"read_from_data\": {\"packets\": " + std::to_string(c.packets) + ", \"objects\": " +
                                        std::to_string(frames.size())})
      EXPECT_TRUE(Contains(json.out, field)) << field << "\n" << json.out;
  }
}

// A recorder killed outright: what the writer had flushed is there, the header never rewritten.
TEST(ProbeUnfinished, RecordingKilledBeforeItsEnd) {
  TempDir dir;
  const std::string path = dir / "killed.asf";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto options = TwoStreams(kPacket);
    options.bufferBytes = 4 * kPacket;
    asf::Writer writer;
    if (FAILED(writer.Open(path, options))) _exit(1);
    std::vector<uint8_t> bytes(3000, 0x22);
    for (int i = 0; i < 200; ++i)
      if (FAILED(writer.WriteSample(8, i * 400000LL, 400000, i % 25 == 0, false, bytes.data(), 1500 + i % 700)))
        _exit(1);
    kill(getpid(), SIGKILL);
    _exit(1);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

  Probe p = RunOn(path);
  EXPECT_EQ(3, p.code) << p.err << p.out;
  EXPECT_TRUE(Contains(p.out, "Status: not finished")) << p.out;
  EXPECT_FALSE(Contains(p.out, "error at")) << p.out;
  const auto stream = Lines(p.out, "Stream 8: ");
  ASSERT_EQ(1u, stream.size());
  EXPECT_FALSE(Contains(stream[0], " 0 objects")) << stream[0];
}

// The same warning on every object of a file is listed a few times, then counted.
TEST(ProbeWarnings, RepeatedWarningsAreSummarised) {
  TempDir dir;
  WriteRecording(dir / "early.asf", 0, -20000000);
  Probe text = RunOn(dir / "early.asf");
  EXPECT_EQ(0, text.code) << text.err << text.out;
  const auto warnings = Lines(text.out, "warning at ");
  ASSERT_EQ(3u, warnings.size()) << text.out;
  for (const auto& w : warnings) EXPECT_TRUE(Contains(w, "before the preroll")) << w;
  const auto summary = Lines(text.out, "  ... and ");
  ASSERT_EQ(1u, summary.size()) << text.out;
  // Every sample is before 0, so before the preroll on the file's time axis; three listed.
  EXPECT_EQ("  ... and 97 more like this", summary[0]);

  Probe json = RunOn(dir / "early.asf", true);
  EXPECT_TRUE(Contains(json.out, "before the preroll\", \"more\": 97}")) << json.out;
}
