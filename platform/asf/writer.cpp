#include "platform/asf/writer.h"

#include <algorithm>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/random.h>
#include <unistd.h>

#include "platform/asf/format.h"
#include "platform/asf/header_builder.h"

namespace asf {
namespace {

constexpr int64_t kMaxPresentationMs = std::numeric_limits<uint32_t>::max();

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

GUID RandomGuid() {
  GUID g{};
  if (getrandom(&g, sizeof g, 0) != static_cast<ssize_t>(sizeof g)) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    g.Data1 = static_cast<DWORD>(ts.tv_nsec) ^ static_cast<DWORD>(getpid());
    g.Data2 = static_cast<WORD>(ts.tv_sec);
  }
  g.Data3 = static_cast<WORD>((g.Data3 & 0x0FFF) | 0x4000);  // version 4
  g.Data4[0] = static_cast<BYTE>((g.Data4[0] & 0x3F) | 0x80);
  return g;
}

uint64_t NowAsFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 10000000 + static_cast<uint64_t>(ts.tv_nsec) / 100 + 116444736000000000ull;
}

}  // namespace

Writer::~Writer() { Abandon(); }

HRESULT Writer::Validate(const WriterOptions& o) const {
  if (o.streams.empty()) return E_INVALIDARG;
  const uint32_t packetSize = o.packetSize ? o.packetSize : kDefaultPacketSize;
  if (packetSize > 0xFFFF || packetSize < kPacketHeaderSize + kPayloadHeaderSize + 1) return E_INVALIDARG;
  if (2 * (o.title.size() + 1) > 0xFFFF) return E_INVALIDARG;
  bool seen[128] = {};
  for (const auto& s : o.streams) {
    if (s.number < 1 || s.number > 127 || seen[s.number]) return E_INVALIDARG;
    seen[s.number] = true;
    if (s.bufferWindowMs > o.prerollMs) return E_INVALIDARG;
    if (s.kind == StreamKind::Audio) {
      // WAVEFORMATEX: 18 bytes, then exactly cbSize more.
      if (s.format.size() < 18 || GetU16(s.format.data() + 16) != s.format.size() - 18) return E_INVALIDARG;
    } else {
      if (s.format.size() < 40 || s.format.size() > 0xFFFF) return E_INVALIDARG;
    }
  }
  return S_OK;
}

HRESULT Writer::Open(const std::string& path, const WriterOptions& options) {
  if (IsOpen()) return NS_E_INVALID_REQUEST;
  HRESULT hr = Validate(options);
  if (FAILED(hr)) return hr;
  // A file size limit must come back as a status from write(), not end the process.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    options_ = options;
    if (!options_.packetSize) options_.packetSize = kDefaultPacketSize;
    if (!options_.bufferBytes) options_.bufferBytes = kDefaultBufferBytes;
    std::sort(options_.streams.begin(), options_.streams.end(),
              [](const StreamDescription& a, const StreamDescription& b) { return a.number < b.number; });
    states_.assign(options_.streams.size(), StreamState());
    std::fill(std::begin(byNumber_), std::end(byNumber_), nullptr);
    for (size_t i = 0; i < options_.streams.size(); ++i) {
      states_[i].video = options_.streams[i].kind == StreamKind::Video;
      byNumber_[options_.streams[i].number] = &states_[i];
    }
    fileId_ = RandomGuid();
    creationTime_ = NowAsFileTime();
    HeaderFields fields;
    fields.fileId = fileId_;
    fields.creationTime = creationTime_;
    fields.packetSize = options_.packetSize;
    fields.prerollMs = options_.prerollMs;
    fields.flags = kFlagBroadcast;
    header_ = BuildHeader(options_.streams, options_.title, fields);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }

  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno));
  hr = WriteFully(fd, header_.data(), header_.size(), 0, nullptr);
  if (SUCCEEDED(hr)) hr = output_.Init(fd, header_.size(), options_.packetSize, options_.bufferBytes);
  if (FAILED(hr)) {
    close(fd);
    return hr;
  }
  packetizer_.Init(&output_);
  fd_ = fd;
  finalSize_ = 0;
  endTime_ = int64_t{options_.prerollMs} * kTicksPerMs;
  closing_ = false;
  dataWritten_ = false;
  return S_OK;
}

