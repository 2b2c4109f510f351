// The container writer: exact packet bytes, what it refuses, presentation and send times, and a
// recording cut short.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "asf_test_support.h"

using namespace asf_test;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) { return std::vector<uint8_t>(values.begin(), values.end()); }

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t at, size_t n) {
  return std::vector<uint8_t>(v.begin() + at, v.begin() + at + n);
}

}  // namespace

// A 5-byte audio sample shares a 64-byte packet with the start of a 40-byte key frame, whose
// rest goes into the next packet with its offset, the key bit and the padding length.
TEST(AsfWriter, PacketBytesForSharingAndFragmentation) {
  TempDir dir;
  asf::WriterOptions options;
  auto audio = Audio(6);
  audio.format = PcmFormat(1, 8000, 16);
  options.streams = {audio, Video(8)};
  options.packetSize = 64;
  options.title = u"ASF File";
  options.clock = FrozenClock;
  asf::Writer writer;
  ASSERT_EQ(S_OK, writer.Open(dir / "a.asf", options));
  const uint8_t a[5] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
  std::vector<uint8_t> v(40);
  for (int i = 0; i < 40; ++i) v[i] = static_cast<uint8_t>(0x40 + i);
  ASSERT_EQ(S_OK, writer.WriteSample(6, 100000, 200000, false, false, a, 5));  // 10 ms, 20 ms long
  ASSERT_EQ(S_OK, writer.WriteSample(8, 100000, 400000, true, false, v.data(), v.size()));
  ASSERT_EQ(S_OK, writer.Close());

  auto file = ReadFile(dir / "a.asf");
  asf::Reader reader;
  ASSERT_EQ(S_OK, reader.Open(dir / "a.asf"));
  ASSERT_EQ(2u, reader.PacketsInFile());
  const size_t p0 = reader.DataStart(), p1 = p0 + 64;

  std::vector<uint8_t> packet0 = Bytes({0x82, 0x00, 0x00, 0x11, 0x5D, 0x00, 0x00,  // no padding
                                        0x0A, 0x00, 0x00, 0x00, 0x28, 0x00,        // send 10 ms, 40 ms long
                                        0x82,                                      // 2 payloads, WORD lengths
                                        0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x05, 0x00, 0x00, 0x00,
                                        0xC2, 0x0B, 0x00, 0x00, 0x05, 0x00, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5,
                                        0x88, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x28, 0x00, 0x00, 0x00,
                                        0xC2, 0x0B, 0x00, 0x00, 0x0B, 0x00});
  packet0.insert(packet0.end(), v.begin(), v.begin() + 11);
  EXPECT_EQ(packet0, Slice(file, p0, 64));

  std::vector<uint8_t> packet1 = Bytes({0x82, 0x00, 0x00, 0x11, 0x5D, 0x04, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x28, 0x00,
                                        0x81, 0x88, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x08, 0x28, 0x00, 0x00, 0x00,
                                        0xC2, 0x0B, 0x00, 0x00, 0x1D, 0x00});
  packet1.insert(packet1.end(), v.begin() + 11, v.end());
  packet1.insert(packet1.end(), 4, 0x00);
  EXPECT_EQ(packet1, Slice(file, p1, 64));

  // The file starts with the Header Object, "01 02"; the title is UTF-16LE with its terminator.
  EXPECT_EQ(Bytes({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}),
            Slice(file, 0, 16));
  EXPECT_EQ(Bytes({0x01, 0x02}), Slice(file, 28, 2));
  const auto title = Bytes({0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C,
                            52, 0, 0, 0, 0, 0, 0, 0, 18, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'A', 0, 'S', 0, 'F', 0, ' ', 0,
                            'F', 0, 'i', 0, 'l', 0, 'e', 0, 0, 0});
  EXPECT_NE(file.end(), std::search(file.begin(), file.end(), title.begin(), title.end()));
  // Audio Spread, span 1, block align 2, as Windows-Media-style files carry it.
  const auto spread = Bytes({0x01, 0x02, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00});
  EXPECT_NE(file.end(), std::search(file.begin(), file.end(), spread.begin(), spread.end()));
  ReadObjects(reader);
  EXPECT_FALSE(reader.HasErrors()) << DescribeProblems(reader);
}

