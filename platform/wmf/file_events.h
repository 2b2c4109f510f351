// What the writers of this process tell the program that hosts them, and the durability it asks
// of them. A recording program shows the file being written, names the file a failure hit, and
// chooses how often finished packets are forced to stable storage. One setting per process: the
// platform library is loaded once, so the program and the filter module share it.
#pragma once

#include <cstdint>

#include "platform/win/types.h"

enum class WriterFileEventKind {
  Opened,  // the file exists and holds its header; samples follow
  Closed,  // writing ended; status tells whether the final data, index and header were written
  Failed,  // a write into the file failed; status is its cause, the file keeps its whole packets
};

struct WriterFileEvent {
  WriterFileEventKind kind = WriterFileEventKind::Opened;
  const char* path = nullptr;  // UTF-8, valid during the call
  HRESULT status = 0;
  uint64_t bytes = 0;     // bytes in the file: header and whole packets (and index, once closed)
  uint64_t packets = 0;   // data packets in the file
  int64_t duration = 0;   // 100 ns of media in the file
};

// Called on the thread that writes (a streaming thread, or the platform's flusher thread when a
// write it made for a stalled recording fails), possibly with the writer's locks held: the
// observer must return quickly and must not call into a writer.
using WriterFileObserver = void (*)(const WriterFileEvent& event, void* context);

// One observer per process; null removes it.
void SetWriterFileObserver(WriterFileObserver observer, void* context);
// Finished packets are forced to stable storage (fsync) at least this often; 0 (the default):
// left to the operating system.
void SetWriterSyncInterval(uint32_t milliseconds);
uint32_t WriterSyncInterval();
// For the writers: tells the observer, if there is one.
void NotifyWriterFileEvent(const WriterFileEvent& event);
