// One recording after another over the same writer, the file name and its pending switch, and
// every way a start or a switch can fail.
#include "platform/asf/reader.h"
#include "platform/com/alloc_fault.h"
#include "platform/com/taskmem.h"
#include "recorder_fixture.h"

using namespace recorder_test;

namespace {

class RecorderLifecycle : public RecorderFixture {
 protected:
  std::vector<BYTE> Frame(BYTE fill = 0x33) { return std::vector<BYTE>(200, fill); }

  std::u16string CurrentName() {
    WCHAR* name = nullptr;
    EXPECT_EQ(S_OK, recorder->CopyFileName(&name));
    std::u16string copy = name ? name : u"";
    CoTaskMemFree(name);
    return copy;
  }

  // Video objects in a finished file, or -1 when it does not read cleanly.
  long VideoObjects(const std::string& name) {
    asf::Reader reader;
    if (FAILED(reader.Open(dir / name)) || FAILED(reader.ReadObjects({})) || reader.HasErrors()) return -1;
    return static_cast<long>(reader.ObjectCount(kVideoStreamNumber));
  }
};

TEST_F(RecorderLifecycle, SecondStartReusesTheWriterWithANewProfileAndTitle) {
  Connect(true, true);
  ASSERT_EQ(S_OK, Name("first.asf"));
  ASSERT_EQ(S_OK, recorder->StartRecording());
  ASSERT_EQ(S_OK, Video(0, Frame()));
  ASSERT_EQ(S_OK, recorder->StopRecording());
  ASSERT_EQ(S_OK, Name("second.asf"));
  ASSERT_EQ(S_OK, recorder->StartRecording());
  ASSERT_EQ(S_OK, Video(0, Frame()));
  ASSERT_EQ(S_OK, Video(kFrame, Frame()));
  ASSERT_EQ(S_OK, recorder->StopRecording());

  EXPECT_EQ(1, script.writersCreated);
  EXPECT_EQ(2, script.profilesCreated);
  EXPECT_EQ(2u, script.profiles.size());
  EXPECT_EQ((std::vector<std::u16string>{u"ASF File", u"ASF File"}), script.titles);
  EXPECT_EQ((std::vector<std::u16string>{Path("first.asf"), Path("second.asf")}), script.outputNames);
  EXPECT_EQ(2, script.begins);
  EXPECT_EQ(2, script.ends);
  EXPECT_EQ(1, VideoObjects("first.asf"));
  EXPECT_EQ(2, VideoObjects("second.asf"));
}

TEST_F(RecorderLifecycle, StopWithoutAStartAndWritesWithoutAWriter) {
  Connect(true, true);
  EXPECT_EQ(S_OK, recorder->StopRecording());
  EXPECT_TRUE(FAILED(Audio(0)));
  EXPECT_TRUE(FAILED(Video(0, Frame())));
  EXPECT_EQ(0, script.allocations);
}

TEST_F(RecorderLifecycle, WithoutAProfileManagerEveryStartFails) {
  recorder.reset();
  {
    NoProfileManager refuse;
    recorder = std::make_unique<CASFRecorder>(&owner);
  }
  Connect(true, true);
  ASSERT_EQ(S_OK, Name("never.asf"));
  EXPECT_EQ(E_FAIL, recorder->StartRecording());
  EXPECT_EQ(E_FAIL, recorder->StartRecording());
  EXPECT_EQ(0, script.writersCreated);
}

// The copy of a pin's record without its format block cannot describe the stream.
TEST_F(RecorderLifecycle, FailedTypeCopyFailsTheStart) {
  Connect(true, true);
  ASSERT_EQ(S_OK, Name("copy.asf"));
  for (long successes : {0, 1}) {  // the audio copy, then the video copy
    SCOPED_TRACE(successes);
    {
      AllocationFault fault(successes);
      EXPECT_EQ(E_OUTOFMEMORY, recorder->StartRecording());
    }
    EXPECT_TRUE(script.profiles.empty());
    EXPECT_EQ(0, script.begins);
  }
  EXPECT_EQ(S_OK, recorder->StartRecording());
}

TEST_F(RecorderLifecycle, StartNeedsTheFileSink) {
  struct Case {
    const char* name;
    void (*arrange)(WriterScript&);
  } cases[] = {
      {"GetSink fails", [](WriterScript& s) { s.getSinkStatus = E_INVALIDARG; }},
      {"GetSink gives none", [](WriterScript& s) { s.nullSink = true; }},
      {"sink without a size", [](WriterScript& s) { s.sinkWithoutSize = true; }},
  };
  Connect(true, true);
  ASSERT_EQ(S_OK, Name("sink.asf"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange(script);
    EXPECT_TRUE(FAILED(recorder->StartRecording()));
    EXPECT_EQ(0, script.begins);
    EXPECT_TRUE(FAILED(Audio(0)));
    EXPECT_EQ(0, script.allocations);
    script.getSinkStatus = S_OK;
    script.nullSink = script.sinkWithoutSize = false;
  }
  EXPECT_EQ(S_OK, recorder->StartRecording());
  EXPECT_EQ(S_OK, Audio(0));
}

// A writer whose interfaces could not be had is let go; the next start makes a whole one.
TEST_F(RecorderLifecycle, PartlyCreatedWriterIsReleased) {
  Connect(true, true);
  for (bool advanced : {true, false}) {
    SCOPED_TRACE(advanced ? "IWMWriterAdvanced" : "IWMHeaderInfo");
    recorder = std::make_unique<CASFRecorder>(&owner);
    script = WriterScript{};
    ASSERT_EQ(S_OK, Name("partial.asf"));
    (advanced ? script.failAdvancedQuery : script.failHeaderInfoQuery) = true;
    EXPECT_EQ(E_NOINTERFACE, recorder->StartRecording());
    EXPECT_EQ(1, script.writersCreated);
    EXPECT_EQ(0, script.writersAlive);
    EXPECT_TRUE(FAILED(Video(0, Frame())));
    EXPECT_EQ(0, script.allocations);
    script.failAdvancedQuery = script.failHeaderInfoQuery = false;
    EXPECT_EQ(S_OK, recorder->StartRecording());
    EXPECT_EQ(2, script.writersCreated);
    EXPECT_EQ(S_OK, Video(0, Frame()));
  }
}

TEST_F(RecorderLifecycle, FailedStartReportsEachStep) {
  Connect(true, true);
  ASSERT_EQ(S_OK, Name("steps.asf"));
  script.createStatus = E_OUTOFMEMORY;
  EXPECT_EQ(E_OUTOFMEMORY, recorder->StartRecording());
  script.createStatus = S_OK;
  script.outputNameStatus = NS_E_INVALID_NAME;
  EXPECT_EQ(NS_E_INVALID_NAME, recorder->StartRecording());
  script.outputNameStatus = S_OK;
  script.beginStatus = NS_E_FILE_OPEN_FAILED;
  EXPECT_EQ(NS_E_FILE_OPEN_FAILED, recorder->StartRecording());
  EXPECT_TRUE(FAILED(Audio(0)));
  script.beginStatus = S_OK;
  EXPECT_EQ(S_OK, recorder->StartRecording());
  EXPECT_EQ(1, script.writersCreated);
}

// After a switch whose reopening failed there is no file: writes fail and touch nothing, until a
// new name brings a working file.
TEST_F(RecorderLifecycle, WritesAfterAFailedReopenFailUntilANewName) {
  struct Case {
    const char* name;
    std::string target;
    void (*arrange)(WriterScript&);
  } cases[] = {
      {"file cannot be created", "missing-folder/x.asf", [](WriterScript&) {}},
      {"no writer", "b.asf", [](WriterScript& s) { s.createStatus = E_OUTOFMEMORY; }},
      {"name refused", "b.asf", [](WriterScript& s) { s.outputNameStatus = NS_E_INVALID_NAME; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder = std::make_unique<CASFRecorder>(&owner);
    script = WriterScript{};
    Connect(true, true);
    ASSERT_EQ(S_OK, Name("a.asf"));
    ASSERT_EQ(S_OK, recorder->StartRecording());
    ASSERT_EQ(S_OK, Video(0, Frame(1)));
    ASSERT_EQ(S_OK, Audio(0));

    ASSERT_EQ(S_OK, Name(c.target));
    c.arrange(script);
    const int allocations = script.allocations;
    EXPECT_TRUE(FAILED(Video(kFrame, Frame(2))));
    EXPECT_TRUE(FAILED(Audio(kFrame)));
    EXPECT_TRUE(FAILED(Video(2 * kFrame, Frame(3))));
    EXPECT_EQ(allocations, script.allocations);
    EXPECT_EQ(2u, script.samples.size());
    EXPECT_EQ(1, VideoObjects("a.asf"));  // the old file was finished whole

    script.createStatus = S_OK;
    script.outputNameStatus = S_OK;
    ASSERT_EQ(S_OK, Name("c.asf"));
    EXPECT_EQ(S_OK, Video(3 * kFrame, Frame(4)));
    EXPECT_EQ(S_OK, Audio(3 * kFrame));
    ASSERT_EQ(S_OK, recorder->StopRecording());
    EXPECT_EQ(1, VideoObjects("c.asf"));
    EXPECT_EQ(Frame(4), script.samples[2].bytes);
  }
}

// A file whose end could not be written (a full disk, a size limit) is a failure the caller
// hears: at a stop as the stop's status, at a switch as the switching sample's, and then no new
// file is begun behind it.
TEST_F(RecorderLifecycle, FailedFileEndIsReported) {
  Connect(true, true);
  ASSERT_EQ(S_OK, Name("a.asf"));
  ASSERT_EQ(S_OK, recorder->StartRecording());
  ASSERT_EQ(S_OK, Video(0, Frame(1)));
  script.endStatus = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DISK_FULL), recorder->StopRecording());
  EXPECT_EQ(S_OK, recorder->StopRecording()) << "nothing left to end";

  script.endStatus = S_OK;
  ASSERT_EQ(S_OK, recorder->StartRecording());
  ASSERT_EQ(S_OK, Video(0, Frame(1)));
  ASSERT_EQ(S_OK, Name("b.asf"));
  script.endStatus = HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL);
  const int writers = script.writersCreated;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL), Video(kFrame, Frame(2)));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL), Audio(kFrame));
  EXPECT_EQ(writers, script.writersCreated) << "no file after the one that failed";
  EXPECT_EQ(S_OK, recorder->StopRecording());
}

