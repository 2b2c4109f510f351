#include "platform/asf/reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unordered_map>
#include <unistd.h>

#include "platform/asf/format.h"

namespace asf {
namespace {

// Headers are a few KiB; anything claiming more than this is refused rather than loaded.
constexpr uint64_t kMaxHeaderSize = 16u << 20;
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
  std::vector<uint8_t> data;
  bool haveLast = false;
  uint8_t lastNumber = 0;
};

Reader::~Reader() {
  if (fd_ >= 0) close(fd_);
}

bool Reader::HasErrors() const {
  return std::any_of(problems_.begin(), problems_.end(),
                     [](const Problem& p) { return p.severity == Problem::Severity::Error; });
}

void Reader::Error(uint64_t offset, std::string message) {
  problems_.push_back({Problem::Severity::Error, offset, std::move(message)});
}
void Reader::Warn(uint64_t offset, std::string message) {
  problems_.push_back({Problem::Severity::Warning, offset, std::move(message)});
}

const StreamInfo* Reader::FindStream(uint16_t number) const {
  for (const auto& s : streams_)
    if (s.number == number) return &s;
  return nullptr;
}

bool Reader::ReadAt(uint64_t offset, void* out, size_t size) const {
  if (offset > size_ || size > size_ - offset) return false;
  if (memory_) {
    std::memcpy(out, memory_ + offset, size);
    return true;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd_, static_cast<uint8_t*>(out) + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

HRESULT Reader::Open(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return HRESULT_FROM_WIN32(Win32ErrorFromErrno(errno));
  struct stat st{};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return E_INVALIDARG;
  }
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  memory_ = nullptr;
  size_ = static_cast<uint64_t>(st.st_size);
  return Start();
}

HRESULT Reader::OpenMemory(const uint8_t* data, size_t size) {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  memory_ = data ? data : reinterpret_cast<const uint8_t*>("");
  size_ = data ? size : 0;
  return Start();
}

HRESULT Reader::Start() {
  file_ = FileInfo();
  haveFileProperties_ = false;
  streams_.clear();
  title_.clear();
  indexes_.clear();
  extended_.clear();
  problems_.clear();
  keyFrames_.clear();
  std::fill(std::begin(objectCounts_), std::end(objectCounts_), 0);
  dataStart_ = dataEnd_ = packetsInFile_ = declaredPackets_ = 0;
  dataSizeUnknown_ = false;
  lastSendMs_ = 0;
  lastSendEndMs_ = 0;
  maxPresentationMs_ = 0;
  try {
    uint8_t top[kHeaderObjectFixedSize];
    if (!ReadAt(0, top, sizeof top) || GetGuid(top) != kHeaderObject) {
      Error(0, "not an ASF file: no Header Object at the start");
      return NS_E_INVALID_DATA;
    }
    const uint64_t headerSize = GetU64(top + 16);
    if (headerSize < kHeaderObjectFixedSize || headerSize > size_ || headerSize > kMaxHeaderSize) {
      Error(16, "Header Object size " + std::to_string(headerSize) + " does not fit the file");
      return NS_E_INVALID_DATA;
    }
    std::vector<uint8_t> header(headerSize);
    if (!ReadAt(0, header.data(), header.size())) return kReadFailed;
    if (!ParseHeader(header.data(), headerSize)) return NS_E_INVALID_DATA;

    uint8_t data[kDataObjectHeaderSize];
    if (!ReadAt(headerSize, data, sizeof data) || GetGuid(data) != kDataObject) {
      Error(headerSize, "no Data Object directly after the header");
      return NS_E_INVALID_DATA;
    }
    const bool broadcast = (file_.flags & kFlagBroadcast) != 0;
    if (GetGuid(data + 24) != file_.fileId) Error(headerSize + 24, "Data Object File ID differs from File Properties");
    if (data[48] != 1 || data[49] != 1) Warn(headerSize + 48, "Data Object reserved bytes are not 01 01");
    declaredPackets_ = GetU64(data + 40);
    dataStart_ = headerSize + kDataObjectHeaderSize;
    const uint64_t packetSize = file_.minPacketSize;
    uint64_t dataObjectSize = GetU64(data + 16);
    uint64_t available = size_ - dataStart_;
    uint64_t dataBytes;
    bool trailingObjects = false;
    if (dataObjectSize == 0) {
      if (!broadcast) Error(headerSize + 16, "Data Object size 0 without the Broadcast flag");
      dataSizeUnknown_ = true;
      dataBytes = available;
    } else if (dataObjectSize < kDataObjectHeaderSize) {
      Error(headerSize + 16, "Data Object size " + std::to_string(dataObjectSize) + " is below 50");
      dataBytes = 0;
    } else if (dataObjectSize - kDataObjectHeaderSize > available) {
      Error(headerSize + 16, "Data Object runs past the end of the file (cut short?)");
      dataBytes = available;
    } else {
      dataBytes = dataObjectSize - kDataObjectHeaderSize;
      if (dataBytes % packetSize != 0) Error(headerSize + 16, "Data Object size is not a whole number of packets");
    }
    if (dataSizeUnknown_) {
      // A broadcast file runs to the end or to the first object after the packets.
      uint64_t n = 0;
      uint8_t id[16];
      while ((n + 1) * packetSize <= dataBytes) {
        if (ReadAt(dataStart_ + n * packetSize, id, 16)) {
          GUID g = GetGuid(id);
          if (g == kSimpleIndexObject || g == kIndexObject) break;
        }
        ++n;
      }
      packetsInFile_ = n;
      if (n * packetSize < dataBytes) {
        uint8_t id2[16];
        trailingObjects = ReadAt(dataStart_ + n * packetSize, id2, 16) &&
                          (GetGuid(id2) == kSimpleIndexObject || GetGuid(id2) == kIndexObject);
        if (!trailingObjects)
          Warn(dataStart_ + n * packetSize,
               "last packet is incomplete (" + std::to_string(dataBytes - n * packetSize) + " bytes); ignored");
      }
    } else {
      packetsInFile_ = dataBytes / packetSize;
      if (!broadcast && declaredPackets_ != dataBytes / packetSize && dataObjectSize - kDataObjectHeaderSize <= available)
        Error(headerSize + 40, "Total Data Packets " + std::to_string(declaredPackets_) + " differs from the Data Object size");
    }
    dataEnd_ = dataStart_ + packetsInFile_ * packetSize;
    if (!dataSizeUnknown_ && dataObjectSize >= kDataObjectHeaderSize) {
      const uint64_t end = headerSize + dataObjectSize;
      if (end <= size_) ParseTrailingObjects(end);
    } else if (trailingObjects) {
      ParseTrailingObjects(dataEnd_);
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool Reader::ParseHeader(const uint8_t* h, uint64_t size) {
  const uint32_t declaredChildren = GetU32(h + 24);
  if (h[29] != 2) {
    Error(29, "Header Object reserved byte is not 2");
    return false;
  }
  uint32_t children = 0;
  bool haveExtension = false;
  std::vector<std::pair<uint16_t, uint32_t>> bitrates;
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
        if (c.U16(flags) && c.U32(rate)) bitrates.push_back({static_cast<uint16_t>(flags & 0x7F), rate});
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
  if (file_.minPacketSize > (64u << 20)) {
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
  for (const auto& record : bitrates) {
    const uint16_t number = record.first;
    auto it = std::find_if(streams_.begin(), streams_.end(), [&](const StreamInfo& s) { return s.number == number; });
    if (it == streams_.end()) Warn(0, "bitrate record for undeclared stream " + std::to_string(number));
    else it->bitrate = record.second;
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
    uint8_t head[kSimpleIndexFixedSize];
    if (size_ - at < kObjectHeaderSize || !ReadAt(at, head, kObjectHeaderSize)) {
      Warn(at, std::to_string(size_ - at) + " bytes of trailing data after the Data Object");
      return;
    }
    const GUID id = GetGuid(head);
    const uint64_t objectSize = GetU64(head + 16);
    if (objectSize < kObjectHeaderSize || objectSize > size_ - at) {
      Error(at + 16, "object size " + std::to_string(objectSize) + " after the Data Object does not fit the file");
      return;
    }
    if (id == kSimpleIndexObject) {
      SimpleIndexInfo index;
      if (objectSize < kSimpleIndexFixedSize || !ReadAt(at, head, kSimpleIndexFixedSize)) {
        Error(at, "Simple Index Object too small");
      } else {
        index.fileId = GetGuid(head + 24);
        index.interval = GetU64(head + 40);
        index.maxPacketCount = GetU32(head + 48);
        const uint64_t count = GetU32(head + 52);
        if (objectSize != kSimpleIndexFixedSize + 6 * count) {
          Error(at + 16, "Simple Index size disagrees with its " + std::to_string(count) + " entries");
        } else {
          std::vector<uint8_t> raw(6 * count);
          if (ReadAt(at + kSimpleIndexFixedSize, raw.data(), raw.size())) {
            index.entries.reserve(count);
            for (uint64_t i = 0; i < count; ++i)
              index.entries.push_back({GetU32(&raw[6 * i]), GetU16(&raw[6 * i + 4])});
          }
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

HRESULT Reader::ReadObjects(const ObjectVisitor& visit) {
  if (!haveFileProperties_ || dataStart_ == 0) return NS_E_INVALID_REQUEST;
  try {
    std::vector<Pending> pending(128);
    const uint32_t packetSize = file_.minPacketSize;
    std::vector<uint8_t> packet(packetSize);
    std::fill(std::begin(objectCounts_), std::end(objectCounts_), 0);
    keyFrames_.clear();
    lastSendMs_ = 0;
    lastSendEndMs_ = 0;
    maxPresentationMs_ = 0;
    for (uint64_t n = 0; n < packetsInFile_; ++n) {
      if (!ReadAt(dataStart_ + n * packetSize, packet.data(), packetSize)) return kReadFailed;
      ParsePacket(packet.data(), n, pending, visit);
    }
    const bool broadcast = (file_.flags & kFlagBroadcast) != 0;
    for (size_t i = 0; i < pending.size(); ++i) {
      if (!pending[i].active) continue;
      std::string what = "stream " + std::to_string(i) + ": last object incomplete (" +
                         std::to_string(pending[i].data.size()) + " of " + std::to_string(pending[i].size) + " bytes)";
      if (broadcast) Warn(pending[i].at, what + ", recording cut short");
      else Error(pending[i].at, what);
    }
    CheckTotals();
    CheckIndexes();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void Reader::ParsePacket(const uint8_t* packet, uint64_t number, std::vector<Pending>& pending,
                         const ObjectVisitor& visit) {
  const uint32_t packetSize = file_.minPacketSize;
  const uint64_t base = dataStart_ + number * packetSize;
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
    if (packetLength != packetSize) bad("Packet Length " + std::to_string(packetLength) + " differs from the packet size");
    length = std::min(packetLength, packetSize);
  }
  const uint64_t used = static_cast<uint64_t>(c.Here() - packet);
  if (padding > length || length - padding < used) return bad("padding length " + std::to_string(padding) + " too large");
  const uint8_t* end = packet + length - padding;
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
    if (!FindStream(stream)) {
      bad("payload for undeclared stream " + std::to_string(stream));
      continue;
    }
    Pending& p = pending[stream];
    auto emit = [&](const MediaObject& object) {
      ++objectCounts_[stream];
      maxPresentationMs_ = std::max(maxPresentationMs_, object.presentationMs);
      if (object.presentationMs < file_.prerollMs)
        Warn(payloadAt, "stream " + std::to_string(stream) + ": presentation time " + std::to_string(object.presentationMs) + " before the preroll");
      if (object.keyFrame) keyFrames_.push_back({stream, object.presentationMs, object.firstPacket});
      const StreamInfo* info = FindStream(stream);
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
        object.data = subData;
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
        MediaObject object{stream, static_cast<uint8_t>(objectNumber), presentation, key, false, number, data, objectSize};
        emit(object);
        continue;
      }
      // The object's bytes are at most what the packets still to come can carry.
      const uint64_t remaining = (packetsInFile_ - number) * uint64_t{packetSize};
      if (objectSize > remaining + payloadLength) {
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
      p.data.clear();
      p.data.insert(p.data.end(), data, data + payloadLength);
      continue;
    }
    if (!p.active || static_cast<uint8_t>(objectNumber) != p.number || offset != p.data.size()) {
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
    if (uint64_t{payloadLength} > p.size - p.data.size()) {
      bad("stream " + std::to_string(stream) + ": fragments exceed the object size");
      p.active = false;
      continue;
    }
    p.data.insert(p.data.end(), data, data + payloadLength);
    if (p.data.size() == p.size) {
      p.active = false;
      MediaObject object{stream, p.number, p.presentationMs, p.keyFrame, false, p.firstPacket, p.data.data(), p.size};
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

void Reader::CheckIndexes() {
  size_t videoStreams = 0;
  for (const auto& s : streams_) videoStreams += s.video;
  if ((file_.flags & kFlagSeekable) && videoStreams > indexes_.size())
    Error(kHeaderObjectFixedSize + 88, "Seekable flag set but a video stream has no Simple Index");
  for (const auto& index : indexes_) {
    if (!index.stream) continue;
    const std::string name = "Simple Index of stream " + std::to_string(index.stream);
    if (index.fileId != file_.fileId && index.fileId != GUID_NULL) Warn(0, name + ": File ID differs");
    if (index.interval == 0 && !index.entries.empty()) {
      Error(0, name + ": interval 0");
      continue;
    }
    uint32_t maxCount = 0;
    // Where each key frame of this stream begins, with the earliest time starting there.
    std::unordered_map<uint64_t, uint32_t> starts;
    uint32_t earliest = UINT32_MAX;
    for (const auto& k : keyFrames_) {
      if (k.stream != index.stream) continue;
      auto [it, inserted] = starts.try_emplace(k.firstPacket, k.presentationMs);
      if (!inserted) it->second = std::min(it->second, k.presentationMs);
      earliest = std::min(earliest, k.presentationMs);
    }
    for (size_t i = 0; i < index.entries.size(); ++i) {
      const auto& e = index.entries[i];
      maxCount = std::max<uint32_t>(maxCount, e.packetCount);
      if (e.packetNumber >= packetsInFile_) {
        Error(0, name + ": entry " + std::to_string(i) + " points past the last packet");
        continue;
      }
      const uint64_t t = i * index.interval;
      auto it = starts.find(e.packetNumber);
      const bool found = it != starts.end() && (uint64_t{it->second} * kTicksPerMs <= t || it->second == earliest);
      if (!found)
        Error(0, name + ": entry " + std::to_string(i) + " (packet " + std::to_string(e.packetNumber) +
                     ") is not the start of a key frame at or before its time");
    }
    if (maxCount != index.maxPacketCount) Warn(0, name + ": Maximum Packet Count disagrees with its entries");
  }
}

}  // namespace asf
