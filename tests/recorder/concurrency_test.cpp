// The recorder under several threads: the pacing sleep holds no lock, a name set while a switch
// runs keeps its pending switch, and writes, names, starts and stops from four threads at once
// leave only valid files. These run under ThreadSanitizer too.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "platform/asf/reader.h"
#include "platform/com/taskmem.h"
#include "recorder_fixture.h"
#include "sources/mjpeg_splitter.h"

using namespace recorder_test;

namespace {

// Waits until `done` or the deadline; a deadlock guard, not a measurement.
template <typename Predicate>
bool WaitFor(std::mutex& mutex, std::condition_variable& cv, Predicate done) {
  std::unique_lock<std::mutex> hold(mutex);
  return cv.wait_for(hold, std::chrono::seconds(20), done);
}

// From inside the sleep, another thread takes the recorder lock through a call that locks.
struct SleepProbe {
  CASFRecorder* recorder = nullptr;
  std::mutex mutex;
  std::condition_variable cv;
  int sleeps = 0;
  bool lockTaken = false;  // set by the other thread
  bool lockFree = false;   // what the sleeping thread saw
  std::thread other;
};
SleepProbe* g_probe = nullptr;

void ProbeSleep(DWORD ms) {
  EXPECT_EQ(1u, ms);
  SleepProbe& probe = *g_probe;
  ++probe.sleeps;
  probe.other = std::thread([&probe] {
    WCHAR* name = nullptr;
    probe.recorder->CopyFileName(&name);
    CoTaskMemFree(name);
    std::lock_guard<std::mutex> hold(probe.mutex);
    probe.lockTaken = true;
    probe.cv.notify_all();
  });
  probe.lockFree = WaitFor(probe.mutex, probe.cv, [&probe] { return probe.lockTaken; });
}

class RecorderThreads : public RecorderFixture {};

TEST_F(RecorderThreads, PacingSleepHoldsNoLock) {
  Connect(true, true);
  ASSERT_EQ(S_OK, Name("paced.asf"));
  ASSERT_EQ(S_OK, recorder->StartRecording());
  SleepProbe probe;
  probe.recorder = recorder.get();
  g_probe = &probe;
  SetSleepHook(ProbeSleep);
  Audio(25000000);  // 2.5 s ahead of the video
  Video(0, std::vector<BYTE>(64, 1));
  SetSleepHook(nullptr);
  if (probe.other.joinable()) probe.other.join();
  g_probe = nullptr;
  EXPECT_EQ(1, probe.sleeps);
  EXPECT_TRUE(probe.lockFree) << "the recorder lock was held across the sleep";
}

// A name set while the switch runs must not lose its pending flag to the switch clearing it.
TEST_F(RecorderThreads, NameSetDuringASwitchKeepsItsPendingFlag) {
  Connect(true, true);
  ASSERT_EQ(S_OK, Name("a.asf"));
  ASSERT_EQ(S_OK, recorder->StartRecording());
  ASSERT_EQ(S_OK, Video(0, std::vector<BYTE>(64, 1)));
  ASSERT_EQ(S_OK, Name("b.asf"));

  std::thread namer;
  std::mutex mutex;
  std::condition_variable cv;
  bool named = false, fired = false;
  script.onBeginWriting = [&] {
    if (fired) return;
    fired = true;
    namer = std::thread([&] {
      Name("c.asf");
      std::lock_guard<std::mutex> hold(mutex);
      named = true;
      cv.notify_all();
    });
    // Give the name every chance to land inside the switch; with the lock it waits instead.
    std::unique_lock<std::mutex> hold(mutex);
    cv.wait_for(hold, std::chrono::milliseconds(200), [&] { return named; });
  };
  ASSERT_EQ(S_OK, Video(kFrame, std::vector<BYTE>(64, 2)));  // switches to b.asf
  namer.join();
  ASSERT_EQ(S_OK, Video(2 * kFrame, std::vector<BYTE>(64, 3)));  // and now to c.asf
  EXPECT_EQ((std::vector<std::u16string>{Path("a.asf"), Path("b.asf"), Path("c.asf")}), script.outputNames);
}

// Audio and video writes on their own threads while a third thread names files and a fourth
// starts and stops recordings: no data race, no deadlock, and every file is a valid ASF file.
TEST(RecorderConcurrency, WritesNamesStartsAndStopsAtOnce) {
  MjpegFrameSplitter parser;
  std::vector<BYTE> input = Fixture("mjpeg.mjpeg");
  ASSERT_EQ(S_OK, parser.Push(input.data(), input.size()));
  parser.Finish();
  std::vector<std::vector<BYTE>> frames;
  StreamUnit unit;
  while (parser.Next(&unit) == S_OK) frames.emplace_back(unit.data, unit.data + unit.size);
  ASSERT_FALSE(frames.empty());

  TempDir dir;
  TestOwner owner;
  owner.audioConnected = owner.videoConnected = true;
  owner.audioType = PcmType(2, 48000, 16, 192000);
  owner.videoType = VideoInfoType(MEDIASUBTYPE_MJPG, {160, 120, 24, 400000});
  CASFRecorder recorder(&owner);
  std::vector<std::string> names;
  for (int i = 0; i < 6; ++i) names.push_back(dir / ("file" + std::to_string(i) + ".asf"));
  ASSERT_EQ(S_OK, recorder.SetFileName(Wide(names[0]).c_str()));
  ASSERT_EQ(S_OK, recorder.StartRecording());

  constexpr int kVideoSamples = 400;  // 16 s at 25 fps
  std::atomic<bool> writing{true};
  std::atomic<int> videoOk{0}, audioOk{0};
  std::thread video([&] {
    for (int i = 0; i < kVideoSamples; ++i) {
      const std::vector<BYTE>& bytes = frames[static_cast<size_t>(i) % frames.size()];
      TestSample sample(i * 400000LL, (i + 1) * 400000LL, bytes, true);
      if (recorder.WriteVideo(&sample) == S_OK) ++videoOk;
    }
  });
  std::thread audio([&] {
    std::vector<BYTE> block(3840, 0x10);  // 20 ms
    for (int i = 0; i < kVideoSamples * 2; ++i) {
      TestSample sample(i * 200000LL, (i + 1) * 200000LL, block, true);
      if (recorder.WriteAudio(&sample) == S_OK) ++audioOk;
    }
  });
  std::thread namer([&] {
    for (int i = 1; writing; ++i) {
      recorder.SetFileName(Wide(names[static_cast<size_t>(i) % names.size()]).c_str());
      WCHAR* name = nullptr;
      if (recorder.CopyFileName(&name) == S_OK) CoTaskMemFree(name);
      std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
  });
  std::thread starter([&] {
    while (writing) {
      recorder.StopRecording();
      recorder.StartRecording();
      std::this_thread::sleep_for(std::chrono::microseconds(700));
    }
  });
  video.join();
  audio.join();
  writing = false;
  namer.join();
  starter.join();
  ASSERT_EQ(S_OK, recorder.StopRecording());

  EXPECT_GT(videoOk, 0);
  EXPECT_GT(audioOk, 0);
  int files = 0;
  for (const std::string& name : names) {
    if (!std::filesystem::exists(name)) continue;
    ++files;
    asf::Reader reader;
    ASSERT_EQ(S_OK, reader.Open(name)) << name;
    EXPECT_EQ(S_OK, reader.ReadObjects({})) << name;
    EXPECT_FALSE(reader.HasErrors()) << name;
  }
  EXPECT_GT(files, 1);
}

}  // namespace
