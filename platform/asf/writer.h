// Writes an ASF file: the header first (broadcast, totals unknown), then fixed-size data packets
// as samples arrive, and at Close a Simple Index per video stream and the header rewritten with
// the totals. A recording cut short at any point plays up to its last whole packet.
#pragma once

#include <string>
#include <vector>

#include "platform/asf/packet_output.h"
#include "platform/asf/packetizer.h"
#include "platform/asf/simple_index.h"
#include "platform/asf/stream.h"
#include "platform/win/guid.h"
#include "platform/win/status.h"

namespace asf {

// 8 KiB packets keep the container overhead near 0.6% for a 4 Mbit/s video with PCM audio
// (3.2 KiB packets come close to 1.5%), and 128 of them fill a write block exactly.
constexpr uint32_t kDefaultPacketSize = 8192;
constexpr size_t kDefaultBufferBytes = 1 << 20;

struct WriterOptions {
  std::vector<StreamDescription> streams;
  std::u16string title;       // Content Description title; empty: no Content Description
  uint32_t packetSize = 0;    // 0: kDefaultPacketSize; at most 65535
  uint32_t prerollMs = 3000;  // at least the largest buffer window
  size_t bufferBytes = 0;     // 0: kDefaultBufferBytes; packets held before a write
};

class Writer {
 public:
  Writer() = default;
  ~Writer();  // an unclosed file keeps its packets and stays a readable broadcast file
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Creates or truncates the file and writes the header. E_INVALIDARG for a bad description,
  // NS_E_INVALID_REQUEST while a file is open.
  HRESULT Open(const std::string& path, const WriterOptions& options);
  // Times in 100 ns; the presentation time is floor(sampleTime / 1 ms) + preroll and must fit a
  // DWORD (else NS_E_INVALID_DATA). The bytes are copied before return. S_FALSE for an empty
  // sample, NS_E_INVALID_STREAM for an undeclared stream, NS_E_INVALID_REQUEST when not open.
  // A write failure (disk full, size limit) refuses the sample with the write's status; the file
  // keeps every whole packet and later samples and Close go on once the write succeeds again.
  HRESULT WriteSample(uint16_t stream, int64_t sampleTime, int64_t duration, bool cleanPoint, bool discontinuity,
                      const uint8_t* data, size_t size);
  // Writes the last packet, the index and the final header. After a failure the writer stays
  // open and Close may be called again.
  HRESULT Close();
  // Header plus finished packets, buffered ones included; after Close, the final size.
  uint64_t FileSize() const;
  bool IsOpen() const { return fd_ >= 0; }

 private:
  struct StreamState {
    uint8_t nextObjectNumber = 0;
    uint32_t maxObjectSize = 0;
    bool video = false;
    std::vector<KeyFrameMark> keyFrames;
  };

  HRESULT Validate(const WriterOptions& options) const;
  HRESULT FinishData();
  void Abandon();

  int fd_ = -1;
  WriterOptions options_;
  StreamState* byNumber_[128] = {};
  std::vector<StreamState> states_;
  std::vector<uint8_t> header_;
  GUID fileId_ = GUID_NULL;
  uint64_t creationTime_ = 0;
  PacketOutput output_;
  Packetizer packetizer_;
  int64_t endTime_ = 0;  // 100 ns on the presentation axis, preroll included
  bool closing_ = false;
  bool dataWritten_ = false;
  uint64_t finalSize_ = 0;
};

}  // namespace asf
