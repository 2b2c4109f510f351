// Writing samples: the values handed to the writer, pacing between the streams, and the size
// watch with its threshold.
#include <climits>

#include "recorder_fixture.h"

using namespace recorder_test;

namespace {

class RecorderWriting : public RecorderFixture {
 protected:
  void SetUp() override {
    Connect(true, true);
    ASSERT_EQ(S_OK, Name("out.asf"));
    ASSERT_EQ(S_OK, recorder->StartRecording());
  }
};

TEST_F(RecorderWriting, StreamSampleArguments) {
  struct Case {
    REFERENCE_TIME start, end;
    bool sync, discontinuity;
    DWORD sendTime;
    QWORD duration;
    DWORD flags;
  } cases[] = {
      {123456789, 123556789, true, false, 12345, 100000, WM_SF_CLEANPOINT},
      {-15000, 385000, true, false, 4294967295u, 400000, WM_SF_CLEANPOINT},  // -1 ms taken unsigned
      {-9999, 0, false, false, 0, 9999, 0},                                  // truncated toward zero
      {200000000, 200400000, true, true, 20000, 400000, WM_SF_CLEANPOINT | WM_SF_DISCONTINUITY},
      {200400000, 200800000, false, true, 20040, 400000, WM_SF_DISCONTINUITY},
      {200800000, 200800000, false, false, 20080, 0, 0},
  };
  for (WORD stream : {kAudioStreamNumber, kVideoStreamNumber}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(stream) + " at " + std::to_string(c.start));
      std::vector<BYTE> bytes = Hex("01 02 03 04 05 06 07 08 09");
      TestSample sample(c.start, c.end, bytes, c.sync, c.discontinuity);
      size_t before = script.samples.size();
      ASSERT_EQ(S_OK, stream == kAudioStreamNumber ? recorder->WriteAudio(&sample) : recorder->WriteVideo(&sample));
      ASSERT_EQ(before + 1, script.samples.size());
      const WrittenSample& w = script.samples.back();
      EXPECT_EQ(stream, w.stream);
      EXPECT_EQ(static_cast<QWORD>(c.start), w.time);
      EXPECT_EQ(c.sendTime, w.sendTime);
      EXPECT_EQ(c.duration, w.duration);
      EXPECT_EQ(c.flags, w.flags);
      EXPECT_EQ(bytes, w.bytes);
    }
  }
}

TEST_F(RecorderWriting, FailedTimeQueryWritesNothing) {
  TestSample sample(0, kFrame, std::vector<BYTE>(100, 1));
  sample.timeStatus = MakeStatus(0x80040249);  // VFW_E_SAMPLE_TIME_NOT_SET
  EXPECT_EQ(sample.timeStatus, recorder->WriteAudio(&sample));
  EXPECT_EQ(sample.timeStatus, recorder->WriteVideo(&sample));
  EXPECT_EQ(0, script.allocations);
  EXPECT_TRUE(script.samples.empty());
}

TEST_F(RecorderWriting, FailedAllocationIsTheResultAndSkipsTheSizeCheck) {
  script.allocateStatus = E_OUTOFMEMORY;
  script.fileSizes = {1u << 30};
  EXPECT_EQ(E_OUTOFMEMORY, Audio(0));
  EXPECT_EQ(E_OUTOFMEMORY, Video(0, std::vector<BYTE>(100, 1)));
  EXPECT_TRUE(script.samples.empty());
  EXPECT_EQ(1u, script.fileSizes.size());  // not asked
  EXPECT_EQ(0, owner.sizeEvents);
  script.allocateStatus = S_OK;
  EXPECT_EQ(S_OK, Audio(0));
}

TEST_F(RecorderWriting, FailedStreamWriteIsTheResultAndStillChecksTheSize) {
  recorder->StopRecording();  // the writer refuses samples once writing has ended
  script.fileSizes = {1};
  EXPECT_EQ(NS_E_INVALID_REQUEST, Audio(0));
  EXPECT_TRUE(script.fileSizes.empty());
  EXPECT_EQ(1, owner.sizeEvents);
}

// --- Pacing ------------------------------------------------------------------------------------

std::vector<DWORD> g_sleeps;
void RecordSleep(DWORD ms) { g_sleeps.push_back(ms); }

struct SleepSeam {
  SleepSeam() {
    g_sleeps.clear();
    SetSleepHook(RecordSleep);
  }
  ~SleepSeam() { SetSleepHook(nullptr); }
};

class RecorderPacing : public RecorderFixture {};

