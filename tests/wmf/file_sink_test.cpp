// The file sink keeps no recording in memory and hides no failure: a recording whose samples stop
// is in its file without another call, so a process killed then leaves every sample; the file
// observer hears Opened, Failed and Closed with the file's figures; a full disk comes back from
// WriteStreamSample and EndWriting.
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/asf/format.h"
#include "platform/asf/reader.h"
#include "platform/wmf/file_events.h"
#include "wmf_test_support.h"
#include "tests/support/command_output.h"

using namespace wmf_test;

namespace {

constexpr auto kDeadline = std::chrono::seconds(30);
constexpr auto kPoll = std::chrono::milliseconds(20);

// Objects of one stream in the file, in order, and whether the reader found errors.
struct FileContents {
  std::vector<std::vector<uint8_t>> objects;
  bool errors = true;
  uint64_t packets = 0;
  asf::FileInfo header;
};

FileContents Read(const std::string& path, uint16_t stream) {
  FileContents c;
  asf::Reader reader;
  if (reader.Open(path) != S_OK) return c;
  reader.ReadObjects([&](const asf::MediaObject& o) {
    if (o.stream == stream) c.objects.emplace_back(o.data, o.data + o.size);
  });
  c.errors = reader.HasErrors();
  c.packets = reader.PacketsInFile();
  c.header = reader.File();
  return c;
}

// What the child writing live tells the test, in memory shared across the fork.
struct LiveProgress {
  std::atomic<uint32_t> written{0};
  std::atomic<bool> stalled{false};
};

void SleepUntil(const timespec& start, int64_t ms) {
  timespec at = start;
  at.tv_sec += ms / 1000;
  at.tv_nsec += (ms % 1000) * 1000000;
  if (at.tv_nsec >= 1000000000) at.tv_sec += 1, at.tv_nsec -= 1000000000;
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
}

// Writes `count` samples at the pace of a live source, then waits to be killed.
[[noreturn]] void WriteLiveThenStall(const std::string& path, WORD stream, DWORD size, int64_t intervalMs,
                                     uint32_t count, LiveProgress* progress) {
  IWMProfile* profile = AudioVideoProfile();
  WriterSet w;
  if (!profile || w.Configure(profile, path) != S_OK || w.writer->BeginWriting() != S_OK) _exit(2);
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (uint32_t i = 0; i < count; ++i) {
    if (WriteBytes(w.writer, w.advanced, stream, i * intervalMs * 10000, size, static_cast<BYTE>(i)) != S_OK) _exit(3);
    progress->written = i + 1;
    SleepUntil(start, (i + 1) * intervalMs);
  }
  progress->stalled = true;
  for (;;) pause();
}

}  // namespace

TEST(WmfFileSink, AStalledRecordingIsInItsFileWhenTheProcessIsKilled) {
  const struct {
    const char* what;
    WORD stream;
    DWORD size;
    int64_t intervalMs;
    uint32_t count;
  } cases[] = {
      {"64 kbit/s audio", 6, 160, 20, 75},
      {"2 Mbit/s video", 8, 10000, 40, 38},
  };
  const bool haveFfprobe = std::system("ffprobe -version >/dev/null 2>&1") == 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.File("live.asf");
    void* shared = mmap(nullptr, sizeof(LiveProgress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(MAP_FAILED, shared);
    auto* progress = new (shared) LiveProgress;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) WriteLiveThenStall(path, c.stream, c.size, c.intervalMs, c.count, progress);

    // Once the child stops writing, its samples reach the file with no call from it.
    auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (!progress->stalled && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(kPoll);
    EXPECT_TRUE(progress->stalled);
    size_t inFile = 0;
    while (std::chrono::steady_clock::now() < deadline && (inFile = Read(path, c.stream).objects.size()) < c.count)
      std::this_thread::sleep_for(kPoll);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status)) << "child exited with " << WEXITSTATUS(status);
    munmap(shared, sizeof(LiveProgress));
    EXPECT_EQ(c.count, inFile);

    const FileContents file = Read(path, c.stream);
    EXPECT_FALSE(file.errors);
    EXPECT_TRUE(file.header.flags & asf::kFlagBroadcast);
    ASSERT_EQ(c.count, file.objects.size());
    for (uint32_t i = 0; i < c.count; ++i) EXPECT_EQ(std::vector<uint8_t>(c.size, static_cast<uint8_t>(i)), file.objects[i]) << i;
    if (haveFfprobe) {
      const std::string packets = CommandOutput("ffprobe -v error -show_entries packet=stream_index -of csv '" + path + "' 2>&1");
      size_t n = 0;
      for (size_t at = 0; (at = packets.find("packet,", at)) != std::string::npos; ++at) ++n;
      EXPECT_EQ(c.count, n) << packets;
      EXPECT_EQ(std::string::npos, packets.find("rror")) << packets;
    }
  }
}

