// Reads and checks an ASF file: the header (file properties, streams, title), the Simple Index
// objects, and, in one streaming pass over the data packets, the media objects reassembled from
// their fragments. Any bytes are safe input: what does not fit the format becomes a problem in
// the list, never a crash. Memory stays bounded by a block of the file plus one object per stream
// (one block alone when objects are read without their bytes), and work grows linearly with the
// file, however small its packets or large its counts.
//
// Files still marked broadcast (a recording cut short, a live stream saved by another program)
// are read to their end: their header does not know how many packets follow. So are streams in
// the chunked form ffmpeg's "asf_stream" writes, each packet in a "$D" chunk after a "$H" header.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/asf/byte_source.h"
#include "platform/asf/problem_list.h"
#include "platform/asf/simple_index.h"
#include "platform/asf/stream.h"
#include "platform/win/guid.h"
#include "platform/win/status.h"

namespace asf {

struct StreamInfo {
  uint16_t number = 0;
  GUID type = GUID_NULL;  // kAudioMedia, kVideoMedia or another stream type
  bool audio = false, video = false;
  GUID errorCorrection = GUID_NULL;
  std::vector<uint8_t> format;  // WAVEFORMATEX or BITMAPINFOHEADER with the bytes after it
  // Audio (WAVEFORMATEX).
  uint16_t formatTag = 0, channels = 0, blockAlign = 0, bitsPerSample = 0;
  uint32_t samplesPerSecond = 0, avgBytesPerSecond = 0;
  // Video: encoded image size and the BITMAPINFOHEADER fields that name the codec.
  int32_t width = 0, height = 0;
  uint32_t fourcc = 0;
  uint16_t bitCount = 0;
  // Stream Bitrate Properties, else the Extended Stream Properties.
  uint32_t bitrate = 0;
  // Extended Stream Properties.
  bool extended = false;
  uint32_t bufferWindowMs = 0, maxObjectSize = 0;
  int64_t averageTimePerFrame = 0;
};

struct FileInfo {
  GUID fileId = GUID_NULL;
  uint64_t fileSize = 0, creationTime = 0, packetCount = 0;
  uint64_t playDuration = 0, sendDuration = 0;  // 100 ns
  uint64_t prerollMs = 0;
  uint32_t flags = 0, minPacketSize = 0, maxPacketSize = 0, maxBitrate = 0;
};

struct SimpleIndexInfo {
  uint16_t stream = 0;  // the video stream it belongs to, by order; 0 when there is none
  GUID fileId = GUID_NULL;
  uint64_t interval = 0;  // 100 ns
  uint32_t maxPacketCount = 0;
  uint64_t entryCount = 0;  // in the file; `entries` keeps the first million or so of all indexes
  std::vector<SimpleIndexEntry> entries;
};

struct MediaObject {
  uint16_t stream = 0;
  uint8_t number = 0;
  uint32_t presentationMs = 0;  // preroll included
  bool keyFrame = false;
  bool compressed = false;  // one of the sub-payloads of a compressed payload
  uint64_t firstPacket = 0;
  const uint8_t* data = nullptr;  // valid during the visit only; null when read without bytes
  uint32_t size = 0;
};

// What the packets hold of one stream, counted while they are read.
struct StreamTotals {
  uint64_t objects = 0, keyFrames = 0, bytes = 0;
  uint32_t firstMs = 0, lastMs = 0;  // presentation times, preroll included; valid when objects > 0
};

class Reader {
 public:
  Reader() = default;
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Reads the header and what follows the Data Object. A failure status means the input is not a
  // readable ASF file at all (the problems say why); otherwise the problems list what is wrong.
  HRESULT Open(const std::string& path);
  HRESULT OpenMemory(const uint8_t* data, size_t size);  // not copied; must outlive the reader

  using ObjectVisitor = std::function<void(const MediaObject&)>;
  enum class ObjectBytes { Whole, None };
  // One pass over the data packets. Checks every packet and the totals and index against what
  // the packets hold. The visitor may be empty. With ObjectBytes::None the objects come without
  // their bytes (data is null): fragments are only counted, so memory stays at one block.
  HRESULT ReadObjects(const ObjectVisitor& visit, ObjectBytes bytes = ObjectBytes::Whole);

