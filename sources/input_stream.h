// Bytes from a file, a pipe or standard input ("-"), read in chunks. A read waits for a pipe in
// short steps, so a stalled writer holds up only the thread that reads it, and a stop request
// ends the wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/win/status.h"
#include "platform/win/types.h"

class InputStream {
 public:
  InputStream() = default;
  ~InputStream();
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // Opens PATH, or standard input for "-". On failure Error() says why.
  HRESULT Open(const std::string& path);
  // Reads up to `size` bytes: S_OK with *got > 0, S_FALSE at the end of the input, E_ABORT when
  // `stop` became true while waiting, or a failure status (Error()).
  HRESULT Read(BYTE* buffer, size_t size, size_t* got, const std::atomic<bool>& stop);

  const std::string& Name() const { return name_; }
  const std::string& Error() const { return error_; }
  // The input's size when it is a regular file, else 0.
  uint64_t TotalSize() const { return total_; }
  uint64_t BytesRead() const { return read_.load(std::memory_order_relaxed); }

 private:
  int fd_ = -1;
  bool own_fd_ = false;
  std::string name_;
  std::string error_;
  uint64_t total_ = 0;
  std::atomic<uint64_t> read_{0};
};