namespace {

// Writes a few samples, waits for them to reach the file with no further call, ends the file.
[[noreturn]] void RecordStallAndEnd(const std::string& path) {
  IWMProfile* profile = AudioVideoProfile();
  WriterSet w;
  if (!profile || w.Configure(profile, path) != S_OK || w.writer->BeginWriting() != S_OK) _exit(2);
  for (int i = 0; i < 5; ++i)
    if (WriteBytes(w.writer, w.advanced, 6, i * 200000LL, 160, static_cast<BYTE>(i), 0) != S_OK) _exit(3);
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (Read(path, 6).objects.size() < 5)
    if (std::chrono::steady_clock::now() > deadline) _exit(4);
    else std::this_thread::sleep_for(kPoll);
  _exit(w.writer->EndWriting() == S_OK ? 0 : 5);
}

}  // namespace

// A process forked while its parent records has none of the parent's threads: its own recording
// gets a flusher of its own, and ending it does not wait for the parent's.
TEST(WmfFileSink, AProcessForkedWhileRecordingRecordsOnItsOwn) {
  TempDir dir;
  IWMProfile* profile = AudioVideoProfile();
  ASSERT_NE(profile, nullptr);
  WriterSet parent;
  ASSERT_EQ(parent.Configure(profile, dir.File("parent.asf")), S_OK);
  ASSERT_EQ(parent.writer->BeginWriting(), S_OK);
  ASSERT_EQ(WriteBytes(parent.writer, parent.advanced, 6, 0, 160), S_OK);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) RecordStallAndEnd(dir.File("child.asf"));
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + 2 * kDeadline;
  pid_t done = 0;
  while ((done = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(kPoll);
  if (done == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the child hung";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  EXPECT_EQ(parent.writer->EndWriting(), S_OK);
  EXPECT_EQ(1u, Read(dir.File("parent.asf"), 6).objects.size());
  profile->Release();
}

namespace {

struct EventRecord {
  WriterFileEventKind kind;
  HRESULT status;
  uint64_t bytes, packets;
  int64_t duration;
};

// Collects the events of this process; the flusher thread may report too.
struct EventLog {
  std::mutex lock;
  std::vector<EventRecord> events;
  std::string path;
  static void Observe(const WriterFileEvent& e, void* context) {
    auto* log = static_cast<EventLog*>(context);
    std::lock_guard<std::mutex> hold(log->lock);
    log->path = e.path;
    log->events.push_back({e.kind, e.status, e.bytes, e.packets, e.duration});
  }
  EventLog() { SetWriterFileObserver(&EventLog::Observe, this); }
  ~EventLog() { SetWriterFileObserver(nullptr, nullptr); }
  std::vector<EventRecord> Taken() {
    std::lock_guard<std::mutex> hold(lock);
    return events;
  }
};

// What the child that fills its disk saw.
struct FullDiskReport {
  HRESULT failed = S_OK, later = S_OK, ended = S_OK;
  uint32_t accepted = 0;
  uint32_t eventCount = 0;
  EventRecord events[8];
};

FullDiskReport RecordUntilTheDiskIsFull(const std::string& path) {
  FullDiskReport r;
  EventLog log;
  IWMProfile* profile = AudioVideoProfile();
  WriterSet w;
  if (!profile || w.Configure(profile, path) != S_OK || w.writer->BeginWriting() != S_OK) return r;
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = SizeOnDisk(path) + 100000;
  setrlimit(RLIMIT_FSIZE, &limit);
  for (; r.accepted < 1000; ++r.accepted)
    if ((r.failed = WriteBytes(w.writer, w.advanced, 8, r.accepted * 400000LL, 5000, static_cast<BYTE>(r.accepted))) != S_OK)
      break;
  r.later = WriteBytes(w.writer, w.advanced, 8, r.accepted * 400000LL, 5000);
  r.ended = w.writer->EndWriting();
  profile->Release();
  auto events = log.Taken();
  for (const auto& e : events)
    if (r.eventCount < std::size(r.events)) r.events[r.eventCount++] = e;
  return r;
}

}  // namespace

TEST(WmfFileSink, ObserverHearsOpenedAndClosedWithTheFileFigures) {
  TempDir dir;
  const std::string path = dir.File("events.asf");
  EventLog log;
  IWMProfile* profile = AudioVideoProfile();
  ASSERT_NE(profile, nullptr);
  {
    WriterSet w;
    ASSERT_EQ(w.Configure(profile, path), S_OK);
    ASSERT_EQ(w.writer->BeginWriting(), S_OK);
    const uint64_t headerSize = SizeOnDisk(path);
    for (int i = 0; i < 25; ++i) ASSERT_EQ(WriteBytes(w.writer, w.advanced, 8, i * 400000LL, 3000, static_cast<BYTE>(i)), S_OK);
    ASSERT_EQ(w.writer->EndWriting(), S_OK);

    const auto events = log.Taken();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(path, log.path);
    EXPECT_EQ(WriterFileEventKind::Opened, events[0].kind);
    EXPECT_EQ(S_OK, events[0].status);
    EXPECT_EQ(headerSize, events[0].bytes);
    EXPECT_EQ(0u, events[0].packets);
    const FileContents file = Read(path, 8);
    EXPECT_FALSE(file.errors);
    EXPECT_EQ(WriterFileEventKind::Closed, events[1].kind);
    EXPECT_EQ(S_OK, events[1].status);
    EXPECT_EQ(SizeOnDisk(path), events[1].bytes);
    EXPECT_EQ(file.packets, events[1].packets);
    EXPECT_EQ(10000000, events[1].duration);  // 25 frames of 40 ms
  }
  profile->Release();
}

TEST(WmfFileSink, AFullDiskFailsTheSamplesAndTheEndAndTheObserverHearsIt) {
  TempDir dir;
  const std::string path = dir.File("full.asf"), reportPath = dir.File("report");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const FullDiskReport report = RecordUntilTheDiskIsFull(path);
    FILE* out = fopen(reportPath.c_str(), "wb");
    _exit(out && fwrite(&report, sizeof report, 1, out) == 1 && fclose(out) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  FullDiskReport r;
  FILE* in = fopen(reportPath.c_str(), "rb");
  ASSERT_NE(nullptr, in);
  ASSERT_EQ(1u, fread(&r, sizeof r, 1, in));
  fclose(in);

  const HRESULT full = HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL);
  EXPECT_EQ(full, r.failed);
  EXPECT_EQ(full, r.later) << "a sample after the failure";
  EXPECT_EQ(full, r.ended);
  ASSERT_EQ(3u, r.eventCount);
  EXPECT_EQ(WriterFileEventKind::Opened, r.events[0].kind);
  const EventRecord& failed = r.events[1];
  EXPECT_EQ(WriterFileEventKind::Failed, failed.kind);
  EXPECT_EQ(full, failed.status);
  EXPECT_EQ(r.events[0].bytes + failed.packets * 8192, failed.bytes) << "header and whole packets";
  EXPECT_GT(failed.packets, 0u);

  const FileContents file = Read(path, 8);
  EXPECT_FALSE(file.errors);
  EXPECT_FALSE(file.header.flags & asf::kFlagBroadcast);
  ASSERT_FALSE(file.objects.empty());
  EXPECT_LT(file.objects.size(), r.accepted);
  for (size_t i = 0; i < file.objects.size(); ++i)
    EXPECT_EQ(std::vector<uint8_t>(5000, static_cast<uint8_t>(i)), file.objects[i]) << i;
  const EventRecord& closed = r.events[2];
  EXPECT_EQ(WriterFileEventKind::Closed, closed.kind);
  EXPECT_EQ(full, closed.status);
  EXPECT_EQ(SizeOnDisk(path), closed.bytes);
  EXPECT_EQ(file.packets, closed.packets);
  EXPECT_EQ(static_cast<int64_t>(file.header.playDuration - file.header.prerollMs * 10000), closed.duration);
  EXPECT_EQ(static_cast<int64_t>(file.objects.size()) * 400000, closed.duration) << "up to its last whole frame";
}
