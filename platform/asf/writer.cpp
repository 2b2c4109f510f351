#include "platform/asf/writer.h"

#include <algorithm>
#include <cerrno>
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

// Read once per sample: the coarse clock costs a fraction of the precise one, and a few
// milliseconds of error mean nothing against a 500 ms delay.
int64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t ReadClock(int64_t (*clock)()) { return clock ? clock() : MonotonicMs(); }

uint64_t NowAsFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 10000000 + static_cast<uint64_t>(ts.tv_nsec) / 100 + 116444736000000000ull;
}

}  // namespace

Writer::~Writer() { Abandon(); }

HeaderFields Writer::FieldsOfThisFile() const {
  HeaderFields fields;
  fields.fileId = fileId_;
  fields.creationTime = creationTime_;
  fields.packetSize = options_.packetSize;
  fields.prerollMs = options_.prerollMs;
  return fields;
}

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
    HeaderFields fields = FieldsOfThisFile();
    fields.flags = kFlagBroadcast;
    header_ = BuildHeader(options_.streams, options_.title, fields);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }

  // Read and write: a failed file's last packets are read back to take out an unfinished object.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return LastErrorStatus();
  hr = WriteFully(fd, header_.data(), header_.size(), 0, nullptr);
  if (SUCCEEDED(hr)) hr = output_.Init(fd, header_.size(), options_.packetSize, options_.bufferBytes);
  if (FAILED(hr)) {
    // A file without its whole header is no recording; the open status is the one to report.
    close(fd);
    unlink(path.c_str());
    return hr;
  }
  packetizer_.Init(&output_);
  fd_ = fd;
  final_ = FileFigures();
  firstTime_ = std::numeric_limits<int64_t>::max();
  endTime_ = int64_t{options_.prerollMs} * kTicksPerMs;
  closing_ = false;
  dataWritten_ = false;
  failure_ = S_OK;
  openSinceMs_ = bufferedSinceMs_ = -1;
  lastSyncMs_ = ReadClock(options_.clock);
  dueMs_ = std::numeric_limits<int64_t>::max();
  syncedPackets_ = 0;
  return S_OK;
}

HRESULT Writer::Fail(HRESULT hr) {
  if (SUCCEEDED(failure_)) failure_ = hr;
  return failure_;
}

HRESULT Writer::WriteSample(uint16_t stream, int64_t sampleTime, int64_t duration, bool cleanPoint,
                            bool /*discontinuity*/, const uint8_t* data, size_t size) {
  if (!IsOpen() || closing_) return NS_E_INVALID_REQUEST;
  if (FAILED(failure_)) return failure_;
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
  // Only a write fails the file; short memory for a huge sample refuses that sample alone.
  if (hr == E_OUTOFMEMORY) return hr;
  if (FAILED(hr)) return Fail(hr);
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
  const uint64_t packetsBefore = output_.PacketCount();
  uint64_t first = 0, last = 0;
  packetizer_.Add(object, data, &first, &last);

  if (cleanPoint && state->video)
    state->keyFrames.push_back({object.presentationMs, static_cast<uint32_t>(first), static_cast<uint32_t>(last - first + 1)});
  state->maxObjectSize = std::max(state->maxObjectSize, object.size);
  state->bytes += size;
  firstTime_ = std::min(firstTime_, sampleTime);
  endTime_ = std::max(endTime_, sampleTime + duration + int64_t{options_.prerollMs} * kTicksPerMs);
  dataWritten_ = true;

  // The packets this sample finished hold what waited in the open packet; a new open packet
  // holds only this sample.
  const int64_t now = ReadClock(options_.clock);
  if (output_.PacketCount() != packetsBefore) {
    if (bufferedSinceMs_ < 0) bufferedSinceMs_ = openSinceMs_ >= 0 ? openSinceMs_ : now;
    openSinceMs_ = packetizer_.HasOpenPacket() ? now : -1;
  } else if (openSinceMs_ < 0) {
    openSinceMs_ = now;
  } else if (now < dueMs_) {
    return S_OK;  // most samples: nothing has waited its time
  }
  return WriteDue(now);
}

HRESULT Writer::WriteDue() {
  if (!IsOpen() || closing_) return NS_E_INVALID_REQUEST;
  return WriteDue(ReadClock(options_.clock));
}

