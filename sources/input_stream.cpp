#include "sources/input_stream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>


namespace {

// How long one wait for a pipe lasts before the stop flag is looked at again.
constexpr int kPollMs = 50;

}  // namespace

InputStream::~InputStream() {
  if (own_fd_ && fd_ >= 0) close(fd_);
}

HRESULT InputStream::Open(const std::string& path) {
  name_ = path == "-" ? "standard input" : path;
  if (path == "-") {
    fd_ = STDIN_FILENO;
  } else {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
      const int err = errno;
      error_ = "cannot open " + path + ": " + std::strerror(err);
      return HRESULT_FROM_WIN32(Win32ErrorFromErrno(err));
    }
    own_fd_ = true;
  }
  struct stat info {};
  if (fstat(fd_, &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      error_ = name_ + " is a folder";
      return E_INVALIDARG;
    }
    if (S_ISREG(info.st_mode)) total_ = static_cast<uint64_t>(info.st_size);
  }
  return S_OK;
}

HRESULT InputStream::Read(BYTE* buffer, size_t size, size_t* got, const std::atomic<bool>& stop) {
  *got = 0;
  if (fd_ < 0) return E_UNEXPECTED;
  for (;;) {
    if (stop.load()) return E_ABORT;
    pollfd wait{fd_, POLLIN, 0};
    const int ready = poll(&wait, 1, kPollMs);
    if (ready < 0 && errno != EINTR) {
      const int err = errno;
      error_ = "cannot read " + name_ + ": " + std::strerror(err);
      return HRESULT_FROM_WIN32(Win32ErrorFromErrno(err));
    }
    if (ready <= 0) continue;
    const ssize_t n = read(fd_, buffer, size);
    if (n > 0) {
      *got = static_cast<size_t>(n);
      read_.fetch_add(*got, std::memory_order_relaxed);
      return S_OK;
    }
    if (n == 0) return S_FALSE;
    if (errno == EINTR || errno == EAGAIN) continue;
    const int err = errno;
    error_ = "cannot read " + name_ + ": " + std::strerror(err);
    return HRESULT_FROM_WIN32(Win32ErrorFromErrno(err));
  }
}