TEST(AsfWriter, RefusesBadCallsWithStatuses) {
  TempDir dir;
  asf::Writer writer;
  const uint8_t byte = 1;
  EXPECT_EQ(NS_E_INVALID_REQUEST, writer.WriteSample(8, 0, 0, true, false, &byte, 1));
  EXPECT_EQ(NS_E_INVALID_REQUEST, writer.Close());

  asf::WriterOptions options;
  options.streams = {Audio(6), Video(8)};
  ASSERT_EQ(S_OK, writer.Open(dir / "a.asf", options));
  EXPECT_EQ(NS_E_INVALID_REQUEST, writer.Open(dir / "b.asf", options));
  const uint64_t size = writer.FileSize();
  EXPECT_EQ(NS_E_INVALID_STREAM, writer.WriteSample(7, 0, 0, true, false, &byte, 1));
  EXPECT_EQ(NS_E_INVALID_STREAM, writer.WriteSample(200, 0, 0, true, false, &byte, 1));
  EXPECT_EQ(S_FALSE, writer.WriteSample(8, 0, 0, true, false, &byte, 0));
  EXPECT_EQ(E_POINTER, writer.WriteSample(8, 0, 0, true, false, nullptr, 1));
  // Below minus the preroll, and past what DWORD milliseconds hold.
  EXPECT_EQ(NS_E_INVALID_DATA, writer.WriteSample(8, -30000001, 0, true, false, &byte, 1));
  EXPECT_EQ(NS_E_INVALID_DATA, writer.WriteSample(8, (int64_t{1} << 32) * 10000 - 3000 * 10000, 0, true, false, &byte, 1));
  EXPECT_EQ(NS_E_INVALID_DATA, writer.WriteSample(8, INT64_MIN, 0, true, false, &byte, 1));
  EXPECT_EQ(NS_E_INVALID_DATA, writer.WriteSample(8, INT64_MAX, 0, true, false, &byte, 1));
  EXPECT_EQ(size, writer.FileSize()) << "refused samples wrote nothing";
  ASSERT_EQ(S_OK, writer.Close());
  EXPECT_EQ(NS_E_INVALID_REQUEST, writer.WriteSample(8, 0, 0, true, false, &byte, 1));

  asf::Reader reader;
  ASSERT_EQ(S_OK, reader.Open(dir / "a.asf"));
  EXPECT_TRUE(ReadObjects(reader).empty());
  EXPECT_EQ(0u, reader.File().packetCount);
  EXPECT_FALSE(reader.HasErrors()) << DescribeProblems(reader);
}

TEST(AsfWriter, RefusesBadDescriptions) {
  struct Case {
    const char* what;
    void (*change)(asf::WriterOptions&);
  } cases[] = {
      {"no streams", [](asf::WriterOptions& o) { o.streams.clear(); }},
      {"stream 0", [](asf::WriterOptions& o) { o.streams[0].number = 0; }},
      {"stream 128", [](asf::WriterOptions& o) { o.streams[0].number = 128; }},
      {"same number twice", [](asf::WriterOptions& o) { o.streams[1].number = o.streams[0].number; }},
      {"cbSize beyond the format", [](asf::WriterOptions& o) { o.streams[0].format[16] = 4; }},
      {"short WAVEFORMATEX", [](asf::WriterOptions& o) { o.streams[0].format.resize(16); }},
      {"short BITMAPINFOHEADER", [](asf::WriterOptions& o) { o.streams[1].format.resize(39); }},
      {"packet size over 65535", [](asf::WriterOptions& o) { o.packetSize = 65536; }},
      {"packet size too small for a payload", [](asf::WriterOptions& o) { o.packetSize = 31; }},
      {"buffer window over the preroll", [](asf::WriterOptions& o) { o.streams[1].bufferWindowMs = 5000; }},
  };
  TempDir dir;
  for (const auto& c : cases) {
    asf::WriterOptions options;
    options.streams = {Audio(6), Video(8)};
    c.change(options);
    asf::Writer writer;
    EXPECT_EQ(E_INVALIDARG, writer.Open(dir / "x.asf", options)) << c.what;
    EXPECT_FALSE(writer.IsOpen());
  }
}

// Presentation time = floor(sample time in ms) + preroll, down to minus the preroll and up to
// the largest DWORD; send times stay at or above zero and never go back, even when the sample
// times do.
TEST(AsfWriter, PresentationAndSendTimes) {
  struct Case {
    int64_t sampleTime;
    uint32_t presentationMs;
  } cases[] = {{0, 3000},       {9999, 3000},          {10000, 3001},
               {-1, 2999},      {-15000, 2998},        {-30000000, 0},
               {5000000, 3500}, {1000000, 3100},  // backwards
               {(int64_t{0xFFFFFFFF} - 3000) * 10000 + 9999, 0xFFFFFFFF}};
  TempDir dir;
  asf::WriterOptions options;
  options.streams = {Audio(6)};
  options.packetSize = 100;  // one payload per packet: every sample gets its own send time
  asf::Writer writer;
  ASSERT_EQ(S_OK, writer.Open(dir / "t.asf", options));
  const std::vector<uint8_t> sample(60, 0x55);
  for (const auto& c : cases) ASSERT_EQ(S_OK, writer.WriteSample(6, c.sampleTime, 0, false, false, sample.data(), sample.size()));
  ASSERT_EQ(S_OK, writer.Close());

  asf::Reader reader;
  ASSERT_EQ(S_OK, reader.Open(dir / "t.asf"));
  auto objects = ReadObjects(reader);
  ASSERT_EQ(std::size(cases), objects.size());
  for (size_t i = 0; i < objects.size(); ++i) EXPECT_EQ(cases[i].presentationMs, objects[i].presentationMs) << i;
  EXPECT_FALSE(reader.HasErrors()) << DescribeProblems(reader);  // includes send-time order

  auto file = ReadFile(dir / "t.asf");
  std::vector<uint32_t> sends;
  for (uint64_t n = 0; n < reader.PacketsInFile(); ++n) sends.push_back(asf::GetU32(&file[reader.DataStart() + n * 100 + 7]));
  EXPECT_EQ((std::vector<uint32_t>{0, 0, 1, 1, 1, 1, 500, 500, 0xFFFFFFFF - 3000}), sends);
}