HRESULT Writer::WriteDue(int64_t now) {
  if (FAILED(failure_)) return failure_;
  if (!output_.HasBufferedPackets()) bufferedSinceMs_ = -1;
  // A slow stream pays padding rather than keep its media in memory.
  if (openSinceMs_ >= 0 && now - openSinceMs_ >= kWriteDelayMs) {
    packetizer_.FinishPacket();
    if (bufferedSinceMs_ < 0 || openSinceMs_ < bufferedSinceMs_) bufferedSinceMs_ = openSinceMs_;
    openSinceMs_ = -1;
  }
  if (bufferedSinceMs_ >= 0 && now - bufferedSinceMs_ >= kWriteDelayMs) {
    HRESULT hr = WriteBufferedPackets();
    if (FAILED(hr)) return hr;
  }
  if (options_.syncIntervalMs && output_.WrittenPackets() != syncedPackets_ &&
      now - lastSyncMs_ >= int64_t{options_.syncIntervalMs}) {
    const uint64_t written = output_.WrittenPackets();
    if ((options_.syncData ? options_.syncData(fd_) : fdatasync(fd_)) != 0) return Fail(LastErrorStatus());
    lastSyncMs_ = now;
    syncedPackets_ = written;
  }
  // The earliest time anything becomes due, so that most samples need not look.
  dueMs_ = std::numeric_limits<int64_t>::max();
  if (openSinceMs_ >= 0) dueMs_ = openSinceMs_ + kWriteDelayMs;
  if (bufferedSinceMs_ >= 0) dueMs_ = std::min(dueMs_, bufferedSinceMs_ + kWriteDelayMs);
  if (options_.syncIntervalMs && output_.WrittenPackets() != syncedPackets_)
    dueMs_ = std::min(dueMs_, lastSyncMs_ + int64_t{options_.syncIntervalMs});
  return S_OK;
}

HRESULT Writer::WriteBufferedPackets() {
  HRESULT hr = output_.Flush();
  if (FAILED(hr)) return Fail(hr);
  bufferedSinceMs_ = -1;
  return S_OK;
}

// The totals go in before the flags that make them valid: a header write cut short leaves the
// header saying "broadcast", which readers take as "sizes unknown".
HRESULT Writer::WriteFinalHeader(const std::vector<uint8_t>& header) {
  constexpr size_t kFlagsEnd = kHeaderObjectFixedSize + kFilePropertiesSize;
  HRESULT hr = WriteFully(fd_, header.data() + kFlagsEnd, header.size() - kFlagsEnd, kFlagsEnd, nullptr);
  if (SUCCEEDED(hr)) hr = WriteFully(fd_, header.data(), kFlagsEnd, 0, nullptr);
  return hr;
}

