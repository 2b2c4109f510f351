#include "platform/asf/reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/asf/format.h"

namespace asf {
namespace {

// Headers are a few KiB; anything claiming more than this is refused rather than loaded.
constexpr uint64_t kMaxHeaderSize = 16u << 20;
// Real files use packets of a few KiB; a larger claim is refused before a buffer is made for it.
constexpr uint32_t kMaxPacketSize = 16u << 20;
// Length and property flags, send time, duration, and one payload's stream byte.
constexpr uint32_t kMinPacketSize = 1 + 1 + 4 + 2 + 1;
// A day of recording has 86,400 one-second entries. Past this many, the rest are not kept.
constexpr uint64_t kMaxIndexEntries = 1u << 20;
constexpr size_t kMaxIndexes = 128;
// The chunked stream form: [$][type][WORD length] then, for header and data chunks, a DWORD
// sequence number, a WORD and the length once more, then the payload.
constexpr uint32_t kChunkHeadSize = 4;
constexpr uint32_t kChunkExtraSize = 8;
constexpr HRESULT kReadFailed = HRESULT_FROM_WIN32(30);  // ERROR_READ_FAULT

// Bounds-checked little-endian reads over [p, end).
class Cursor {
 public:
  Cursor(const uint8_t* p, const uint8_t* end) : p_(p), end_(end) {}
  bool Skip(uint64_t n) {
    if (n > Left()) return Fail();
    p_ += n;
    return true;
  }
  bool U8(uint32_t& v) {
    if (Left() < 1) return Fail();
    v = *p_++;
    return true;
  }
  bool U16(uint32_t& v) {
    if (Left() < 2) return Fail();
    v = GetU16(p_);
    p_ += 2;
    return true;
  }
  bool U32(uint32_t& v) {
    if (Left() < 4) return Fail();
    v = GetU32(p_);
    p_ += 4;
    return true;
  }
  // A field of 0, 1, 2 or 4 bytes by its two-bit length type.
  bool Sized(uint32_t type, uint32_t& v) {
    switch (type & 3) {
      case 0: v = 0; return true;
      case 1: return U8(v);
      case 2: return U16(v);
      default: return U32(v);
    }
  }
  uint64_t Left() const { return static_cast<uint64_t>(end_ - p_); }
  const uint8_t* Here() const { return p_; }
  bool Ok() const { return ok_; }

 private:
  bool Fail() {
    ok_ = false;
    return false;
  }
  const uint8_t* p_;
  const uint8_t* end_;
  bool ok_ = true;
};

bool IsIndexObject(const uint8_t* id) {
  const GUID g = GetGuid(id);
  return g == kSimpleIndexObject || g == kIndexObject;
}

std::u16string DecodeUtf16(const uint8_t* p, uint32_t bytes) {
  std::u16string s;
  for (uint32_t i = 0; i + 1 < bytes; i += 2) s.push_back(static_cast<char16_t>(GetU16(p + i)));
  while (!s.empty() && s.back() == 0) s.pop_back();
  return s;
}

}  // namespace

struct Reader::Pending {
  bool active = false;
  uint8_t number = 0;
  uint32_t size = 0;
  uint32_t presentationMs = 0;
  bool keyFrame = false;
  uint64_t firstPacket = 0;
  uint64_t at = 0;
  uint64_t received = 0;
  std::vector<uint8_t> data;  // the bytes received, when the caller wants them
  bool haveLast = false;
  uint8_t lastNumber = 0;
};

// A stream with a Simple Index: the packets its entries name, each with the earliest key frame
// that begins there, filled in while the packets are read. Sized by the index, not the data.
struct Reader::IndexedStream {
  uint16_t stream = 0;
  std::vector<std::pair<uint32_t, uint32_t>> starts;  // packet number, earliest key-frame time; sorted
  uint32_t earliest = UINT32_MAX;                      // the stream's first key frame
};

Reader::~Reader() = default;

bool Reader::Unfinished() const { return (file_.flags & kFlagBroadcast) != 0; }

void Reader::Error(uint64_t offset, std::string message) {
  problems_.Add(Problem::Severity::Error, offset, std::move(message));
}
void Reader::Warn(uint64_t offset, std::string message) {
  problems_.Add(Problem::Severity::Warning, offset, std::move(message));
}

const StreamInfo* Reader::FindStream(uint16_t number) const {
  for (const auto& s : streams_)
    if (s.number == number) return &s;
  return nullptr;
}

HRESULT Reader::Open(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno));
  struct stat st{};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return E_INVALIDARG;
  }
  source_.SetFile(fd, static_cast<uint64_t>(st.st_size));
  size_ = source_.Size();
  return Start();
}

HRESULT Reader::OpenMemory(const uint8_t* data, size_t size) {
  source_.SetMemory(data, size);
  size_ = source_.Size();
  return Start();
}