// The start opens the newest name itself; a switch left pending must not reopen that same file
// at the first key frame.
TEST_F(RecorderLifecycle, StartClearsAPendingSwitch) {
  Connect(true, true);
  ASSERT_EQ(S_OK, Name("a.asf"));
  ASSERT_EQ(S_OK, recorder->StartRecording());
  ASSERT_EQ(S_OK, Video(0, Frame()));
  ASSERT_EQ(S_OK, recorder->StopRecording());
  ASSERT_EQ(S_OK, Name("b.asf"));  // pending: a key frame has been seen
  ASSERT_EQ(S_OK, recorder->StartRecording());
  for (int i = 0; i < 3; ++i) ASSERT_EQ(S_OK, Video(i * kFrame, Frame()));
  ASSERT_EQ(S_OK, recorder->StopRecording());
  EXPECT_EQ(1, script.writersCreated);
  EXPECT_EQ((std::vector<std::u16string>{Path("a.asf"), Path("b.asf")}), script.outputNames);
  EXPECT_EQ(3, VideoObjects("b.asf"));
}

TEST_F(RecorderLifecycle, FileNameAndItsPendingSwitch) {
  Connect(true, true);
  ASSERT_EQ(S_OK, Name("a.asf"));
  ASSERT_EQ(S_OK, recorder->StartRecording());

  // Before the first key frame a new name waits for the next start.
  ASSERT_EQ(S_OK, Name("early.asf"));
  ASSERT_EQ(S_OK, Video(0, Frame()));
  ASSERT_EQ(S_OK, Video(kFrame, Frame()));
  EXPECT_EQ(1u, script.outputNames.size());

  // The same name again cancels a pending switch, while the new name is already reported.
  ASSERT_EQ(S_OK, Name("b.asf"));
  ASSERT_EQ(S_OK, Name("b.asf"));
  EXPECT_EQ(Path("b.asf"), CurrentName());
  ASSERT_EQ(S_OK, Video(2 * kFrame, Frame()));
  EXPECT_EQ(1u, script.outputNames.size());

  // The newest of several names is the one switched to.
  ASSERT_EQ(S_OK, Name("c.asf"));
  ASSERT_EQ(S_OK, Name("d.asf"));
  ASSERT_EQ(S_OK, Video(3 * kFrame, Frame()));
  EXPECT_EQ((std::vector<std::u16string>{Path("a.asf"), Path("d.asf")}), script.outputNames);

  // Audio never switches.
  ASSERT_EQ(S_OK, Name("e.asf"));
  ASSERT_EQ(S_OK, Audio(3 * kFrame));
  EXPECT_EQ(2u, script.outputNames.size());
  ASSERT_EQ(S_OK, recorder->StopRecording());
  EXPECT_EQ(3, VideoObjects("a.asf"));
  EXPECT_EQ(1, VideoObjects("d.asf"));
  EXPECT_FALSE(std::filesystem::exists(dir / "early.asf"));
}