HRESULT Writer::Finish() {
  if (SUCCEEDED(failure_)) {
    packetizer_.FinishPacket();
    (void)WriteBufferedPackets();  // a failure becomes the file's and is reported by Close
  }
  // A file whose writing failed ends with its last whole object, and its header says so.
  const bool complete = SUCCEEDED(failure_);
  if (!complete) {
    // Should this fail, the header still declares the whole packets; the first failure is the
    // one Close reports.
    (void)Fail(output_.DropUnfinishedObject());
  }
  const WrittenRun run = output_.Written();
  const uint64_t prerollTicks = uint64_t{options_.prerollMs} * kTicksPerMs;
  const uint64_t packets = run.packets;
  HeaderFields fields = FieldsOfThisFile();
  fields.packetCount = packets;
  // Zero durations in a finished header read as "unknown" or negative to players, so a file
  // whose samples all last nothing at time 0 still gets 1 ms.
  if (complete) {
    fields.playDuration = dataWritten_ ? std::max<uint64_t>(static_cast<uint64_t>(endTime_), kTicksPerMs) : 0;
    fields.sendDuration = packets ? std::max<uint64_t>(packetizer_.SendEndMs(), 1) * kTicksPerMs : 0;
  } else if (packets) {
    fields.playDuration =
        std::max<int64_t>((run.mediaEndMs + options_.prerollMs) * kTicksPerMs, kTicksPerMs);
    fields.sendDuration = std::max<uint64_t>(run.sendEndMs, 1) * kTicksPerMs;
  }
  try {
    // Each stream's measured average rate: the profile's is an estimate made before recording.
    std::vector<StreamDescription> streams = options_.streams;
    const int64_t span = dataWritten_ ? endTime_ - static_cast<int64_t>(prerollTicks) - firstTime_ : 0;
    for (size_t i = 0; i < streams.size(); ++i) {
      if (span <= 0 || states_[i].bytes == 0) continue;
      const double rate = static_cast<double>(states_[i].bytes) * 8 * 1e7 / static_cast<double>(span);
      streams[i].bitrate = static_cast<uint32_t>(std::clamp(rate + 0.5, 1.0, 4294967295.0));
    }

    // One Simple Index per video stream, in stream order: readers match them to the streams by
    // position, so a stream without key frames still gets one, empty, and the file is then not
    // seekable. Key frames past the file's end stay out.
    std::vector<uint8_t> indexes;
    bool seekable = true, video = false;
    for (auto& state : states_) {
      fields.maxObjectSizes.push_back(state.maxObjectSize);
      if (!state.video) continue;
      video = true;
      std::erase_if(state.keyFrames, [&](const KeyFrameMark& k) { return uint64_t{k.firstPacket} + k.packetCount > packets; });
      auto entries = ComputeSimpleIndex(state.keyFrames, fields.playDuration, kDefaultIndexInterval);
      if (entries.empty()) seekable = false;
      auto object = BuildSimpleIndexObject(fileId_, kDefaultIndexInterval, entries);
      indexes.insert(indexes.end(), object.begin(), object.end());
    }
    if (packets == 0) seekable = false;
    HRESULT hr = output_.Append(indexes.data(), indexes.size());
    if (FAILED(hr)) {
      (void)Fail(hr);  // Close reports it; the file goes on without an index
      indexes.clear();
      if (video) seekable = false;
    }
    fields.flags = seekable ? kFlagSeekable : 0;
    fields.fileSize = output_.FileEnd() + indexes.size();

    std::vector<uint8_t> header = BuildHeader(streams, options_.title, fields);
    hr = WriteFinalHeader(header);
    if (FAILED(hr)) {
      (void)Fail(hr);  // Close reports it
      // The header may still say "broadcast": the file ends at its last whole packet, as a cut
      // recording does. Should the cut fail too, the first failure is still the one reported.
      (void)Fail(output_.CutBackToPackets());
      final_ = {output_.FileEnd(), output_.WrittenPackets(), 0};
    } else {
      final_ = {fields.fileSize, packets,
                static_cast<int64_t>(fields.playDuration > prerollTicks ? fields.playDuration - prerollTicks : 0)};
      if (options_.syncIntervalMs && (options_.syncData ? options_.syncData(fd_) : fsync(fd_)) != 0)
        (void)Fail(LastErrorStatus());  // Close reports it
    }
  } catch (const std::bad_alloc&) {
    // The header stays "broadcast": the file reads up to its last whole packet.
    final_ = {output_.FileEnd(), output_.WrittenPackets(), 0};
    return Fail(E_OUTOFMEMORY);
  }
  return failure_;
}

HRESULT Writer::Close() {
  if (!IsOpen()) return NS_E_INVALID_REQUEST;
  closing_ = true;
  (void)Finish();  // its failure is the file's, returned below
  if (close(fd_) != 0 && errno != EINTR) (void)Fail(LastErrorStatus());  // returned below
  fd_ = -1;
  output_.Reset();
  for (auto& state : states_) std::vector<KeyFrameMark>().swap(state.keyFrames);
  return failure_;
}

uint64_t Writer::FileSize() const {
  return IsOpen() ? header_.size() + output_.PacketCount() * options_.packetSize : final_.bytes;
}

FileFigures Writer::InFile() const {
  if (!IsOpen()) return final_;
  return {output_.FileEnd(), output_.WrittenPackets(), std::max<int64_t>(output_.Written().mediaEndMs, 0) * kTicksPerMs};
}

void Writer::Abandon() {
  if (!IsOpen()) return;
  // What is accepted is written, but the header stays "broadcast": the file was not finished.
  // A destructor has no caller to tell of a failure; the file keeps its whole packets either way.
  if (SUCCEEDED(failure_)) {
    packetizer_.FinishPacket();
    (void)output_.Flush();
  }
  close(fd_);
  fd_ = -1;
  output_.Reset();
}

}  // namespace asf
