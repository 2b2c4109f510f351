// The file sink keeps no recording in memory and hides no failure: a recording whose samples stop
// is in its file without another call, so a process killed then leaves every sample; the file
// observer hears Opened, Failed and Closed with the file's figures; a full disk comes back from
// WriteStreamSample and EndWriting.
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>

#include "platform/asf/format.h"
#include "platform/asf/reader.h"
#include "platform/wmf/file_events.h"
#include "wmf_test_support.h"
#include "tests/support/command_output.h"

using namespace wmf_test;

namespace {

constexpr auto kDeadline = std::chrono::seconds(30);
using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Blocks until `fd` is readable or the deadline passes.
bool WaitReadable(int fd, Clock::time_point deadline) {
  pollfd p{fd, POLLIN, 0};
  int n;
  while ((n = poll(&p, 1, MillisecondsLeft(deadline))) < 0 && errno == EINTR) {
  }
  return n > 0;
}

// Blocks until `ready` holds, looking again whenever a file in `folder` changes, or until the
// deadline passes; the answer is `ready` at the end.
bool WaitForFolder(const std::string& folder, Clock::time_point deadline, const std::function<bool()>& ready) {
  const int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) return ready();
  // Watched before the first look, so no change between the look and the wait goes unseen.
  inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MODIFY);
  bool done;
  while (!(done = ready()) && WaitReadable(fd, deadline)) {
    char events[4096];
    (void)!read(fd, events, sizeof events);  // only the wake-up matters: `ready` looks again
  }
  close(fd);
  return done;
}

// Waits for the child to end, at most until the deadline; false if it is still running.
bool WaitForChild(pid_t child, Clock::time_point deadline, int* status) {
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  if (fd >= 0) {
    const bool ended = WaitReadable(fd, deadline);
    close(fd);
    if (!ended) return false;
  }
  return waitpid(child, status, 0) == child;
}

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


void SleepUntil(const timespec& start, int64_t ms) {
  timespec at = start;
  at.tv_sec += ms / 1000;
  at.tv_nsec += (ms % 1000) * 1000000;
  if (at.tv_nsec >= 1000000000) at.tv_sec += 1, at.tv_nsec -= 1000000000;
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
}

// Writes `count` samples at the pace of a live source, says so on `stalledFd`, then waits to be
// killed.
[[noreturn]] void WriteLiveThenStall(const std::string& path, WORD stream, DWORD size, int64_t intervalMs,
                                     uint32_t count, int stalledFd) {
  IWMProfile* profile = AudioVideoProfile();
  WriterSet w;
  if (!profile || w.Configure(profile, path) != S_OK || w.writer->BeginWriting() != S_OK) _exit(2);
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (uint32_t i = 0; i < count; ++i) {
    if (WriteBytes(w.writer, w.advanced, stream, i * intervalMs * 10000, size, static_cast<BYTE>(i)) != S_OK) _exit(3);
    SleepUntil(start, (i + 1) * intervalMs);
  }
  const char stalled = 1;
  (void)!write(stalledFd, &stalled, 1);  // a lost byte fails the test by its deadline
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
    int stalled[2];
    ASSERT_EQ(0, pipe2(stalled, O_CLOEXEC));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) WriteLiveThenStall(path, c.stream, c.size, c.intervalMs, c.count, stalled[1]);
    close(stalled[1]);

    // Once the child stops writing, its samples reach the file with no call from it.
    const auto deadline = Clock::now() + kDeadline;
    EXPECT_TRUE(WaitReadable(stalled[0], deadline)) << "the child never finished writing";
    close(stalled[0]);
    size_t inFile = 0;
    WaitForFolder(dir.File(""), deadline, [&] { return (inFile = Read(path, c.stream).objects.size()) >= c.count; });
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status)) << "child exited with " << WEXITSTATUS(status);
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
  const std::string folder = path.substr(0, path.rfind('/') + 1);
  if (!WaitForFolder(folder, Clock::now() + kDeadline, [&] { return Read(path, 6).objects.size() >= 5; })) _exit(4);
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
  if (!WaitForChild(child, Clock::now() + 2 * kDeadline, &status)) {
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
