// The files of one recording as its writer reports them, and why the recording must end. A switch
// is pending from the moment a name goes to the muxer until the writer opens that file (at the
// next key frame); requests meanwhile are answered by it and use up no number, so the files that
// start carry consecutive numbers. Safe from any thread: the writer's observer calls OnEvent on a
// streaming thread, possibly under the writer's locks, and it only notes what happened.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win/status.h"
#include "platform/wmf/file_events.h"

class RecordingFiles {
 public:
  struct WriteFailure {
    bool failed = false;
    std::string path;
    HRESULT status = S_OK;
  };

  // The number of the next file to name, or false when no switch is to start now: one is
  // pending, or the recording is ending.
  bool NextIndex(unsigned* index);
  // The file NextIndex numbered was named to the muxer: pending until the writer opens it.
  void SwitchRequested();

  void OnEvent(const WriterFileEvent& event);
  // Ends the recording; the first reason is kept.
  void Stop(const std::string& reason);
  bool MustStop() const { return must_stop_; }

  std::vector<std::string> Opened();
  std::string Current();  // the file being written; empty before the first opens
  WriteFailure Failure();
  std::string StopReason();
  bool OutOfMemory();  // a reason or a name could not be kept

 private:
  std::mutex lock_;
  unsigned next_index_ = 1;
  bool switch_pending_ = false;
  std::vector<std::string> opened_;
  WriteFailure failure_;
  std::string stop_reason_;
  bool out_of_memory_ = false;
  std::atomic<bool> must_stop_{false};
};