  const FileInfo& File() const { return file_; }
  const std::vector<StreamInfo>& Streams() const { return streams_; }
  const StreamInfo* FindStream(uint16_t number) const;
  const std::u16string& Title() const { return title_; }
  const std::vector<SimpleIndexInfo>& Indexes() const { return indexes_; }
  uint64_t DataStart() const { return dataStart_; }
  uint64_t PacketsInFile() const { return packetsInFile_; }  // whole packets present
  bool Framed() const { return framed_; }                      // the "$H"/"$D" chunked form
  // The header still says broadcast: its sizes, counts and durations are not known, and the
  // packets were counted from the data.
  bool Unfinished() const;
  uint64_t TornBytes() const { return tornBytes_; }  // of a last packet cut off by the end of the file
  // After ReadObjects.
  uint64_t ObjectCount(uint16_t stream) const { return stream < 128 ? totals_[stream].objects : 0; }
  const StreamTotals& Totals(uint16_t stream) const { return totals_[stream < 128 ? stream : 0]; }
  uint64_t SendEndMs() const { return lastSendEndMs_; }  // latest packet send time plus its duration
  const std::vector<Problem>& Problems() const { return problems_.Items(); }
  bool HasErrors() const { return problems_.HasErrors(); }

 private:
  struct Pending;
  struct IndexedStream;
  struct PacketWalk {
    enum class End { Clean, Marker, Torn, NotAChunk, Header, BadChunk };
    uint64_t at = 0;      // where the next chunk starts, in the chunked form
    uint64_t number = 0;  // packets passed so far
    End end = End::Clean;
  };
  HRESULT Start();
  bool ReadAt(uint64_t offset, void* out, size_t size) const { return source_.ReadAt(offset, out, size); }
  bool OpenFramedHeader(uint64_t& headerLimit);
  uint64_t FindPacketsEnd(uint64_t dataBytes);
  void CountFramedPackets();
  bool NextPacket(PacketWalk& walk, uint64_t& offset, uint32_t& length);
  void Error(uint64_t offset, std::string message);
  void Warn(uint64_t offset, std::string message);
  bool ParseHeader(const uint8_t* h, uint64_t size);
  void ParseHeaderExtension(const uint8_t* p, uint64_t size, uint64_t at);
  void ParseStreamProperties(const uint8_t* p, uint64_t size, uint64_t at);
  void ParseExtendedStreamProperties(const uint8_t* p, uint64_t size, uint64_t at);
  void ParseTrailingObjects(uint64_t from);
  void ParsePacket(const uint8_t* packet, uint64_t base, uint64_t number, std::vector<Pending>& pending,
                   std::vector<IndexedStream>& indexed, bool keepBytes, const ObjectVisitor& visit);
  void CheckTotals();
  void CheckIndexes(const std::vector<IndexedStream>& indexed);

  ByteSource source_;
  uint64_t size_ = 0;
  bool framed_ = false;
  uint64_t headerBase_ = 0;  // where the Header Object starts: past the first chunk's head when framed
  uint64_t walkStart_ = 0;   // the first packet, or the first chunk after the header's

  FileInfo file_;
  bool haveFileProperties_ = false;
  std::vector<StreamInfo> streams_;
  std::u16string title_;
  std::vector<SimpleIndexInfo> indexes_;
  uint64_t dataStart_ = 0;       // first packet
  uint64_t dataEnd_ = 0;         // end of the packets read
  uint64_t packetsInFile_ = 0;
  uint64_t declaredPackets_ = 0;  // Data Object's Total Data Packets
  bool dataSizeUnknown_ = false;
  uint64_t tornBytes_ = 0;
  uint64_t indexEntriesKept_ = 0;

  const StreamInfo* byNumber_[128] = {};  // into streams_, set once the header is read
  size_t prerollWarnings_ = SIZE_MAX;     // the item counting them, once a few are listed
  StreamTotals totals_[128] = {};
  uint32_t lastSendMs_ = 0;
  uint64_t lastSendEndMs_ = 0;
  uint32_t maxPresentationMs_ = 0;
  struct Extended {
    uint16_t number;
    uint64_t at;
    uint32_t bitrate, bufferWindowMs, maxObjectSize;
    int64_t averageTimePerFrame;
  };
  std::vector<Extended> extended_;
  ProblemList problems_;
};

}  // namespace asf
