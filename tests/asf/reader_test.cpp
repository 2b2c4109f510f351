// The reader on damaged input: it reports, it never crashes, and it names the fault.
#include "asf_test_support.h"

using namespace asf_test;

namespace {

constexpr uint32_t kPacket = 400;

// A finished two-stream file of a few packets with an index.
std::vector<uint8_t> SmallFile(const TempDir& dir) {
  asf::WriterOptions options;
  options.streams = {Audio(6), Video(8)};
  options.packetSize = kPacket;
  options.title = u"t";
  asf::Writer writer;
  EXPECT_EQ(S_OK, writer.Open(dir / "small.asf", options));
  for (uint32_t i = 0; i < 12; ++i) {
    auto v = SampleBytes(8, i, i % 4 == 0 ? 900 : 150);
    auto a = SampleBytes(6, i, 100);
    EXPECT_EQ(S_OK, writer.WriteSample(8, i * 400000, 400000, i % 4 == 0, false, v.data(), v.size()));
    EXPECT_EQ(S_OK, writer.WriteSample(6, i * 400000, 400000, false, false, a.data(), a.size()));
  }
  EXPECT_EQ(S_OK, writer.Close());
  return ReadFile(dir / "small.asf");
}

struct Outcome {
  HRESULT open;
  bool errors;
};

Outcome Read(const std::vector<uint8_t>& bytes) {
  asf::Reader reader;
  HRESULT hr = reader.OpenMemory(bytes.data(), bytes.size());
  if (SUCCEEDED(hr)) {
    EXPECT_EQ(S_OK, reader.ReadObjects([](const asf::MediaObject& o) {
      volatile uint8_t sink = 0;
      for (uint32_t i = 0; i < o.size; ++i) sink = sink + o.data[i];  // every byte handed out is readable
    }));
  }
  return {hr, reader.HasErrors()};
}

}  // namespace

TEST(AsfReader, EveryTruncationOfAFinishedFileIsReported) {
  TempDir dir;
  const auto file = SmallFile(dir);
  ASSERT_FALSE(Read(file).errors);
  for (size_t length = 0; length < file.size(); ++length) {
    const std::vector<uint8_t> cut(file.begin(), file.begin() + length);
    Outcome o = Read(cut);
    EXPECT_TRUE(FAILED(o.open) || o.errors) << "cut at " << length;
  }
}

TEST(AsfReader, CorruptBytesNeverCrashIt) {
  TempDir dir;
  const auto file = SmallFile(dir);
  for (size_t at = 0; at < file.size(); ++at)
    for (uint8_t value : {uint8_t(0x00), uint8_t(0xFF), uint8_t(file[at] ^ 0x80)}) {
      auto bad = file;
      bad[at] = value;
      Read(bad);
    }
}

// Hand-damaged fields, each found and named.
TEST(AsfReader, NamesStructuralFaults) {
  TempDir dir;
  const auto file = SmallFile(dir);
  asf::Reader good;
  ASSERT_EQ(S_OK, good.OpenMemory(file.data(), file.size()));
  const size_t header = good.DataStart() - asf::kDataObjectHeaderSize;
  const size_t p0 = good.DataStart();
  struct Case {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
    const char* expected;
  } cases[] = {
      {"not ASF", 0, {0x31}, "not an ASF file"},
      {"header larger than the file", 16, {0xFF, 0xFF, 0xFF, 0x00}, "does not fit the file"},
      {"reserved byte", 29, {0x01}, "reserved byte is not 2"},
      {"child object size 0", 30 + 16, {0, 0, 0, 0, 0, 0, 0, 0}, "does not fit the header"},
      {"packet length type bit 7", p0 + 3, {0x91}, "bit 7"},
      {"stream number length type", p0 + 4, {0x1D}, "stream number length type"},
      {"padding past the packet", p0 + 5, {0xFF, 0xFF}, "padding length"},
      {"no payloads", p0 + 13, {0x80}, "no payloads"},
      {"undeclared stream", p0 + 14, {0x07}, "undeclared stream 7"},
      {"payload length past the data", p0 + 29, {0xFF, 0x0F}, "runs past"},
      {"fragment that continues nothing", p0 + 16, {0x05}, "does not continue"},
      {"object size 0", p0 + 21, {0, 0, 0, 0}, "media object size 0"},
      {"total packets", header + 40, {0x63}, "Total Data Packets"},
      {"file size", 30 + 40, {0x01}, "File Size"},
      {"data object file id", header + 24, {0x00, 0x11}, "File ID"},
  };
  for (const auto& c : cases) {
    auto bad = file;
    std::copy(c.bytes.begin(), c.bytes.end(), bad.begin() + c.at);
    asf::Reader reader;
    if (SUCCEEDED(reader.OpenMemory(bad.data(), bad.size()))) reader.ReadObjects(nullptr);
    EXPECT_TRUE(reader.HasErrors()) << c.what;
    EXPECT_TRUE(HasProblem(reader, c.expected)) << c.what << "\n" << DescribeProblems(reader);
  }
}

TEST(AsfReader, IndexEntryNotAtAKeyFrameIsAnError) {
  TempDir dir;
  auto file = SmallFile(dir);
  asf::Reader good;
  ASSERT_EQ(S_OK, good.OpenMemory(file.data(), file.size()));
  ReadObjects(good);
  ASSERT_EQ(1u, good.Indexes().size());
  ASSERT_GE(good.Indexes()[0].entries.size(), 5u);
  // The last entry, moved to the packet after its key frame's.
  const size_t entries = good.Indexes()[0].entries.size();
  const size_t last = file.size() - 6;
  ASSERT_EQ(good.Indexes()[0].entries[entries - 1].packetNumber, asf::GetU32(&file[last]));
  file[last] += 1;
  asf::Reader reader;
  ASSERT_EQ(S_OK, reader.OpenMemory(file.data(), file.size()));
  reader.ReadObjects(nullptr);
  EXPECT_TRUE(HasProblem(reader, "is not the start of a key frame")) << DescribeProblems(reader);
}
