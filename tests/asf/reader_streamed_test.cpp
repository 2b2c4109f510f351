// The reader on files whose header does not know their size: broadcast files read to their end,
// the chunked stream form, and the bounded list of problems they can produce by the million.
#include "asf_test_support.h"

#include "platform/asf/problem_list.h"

using namespace asf_test;

namespace {

constexpr uint32_t kPacket = 400;

struct Parts {
  std::vector<uint8_t> head;  // header and Data Object head
  std::vector<std::vector<uint8_t>> packets;
  std::vector<uint8_t> index;  // what follows the packets
};

Parts Recording(const TempDir& dir) {
  asf::WriterOptions options;
  options.streams = {Audio(6), Video(8)};
  options.packetSize = kPacket;
  asf::Writer writer;
  EXPECT_EQ(S_OK, writer.Open(dir / "rec.asf", options));
  for (uint32_t i = 0; i < 30; ++i) {
    auto v = SampleBytes(8, i, i % 10 == 0 ? 1500 : 200 + i);
    auto a = SampleBytes(6, i, 120);
    EXPECT_EQ(S_OK, writer.WriteSample(8, i * 400000, 400000, i % 10 == 0, false, v.data(), v.size()));
    EXPECT_EQ(S_OK, writer.WriteSample(6, i * 400000, 400000, false, false, a.data(), a.size()));
  }
  EXPECT_EQ(S_OK, writer.Close());
  const auto file = ReadFile(dir / "rec.asf");
  asf::Reader reader;
  EXPECT_EQ(S_OK, reader.OpenMemory(file.data(), file.size()));
  Parts parts;
  parts.head.assign(file.begin(), file.begin() + reader.DataStart());
  for (uint64_t n = 0; n < reader.PacketsInFile(); ++n) {
    auto at = file.begin() + reader.DataStart() + n * kPacket;
    parts.packets.emplace_back(at, at + kPacket);
  }
  parts.index.assign(file.begin() + reader.DataStart() + reader.PacketsInFile() * kPacket, file.end());
  return parts;
}

size_t Find(const std::vector<uint8_t>& bytes, const GUID& id) {
  uint8_t raw[16];
  GuidToBytes(id, raw);
  return std::search(bytes.begin(), bytes.end(), raw, raw + 16) - bytes.begin();
}

// As the writer leaves the header until Close; `dataSize` is the Data Object size it claims.
std::vector<uint8_t> BroadcastHead(std::vector<uint8_t> head, uint64_t dataSize) {
  uint8_t* p = &head[Find(head, asf::kFilePropertiesObject) + 40];
  for (int i = 0; i < 5; ++i) asf::PutU64(p, 0);
  p = &head[Find(head, asf::kFilePropertiesObject) + 88];
  asf::PutU32(p, asf::kFlagBroadcast);
  p = &head[Find(head, asf::kDataObject) + 16];
  asf::PutU64(p, dataSize);
  asf::PutU64(p += 16, 0);
  return head;
}

void AppendChunk(std::vector<uint8_t>& out, char type, uint32_t sequence, const uint8_t* data, size_t size) {
  uint8_t head[12];
  uint8_t* p = head;
  asf::PutU8(p, '$');
  asf::PutU8(p, static_cast<uint8_t>(type));
  asf::PutU16(p, static_cast<uint16_t>(size + 8));
  asf::PutU32(p, sequence);
  asf::PutU16(p, 0);
  asf::PutU16(p, static_cast<uint16_t>(size + 8));
  out.insert(out.end(), head, head + 12);
  if (size) out.insert(out.end(), data, data + size);
}

// The chunked stream form; with `trimPadding` each chunk leaves out its packet's zero padding.
std::vector<uint8_t> Chunked(const Parts& parts, bool trimPadding) {
  const auto head = BroadcastHead(parts.head, 0);
  std::vector<uint8_t> out;
  AppendChunk(out, 'H', 0, head.data(), head.size());
  uint32_t sequence = 1;
  for (const auto& packet : parts.packets) {
    size_t size = packet.size();
    while (trimPadding && size > 0 && packet[size - 1] == 0) --size;
    AppendChunk(out, 'D', sequence++, packet.data(), size);
  }
  AppendChunk(out, 'E', sequence, nullptr, 0);
  return out;
}

std::vector<uint8_t> Joined(const std::vector<uint8_t>& head, const Parts& parts, bool withIndex) {
  std::vector<uint8_t> out = head;
  for (const auto& packet : parts.packets) out.insert(out.end(), packet.begin(), packet.end());
  if (withIndex) out.insert(out.end(), parts.index.begin(), parts.index.end());
  return out;
}

}  // namespace

