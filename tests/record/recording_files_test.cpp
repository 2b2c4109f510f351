#include "tools/pelistra/recording_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

WriterFileEvent Event(WriterFileEventKind kind, const char* path, HRESULT status = S_OK) {
  WriterFileEvent event;
  event.kind = kind;
  event.path = path;
  event.status = status;
  return event;
}

// Requests and writer events in the order a recording meets them: what number each request gets
// (-1: none, a switch is pending or the recording ends), and the files that started.
TEST(RecordingFiles, FilesThatStartTakeConsecutiveNumbers) {
  enum Step { Request, Opened };
  struct Case {
    const char* what;
    std::vector<Step> steps;
    std::vector<int> numbers;  // per request
    size_t opened;
  } cases[] = {
      {"each request followed by its switch", {Opened, Request, Opened, Request, Opened}, {1, 2}, 3},
      // A second a file while key frames come every two seconds: every other request finds the
      // switch still pending.
      {"requests while a switch is pending", {Opened, Request, Request, Opened, Request, Request, Opened}, {1, -1, 2, -1},
       3},
      {"a switch that never comes", {Opened, Request, Request, Request}, {1, -1, -1}, 1},
  };
  for (const Case& c : cases) {
    RecordingFiles files;
    std::vector<int> numbers;
    size_t opened = 0;
    for (Step step : c.steps) {
      if (step == Opened) {
        const std::string name = "f" + std::to_string(opened++);
        files.OnEvent(Event(WriterFileEventKind::Opened, name.c_str()));
        EXPECT_EQ(files.Current(), name) << c.what;
        continue;
      }
      unsigned index = 0;
      if (files.NextIndex(&index)) {
        files.SwitchRequested();
        numbers.push_back(static_cast<int>(index));
      } else {
        numbers.push_back(-1);
      }
    }
    EXPECT_EQ(numbers, c.numbers) << c.what;
    EXPECT_EQ(files.Opened().size(), c.opened) << c.what;
    EXPECT_FALSE(files.MustStop()) << c.what;
  }
}

// The first failure is the one reported, whether a write or the finish of a file met it; a clean
// close is no failure. Any failure ends the recording, and no switch starts after it.
TEST(RecordingFiles, TheFirstWriteFailureEndsTheRecording) {
  const HRESULT full = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
  const HRESULT tooLarge = HRESULT_FROM_WIN32(ERROR_HANDLE_DISK_FULL);
  struct Case {
    const char* what;
    std::vector<WriterFileEvent> events;
    bool failed;
    const char* path;
    HRESULT status;
  } cases[] = {
      {"a clean close", {Event(WriterFileEventKind::Opened, "a"), Event(WriterFileEventKind::Closed, "a")}, false, "",
       S_OK},
      {"a failed sample",
       {Event(WriterFileEventKind::Opened, "a"), Event(WriterFileEventKind::Failed, "a", full),
        Event(WriterFileEventKind::Closed, "a", tooLarge)},
       true, "a", full},
      {"a failed finish",
       {Event(WriterFileEventKind::Opened, "a"), Event(WriterFileEventKind::Closed, "a", tooLarge)}, true, "a",
       tooLarge},
      {"a failure in the second file",
       {Event(WriterFileEventKind::Opened, "a"), Event(WriterFileEventKind::Closed, "a"),
        Event(WriterFileEventKind::Opened, "b"), Event(WriterFileEventKind::Failed, "b", full)},
       true, "b", full},
      {"a failure without a status", {Event(WriterFileEventKind::Failed, "a", S_OK)}, true, "a", E_FAIL},
  };
  for (const Case& c : cases) {
    RecordingFiles files;
    for (const WriterFileEvent& event : c.events) files.OnEvent(event);
    const RecordingFiles::WriteFailure failure = files.Failure();
    EXPECT_EQ(failure.failed, c.failed) << c.what;
    EXPECT_EQ(files.MustStop(), c.failed) << c.what;
    EXPECT_EQ(failure.path, c.path) << c.what;
    EXPECT_EQ(failure.status, c.status) << c.what;
    unsigned index = 0;
    EXPECT_EQ(files.NextIndex(&index), !c.failed) << c.what;
  }
}

// A refused name ends the recording with the first reason given.
TEST(RecordingFiles, KeepsTheFirstReasonToStop) {
  RecordingFiles files;
  files.Stop("r-002.asf exists");
  files.Stop("later");
  EXPECT_TRUE(files.MustStop());
  EXPECT_EQ(files.StopReason(), "r-002.asf exists");
  EXPECT_FALSE(files.Failure().failed);
}

}  // namespace
