#include "sources/y4m_reader.h"

#include <cstring>
#include <sstream>

namespace {

constexpr size_t kMaxLine = 4096;
constexpr char kMagic[] = "YUV4MPEG2";
constexpr unsigned kMaxSide = 16384;

// Digits only, no sign, no overflow past max.
bool ParseNumber(const std::string& text, unsigned max, unsigned* value) {
  if (text.empty() || text.size() > 9) return false;
  unsigned v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > max) return false;
  *value = v;
  return true;
}

bool ParseRatio(const std::string& text, unsigned* num, unsigned* den) {
  size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  return ParseNumber(text.substr(0, colon), 1000000000u, num) &&
         ParseNumber(text.substr(colon + 1), 1000000000u, den);
}

REFERENCE_TIME FrameTime(uint64_t frame, unsigned num, unsigned den) {
  unsigned __int128 t = static_cast<unsigned __int128>(frame) * 10000000u * den / num;
  return t > INT64_MAX ? INT64_MAX : static_cast<REFERENCE_TIME>(t);
}

}  // namespace

HRESULT Y4mReader::Push(const BYTE* data, size_t size) {
  if (FAILED(failed_)) return failed_;
  if (finished_) return Fail(E_UNEXPECTED, "Y4M: input after its end");
  HRESULT hr = queue_.Append(data, size);
  return FAILED(hr) ? Fail(hr, "Y4M: out of memory") : S_OK;
}

HRESULT Y4mReader::ReadLine(size_t* length, bool* need_input) {
  if (queue_.empty()) {
    *need_input = true;
    return S_OK;
  }
  size_t limit = queue_.size() < kMaxLine ? queue_.size() : kMaxLine;
  const void* newline = std::memchr(queue_.data(), '\n', limit);
  if (newline) {
    *length = static_cast<size_t>(static_cast<const BYTE*>(newline) - queue_.data());
    return S_OK;
  }
  if (queue_.size() >= kMaxLine) return Fail(E_STREAM_INVALID_DATA, "Y4M: header line too long");
  *need_input = true;
  return S_OK;
}

HRESULT Y4mReader::ParseHeader(const std::string& line) {
  if (line.compare(0, sizeof kMagic - 1, kMagic) != 0 ||
      (line.size() > sizeof kMagic - 1 && line[sizeof kMagic - 1] != ' '))
    return Fail(E_STREAM_INVALID_DATA, "Y4M: not a YUV4MPEG2 stream");
  Y4mStreamInfo info;
  bool have_rate = false;
  std::istringstream words(line.substr(sizeof kMagic - 1));
  std::string word;
  while (words >> word) {
    std::string value = word.substr(1);
    bool ok = true;
    switch (word[0]) {
      case 'W': ok = ParseNumber(value, kMaxSide, &info.width) && info.width > 0; break;
      case 'H': ok = ParseNumber(value, kMaxSide, &info.height) && info.height > 0; break;
      case 'F':
        ok = ParseRatio(value, &info.rate_num, &info.rate_den) && info.rate_num > 0 && info.rate_den > 0;
        have_rate = ok;
        break;
      case 'I': ok = value.size() == 1; if (ok) info.interlace = value[0]; break;
      case 'C': info.colour_space = value; break;
      default: break;  // aspect ratio, extensions: not needed to carry the frames
    }
    if (!ok) return Fail(E_STREAM_INVALID_DATA, "Y4M: bad header parameter '" + word + "'");
  }
  if (info.width == 0 || info.height == 0) return Fail(E_STREAM_INVALID_DATA, "Y4M: header without a size (W, H)");
  if (!have_rate) return Fail(E_STREAM_INVALID_DATA, "Y4M: header without a frame rate (F)");
  const std::string& c = info.colour_space;
  if (c != "420jpeg" && c != "420paldv" && c != "420mpeg2" && c != "420")
    return Fail(VFW_E_TYPE_NOT_ACCEPTED,
                "Y4M: colour space C" + c + " is not supported (4:2:0 only: 420jpeg, 420paldv, 420mpeg2, 420)");
  size_t chroma = size_t{(info.width + 1) / 2} * ((info.height + 1) / 2);
  info.frame_size = size_t{info.width} * info.height + 2 * chroma;
  if (info.frame_size > kMaxStreamUnitSize) return Fail(E_STREAM_INVALID_DATA, "Y4M: frame larger than 64 MiB");
  info_ = info;
  header_read_ = true;
  return S_OK;
}

HRESULT Y4mReader::Torn() {
  Truncated("the input ends inside frame " + std::to_string(frames_));
  queue_.Consume(queue_.size());
  return S_FALSE;
}

HRESULT Y4mReader::Next(StreamUnit* unit) {
  if (FAILED(failed_)) return failed_;
  queue_.Consume(consumed_);
  consumed_ = 0;
  for (;;) {
    size_t length = 0;
    bool need_input = false;
    HRESULT hr = ReadLine(&length, &need_input);
    if (FAILED(hr)) return hr;
    if (need_input) {
      if (!finished_ || queue_.empty()) return S_FALSE;
      if (!header_read_) return Fail(E_STREAM_INVALID_DATA, "Y4M: truncated stream header");
      return Torn();
    }
    std::string line(reinterpret_cast<const char*>(queue_.data()), length);
    if (!header_read_) {
      hr = ParseHeader(line);
      if (FAILED(hr)) return hr;
      queue_.Consume(length + 1);
      continue;
    }
    if (line.compare(0, 5, "FRAME") != 0 || (line.size() > 5 && line[5] != ' '))
      return Fail(E_STREAM_INVALID_DATA, "Y4M: expected FRAME before frame " + std::to_string(frames_));
    size_t total = length + 1 + info_.frame_size;
    if (queue_.size() < total) {
      if (!finished_) return S_FALSE;
      return Torn();
    }
    frame_parameters_ = line.size() > 6 ? line.substr(6) : std::string();
    *unit = StreamUnit{};
    unit->data = queue_.data() + length + 1;
    unit->size = info_.frame_size;
    unit->sync = true;
    unit->start = FrameTime(frames_, info_.rate_num, info_.rate_den);
    unit->stop = FrameTime(frames_ + 1, info_.rate_num, info_.rate_den);
    consumed_ = total;
    ++frames_;
    return S_OK;
  }
}