TEST_F(RecorderPacing, LeadingStreamSleepsOnceBeyondOneSecond) {
  struct Case {
    const char* name;
    bool audioConnected, videoConnected;
    bool otherEnded;  // the stream written first has ended its stream
    bool audioLast;  // which stream writes second, and may sleep
    REFERENCE_TIME audio, video;
    size_t sleeps;
  } cases[] = {
      {"audio 1.5 s ahead", true, true, false, true, 125000000, 110000000, 1},
      {"audio exactly 1 s ahead", true, true, false, true, 120000000, 110000000, 0},
      {"audio 1 s + 100 ns ahead", true, true, false, true, 120000001, 110000000, 1},
      {"audio ahead without video pin", true, false, false, true, 125000000, 0, 0},
      {"video 1.5 s ahead", true, true, false, false, 10000000, 25000000, 1},
      {"video exactly 1 s ahead", true, true, false, false, 10000000, 20000000, 0},
      {"video ahead without audio pin", false, true, false, false, 0, 25000000, 0},
      {"audio behind", true, true, false, true, 10000000, 25000000, 0},
      {"times far apart do not wrap", true, true, false, true, LLONG_MAX - 10000000, LLONG_MIN + 1, 1},
      {"audio ahead of video that has ended", true, true, true, true, 125000000, 110000000, 0},
      {"video ahead of audio that has ended", true, true, true, false, 10000000, 25000000, 0},
  };
  ASSERT_EQ(S_OK, Name("paced.asf"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Connect(c.audioConnected, c.videoConnected);
    owner.audioEnded = c.otherEnded && !c.audioLast;
    owner.videoEnded = c.otherEnded && c.audioLast;
    ASSERT_EQ(S_OK, recorder->StartRecording());
    // The writer may refuse times it cannot place; pacing does not depend on that. Only the
    // second write is watched.
    if (c.audioLast) {
      if (c.videoConnected) Video(c.video, std::vector<BYTE>(64, 1));
      SleepSeam sleeps;
      Audio(c.audio);
      EXPECT_EQ(std::vector<DWORD>(c.sleeps, 1), g_sleeps);
    } else {
      if (c.audioConnected) Audio(c.audio);
      SleepSeam sleeps;
      Video(c.video, std::vector<BYTE>(64, 1));
      EXPECT_EQ(std::vector<DWORD>(c.sleeps, 1), g_sleeps);
    }
    recorder->StopRecording();
  }
}

// The times restart at 0 with each recording, so the other stream's old time does not count.
TEST_F(RecorderPacing, StartResetsBothTimes) {
  Connect(true, true);
  ASSERT_EQ(S_OK, Name("reset.asf"));
  ASSERT_EQ(S_OK, recorder->StartRecording());
  Video(500000000, std::vector<BYTE>(64, 1));
  recorder->StopRecording();
  ASSERT_EQ(S_OK, recorder->StartRecording());
  SleepSeam sleeps;
  Audio(15000000);  // 1.5 s ahead of a video time of 0
  EXPECT_EQ(std::vector<DWORD>{1}, g_sleeps);
}

// --- Size watch --------------------------------------------------------------------------------

class RecorderSizeWatch : public RecorderFixture {
 protected:
  void SetUp() override {
    Connect(true, true);
    ASSERT_EQ(S_OK, Name("size.asf"));
  }
};

TEST_F(RecorderSizeWatch, RaisedOnceOnTheFirstSizeAboveTheThreshold) {
  struct Case {
    DWORD kibibytes;
    QWORD threshold;
  } cases[] = {
      {102400, 99614720},      // SetMaxFileSize(100)
      {11264, 10957619},       // 11 MiB
      {1048576, 1020054732},   // 1 GiB
      {4194304, 4080218931},   // 4 GiB: the product needs 64 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kibibytes);
    recorder = std::make_unique<CASFRecorder>(&owner);
    owner.sizeEvents = 0;
    ASSERT_EQ(S_OK, Name("size.asf"));
    recorder->SetSizeLimit(c.kibibytes);
    ASSERT_EQ(S_OK, recorder->StartRecording());
    script.fileSizes = {c.threshold - 1, c.threshold, c.threshold + 1, c.threshold + 2, c.threshold + 100000};
    std::vector<int> events;
    for (int i = 0; i < 5; ++i) {
      ASSERT_EQ(S_OK, Audio(i * 200000));
      events.push_back(owner.sizeEvents);
    }
    EXPECT_EQ((std::vector<int>{0, 0, 1, 1, 1}), events);
    EXPECT_EQ(1, owner.lastSizeParam);
    recorder->StopRecording();
  }
}

// Once raised, the event stays quiet through stop and start and comes again only after a switch.
TEST_F(RecorderSizeWatch, RearmedOnlyByAFileSwitch) {
  recorder->SetSizeLimit(1024);  // threshold 996,147
  ASSERT_EQ(S_OK, recorder->StartRecording());
  script.fileSizes = {996148};
  ASSERT_EQ(S_OK, Video(0, std::vector<BYTE>(64, 1)));
  EXPECT_EQ(1, owner.sizeEvents);

  recorder->StopRecording();
  ASSERT_EQ(S_OK, recorder->StartRecording());
  script.fileSizes = {5000000, 6000000};
  ASSERT_EQ(S_OK, Audio(0));
  ASSERT_EQ(S_OK, Video(0, std::vector<BYTE>(64, 1)));
  EXPECT_EQ(1, owner.sizeEvents);

  ASSERT_EQ(S_OK, Name("next.asf"));  // MJPEG: the next video sample switches
  script.fileSizes = {1000, 996147, 996148, 2000000};
  ASSERT_EQ(S_OK, Video(kFrame, std::vector<BYTE>(64, 1)));
  ASSERT_EQ(3u, script.outputNames.size());
  EXPECT_EQ(1, owner.sizeEvents);
  ASSERT_EQ(S_OK, Audio(kFrame));
  EXPECT_EQ(1, owner.sizeEvents);
  ASSERT_EQ(S_OK, Audio(kFrame + 200000));
  EXPECT_EQ(2, owner.sizeEvents);
  ASSERT_EQ(S_OK, Audio(kFrame + 400000));
  EXPECT_EQ(2, owner.sizeEvents);
}

// Without a limit the threshold is 0: the first write into a file raises the event.
TEST_F(RecorderSizeWatch, NoLimitRaisesOnTheFirstWriteAndRaisingTheLimitDoesNotRearm) {
  ASSERT_EQ(S_OK, recorder->StartRecording());
  EXPECT_EQ(0, owner.sizeEvents);
  ASSERT_EQ(S_OK, Audio(0));
  EXPECT_EQ(1, owner.sizeEvents);
  recorder->SetSizeLimit(1048576);
  script.fileSizes = {2000000000, 3000000000u};
  ASSERT_EQ(S_OK, Audio(200000));
  ASSERT_EQ(S_OK, Audio(400000));
  EXPECT_EQ(1, owner.sizeEvents);
}

}  // namespace
