// A write that fails (here a file size limit) at each point of a recording: the status comes back
// to the caller and to every later call, the file ends at a whole packet with a header that
// declares what it holds, and the reader reads it without an error. A header that cannot be
// written at all leaves no file.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "asf_test_support.h"

using namespace asf_test;

namespace {

enum class Hit { Open, Sample, Flush, FinalData, Index, Header };

int64_t g_now = 0;
int64_t FakeNow() { return g_now; }

constexpr uint32_t kPacket = 1000;
// Samples that share 1000-byte packets and samples that span three: wherever the file is cut, a
// sample is left unfinished, and the finished file must hold no part of it.
size_t SampleSize(uint32_t i) {
  static const size_t sizes[] = {476, 2500, 700, 600, 606};
  return sizes[i % 5];
}
constexpr uint32_t kHeldSamples = 30;

// What the child saw, passed back in a file.
struct ChildReport {
  HRESULT failure = E_UNEXPECTED;  // the first failing call's status
  HRESULT later = S_OK;            // a sample, then WriteDue, after the failure
  HRESULT due = S_OK;
  HRESULT close = S_OK;
  uint32_t accepted = 0;  // samples taken, in order
};

void LimitFileSize(uint64_t bytes) {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &limit);
}

ChildReport WriteUntilItFails(const std::string& path, Hit hit) {
  ChildReport r;
  asf::WriterOptions options;
  // Audio alone has no index, so nothing but the header is written at Close.
  options.streams = {hit == Hit::Header ? Audio(6) : Video(8)};
  options.packetSize = kPacket;
  options.bufferBytes = hit == Hit::Sample ? 4 * kPacket : 1 << 20;
  options.clock = FakeNow;
  const uint16_t stream = options.streams[0].number;
  asf::Writer writer;
  if (hit == Hit::Open) LimitFileSize(100);
  r.failure = writer.Open(path, options);
  if (hit == Hit::Open || FAILED(r.failure)) return r;
  r.failure = E_UNEXPECTED;
  auto write = [&](uint32_t i) {
    auto bytes = SampleBytes(stream, i, SampleSize(i));
    return writer.WriteSample(stream, i * 400000LL, 400000, i % 5 == 0, false, bytes.data(), bytes.size());
  };
  for (; r.accepted < kHeldSamples; ++r.accepted)
    if (write(r.accepted) != S_OK) return r;

  switch (hit) {
    case Hit::Sample:
      LimitFileSize(writer.InFile().bytes + 2500);
      for (HRESULT hr = S_OK; r.accepted < 1000; ++r.accepted)
        if ((hr = write(r.accepted)) != S_OK) {
          r.failure = hr;
          break;
        }
      break;
    case Hit::Flush:
      LimitFileSize(writer.InFile().bytes + 2500);
      g_now += asf::kWriteDelayMs;
      r.failure = writer.WriteDue();
      break;
    case Hit::FinalData:
      LimitFileSize(writer.InFile().bytes + 2500);
      r.failure = r.close = writer.Close();
      return r;
    case Hit::Index:
    case Hit::Header:
      g_now += asf::kWriteDelayMs;  // every packet reaches the file first
      if (writer.WriteDue() != S_OK) return r;
      LimitFileSize(hit == Hit::Index ? writer.InFile().bytes + 10 : 100);
      r.failure = r.close = writer.Close();
      return r;
    case Hit::Open:
      break;
  }
  r.later = write(r.accepted);
  r.due = writer.WriteDue();
  r.close = writer.Close();
  return r;
}

}  // namespace

TEST(AsfWriterFailures, StatusComesBackAndTheFileDeclaresWhatItHolds) {
  const struct {
    const char* what;
    Hit hit;
  } cases[] = {
      {"header at open", Hit::Open},     {"a sample's flush", Hit::Sample}, {"the 500 ms flush", Hit::Flush},
      {"the final data", Hit::FinalData}, {"the index", Hit::Index},      {"the final header", Hit::Header},
  };
  const HRESULT full = HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir / "full.asf", reportPath = dir / "report";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const ChildReport report = WriteUntilItFails(path, c.hit);
      FILE* out = fopen(reportPath.c_str(), "wb");
      _exit(out && fwrite(&report, sizeof report, 1, out) == 1 && fclose(out) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ChildReport r;
    auto bytes = ReadFile(reportPath);
    ASSERT_EQ(sizeof r, bytes.size());
    std::memcpy(&r, bytes.data(), sizeof r);

    EXPECT_EQ(full, r.failure);
    struct stat st{};
    if (c.hit == Hit::Open) {
      EXPECT_NE(0, stat(path.c_str(), &st)) << "a file without its header is left behind";
      continue;
    }
    EXPECT_EQ(full, r.close);
    if (c.hit == Hit::Sample || c.hit == Hit::Flush) {
      EXPECT_EQ(full, r.later) << "a sample after the failure";
      EXPECT_EQ(full, r.due);
    }

    ASSERT_EQ(0, stat(path.c_str(), &st));
    asf::Reader reader;
    ASSERT_EQ(S_OK, reader.Open(path));
    auto objects = ReadObjects(reader);
    EXPECT_FALSE(reader.HasErrors()) << DescribeProblems(reader);
    ASSERT_FALSE(objects.empty());
    EXPECT_LE(objects.size(), r.accepted);
    for (size_t i = 0; i < objects.size(); ++i)
      EXPECT_EQ(SampleBytes(objects[i].stream, static_cast<uint32_t>(i), SampleSize(static_cast<uint32_t>(i))), objects[i].data) << i;
    uint64_t indexBytes = 0;
    for (const auto& index : reader.Indexes()) indexBytes += asf::kSimpleIndexFixedSize + 6 * index.entries.size();
    EXPECT_EQ(reader.DataStart() + reader.PacketsInFile() * kPacket + indexBytes, static_cast<uint64_t>(st.st_size))
        << "whole packets, then the index if any";

    const auto& f = reader.File();
    if (c.hit == Hit::Header) {
      // The header could not be finished: it still says "sizes unknown", over every packet.
      EXPECT_TRUE(f.flags & asf::kFlagBroadcast);
      EXPECT_EQ(kHeldSamples, objects.size());
      continue;
    }
    EXPECT_FALSE(f.flags & asf::kFlagBroadcast);
    // The index goes in when it fits the room the cut left; seekable says whether it did.
    EXPECT_EQ(!reader.Indexes().empty(), (f.flags & asf::kFlagSeekable) != 0);
    if (c.hit == Hit::Index) {
      EXPECT_TRUE(reader.Indexes().empty());
    }
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), f.fileSize);
    EXPECT_EQ(reader.PacketsInFile(), f.packetCount);
    EXPECT_EQ((objects.back().presentationMs + 40) * uint64_t{10000}, f.playDuration) << "ends with its last sample";
    if (c.hit == Hit::Index) {
      EXPECT_EQ(kHeldSamples, objects.size());
    }
  }
}
