// Media reaches the file within kWriteDelayMs of arriving, on a clock the test moves: a slow
// stream gets its packets padded and written, a fast one fills its packets first, a stall is
// written out by WriteDue, and a sync interval forces the written packets to storage.
#include <cerrno>

#include "asf_test_support.h"

using namespace asf_test;

namespace {

int64_t g_now = 0;
int64_t FakeNow() { return g_now; }

size_t ObjectsInFile(const std::string& path) {
  asf::Reader reader;
  if (reader.Open(path) != S_OK) return 0;
  size_t count = 0;
  reader.ReadObjects([&](const asf::MediaObject&) { ++count; });
  EXPECT_FALSE(reader.HasErrors()) << DescribeProblems(reader);
  return count;
}

}  // namespace

TEST(AsfWriterDurability, ArrivedMediaReachesTheFileWithinTheDelay) {
  const struct {
    const char* what;
    asf::StreamDescription stream;
    size_t sampleSize;
    int64_t intervalMs;
    uint32_t samples;
  } cases[] = {
      {"64 kbit/s audio", Audio(6), 160, 20, 150},
      {"4 Mbit/s video", Video(8), 20000, 40, 75},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir / "live.asf";
    asf::WriterOptions options;
    options.streams = {c.stream};
    options.clock = FakeNow;
    g_now = 1000;
    asf::Writer writer;
    ASSERT_EQ(S_OK, writer.Open(path, options));
    for (uint32_t i = 0; i < c.samples; ++i) {
      g_now = 1000 + i * c.intervalMs;
      auto bytes = SampleBytes(c.stream.number, i, c.sampleSize);
      ASSERT_EQ(S_OK, writer.WriteSample(c.stream.number, i * c.intervalMs * 10000, c.intervalMs * 10000, i % 25 == 0,
                                         false, bytes.data(), bytes.size()));
      // Every sample that arrived kWriteDelayMs ago or earlier is in the file.
      const int64_t due = i * c.intervalMs - asf::kWriteDelayMs;
      const size_t expected = due < 0 ? 0 : static_cast<size_t>(due / c.intervalMs + 1);
      ASSERT_GE(ObjectsInFile(path), expected) << "after sample " << i;
    }
    // No more samples: the rest is written once it has waited.
    g_now += asf::kWriteDelayMs - 1;
    ASSERT_EQ(S_OK, writer.WriteDue());
    g_now += 1;
    ASSERT_EQ(S_OK, writer.WriteDue());
    EXPECT_EQ(c.samples, ObjectsInFile(path));
    ASSERT_EQ(S_OK, writer.Close());

    if (c.sampleSize > asf::kDefaultPacketSize) {
      // A fast stream fills its packets before they wait: no packet but the last pads more
      // than a payload header's worth.
      asf::Reader reader;
      ASSERT_EQ(S_OK, reader.Open(path));
      const auto file = ReadFile(path);
      for (uint64_t n = 0; n + 1 < reader.PacketsInFile(); ++n)
        EXPECT_LE(asf::GetU16(&file[reader.DataStart() + n * asf::kDefaultPacketSize + 5]), asf::kPayloadHeaderSize)
            << "packet " << n;
    }
  }
}

namespace {

std::vector<int64_t> g_syncs;
bool g_syncFails = false;
int CountingSync(int) {
  g_syncs.push_back(g_now);
  if (g_syncFails) {
    errno = EIO;
    return -1;
  }
  return 0;
}

}  // namespace

TEST(AsfWriterDurability, SyncIntervalForcesWrittenPacketsToStorage) {
  const struct {
    uint32_t intervalMs;
    bool fails;
  } cases[] = {{0, false}, {1000, false}, {1000, true}};
  const HRESULT ioError = HRESULT_FROM_WIN32(Win32ErrorFromErrno(EIO));
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.intervalMs << (c.fails ? " failing" : ""));
    TempDir dir;
    asf::WriterOptions options;
    options.streams = {Audio(6)};
    options.clock = FakeNow;
    options.syncData = CountingSync;
    options.syncIntervalMs = c.intervalMs;
    g_now = 0;
    g_syncs.clear();
    g_syncFails = c.fails;
    asf::Writer writer;
    ASSERT_EQ(S_OK, writer.Open(dir / "sync.asf", options));
    HRESULT hr = S_OK;
    // 5 s of 64 kbit/s audio.
    for (uint32_t i = 0; i < 250 && hr == S_OK; ++i) {
      g_now = i * 20;
      auto bytes = SampleBytes(6, i, 160);
      hr = writer.WriteSample(6, i * 200000LL, 200000, false, false, bytes.data(), bytes.size());
    }
    if (c.fails) {
      EXPECT_EQ(ioError, hr);
      EXPECT_EQ(1u, g_syncs.size());
      EXPECT_EQ(ioError, writer.Close());
      continue;
    }
    ASSERT_EQ(S_OK, hr);
    const size_t whileWriting = g_syncs.size();
    ASSERT_EQ(S_OK, writer.Close());
    if (c.intervalMs == 0) {
      EXPECT_TRUE(g_syncs.empty());
      continue;
    }
    EXPECT_EQ(whileWriting + 1, g_syncs.size()) << "and once more for the finished file";
    ASSERT_GE(whileWriting, 4u);
    EXPECT_GE(g_syncs[0], 1000);
    for (size_t i = 1; i < whileWriting; ++i) {
      EXPECT_GE(g_syncs[i] - g_syncs[i - 1], 1000) << i;
      EXPECT_LE(g_syncs[i] - g_syncs[i - 1], 1000 + asf::kWriteDelayMs) << i;
    }
  }
}