HRESULT Reader::Start() {
  file_ = FileInfo();
  haveFileProperties_ = false;
  streams_.clear();
  std::fill(std::begin(byNumber_), std::end(byNumber_), nullptr);
  title_.clear();
  indexes_.clear();
  extended_.clear();
  problems_.Clear();
  std::fill(std::begin(totals_), std::end(totals_), StreamTotals());
  framed_ = false;
  headerBase_ = 0;
  walkStart_ = 0;
  dataStart_ = dataEnd_ = packetsInFile_ = declaredPackets_ = 0;
  dataSizeUnknown_ = false;
  tornBytes_ = 0;
  indexEntriesKept_ = 0;
  lastSendMs_ = 0;
  lastSendEndMs_ = 0;
  maxPresentationMs_ = 0;
  try {
    uint64_t headerLimit = size_;  // the header and the Data Object's head must end by here
    uint8_t top[kHeaderObjectFixedSize];
    if (ReadAt(0, top, 2) && top[0] == '$' && top[1] == 'H' && !OpenFramedHeader(headerLimit)) return NS_E_INVALID_DATA;
    if (!ReadAt(headerBase_, top, sizeof top) || GetGuid(top) != kHeaderObject) {
      Error(headerBase_, "not an ASF file: no Header Object at the start");
      return NS_E_INVALID_DATA;
    }
    const uint64_t headerSize = GetU64(top + 16);
    if (headerSize < kHeaderObjectFixedSize || headerSize > headerLimit - headerBase_ || headerSize > kMaxHeaderSize) {
      Error(headerBase_ + 16, "Header Object size " + std::to_string(headerSize) + " does not fit the file");
      return NS_E_INVALID_DATA;
    }
    std::vector<uint8_t> header(headerSize);
    if (!ReadAt(headerBase_, header.data(), header.size())) return kReadFailed;
    problems_.SetOffsetBase(headerBase_);
    const bool parsed = ParseHeader(header.data(), headerSize);
    problems_.SetOffsetBase(0);
    if (!parsed) return NS_E_INVALID_DATA;
    std::fill(std::begin(byNumber_), std::end(byNumber_), nullptr);
    for (const auto& s : streams_) byNumber_[s.number & 0x7F] = &s;

    const uint64_t dataAt = headerBase_ + headerSize;
    uint8_t data[kDataObjectHeaderSize];
    if (headerLimit - dataAt < sizeof data || !ReadAt(dataAt, data, sizeof data) || GetGuid(data) != kDataObject) {
      Error(dataAt, "no Data Object directly after the header");
      return NS_E_INVALID_DATA;
    }
    const bool broadcast = Unfinished();
    if (GetGuid(data + 24) != file_.fileId) Error(dataAt + 24, "Data Object File ID differs from File Properties");
    if (data[48] != 1 || data[49] != 1) Warn(dataAt + 48, "Data Object reserved bytes are not 01 01");
    declaredPackets_ = GetU64(data + 40);
    dataStart_ = dataAt + kDataObjectHeaderSize;
    if (broadcast)
      Warn(headerBase_ + kHeaderObjectFixedSize + 88,
           "not finished: the header still says broadcast, so its sizes, counts and durations are unknown "
           "(a recording cut short, or a live stream); what the file holds was read from its packets");
    if (framed_) {
      dataSizeUnknown_ = true;
      walkStart_ = headerLimit;
      CountFramedPackets();
      return S_OK;
    }

    const uint64_t packetSize = file_.minPacketSize;
    const uint64_t dataObjectSize = GetU64(data + 16);
    const uint64_t available = size_ - dataStart_;
    const bool holdsPackets = dataObjectSize > kDataObjectHeaderSize;
    const bool fits = dataObjectSize >= kDataObjectHeaderSize && dataObjectSize - kDataObjectHeaderSize <= available;
    uint64_t dataBytes = 0;
    if (dataObjectSize == 0 || (broadcast && (!holdsPackets || !fits))) {
      // Broadcast: the size is not known yet (0, or just the Data Object's head), or was never
      // made right. The packets run to the end of the file or to the first index object.
      if (!broadcast) Error(dataAt + 16, "Data Object size 0 without the Broadcast flag");
      dataSizeUnknown_ = true;
      dataBytes = available;
    } else if (dataObjectSize < kDataObjectHeaderSize) {
      Error(dataAt + 16, "Data Object size " + std::to_string(dataObjectSize) + " is below 50");
    } else if (!fits) {
      Error(dataAt + 16, "Data Object runs past the end of the file (cut short?)");
      dataBytes = available;
      tornBytes_ = available % packetSize;
    } else {
      dataBytes = dataObjectSize - kDataObjectHeaderSize;
      if (dataBytes % packetSize != 0) Error(dataAt + 16, "Data Object size is not a whole number of packets");
    }
    bool trailingObjects = false;
    if (dataSizeUnknown_) {
      packetsInFile_ = FindPacketsEnd(dataBytes);
      const uint64_t rest = dataBytes - packetsInFile_ * packetSize;
      const uint8_t* id = rest >= 16 ? source_.View(dataStart_ + packetsInFile_ * packetSize, 16) : nullptr;
      trailingObjects = id && IsIndexObject(id);
      if (rest && !trailingObjects) {
        tornBytes_ = rest;
        Warn(dataStart_ + packetsInFile_ * packetSize,
             "last packet is incomplete (" + std::to_string(rest) + " of " + std::to_string(packetSize) +
                 " bytes): the recording was cut short; ignored");
      }
    } else {
      packetsInFile_ = dataBytes / packetSize;
      if (!broadcast && declaredPackets_ != packetsInFile_ && fits)
        Error(dataAt + 40, "Total Data Packets " + std::to_string(declaredPackets_) + " differs from the Data Object size");
    }
    walkStart_ = dataStart_;
    dataEnd_ = dataStart_ + packetsInFile_ * packetSize;
    if (!dataSizeUnknown_ && fits) ParseTrailingObjects(dataAt + dataObjectSize);
    else if (trailingObjects) ParseTrailingObjects(dataEnd_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool Reader::OpenFramedHeader(uint64_t& headerLimit) {
  uint8_t head[kChunkHeadSize + kChunkExtraSize];
  if (!ReadAt(0, head, sizeof head)) {
    Error(0, "stream header chunk cut off");
    return false;
  }
  const uint64_t length = GetU16(head + 2);
  if (length < kChunkExtraSize || kChunkHeadSize + length > size_) {
    Error(2, "stream header chunk length " + std::to_string(length) + " does not fit the file");
    return false;
  }
  framed_ = true;
  headerBase_ = sizeof head;
  headerLimit = kChunkHeadSize + length;
  return true;
}

// Packets of a Data Object of unknown size: whole packets up to the end of the file or to an index
// object that follows them.
uint64_t Reader::FindPacketsEnd(uint64_t dataBytes) {
  const uint64_t packetSize = file_.minPacketSize;
  uint64_t n = 0;
  while ((n + 1) * packetSize <= dataBytes) {
    const uint8_t* id = source_.View(dataStart_ + n * packetSize, 16);
    if (id && IsIndexObject(id)) break;
    ++n;
  }
  return n;
}

void Reader::CountFramedPackets() {
  PacketWalk walk;
  walk.at = walkStart_;
  uint64_t offset = 0;
  uint32_t length = 0;
  while (NextPacket(walk, offset, length)) {
  }
  packetsInFile_ = walk.number;
  dataEnd_ = walk.at;
  switch (walk.end) {
    case PacketWalk::End::Torn:
      tornBytes_ = size_ - walk.at;
      Warn(walk.at, "last chunk is incomplete (" + std::to_string(tornBytes_) +
                        " bytes): the recording was cut short; ignored");
      break;
    case PacketWalk::End::NotAChunk:
      Warn(walk.at, std::to_string(size_ - walk.at) + " bytes after the last chunk are not a stream chunk; ignored");
      break;
    case PacketWalk::End::Header:
      Warn(walk.at, "a second stream header: the stream starts again here; only the first part is read");
      break;
    case PacketWalk::End::BadChunk:
      Error(walk.at, "data chunk larger than the packet size");
      break;
    case PacketWalk::End::Clean:
    case PacketWalk::End::Marker:
      break;
  }
}

// The next data packet: back to back after the Data Object, or the payload of the next "$D"
// chunk. A chunk shorter than a packet leaves its padding out.
bool Reader::NextPacket(PacketWalk& walk, uint64_t& offset, uint32_t& length) {
  const uint32_t packetSize = file_.minPacketSize;
  if (!framed_) {
    if (walk.number >= packetsInFile_) return false;
    offset = dataStart_ + walk.number * packetSize;
    length = packetSize;
    ++walk.number;
    return true;
  }
  while (walk.at < size_) {
    const uint64_t left = size_ - walk.at;
    const uint8_t* head = source_.View(walk.at, static_cast<size_t>(std::min<uint64_t>(left, kChunkHeadSize + kChunkExtraSize)));
    if (!head || left < kChunkHeadSize || head[0] != '$') {
      walk.end = PacketWalk::End::NotAChunk;
      return false;
    }
    const uint64_t chunkLength = GetU16(head + 2);
    if (head[1] == 'E') {
      walk.end = PacketWalk::End::Marker;
      return false;
    }
    if (chunkLength > left - kChunkHeadSize) {
      walk.end = PacketWalk::End::Torn;
      return false;
    }
    if (head[1] == 'H') {
      walk.end = PacketWalk::End::Header;
      return false;
    }
    if (head[1] == 'D') {
      if (chunkLength < kChunkExtraSize || chunkLength - kChunkExtraSize > packetSize) {
        walk.end = PacketWalk::End::BadChunk;
        return false;
      }
      offset = walk.at + kChunkHeadSize + kChunkExtraSize;
      length = static_cast<uint32_t>(chunkLength - kChunkExtraSize);
      walk.at += kChunkHeadSize + chunkLength;
      ++walk.number;
      return true;
    }
    walk.at += kChunkHeadSize + chunkLength;  // other chunk kinds carry no packets
  }
  walk.end = PacketWalk::End::Clean;
  return false;
}

bool Reader::ParseHeader(const uint8_t* h, uint64_t size) {
  const uint32_t declaredChildren = GetU32(h + 24);
  if (h[29] != 2) {
    Error(29, "Header Object reserved byte is not 2");
    return false;
  }
  uint32_t children = 0;
  bool haveExtension = false;
  // By stream number: a header can repeat the object, but only 127 streams can have a rate.
  std::optional<uint32_t> bitrates[128];
  uint64_t at = kHeaderObjectFixedSize;
  while (at < size) {
    if (size - at < kObjectHeaderSize) {
      Error(at, "header ends inside an object header");
      break;
    }
    const uint8_t* p = h + at;
    const GUID id = GetGuid(p);
    const uint64_t objectSize = GetU64(p + 16);
    if (objectSize < kObjectHeaderSize || objectSize > size - at) {
      Error(at + 16, "header object size " + std::to_string(objectSize) + " does not fit the header");
      break;
    }
    ++children;
    if (id == kFilePropertiesObject) {
      if (haveFileProperties_) Error(at, "more than one File Properties Object");
      if (objectSize != kFilePropertiesSize) {
        Error(at + 16, "File Properties Object size is not 104");
      } else {
        haveFileProperties_ = true;
        file_.fileId = GetGuid(p + 24);
        file_.fileSize = GetU64(p + 40);
        file_.creationTime = GetU64(p + 48);
        file_.packetCount = GetU64(p + 56);
        file_.playDuration = GetU64(p + 64);
        file_.sendDuration = GetU64(p + 72);
        file_.prerollMs = GetU64(p + 80);
        file_.flags = GetU32(p + 88);
        file_.minPacketSize = GetU32(p + 92);
        file_.maxPacketSize = GetU32(p + 96);
        file_.maxBitrate = GetU32(p + 100);
      }
    } else if (id == kStreamPropertiesObject) {
      ParseStreamProperties(p, objectSize, at);
    } else if (id == kHeaderExtensionObject) {
      if (haveExtension) Error(at, "more than one Header Extension Object");
      haveExtension = true;
      ParseHeaderExtension(p, objectSize, at);
    } else if (id == kContentDescriptionObject) {
      Cursor c(p + 24, p + objectSize);
      uint32_t lengths[5] = {};
      for (auto& l : lengths) c.U16(l);
      uint64_t total = 0;
      for (auto l : lengths) total += l;
      if (!c.Ok() || total > c.Left()) {
        Error(at, "Content Description strings run past the object");
      } else {
        if (lengths[0] % 2) Warn(at + 24, "title length is odd");
        if (lengths[0] >= 2 && GetU16(c.Here() + (lengths[0] & ~1u) - 2) != 0) Warn(at + 24, "title has no terminator");
        title_ = DecodeUtf16(c.Here(), lengths[0]);
      }
    } else if (id == kStreamBitratePropertiesObject) {
      Cursor c(p + 24, p + objectSize);
      uint32_t count = 0;
      c.U16(count);
      for (uint32_t i = 0; i < count && c.Ok(); ++i) {
        uint32_t flags = 0, rate = 0;
        if (c.U16(flags) && c.U32(rate)) bitrates[flags & 0x7F] = rate;
      }
      if (!c.Ok()) Error(at, "Stream Bitrate Properties records run past the object");
    } else if (id == kDataObject || id == kHeaderObject || id == kSimpleIndexObject) {
      Error(at, "top-level object " + GuidToString(id) + " inside the header");
    }
    // Codec List, Extended Content Description, Padding and unknown objects are skipped.
    at += objectSize;
  }
  if (children != declaredChildren)
    Warn(24, "header says " + std::to_string(declaredChildren) + " objects, holds " + std::to_string(children));
  if (!haveFileProperties_) {
    Error(kHeaderObjectFixedSize, "no valid File Properties Object");
    return false;
  }
  if (!haveExtension) Warn(kHeaderObjectFixedSize, "no Header Extension Object");
  if (streams_.empty()) Error(kHeaderObjectFixedSize, "no Stream Properties Object");
  if (file_.minPacketSize != file_.maxPacketSize || file_.minPacketSize == 0) {
    Error(kHeaderObjectFixedSize + 92, "packet size not fixed: min " + std::to_string(file_.minPacketSize) + ", max " +
                                           std::to_string(file_.maxPacketSize));
    if (file_.minPacketSize == 0) return false;
  }
  if (file_.minPacketSize < kMinPacketSize) {
    Error(kHeaderObjectFixedSize + 92, "packet size " + std::to_string(file_.minPacketSize) +
                                           " is smaller than the smallest packet can be");
    return false;
  }
  if (file_.minPacketSize > kMaxPacketSize) {
    Error(kHeaderObjectFixedSize + 92, "packet size " + std::to_string(file_.minPacketSize) + " is implausible");
    return false;
  }
  if ((file_.flags & kFlagBroadcast) && (file_.flags & kFlagSeekable))
    Warn(kHeaderObjectFixedSize + 88, "Broadcast and Seekable flags both set");
  for (const auto& e : extended_) {
    auto it = std::find_if(streams_.begin(), streams_.end(), [&](const StreamInfo& s) { return s.number == e.number; });
    if (it == streams_.end()) {
      Error(e.at, "Extended Stream Properties for undeclared stream " + std::to_string(e.number));
      continue;
    }
    if (it->extended) Error(e.at, "two Extended Stream Properties for stream " + std::to_string(e.number));
    it->extended = true;
    it->bitrate = e.bitrate;
    it->bufferWindowMs = e.bufferWindowMs;
    it->maxObjectSize = e.maxObjectSize;
    it->averageTimePerFrame = e.averageTimePerFrame;
  }
  extended_.clear();
  for (uint16_t number = 0; number < 128; ++number) {
    if (!bitrates[number]) continue;
    auto it = std::find_if(streams_.begin(), streams_.end(), [&](const StreamInfo& s) { return s.number == number; });
    if (it == streams_.end()) Warn(0, "bitrate record for undeclared stream " + std::to_string(number));
    else it->bitrate = *bitrates[number];
  }

  std::sort(streams_.begin(), streams_.end(), [](const StreamInfo& a, const StreamInfo& b) { return a.number < b.number; });
  return true;
}

void Reader::ParseStreamProperties(const uint8_t* p, uint64_t size, uint64_t at) {
  if (size < kStreamPropertiesFixedSize) {
    Error(at, "Stream Properties Object too small");
    return;
  }
  StreamInfo s;
  s.type = GetGuid(p + 24);
  s.errorCorrection = GetGuid(p + 40);
  const uint32_t tsdLength = GetU32(p + 64);
  const uint32_t ecdLength = GetU32(p + 68);
  s.number = GetU16(p + 72) & 0x7F;
  if (uint64_t{tsdLength} + ecdLength > size - kStreamPropertiesFixedSize) {
    Error(at + 64, "Stream Properties data lengths run past the object");
    return;
  }
  if (s.number == 0) Error(at + 72, "stream number 0");
  if (FindStream(s.number)) {
    Error(at + 72, "stream number " + std::to_string(s.number) + " declared twice");
    return;
  }
  const uint8_t* tsd = p + kStreamPropertiesFixedSize;
  s.audio = s.type == kAudioMedia;
  s.video = s.type == kVideoMedia;
  if (s.audio) {
    if (tsdLength < 18) {
      Error(at + 64, "audio format shorter than WAVEFORMATEX");
    } else {
      s.format.assign(tsd, tsd + tsdLength);
      s.formatTag = GetU16(tsd);
      s.channels = GetU16(tsd + 2);
      s.samplesPerSecond = GetU32(tsd + 4);
      s.avgBytesPerSecond = GetU32(tsd + 8);
      s.blockAlign = GetU16(tsd + 12);
      s.bitsPerSample = GetU16(tsd + 14);
      if (18u + GetU16(tsd + 16) > tsdLength) Error(at + kStreamPropertiesFixedSize + 16, "WAVEFORMATEX cbSize runs past its data");
    }
  } else if (s.video) {
    if (tsdLength < 11 + 40) {
      Error(at + 64, "video format shorter than BITMAPINFOHEADER");
    } else {
      s.width = static_cast<int32_t>(GetU32(tsd));
      s.height = static_cast<int32_t>(GetU32(tsd + 4));
      const uint32_t formatSize = GetU16(tsd + 9);
      if (formatSize + 11u != tsdLength) Warn(at + kStreamPropertiesFixedSize + 9, "video format data size disagrees with its length");
      const uint8_t* bih = tsd + 11;
      const uint32_t bihBytes = std::min(formatSize, tsdLength - 11);
      if (bihBytes >= 40) {
        s.format.assign(bih, bih + bihBytes);
        if (GetU32(bih) != formatSize) Warn(at + kStreamPropertiesFixedSize + 11, "biSize differs from the format data size");
        s.bitCount = GetU16(bih + 14);
        s.fourcc = GetU32(bih + 16);
      } else {
        Error(at + kStreamPropertiesFixedSize + 9, "video format data shorter than BITMAPINFOHEADER");
      }
    }
  }
  streams_.push_back(std::move(s));
}

void Reader::ParseHeaderExtension(const uint8_t* p, uint64_t size, uint64_t at) {
  if (size < kHeaderExtensionFixedSize) {
    Error(at, "Header Extension Object too small");
    return;
  }
  if (GetGuid(p + 24) != kHeaderExtensionReserved || GetU16(p + 40) != 6)
    Warn(at + 24, "Header Extension reserved fields are not the usual values");
  const uint64_t dataSize = GetU32(p + 42);
  if (dataSize != size - kHeaderExtensionFixedSize) {
    Error(at + 42, "Header Extension data size disagrees with its object size");
    return;
  }
  uint64_t off = kHeaderExtensionFixedSize;
  while (off < size) {
    if (size - off < kObjectHeaderSize) {
      Error(at + off, "Header Extension ends inside an object header");
      return;
    }
    const uint64_t childSize = GetU64(p + off + 16);
    if (childSize < kObjectHeaderSize || childSize > size - off) {
      Error(at + off + 16, "extension object size " + std::to_string(childSize) + " does not fit");
      return;
    }
    if (GetGuid(p + off) == kExtendedStreamPropertiesObject) ParseExtendedStreamProperties(p + off, childSize, at + off);
    off += childSize;
  }
}

void Reader::ParseExtendedStreamProperties(const uint8_t* p, uint64_t size, uint64_t at) {
  if (size < kExtendedStreamPropertiesFixedSize) {
    Error(at, "Extended Stream Properties Object too small");
    return;
  }
  // Stream Properties may come before or after the extension; merged at the end of the header.
  // One per stream; past a few more than there can be streams, the rest are only counted.
  if (extended_.size() >= 256) {
    Error(at, "more Extended Stream Properties than there can be streams");
    return;
  }
  Extended e;
  e.number = GetU16(p + 72);
  e.at = at;
  e.bitrate = GetU32(p + 40);
  e.bufferWindowMs = GetU32(p + 44);
  e.maxObjectSize = GetU32(p + 64);
  e.averageTimePerFrame = static_cast<int64_t>(GetU64(p + 76));
  extended_.push_back(e);
}


void Reader::ParseTrailingObjects(uint64_t at) {
  std::vector<uint16_t> videoStreams;
  for (const auto& s : streams_)
    if (s.video) videoStreams.push_back(s.number);
  while (at < size_) {
    const uint64_t left = size_ - at;
    const uint8_t* head = source_.View(at, static_cast<size_t>(std::min<uint64_t>(left, kSimpleIndexFixedSize)));
    if (!head) {
      Error(at, "the file cannot be read after the Data Object");
      return;
    }
    // A program that streamed the file ends it with the stream's end chunk.
    if (left >= kChunkHeadSize && head[0] == '$' && head[1] == 'E' && GetU16(head + 2) == left - kChunkHeadSize) return;
    if (left < kObjectHeaderSize) {
      Warn(at, std::to_string(left) + " bytes of trailing data after the Data Object");
      return;
    }
    const GUID id = GetGuid(head);
    const uint64_t objectSize = GetU64(head + 16);
    if (objectSize < kObjectHeaderSize || objectSize > left) {
      Error(at + 16, "object size " + std::to_string(objectSize) + " after the Data Object does not fit the file");
      return;
    }
    if (id == kSimpleIndexObject) {
      if (objectSize < kSimpleIndexFixedSize) {
        Error(at, "Simple Index Object too small");
      } else if (indexes_.size() >= kMaxIndexes) {
        Warn(at, "more Simple Index objects than streams; ignored");
      } else {
        SimpleIndexInfo index;
        index.fileId = GetGuid(head + 24);
        index.interval = GetU64(head + 40);
        index.maxPacketCount = GetU32(head + 48);
        index.entryCount = GetU32(head + 52);
        if (objectSize != kSimpleIndexFixedSize + 6 * index.entryCount) {
          Error(at + 16, "Simple Index size disagrees with its " + std::to_string(index.entryCount) + " entries");
        } else {
          const uint64_t keep = std::min(index.entryCount, kMaxIndexEntries - indexEntriesKept_);
          if (keep < index.entryCount)
            Warn(at, "Simple Index of " + std::to_string(index.entryCount) + " entries: only the first " +
                         std::to_string(keep) + " are checked");
          index.entries.reserve(keep);
          uint64_t from = at + kSimpleIndexFixedSize;
          for (uint64_t i = 0; i < keep; ++i, from += 6) {
            const uint8_t* e = source_.View(from, 6);
            if (!e) break;
            index.entries.push_back({GetU32(e), GetU16(e + 4)});
          }
          indexEntriesKept_ += index.entries.size();
        }
        if (indexes_.size() < videoStreams.size()) index.stream = videoStreams[indexes_.size()];
        else Warn(at, "Simple Index with no video stream left to belong to");
        indexes_.push_back(std::move(index));
      }
    } else if (id != kIndexObject && id != kPaddingObject) {
      Warn(at, "unknown object " + GuidToString(id) + " after the Data Object");
    }
    at += objectSize;
  }
}

HRESULT Reader::ReadObjects(const ObjectVisitor& visit, ObjectBytes bytes) {
  if (!haveFileProperties_ || dataStart_ == 0) return NS_E_INVALID_REQUEST;
  try {
    std::vector<Pending> pending(128);
    std::vector<IndexedStream> indexed;
    for (const auto& index : indexes_) {
      if (!index.stream) continue;
      auto it = std::find_if(indexed.begin(), indexed.end(), [&](const IndexedStream& s) { return s.stream == index.stream; });
      if (it == indexed.end()) {
        indexed.emplace_back();
        it = indexed.end() - 1;
        it->stream = index.stream;
      }
      for (const auto& e : index.entries) it->starts.push_back({e.packetNumber, UINT32_MAX});
    }
    for (auto& s : indexed) {
      std::sort(s.starts.begin(), s.starts.end());
      s.starts.erase(std::unique(s.starts.begin(), s.starts.end()), s.starts.end());
    }
    const uint32_t packetSize = file_.minPacketSize;
    std::vector<uint8_t> shortPacket;  // a chunk that left its padding out, padded again
    std::fill(std::begin(totals_), std::end(totals_), StreamTotals());
    prerollWarnings_ = SIZE_MAX;
    lastSendMs_ = 0;
    lastSendEndMs_ = 0;
    maxPresentationMs_ = 0;
    PacketWalk walk;
    walk.at = walkStart_;
    uint64_t offset = 0;
    uint32_t length = 0;
    for (uint64_t n = 0; n < packetsInFile_ && NextPacket(walk, offset, length); ++n) {
      const uint8_t* packet = source_.View(offset, length);
      if (!packet) return kReadFailed;
      if (length < packetSize) {
        shortPacket.assign(packetSize, 0);
        std::memcpy(shortPacket.data(), packet, length);
        packet = shortPacket.data();
      }
      ParsePacket(packet, offset, n, pending, indexed, bytes == ObjectBytes::Whole, visit);
    }
    const bool broadcast = Unfinished();
    for (size_t i = 0; i < pending.size(); ++i) {
      if (!pending[i].active) continue;
      std::string what = "stream " + std::to_string(i) + ": last object incomplete (" +
                         std::to_string(pending[i].received) + " of " + std::to_string(pending[i].size) + " bytes)";
      if (broadcast) Warn(pending[i].at, what + ", recording cut short");
      else Error(pending[i].at, what);
    }
    CheckTotals();
    CheckIndexes(indexed);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void Reader::ParsePacket(const uint8_t* packet, uint64_t base, uint64_t number, std::vector<Pending>& pending,
                         std::vector<IndexedStream>& indexed, bool keepBytes, const ObjectVisitor& visit) {
  const uint32_t packetSize = file_.minPacketSize;
  Cursor c(packet, packet + packetSize);
  auto bad = [&](const std::string& what) { Error(base + (c.Here() - packet), "packet " + std::to_string(number) + ": " + what); };

  uint32_t first = 0;
  c.U8(first);
  if (first & 0x80) {
    if (first & 0x60) return bad("error correction length type is not 00");
    if (first & 0x10) return bad("opaque error correction data");
    c.Skip(first & 0x0F);
  } else {
    c = Cursor(packet, packet + packetSize);
  }
  uint32_t lengthFlags = 0, propertyFlags = 0;
  if (!c.U8(lengthFlags) || !c.U8(propertyFlags)) return bad("packet header cut off");
  if (lengthFlags & 0x80) return bad("Length Type Flags bit 7 set");
  if (((propertyFlags >> 6) & 3) != 1) return bad("stream number length type is not BYTE");
  uint32_t packetLength = 0, sequence = 0, padding = 0, sendTime = 0, duration = 0;
  c.Sized(lengthFlags >> 5, packetLength);
  c.Sized(lengthFlags >> 1, sequence);
  c.Sized(lengthFlags >> 3, padding);
  c.U32(sendTime);
  c.U16(duration);
  if (!c.Ok()) return bad("payload parsing information cut off");
  uint32_t length = packetSize;
  if ((lengthFlags >> 5) & 3) {
    if (packetLength > packetSize || (packetLength < packetSize && uint64_t{packetLength} + padding != packetSize))
      bad("Packet Length " + std::to_string(packetLength) + " differs from the packet size");
    length = std::min(packetLength, packetSize);
  }
  const uint64_t used = static_cast<uint64_t>(c.Here() - packet);
  const uint8_t* end = nullptr;
  if (padding <= length && length - padding >= used) {
    end = packet + length - padding;
  } else if (length < packetSize && uint64_t{length} + padding == packetSize && length >= used) {
    // GStreamer ends a stream with a short packet whose padding counts up to the full size.
    Warn(base, "packet " + std::to_string(number) + ": padding length " + std::to_string(padding) +
                   " counts past its Packet Length " + std::to_string(length) + "; read up to the Packet Length");
    end = packet + length;
  } else {
    return bad("padding length " + std::to_string(padding) + " too large");
  }
  c = Cursor(c.Here(), end);

  if (sendTime < lastSendMs_) bad("send time " + std::to_string(sendTime) + " before the previous packet's " + std::to_string(lastSendMs_));
  lastSendMs_ = std::max(lastSendMs_, sendTime);
  lastSendEndMs_ = std::max<uint64_t>(lastSendEndMs_, uint64_t{sendTime} + duration);

  const bool multiple = lengthFlags & 1;
  uint32_t payloads = 1, payloadLengthType = 0;
  if (multiple) {
    uint32_t flags = 0;
    if (!c.U8(flags)) return bad("payload flags cut off");
    payloads = flags & 0x3F;
    payloadLengthType = flags >> 6;
    if (payloads == 0) return bad("multiple-payload packet with no payloads");
    if (payloadLengthType == 0) return bad("payload length type 00 in a multiple-payload packet");
  }
  for (uint32_t i = 0; i < payloads; ++i) {
    const uint64_t payloadAt = base + (c.Here() - packet);
    uint32_t streamByte = 0, objectNumber = 0, offset = 0, replicatedLength = 0, payloadLength = 0;
    c.U8(streamByte);
    c.Sized(propertyFlags >> 4, objectNumber);
    c.Sized(propertyFlags >> 2, offset);
    c.Sized(propertyFlags, replicatedLength);
    const uint8_t* replicated = c.Here();
    c.Skip(replicatedLength);
    if (multiple) c.Sized(payloadLengthType, payloadLength);
    else payloadLength = static_cast<uint32_t>(c.Left());
    if (!c.Ok()) return bad("payload " + std::to_string(i) + " header runs past the packet's data");
    const uint8_t* data = c.Here();
    if (!c.Skip(payloadLength)) return bad("payload " + std::to_string(i) + " length " + std::to_string(payloadLength) + " runs past the packet's data");

    const uint16_t stream = streamByte & 0x7F;
    const bool key = streamByte & kKeyFrameBit;
    const StreamInfo* info = byNumber_[stream];
    if (!info) {
      bad("payload for undeclared stream " + std::to_string(stream));
      continue;
    }
    Pending& p = pending[stream];
    auto emit = [&](const MediaObject& object) {
      StreamTotals& totals = totals_[stream];
      totals.firstMs = totals.objects ? std::min(totals.firstMs, object.presentationMs) : object.presentationMs;
      totals.lastMs = std::max(totals.lastMs, object.presentationMs);
      ++totals.objects;
      totals.bytes += object.size;
      maxPresentationMs_ = std::max(maxPresentationMs_, object.presentationMs);
      if (object.presentationMs < file_.prerollMs) {
        // Can come with every object: past the first few, counted without making a message.
        if (prerollWarnings_ != SIZE_MAX) problems_.AddMore(prerollWarnings_);
        else prerollWarnings_ = problems_.Add(Problem::Severity::Warning, payloadAt, "stream " + std::to_string(stream) + ": presentation time " + std::to_string(object.presentationMs) + " before the preroll");
      }
      if (object.keyFrame) {
        ++totals.keyFrames;
        for (auto& s : indexed) {
          if (s.stream != stream) continue;
          s.earliest = std::min(s.earliest, object.presentationMs);
          if (object.firstPacket > UINT32_MAX) continue;  // no index entry can name it
          const auto packet = static_cast<uint32_t>(object.firstPacket);
          auto it = std::lower_bound(s.starts.begin(), s.starts.end(), std::make_pair(packet, uint32_t{0}));
          if (it != s.starts.end() && it->first == packet) it->second = std::min(it->second, object.presentationMs);
        }
      }
      if (info->maxObjectSize && object.size > info->maxObjectSize)
        Warn(payloadAt, "stream " + std::to_string(stream) + ": object larger than the declared maximum");
      if (visit) visit(object);
    };

    if (replicatedLength == 1) {
      // Compressed payload: the offset field holds the presentation time, the replicated byte a
      // time delta, the data a run of [length][object] sub-payloads.
      if (p.active) {
        bad("stream " + std::to_string(stream) + ": compressed payload inside a fragmented object");
        p.active = false;
      }
      const uint32_t delta = replicated[0];
      Cursor sub(data, data + payloadLength);
      uint32_t k = 0;
      while (sub.Left()) {
        uint32_t subLength = 0;
        sub.U8(subLength);
        const uint8_t* subData = sub.Here();
        if (subLength == 0 || !sub.Skip(subLength)) {
          bad("compressed payload sub-payload runs past its payload");
          break;
        }
        MediaObject object;
        object.stream = stream;
        object.number = static_cast<uint8_t>(objectNumber + k);
        object.presentationMs = offset + k * delta;
        object.keyFrame = key;
        object.compressed = true;
        object.firstPacket = number;
        object.data = keepBytes ? subData : nullptr;
        object.size = subLength;
        emit(object);
        ++k;
      }
      continue;
    }
    if (replicatedLength < 8) {
      bad("replicated data of " + std::to_string(replicatedLength) + " bytes carries no object size and time");
      continue;
    }
    const uint32_t objectSize = GetU32(replicated);
    const uint32_t presentation = GetU32(replicated + 4);
    if (presentation < sendTime) Warn(payloadAt, "packet " + std::to_string(number) + ": send time after a payload's presentation time");

    if (offset == 0) {
      if (p.active) bad("stream " + std::to_string(stream) + ": object " + std::to_string(p.number) + " dropped, a fragment is missing");
      p.active = false;
      if (objectSize == 0) {
        bad("stream " + std::to_string(stream) + ": media object size 0");
        continue;
      }
      if (p.haveLast && static_cast<uint8_t>(objectNumber) != static_cast<uint8_t>(p.lastNumber + 1))
        Warn(payloadAt, "stream " + std::to_string(stream) + ": object number " + std::to_string(objectNumber) + " does not follow " + std::to_string(p.lastNumber));
      p.haveLast = true;
      p.lastNumber = static_cast<uint8_t>(objectNumber);
      if (payloadLength > objectSize) {
        bad("stream " + std::to_string(stream) + ": fragment larger than its object");
        continue;
      }
      if (payloadLength == objectSize) {
        MediaObject object{stream, static_cast<uint8_t>(objectNumber), presentation, key, false, number,
                           keepBytes ? data : nullptr, objectSize};
        emit(object);
        continue;
      }
      // The object's bytes are at most what the packets still to come can carry.
      const uint64_t remaining = (packetsInFile_ - number) * uint64_t{packetSize};
      // Where a recording was cut short its last object is, and is reported incomplete at the end.
      if (objectSize > remaining + payloadLength && !Unfinished()) {
        bad("stream " + std::to_string(stream) + ": object size " + std::to_string(objectSize) + " exceeds the data left");
        continue;
      }
      p.active = true;
      p.number = static_cast<uint8_t>(objectNumber);
      p.size = objectSize;
      p.presentationMs = presentation;
      p.keyFrame = key;
      p.firstPacket = number;
      p.at = payloadAt;
      p.received = payloadLength;
      p.data.clear();
      if (keepBytes) p.data.insert(p.data.end(), data, data + payloadLength);
      continue;
    }
    if (!p.active || static_cast<uint8_t>(objectNumber) != p.number || offset != p.received) {
      bad("stream " + std::to_string(stream) + ": fragment at offset " + std::to_string(offset) + " of object " +
          std::to_string(objectNumber) + " does not continue an object");
      p.active = false;
      continue;
    }
    if (objectSize != p.size || presentation != p.presentationMs || key != p.keyFrame) {
      bad("stream " + std::to_string(stream) + ": fragment's size, time or key-frame mark differs from its object's");
      p.active = false;
      continue;
    }
    if (uint64_t{payloadLength} > p.size - p.received) {
      bad("stream " + std::to_string(stream) + ": fragments exceed the object size");
      p.active = false;
      continue;
    }
    p.received += payloadLength;
    if (keepBytes) p.data.insert(p.data.end(), data, data + payloadLength);
    if (p.received == p.size) {
      p.active = false;
      MediaObject object{stream, p.number, p.presentationMs, p.keyFrame, false, p.firstPacket,
                         keepBytes ? p.data.data() : nullptr, p.size};
      emit(object);
    }
  }
  if (multiple && c.Left() != 0)
    bad(std::to_string(c.Left()) + " bytes between the last payload and the padding");
}

void Reader::CheckTotals() {
  const bool broadcast = (file_.flags & kFlagBroadcast) != 0;
  if (broadcast) return;  // totals are not valid yet
  const uint64_t at = kHeaderObjectFixedSize;
  if (file_.fileSize != size_)
    Error(at + 40, "File Size " + std::to_string(file_.fileSize) + " but the file has " + std::to_string(size_) + " bytes");
  if (file_.packetCount != declaredPackets_)
    Error(at + 56, "Data Packets Count " + std::to_string(file_.packetCount) + " differs from Total Data Packets " +
                       std::to_string(declaredPackets_));
  if (file_.packetCount != packetsInFile_)
    Error(at + 56, "Data Packets Count " + std::to_string(file_.packetCount) + " but " + std::to_string(packetsInFile_) +
                       " packets present");
  if (packetsInFile_ == 0) return;
  if (file_.playDuration == 0 || file_.sendDuration == 0) Error(at + 64, "zero duration without the Broadcast flag");
  if (file_.playDuration < file_.prerollMs * kTicksPerMs) Error(at + 64, "Play Duration shorter than the preroll");
  if (file_.playDuration < uint64_t{maxPresentationMs_} * kTicksPerMs)
    Error(at + 64, "Play Duration ends before the last object starts");
  if (file_.sendDuration < uint64_t{lastSendMs_} * kTicksPerMs) Error(at + 72, "Send Duration ends before the last packet's send time");
}

void Reader::CheckIndexes(const std::vector<IndexedStream>& indexed) {
  size_t videoStreams = 0;
  for (const auto& s : streams_) videoStreams += s.video;
  // An unfinished file has no index yet; its Seekable flag is already reported with Broadcast.
  if ((file_.flags & kFlagSeekable) && !Unfinished() && videoStreams > indexes_.size())
    Error(kHeaderObjectFixedSize + 88, "Seekable flag set but a video stream has no Simple Index");
  for (const auto& index : indexes_) {
    if (!index.stream) continue;
    const std::string name = "Simple Index of stream " + std::to_string(index.stream);
    if (index.fileId != file_.fileId && index.fileId != GUID_NULL) Warn(0, name + ": File ID differs");
    if (index.interval == 0 && !index.entries.empty()) {
      Error(0, name + ": interval 0");
      continue;
    }
    auto stream = std::find_if(indexed.begin(), indexed.end(), [&](const IndexedStream& s) { return s.stream == index.stream; });
    if (stream == indexed.end()) continue;
    uint32_t maxCount = 0;
    for (size_t i = 0; i < index.entries.size(); ++i) {
      const auto& e = index.entries[i];
      maxCount = std::max<uint32_t>(maxCount, e.packetCount);
      if (e.packetNumber >= packetsInFile_) {
        Error(0, name + ": entry " + std::to_string(i) + " points past the last packet");
        continue;
      }
      const uint64_t t = i * index.interval;
      auto it = std::lower_bound(stream->starts.begin(), stream->starts.end(), std::make_pair(e.packetNumber, uint32_t{0}));
      // A key frame begins in that packet at or before the entry's time; entries before the
      // first key frame point at it.
      const bool found = it != stream->starts.end() && it->first == e.packetNumber && it->second != UINT32_MAX &&
                         (uint64_t{it->second} * kTicksPerMs <= t || it->second == stream->earliest);
      if (!found)
        Error(0, name + ": entry " + std::to_string(i) + " (packet " + std::to_string(e.packetNumber) +
                     ") is not the start of a key frame at or before its time");
    }
    if (index.entries.size() == index.entryCount && maxCount != index.maxPacketCount)
      Warn(0, name + ": Maximum Packet Count disagrees with its entries");
  }
}

}  // namespace asf
