#include "tools/pelistra/recording_files.h"

#include <new>

bool RecordingFiles::NextIndex(unsigned* index) {
  std::lock_guard<std::mutex> hold(lock_);
  if (switch_pending_ || must_stop_) return false;
  *index = next_index_;
  return true;
}

void RecordingFiles::SwitchRequested() {
  std::lock_guard<std::mutex> hold(lock_);
  switch_pending_ = true;
  ++next_index_;
}

void RecordingFiles::OnEvent(const WriterFileEvent& event) {
  std::lock_guard<std::mutex> hold(lock_);
  try {
    const char* path = event.path ? event.path : "";
    if (event.kind == WriterFileEventKind::Opened) {
      // The writer opens only the name it was given last: any open completes the pending switch.
      switch_pending_ = false;
      opened_.push_back(path);
    } else if (event.kind == WriterFileEventKind::Failed ||
               (event.kind == WriterFileEventKind::Closed && FAILED(event.status))) {
      if (!failure_.failed) {
        failure_.failed = true;
        failure_.status = FAILED(event.status) ? event.status : E_FAIL;
        failure_.path = path;
      }
      must_stop_ = true;
    }
  } catch (const std::bad_alloc&) {
    out_of_memory_ = true;
    must_stop_ = true;
  }
}

void RecordingFiles::Stop(const std::string& reason) {
  std::lock_guard<std::mutex> hold(lock_);
  if (!must_stop_) {
    try {
      stop_reason_ = reason;
    } catch (const std::bad_alloc&) {
      out_of_memory_ = true;
    }
  }
  must_stop_ = true;
}

std::vector<std::string> RecordingFiles::Opened() {
  std::lock_guard<std::mutex> hold(lock_);
  return opened_;
}

std::string RecordingFiles::Current() {
  std::lock_guard<std::mutex> hold(lock_);
  return opened_.empty() ? std::string() : opened_.back();
}

RecordingFiles::WriteFailure RecordingFiles::Failure() {
  std::lock_guard<std::mutex> hold(lock_);
  return failure_;
}

std::string RecordingFiles::StopReason() {
  std::lock_guard<std::mutex> hold(lock_);
  return stop_reason_;
}

bool RecordingFiles::OutOfMemory() {
  std::lock_guard<std::mutex> hold(lock_);
  return out_of_memory_;
}