// Every form a streamed copy of one recording can take reads as the same objects.
TEST(AsfReaderStreamed, EveryFormReadsAsTheFinishedFile) {
  TempDir dir;
  const Parts parts = Recording(dir);
  ASSERT_GT(parts.packets.size(), 20u);
  const auto finished = Joined(parts.head, parts, true);
  asf::Reader reference;
  ASSERT_EQ(S_OK, reference.OpenMemory(finished.data(), finished.size()));
  const auto expected = ReadObjects(reference);
  ASSERT_EQ(60u, expected.size());
  ASSERT_TRUE(reference.Problems().empty()) << DescribeProblems(reference);

  const uint64_t dataSize = asf::kDataObjectHeaderSize + parts.packets.size() * uint64_t{kPacket};
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool framed;
  } cases[] = {
      {"data size 0", Joined(BroadcastHead(parts.head, 0), parts, false), false},
      {"data size 0, index after the packets", Joined(BroadcastHead(parts.head, 0), parts, true), false},
      {"data size of the Data Object's head alone", Joined(BroadcastHead(parts.head, 50), parts, true), false},
      {"data size past the end", Joined(BroadcastHead(parts.head, dataSize + 7 * kPacket), parts, false), false},
      {"chunked", Chunked(parts, false), true},
      {"chunked, padding left out", Chunked(parts, true), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    asf::Reader reader;
    ASSERT_EQ(S_OK, reader.OpenMemory(c.bytes.data(), c.bytes.size())) << DescribeProblems(reader);
    EXPECT_TRUE(reader.Unfinished());
    EXPECT_EQ(c.framed, reader.Framed());
    EXPECT_EQ(parts.packets.size(), reader.PacketsInFile());
    EXPECT_EQ(0u, reader.TornBytes());
    const auto objects = ReadObjects(reader);
    ASSERT_EQ(expected.size(), objects.size());
    for (size_t i = 0; i < objects.size(); ++i) {
      EXPECT_EQ(expected[i].stream, objects[i].stream) << i;
      EXPECT_EQ(expected[i].presentationMs, objects[i].presentationMs) << i;
      EXPECT_EQ(expected[i].data, objects[i].data) << i;
    }
    EXPECT_FALSE(reader.HasErrors()) << DescribeProblems(reader);
    EXPECT_TRUE(HasProblem(reader, "not finished"));
    EXPECT_EQ(30u, reader.Totals(8).objects);
    EXPECT_EQ(3u, reader.Totals(8).keyFrames);
    EXPECT_EQ(3000u, reader.Totals(6).firstMs);
    EXPECT_EQ(3000u + 29 * 40, reader.Totals(6).lastMs);
  }
}