TEST_F(RecorderLifecycle, AudioOnlyRecordingNeverSwitches) {
  Connect(true, false);
  ASSERT_EQ(S_OK, Name("a.asf"));
  ASSERT_EQ(S_OK, recorder->StartRecording());
  ASSERT_EQ(S_OK, Audio(0));
  ASSERT_EQ(S_OK, Name("b.asf"));
  for (int i = 1; i < 4; ++i) ASSERT_EQ(S_OK, Audio(i * 200000));
  ASSERT_EQ(S_OK, recorder->StopRecording());
  EXPECT_EQ(1u, script.outputNames.size());
  ASSERT_EQ(S_OK, recorder->StartRecording());
  EXPECT_EQ(Path("b.asf"), script.outputNames.back());
}

TEST_F(RecorderLifecycle, FileNameLimitsAndCopies) {
  std::u16string longName(300, u'x');
  ASSERT_EQ(S_OK, recorder->SetFileName(longName.c_str()));
  EXPECT_EQ(longName.substr(0, 259), CurrentName());
  EXPECT_EQ(E_POINTER, recorder->SetFileName(nullptr));
  EXPECT_EQ(E_POINTER, recorder->CopyFileName(nullptr));
  AllocationFault fault(0);
  WCHAR* name = reinterpret_cast<WCHAR*>(1);
  EXPECT_EQ(E_OUTOFMEMORY, recorder->CopyFileName(&name));
  EXPECT_EQ(nullptr, name);
}

}  // namespace
