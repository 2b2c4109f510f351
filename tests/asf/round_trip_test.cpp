// Writer to reader: a recording of interleaved audio and video comes back object for object, with
// the header totals, the per-stream object numbers and a Simple Index that points at key frames.
#include <map>

#include "asf_test_support.h"

using namespace asf_test;

namespace {

struct Written {
  uint16_t stream;
  int64_t time;
  bool key;
  std::vector<uint8_t> data;
};

// 12 s: video at 25 fps (a key frame each second, sizes from 1 byte to several packets), PCM
// audio in 20 ms blocks, fed in time order as a capture would.
std::vector<Written> Recording() {
  std::vector<Written> samples;
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245 + 12345, (seed >> 8) & 0xFFFF; };
  for (uint32_t frame = 0, block = 0; frame < 300; ++frame) {
    const int64_t t = frame * 400000;
    for (; block * 200000 <= t; ++block) samples.push_back({6, block * 200000LL, false, SampleBytes(6, block, 3840)});
    const size_t size = frame % 25 == 0 ? 9000 + next() % 5000 : 1 + next() % 2500;
    samples.push_back({8, t, frame % 25 == 0, SampleBytes(8, frame, size)});
  }
  return samples;
}

}  // namespace

TEST(AsfRoundTrip, ObjectsTotalsAndIndexComeBack) {
  TempDir dir;
  const std::string path = dir / "rec.asf";
  asf::WriterOptions options;
  options.streams = {Video(8), Audio(6)};  // any order: the header lists them by number
  options.title = u"Title \u00e9\U0001F3A5";
  options.packetSize = 3000;
  options.clock = FrozenClock;
  const auto samples = Recording();
  asf::Writer writer;
  ASSERT_EQ(S_OK, writer.Open(path, options));
  for (const auto& s : samples)
    ASSERT_EQ(S_OK, writer.WriteSample(s.stream, s.time, s.stream == 8 ? 400000 : 200000, s.key, false, s.data.data(), s.data.size()));
  const uint64_t sizeBeforeClose = writer.FileSize();
  ASSERT_EQ(S_OK, writer.Close());

  asf::Reader reader;
  ASSERT_EQ(S_OK, reader.Open(path));
  auto objects = ReadObjects(reader);
  EXPECT_TRUE(reader.Problems().empty()) << DescribeProblems(reader);

  // Every sample, in file order per stream, with its bytes, time, key mark and object number
  // counting per stream and wrapping at 256.
  std::map<uint16_t, std::vector<const Written*>> byStream;
  for (const auto& s : samples) byStream[s.stream].push_back(&s);
  std::map<uint16_t, size_t> seen;
  for (const auto& o : objects) {
    size_t i = seen[o.stream]++;
    ASSERT_LT(i, byStream[o.stream].size());
    const Written& w = *byStream[o.stream][i];
    EXPECT_EQ(w.data, o.data) << o.stream << "/" << i;
    EXPECT_EQ(w.time / 10000 + 3000, o.presentationMs);
    EXPECT_EQ(w.key, o.keyFrame);
    EXPECT_EQ(static_cast<uint8_t>(i), o.number);
  }
  EXPECT_EQ(byStream[6].size(), reader.ObjectCount(6));
  EXPECT_EQ(300u, reader.ObjectCount(8));

  // Header.
  const auto& f = reader.File();
  EXPECT_EQ(f.flags, asf::kFlagSeekable);
  EXPECT_EQ(3000u, f.prerollMs);
  EXPECT_EQ(3000u, f.minPacketSize);
  EXPECT_EQ(f.packetCount, reader.PacketsInFile());
  EXPECT_EQ(ReadFile(path).size(), f.fileSize);
  EXPECT_EQ(f.fileSize, writer.FileSize());
  EXPECT_EQ(sizeBeforeClose + 3000 /* last packet */, reader.DataStart() + f.packetCount * 3000);
  EXPECT_EQ((12000u + 3000u) * 10000u, f.playDuration);  // last frame ends at 12 s
  EXPECT_GE(f.sendDuration, 11960u * 10000u);
  EXPECT_LE(f.sendDuration, 12000u * 10000u);
  EXPECT_EQ(u"Title \u00e9\U0001F3A5", reader.Title());
  // The finished header declares the rates measured over the 12 s, not the profile's.
  std::map<uint16_t, uint64_t> bytes;
  for (const auto& s : samples) bytes[s.stream] += s.data.size();
  const uint32_t audioRate = static_cast<uint32_t>((bytes[6] * 8 + 6) / 12), videoRate = static_cast<uint32_t>((bytes[8] * 8 + 6) / 12);
  EXPECT_EQ(audioRate + videoRate, f.maxBitrate);

  ASSERT_EQ(2u, reader.Streams().size());
  const auto& audio = reader.Streams()[0];
  EXPECT_TRUE(audio.audio);
  EXPECT_EQ(6, audio.number);
  EXPECT_EQ(Audio().format, audio.format);
  EXPECT_EQ(2, audio.channels);
  EXPECT_EQ(48000u, audio.samplesPerSecond);
  EXPECT_EQ(asf::kAudioSpread, audio.errorCorrection);
  EXPECT_EQ(3840u, audio.maxObjectSize);
  EXPECT_EQ(audioRate, audio.bitrate);
  const auto& video = reader.Streams()[1];
  EXPECT_TRUE(video.video);
  EXPECT_EQ(8, video.number);
  EXPECT_EQ(MakeFourCC("H264"), video.fourcc);
  EXPECT_EQ(320, video.width);
  EXPECT_EQ(240, video.height);
  EXPECT_EQ(videoRate, video.bitrate);
  EXPECT_EQ(3000u, video.bufferWindowMs);
  EXPECT_EQ(400000, video.averageTimePerFrame);

  // Index: entry i is time i s on the preroll-inclusive axis; before the first key frame (3 s)
  // it points at that frame, after it at the key frame of the latest whole second.
  ASSERT_EQ(1u, reader.Indexes().size());
  const auto& index = reader.Indexes()[0];
  EXPECT_EQ(8, index.stream);
  EXPECT_EQ(10000000u, index.interval);
  ASSERT_EQ(16u, index.entries.size());  // t = 0 .. 15 s
  std::vector<uint64_t> keyPackets;
  for (const auto& o : objects)
    if (o.keyFrame) keyPackets.push_back(o.firstPacket);
  ASSERT_EQ(12u, keyPackets.size());
  for (size_t i = 0; i < index.entries.size(); ++i) {
    const size_t key = i < 3 ? 0 : std::min<size_t>(i - 3, 11);
    EXPECT_EQ(keyPackets[key], index.entries[i].packetNumber) << "entry " << i;
    EXPECT_GE(index.entries[i].packetCount, 4u);  // a 9000+ byte frame spans at least 4 packets
  }
}

TEST(AsfRoundTrip, VideoWithoutKeyFramesIsNotSeekable) {
  TempDir dir;
  asf::WriterOptions options;
  options.streams = {Video(8)};
  asf::Writer writer;
  ASSERT_EQ(S_OK, writer.Open(dir / "nokey.asf", options));
  auto bytes = SampleBytes(8, 0, 500);
  ASSERT_EQ(S_OK, writer.WriteSample(8, 0, 400000, false, false, bytes.data(), bytes.size()));
  ASSERT_EQ(S_OK, writer.Close());
  asf::Reader reader;
  ASSERT_EQ(S_OK, reader.Open(dir / "nokey.asf"));
  ReadObjects(reader);
  EXPECT_EQ(0u, reader.File().flags);
  ASSERT_EQ(1u, reader.Indexes().size());  // kept, empty, so later video streams' indexes stay in place
  EXPECT_TRUE(reader.Indexes()[0].entries.empty());
  EXPECT_FALSE(reader.HasErrors()) << DescribeProblems(reader);
}
