// `pelistra probe`: the report of a sound file, the exit codes of broken and unreadable ones.
#include "probe_fixtures.h"

using namespace probe_test;

namespace {

class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_ / "rec.asf";
    WriteRecording(path_);
  }
  TempDir dir_;
  std::string path_;
};

}  // namespace

TEST_F(ProbeTest, ReportsStreamsHeaderAndIndex) {
  Probe p = RunOn(path_);
  EXPECT_EQ(0, p.code) << p.err;
  // A finished file declares the rates measured over its 2 s: 50 x 3840 and 2000..2049 bytes.
  for (const char* line : {"Title: ASF File", "Preroll: 3000 ms", "Play duration: 5.000 s (media 2.000 s)", "Flags: seekable",
                           "Stream 6: audio, format tag 0x0001, 48000 Hz, 2 channels, 16 bits, 768000 bit/s, buffer 3000 ms, 50 objects",
                           "Stream 8: video, XVID, 640x480, 404900 bit/s, buffer 3000 ms, 50 objects",
                           "Index: stream 8, 6 entries every 1.000 s", "Status: finished",
                           "Read from the data: ", "Problems: none"})
    EXPECT_NE(std::string::npos, p.out.find(line)) << line << "\n" << p.out;

  Probe json = RunOn(path_, true, true);
  EXPECT_EQ(0, json.code);
  for (const char* field : {"\"packet_size\": 8192", "\"fourcc\": \"XVID\"", "\"seekable\": true", "\"finished\": true", "\"torn_bytes\": 0", "\"count\": 6, \"entries\": [[0, ",
                            "{\"stream\": 8, \"time_ms\": 3000, \"size\": 2000, \"key\": true}", "\"problems\": [\n  ]"})
    EXPECT_NE(std::string::npos, json.out.find(field)) << field << "\n" << json.out.substr(0, 2000);

  Probe frames = RunOn(path_, false, true);
  EXPECT_NE(std::string::npos, frames.out.find("frame stream 8 time 3040 ms size 2001\n"));
}

TEST_F(ProbeTest, ExitCodesForBrokenAndUnreadableFiles) {
  // A finished file cut short: its header claims more than is there.
  std::filesystem::resize_file(path_, std::filesystem::file_size(path_) - 100);
  Probe cut = RunOn(path_);
  EXPECT_EQ(1, cut.code);
  EXPECT_NE(std::string::npos, cut.out.find("error at")) << cut.out;
  EXPECT_NE(std::string::npos, cut.err.find("structural errors"));

  std::ofstream(dir_ / "text.asf") << "not a media file at all";
  Probe text = RunOn(dir_ / "text.asf");
  EXPECT_EQ(2, text.code);
  EXPECT_NE(std::string::npos, text.err.find("not a readable ASF file")) << text.err;

  Probe missing = RunOn(dir_ / "missing.asf");
  EXPECT_EQ(2, missing.code);
  EXPECT_NE(std::string::npos, missing.err.find("no such file")) << missing.err;
}