HRESULT Writer::WriteSample(uint16_t stream, int64_t sampleTime, int64_t duration, bool cleanPoint,
                            bool /*discontinuity*/, const uint8_t* data, size_t size) {
  if (!IsOpen() || closing_) return NS_E_INVALID_REQUEST;
  StreamState* state = stream < 128 ? byNumber_[stream] : nullptr;
  if (!state) return NS_E_INVALID_STREAM;
  if (size == 0) return S_FALSE;
  if (!data) return E_POINTER;
  if (size > std::numeric_limits<uint32_t>::max()) return E_INVALIDARG;
  const int64_t mediaMs = FloorDiv(sampleTime, kTicksPerMs);
  const int64_t presentationMs = mediaMs + options_.prerollMs;
  if (presentationMs < 0 || presentationMs > kMaxPresentationMs) return NS_E_INVALID_DATA;
  // Durations only feed the totals; an absurd one must not overflow them.
  duration = std::clamp<int64_t>(duration, 0, kMaxPresentationMs * kTicksPerMs);

  HRESULT hr = output_.Reserve(Packetizer::SlotsFor(options_.packetSize, size));
  if (FAILED(hr)) return hr;
  if (cleanPoint && state->video) {
    // The key-frame list grows amortised; a failed growth only costs this sample.
    try {
      if (state->keyFrames.size() == state->keyFrames.capacity()) state->keyFrames.reserve(state->keyFrames.size() * 2 + 64);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  MediaObjectHeader object;
  object.stream = static_cast<uint8_t>(stream | (cleanPoint ? kKeyFrameBit : 0));
  object.objectNumber = state->nextObjectNumber++;
  object.size = static_cast<uint32_t>(size);
  object.presentationMs = static_cast<uint32_t>(presentationMs);
  object.mediaStartMs = mediaMs;
  object.mediaEndMs = FloorDiv(sampleTime + duration, kTicksPerMs);
  uint64_t first = 0, last = 0;
  packetizer_.Add(object, data, &first, &last);

  if (cleanPoint && state->video)
    state->keyFrames.push_back({object.presentationMs, static_cast<uint32_t>(first), static_cast<uint32_t>(last - first + 1)});
  state->maxObjectSize = std::max(state->maxObjectSize, object.size);
  endTime_ = std::max(endTime_, sampleTime + duration + int64_t{options_.prerollMs} * kTicksPerMs);
  dataWritten_ = true;
  return S_OK;
}

HRESULT Writer::FinishData() {
  packetizer_.FinishPacket();
  return output_.Flush();
}

HRESULT Writer::Close() {
  if (!IsOpen()) return NS_E_INVALID_REQUEST;
  closing_ = true;
  HRESULT hr = FinishData();
  if (FAILED(hr)) return hr;
  try {
    const uint64_t packets = output_.PacketCount();
    HeaderFields fields;
    fields.fileId = fileId_;
    fields.creationTime = creationTime_;
    fields.packetSize = options_.packetSize;
    fields.prerollMs = options_.prerollMs;
    fields.packetCount = packets;
    // Zero durations in a finished header read as "unknown" or negative to players, so a file
    // whose samples all last nothing at time 0 still gets 1 ms.
    fields.playDuration = dataWritten_ ? std::max<uint64_t>(static_cast<uint64_t>(endTime_), kTicksPerMs) : 0;
    fields.sendDuration = packets ? std::max<uint64_t>(packetizer_.SendEndMs(), 1) * kTicksPerMs : 0;

    // One Simple Index per video stream, in stream order: readers match them to the streams by
    // position, so a stream without key frames still gets one, empty, and the file is then not
    // seekable.
    std::vector<uint8_t> indexes;
    bool seekable = true;
    for (auto& state : states_) {
      fields.maxObjectSizes.push_back(state.maxObjectSize);
      if (!state.video) continue;
      auto entries = ComputeSimpleIndex(state.keyFrames, fields.playDuration, kDefaultIndexInterval);
      if (entries.empty()) seekable = false;
      auto object = BuildSimpleIndexObject(fileId_, kDefaultIndexInterval, entries);
      indexes.insert(indexes.end(), object.begin(), object.end());
    }
    if (packets == 0) seekable = false;
    fields.flags = seekable ? kFlagSeekable : 0;
    fields.fileSize = output_.FileEnd() + indexes.size();

    hr = output_.Append(indexes.data(), indexes.size());
    if (FAILED(hr)) return hr;
    std::vector<uint8_t> header = BuildHeader(options_.streams, options_.title, fields);
    hr = WriteFully(fd_, header.data(), header.size(), 0, nullptr);
    if (FAILED(hr)) return hr;
    finalSize_ = fields.fileSize;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (close(fd_) != 0 && errno != EINTR) hr = HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno));
  fd_ = -1;
  output_.Reset();
  for (auto& state : states_) std::vector<KeyFrameMark>().swap(state.keyFrames);
  return hr;
}

uint64_t Writer::FileSize() const {
  return IsOpen() ? header_.size() + output_.PacketCount() * options_.packetSize : finalSize_;
}

void Writer::Abandon() {
  if (!IsOpen()) return;
  // What is accepted is written, but the header stays "broadcast": the file was not finished.
  (void)FinishData();
  close(fd_);
  fd_ = -1;
  output_.Reset();
}

}  // namespace asf