// Read without their bytes, the objects are the same in number, size and time.
TEST(AsfReaderStreamed, ObjectsWithoutTheirBytes) {
  TempDir dir;
  const Parts parts = Recording(dir);
  const auto file = Joined(BroadcastHead(parts.head, 0), parts, false);
  asf::Reader reader;
  ASSERT_EQ(S_OK, reader.OpenMemory(file.data(), file.size()));
  const auto whole = ReadObjects(reader);
  std::vector<std::pair<uint32_t, uint32_t>> bare;
  ASSERT_EQ(S_OK, reader.ReadObjects(
                      [&](const asf::MediaObject& o) {
                        EXPECT_EQ(nullptr, o.data);
                        bare.push_back({o.presentationMs, o.size});
                      },
                      asf::Reader::ObjectBytes::None));
  ASSERT_EQ(whole.size(), bare.size());
  for (size_t i = 0; i < bare.size(); ++i) {
    EXPECT_EQ(whole[i].presentationMs, bare[i].first);
    EXPECT_EQ(whole[i].data.size(), bare[i].second);
  }
}

// GStreamer ends a stream with a packet whose Packet Length says how much of it there is, and
// whose padding counts up to the full packet size.
TEST(AsfReaderStreamed, ShortLastPacketWithPaddingToTheFullSize) {
  // Stream 8's object 30, a key frame of 4 bytes at 4200 ms.
  const uint8_t payload[] = {0x88, 30, 0, 0, 0, 0, 8, 4, 0, 0, 0, 0x68, 0x10, 0, 0, 1, 2, 3, 4};
  // No EC; WORD packet length and padding, send time, duration.
  std::vector<uint8_t> packet = {0x50, 0x5D, 0, 0, 0, 0, 0x68, 0x10, 0, 0, 0, 0};
  packet.insert(packet.end(), payload, payload + sizeof payload);
  const uint16_t length = static_cast<uint16_t>(packet.size());
  uint8_t* p = &packet[2];
  asf::PutU16(p, length);
  asf::PutU16(p, static_cast<uint16_t>(kPacket - length));

  TempDir dir;
  const Parts parts = Recording(dir);
  auto file = Joined(BroadcastHead(parts.head, 0), parts, false);
  file.insert(file.end(), packet.begin(), packet.end());
  file.resize(file.size() + kPacket - packet.size(), 0);
  asf::Reader reader;
  ASSERT_EQ(S_OK, reader.OpenMemory(file.data(), file.size()));
  const auto objects = ReadObjects(reader);
  ASSERT_EQ(61u, objects.size());
  EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4}), objects.back().data);
  EXPECT_FALSE(reader.HasErrors()) << DescribeProblems(reader);
  EXPECT_TRUE(HasProblem(reader, "counts past its Packet Length"));
}

TEST(AsfProblemList, KeepsAFewOfEachKindAndCountsTheRest) {
  using Severity = asf::Problem::Severity;
  asf::ProblemList list;
  for (int i = 0; i < 10; ++i) list.Add(Severity::Warning, i, "packet " + std::to_string(i) + ": late");
  list.Add(Severity::Error, 99, "packet 99: late");  // same words, other severity: another kind
  for (int i = 0; i < 2; ++i) list.Add(Severity::Warning, 0, "header: odd title " + std::to_string(i));
  ASSERT_EQ(6u, list.Items().size());
  EXPECT_EQ("packet 2: late", list.Items()[2].message);
  EXPECT_EQ(7u, list.Items()[2].more);
  EXPECT_EQ(Severity::Error, list.Items()[3].severity);
  EXPECT_EQ(0u, list.Items()[5].more);
  EXPECT_TRUE(list.HasErrors());

  // Past the number of kinds kept, one last item counts every further problem.
  asf::ProblemList many;
  for (size_t i = 0; i < asf::ProblemList::kMaxKinds + 50; ++i)
    many.Add(i == asf::ProblemList::kMaxKinds + 10 ? Severity::Error : Severity::Warning, i,
             "kind " + std::string(i + 1, 'x'));
  ASSERT_EQ(asf::ProblemList::kMaxKinds + 1, many.Items().size());
  EXPECT_EQ(49u, many.Items().back().more);
  EXPECT_EQ(Severity::Error, many.Items().back().severity);
  EXPECT_TRUE(many.HasErrors());
}
