#include "platform/shell/text_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "platform/shell/system_lookup.h"

namespace {

struct TextStream {
  int fd = -1;
  char raw[4096];
  size_t rawSize = 0;
  size_t rawPos = 0;
  bool pendingCR = false;  // a CR whose next byte is not read yet
};

// Next raw byte, or -1 at the end of the file, -2 on an error.
int NextByte(TextStream* stream) {
  if (stream->rawPos == stream->rawSize) {
    ssize_t got;
    do got = read(stream->fd, stream->raw, sizeof stream->raw);
    while (got < 0 && errno == EINTR);
    if (got < 0) return -2;
    if (got == 0) return -1;
    stream->rawSize = static_cast<size_t>(got);
    stream->rawPos = 0;
  }
  return static_cast<unsigned char>(stream->raw[stream->rawPos++]);
}

ssize_t ReadText(void* cookie, char* buffer, size_t size) {
  auto* stream = static_cast<TextStream*>(cookie);
  size_t out = 0;
  while (out < size) {
    int byte = NextByte(stream);
    if (byte == -2) return out ? static_cast<ssize_t>(out) : -1;
    if (stream->pendingCR) {
      stream->pendingCR = false;
      if (byte == '\n') {
        buffer[out++] = '\n';
        continue;
      }
      buffer[out++] = '\r';  // a lone CR stays
      if (byte >= 0) --stream->rawPos;  // looked at again on the next turn
      continue;
    }
    if (byte == -1) break;
    if (byte == '\r') {
      stream->pendingCR = true;
      continue;
    }
    buffer[out++] = static_cast<char>(byte);
  }
  return static_cast<ssize_t>(out);
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t put = write(fd, data, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

ssize_t WriteText(void* cookie, const char* buffer, size_t size) {
  auto* stream = static_cast<TextStream*>(cookie);
  char out[8192];
  size_t used = 0;
  for (size_t i = 0; i < size; ++i) {
    if (used + 2 > sizeof out) {
      if (!WriteAll(stream->fd, out, used)) return -1;
      used = 0;
    }
    if (buffer[i] == '\n') out[used++] = '\r';
    out[used++] = buffer[i];
  }
  if (!WriteAll(stream->fd, out, used)) return -1;
  return static_cast<ssize_t>(size);
}

int CloseText(void* cookie) {
  auto* stream = static_cast<TextStream*>(cookie);
  int result = close(stream->fd);
  delete stream;
  return result;
}

}  // namespace

FILE* OpenTextFile(const char* path, const char* mode) {
  if (!path || !mode) {
    errno = EINVAL;
    return nullptr;
  }
  int flags;
  if (std::strcmp(mode, "r") == 0) flags = O_RDONLY;
  else if (std::strcmp(mode, "w") == 0) flags = O_WRONLY | O_CREAT | O_TRUNC;
  else if (std::strcmp(mode, "a") == 0) flags = O_WRONLY | O_CREAT | O_APPEND;
  else {
    errno = EINVAL;
    return nullptr;
  }
  auto* stream = new (std::nothrow) TextStream;
  if (!stream) {
    errno = ENOMEM;
    return nullptr;
  }
  try {
    // Opening a pipe for reading would wait for a writer; the reads that follow do wait.
    int extra = flags == O_RDONLY ? O_NONBLOCK : 0;
    stream->fd = open(ResolveSystemPath(path).c_str(), flags | extra | O_CLOEXEC, 0666);
    if (stream->fd >= 0 && extra && fcntl(stream->fd, F_SETFL, flags) != 0) {
      int err = errno;
      close(stream->fd);
      stream->fd = -1;
      errno = err;
    }
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
  }
  if (stream->fd < 0) {
    int err = errno;
    delete stream;
    errno = err;
    return nullptr;
  }
  cookie_io_functions_t functions{};
  if (flags == O_RDONLY) functions.read = ReadText;
  else functions.write = WriteText;
  functions.close = CloseText;
  FILE* file = fopencookie(stream, mode, functions);
  if (!file) {
    int err = errno;
    close(stream->fd);
    delete stream;
    errno = err;
  }
  return file;
}
