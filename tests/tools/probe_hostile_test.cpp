// `pelistra probe` on files made to hurt it: tiny packets by the million, objects by the
// million, indexes and counts far beyond any recording. Memory stays small (measured in a child
// process, so the test's own memory does not count) and the report stays short.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "probe_fixtures.h"

using namespace probe_test;

// AddressSanitizer keeps freed blocks in a quarantine (256 MB by default) before it reuses them, so
// a probe that frees what it allocates would still seem to grow; the bound is about the reader.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=1"; }
#endif

namespace {

constexpr long kMemoryLimitKb = 64 * 1024;
// Enough that a record per packet or per object would pass the limit many times over.
constexpr size_t kBody = 8u << 20;

// A recording's header and Data Object head, as a crash leaves them, for packets of `packetSize`.
std::vector<uint8_t> UnfinishedHead(const TempDir& dir, uint32_t packetSize) {
  WriteRecording(dir / "seed.asf", 1000);
  auto bytes = ReadFile(dir / "seed.asf");
  MarkUnfinished(bytes);
  const size_t properties = FindGuid(bytes, asf::kFilePropertiesObject);
  uint8_t* p = &bytes[properties + 92];
  asf::PutU32(p, packetSize);
  asf::PutU32(p, packetSize);
  bytes.resize(FindGuid(bytes, asf::kDataObject) + asf::kDataObjectHeaderSize);
  return bytes;
}

// Packets of 63 bytes, each one compressed payload of 22 one-byte key frames of stream 8.
std::vector<uint8_t> TinyObjectPackets(size_t bytes) {
  std::vector<uint8_t> packet = {0x82, 0, 0, 0x00, 0x5D, 0, 0, 0, 0, 0, 0,  // single payload, send time, duration
                                 0x88, 1, 0, 0, 0, 0, 1, 1};               // stream 8 key, object 1, time 0, delta 1
  while (packet.size() < 63) packet.insert(packet.end(), {1, 0xAB});
  std::vector<uint8_t> out;
  out.reserve(bytes);
  while (out.size() + packet.size() <= bytes) out.insert(out.end(), packet.begin(), packet.end());
  return out;
}

std::vector<uint8_t> SimpleIndex(uint32_t entries, uint64_t objectSize) {
  std::vector<uint8_t> index(asf::kSimpleIndexFixedSize + size_t{6} * entries);
  uint8_t* p = index.data();
  asf::PutGuid(p, asf::kSimpleIndexObject);
  asf::PutU64(p, objectSize);
  asf::PutGuid(p, GUID_NULL);
  asf::PutU64(p, 10000000);
  asf::PutU32(p, 1);
  asf::PutU32(p, entries);
  return index;
}

struct ChildResult {
  int code = -1;
  long growthKb = -1;
};

// Runs probe with --json --frames in a child, its output thrown away, and reports how far its
// peak memory grew over what the child started with.
ChildResult ProbeInChild(const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    std::ostream discard(nullptr);
    ChildResult r;
    r.code = RunProbe({path, true, true}, discard, discard);
    getrusage(RUSAGE_SELF, &after);
    r.growthKb = after.ru_maxrss - before.ru_maxrss;
    // A short write leaves the parent's result at -1, which fails the test.
    (void)!write(fds[1], &r, sizeof r);
    _exit(0);
  }
  close(fds[1]);
  ChildResult r;
  if (child > 0) {
    if (read(fds[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) r = {};
    waitpid(child, nullptr, 0);  // the result came through the pipe; this only reaps the child
  }
  close(fds[0]);
  return r;
}

}  // namespace

TEST(ProbeHostile, MemoryAndReportStayBounded) {
  TempDir dir;
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int code;
    const char* expected;  // in the report
  };
  std::vector<Case> cases;
  {
    auto bytes = UnfinishedHead(dir, 9);  // the smallest packet there can be
    bytes.resize(bytes.size() + kBody, 0);
    cases.push_back({"a million 9-byte packets, each broken", std::move(bytes), 1, "more like this"});
  }
  {
    auto bytes = UnfinishedHead(dir, 1);
    bytes.resize(bytes.size() + kBody, 0x82);
    cases.push_back({"1-byte packets", std::move(bytes), 2, ""});
  }
  {
    auto bytes = UnfinishedHead(dir, 63);
    const auto packets = TinyObjectPackets(kBody);
    bytes.insert(bytes.end(), packets.begin(), packets.end());
    cases.push_back({"three million one-byte objects", std::move(bytes), 3, "Read from the data: 133152 packets, 2929344 objects"});
  }
  {
    auto bytes = UnfinishedHead(dir, 63);
    const auto packets = TinyObjectPackets(63 * 100);
    bytes.insert(bytes.end(), packets.begin(), packets.end());
    const auto index = SimpleIndex(3000000, asf::kSimpleIndexFixedSize + 6 * 3000000ull);
    bytes.insert(bytes.end(), index.begin(), index.end());
    cases.push_back({"an index of three million entries", std::move(bytes), 3, "only the first 1048576 are checked"});
  }
  {
    auto bytes = UnfinishedHead(dir, 63);
    const auto packets = TinyObjectPackets(63 * 100);
    bytes.insert(bytes.end(), packets.begin(), packets.end());
    const auto index = SimpleIndex(0, asf::kSimpleIndexFixedSize);
    bytes.insert(bytes.end(), index.begin(), index.end());
    uint8_t* count = &bytes[bytes.size() - 4];
    asf::PutU32(count, 0xFFFFFFFF);
    cases.push_back({"an index claiming four billion entries", std::move(bytes), 1, "disagrees with its 4294967295 entries"});
  }
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir / "hostile.asf";
    WriteFile(path, c.bytes);
    std::vector<uint8_t>().swap(c.bytes);

    const ChildResult r = ProbeInChild(path);
    EXPECT_EQ(c.code, r.code);
    EXPECT_GE(r.growthKb, 0);
    EXPECT_LT(r.growthKb, kMemoryLimitKb);

    Probe text = RunOn(path);
    EXPECT_LT(text.out.size(), 16u << 10) << text.out.substr(0, 4000);
    EXPECT_TRUE(Contains(text.out + text.err, c.expected)) << text.out.substr(0, 4000) << text.err;
  }
}