// A sample far larger than the write block goes out whole, in packets of its own.
TEST(AsfWriter, SampleLargerThanTheBuffer) {
  TempDir dir;
  asf::WriterOptions options;
  options.streams = {Video(8)};
  options.packetSize = 1000;
  options.bufferBytes = 4000;
  asf::Writer writer;
  ASSERT_EQ(S_OK, writer.Open(dir / "big.asf", options));
  auto big = SampleBytes(8, 1, 100000);
  auto small = SampleBytes(8, 2, 10);
  ASSERT_EQ(S_OK, writer.WriteSample(8, 0, 400000, true, false, small.data(), small.size()));
  ASSERT_EQ(S_OK, writer.WriteSample(8, 400000, 400000, true, false, big.data(), big.size()));
  ASSERT_EQ(S_OK, writer.Close());
  asf::Reader reader;
  ASSERT_EQ(S_OK, reader.Open(dir / "big.asf"));
  auto objects = ReadObjects(reader);
  ASSERT_EQ(2u, objects.size());
  EXPECT_EQ(big, objects[1].data);
  EXPECT_FALSE(reader.HasErrors()) << DescribeProblems(reader);
}

// Until Close the header says "broadcast" with unknown sizes: a copy taken mid-recording, even
// one that ends inside a packet, reads up to its last whole packet.
TEST(AsfWriter, FileCutShortReadsUpToItsLastWholePacket) {
  TempDir dir;
  asf::WriterOptions options;
  options.streams = {Audio(6), Video(8)};
  options.packetSize = 1000;
  options.bufferBytes = 8000;
  asf::Writer writer;
  ASSERT_EQ(S_OK, writer.Open(dir / "live.asf", options));
  std::vector<std::vector<uint8_t>> written;
  for (uint32_t i = 0; i < 60; ++i) {
    auto bytes = SampleBytes(8, i, 700 + 37 * i);
    ASSERT_EQ(S_OK, writer.WriteSample(8, i * 400000, 400000, i % 10 == 0, false, bytes.data(), bytes.size()));
    written.push_back(bytes);
  }
  auto live = ReadFile(dir / "live.asf");
  ASSERT_EQ(S_OK, writer.Close());

  for (size_t cut : {size_t{0}, size_t{450}}) {
    SCOPED_TRACE(cut);
    WriteFile(dir / "cut.asf", std::vector<uint8_t>(live.begin(), live.end() - cut));
    asf::Reader reader;
    ASSERT_EQ(S_OK, reader.Open(dir / "cut.asf"));
    EXPECT_TRUE(reader.File().flags & asf::kFlagBroadcast);
    EXPECT_EQ((live.size() - reader.DataStart()) / 1000 - (cut ? 1 : 0), reader.PacketsInFile());
    auto objects = ReadObjects(reader);
    ASSERT_GT(objects.size(), 10u);
    for (size_t i = 0; i < objects.size(); ++i) EXPECT_EQ(written[i], objects[i].data) << i;
    EXPECT_FALSE(reader.HasErrors()) << DescribeProblems(reader);
  }
}

// A writer in a child process that dies before Close leaves a file that plays to its last
// flushed packet.
TEST(AsfWriter, ProcessEndingBeforeCloseLeavesAReadableFile) {
  TempDir dir;
  const std::string path = dir / "crash.asf";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    asf::WriterOptions options;
    options.streams = {Audio(6), Video(8)};
    options.packetSize = 2000;
    options.bufferBytes = 16000;
    asf::Writer writer;
    if (FAILED(writer.Open(path, options))) _exit(2);
    for (uint32_t i = 0; i < 100; ++i) {
      auto video = SampleBytes(8, i, 3000);
      auto audio = SampleBytes(6, i, 3840);
      if (writer.WriteSample(8, i * 400000, 400000, i % 25 == 0, false, video.data(), video.size()) != S_OK) _exit(3);
      if (writer.WriteSample(6, i * 400000, 400000, false, false, audio.data(), audio.size()) != S_OK) _exit(3);
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  asf::Reader reader;
  ASSERT_EQ(S_OK, reader.Open(path));
  auto objects = ReadObjects(reader);
  EXPECT_FALSE(reader.HasErrors()) << DescribeProblems(reader);
  ASSERT_GT(objects.size(), 100u);
  uint32_t next[128] = {};
  for (const auto& o : objects) {
    EXPECT_EQ(SampleBytes(o.stream, next[o.stream], o.stream == 8 ? 3000 : 3840), o.data);
    ++next[o.stream];
  }
}
