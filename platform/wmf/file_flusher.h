// One background thread per process that has the file sinks write what has waited, so that a
// recording whose samples stop arriving still reaches its file. It runs while at least one sink
// is writing a file, and is joined when the last one stops.
#pragma once

#include "platform/win/types.h"

class FileSink;

namespace file_flusher {

// How often the thread asks each sink to write what is due.
constexpr DWORD kWakeIntervalMs = 250;

// A sink that begins a file; starts the thread if it is not running. Must not be called with the
// sink's lock held: the thread calls into the sinks with the list's lock held.
HRESULT Add(FileSink* sink);
// A sink that ends its file; the last one stops and joins the thread. Same rule for the lock.
void Remove(FileSink* sink);

}  // namespace file_flusher
