// Writes an ASF file: the header first (broadcast, totals unknown), then fixed-size data packets
// as samples arrive, and at Close a Simple Index per video stream and the header rewritten with
// the totals. A recording cut short at any point plays up to its last whole packet.
//
// Media reaches the file within moments of arriving, at any bit rate: finished packets are written
// once the oldest of them has waited kWriteDelayMs, and an open packet whose oldest payload has
// waited that long is padded and written with them. Samples drive this; WriteDue does it when
// samples stop arriving, and a caller that keeps a file open calls it every so often.
//
// Failures: the first write that fails (a sample's packets, a flush, the sync, the index or the
// header) is the file's failure. The file keeps its whole packets, every later WriteSample and
// WriteDue returns that status (a recording stops at its first failure; a file that went on after
// dropping packets would hide a hole), and Close still ends the file: the header is rewritten in
// place to declare the packets that reached the file, with an index where it fits, and Close
// returns the failure.
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

struct HeaderFields;

// 8 KiB packets keep the container overhead near 0.6% for a 4 Mbit/s video with PCM audio
// (3.2 KiB packets come close to 1.5%), and 128 of them fill a write block exactly.
constexpr uint32_t kDefaultPacketSize = 8192;
constexpr size_t kDefaultBufferBytes = 1 << 20;
// How long arrived media may wait in memory before it is written.
constexpr int64_t kWriteDelayMs = 500;

struct WriterOptions {
  std::vector<StreamDescription> streams;
  std::u16string title;       // Content Description title; empty: no Content Description
  uint32_t packetSize = 0;    // 0: kDefaultPacketSize; at most 65535
  uint32_t prerollMs = 3000;  // at least the largest buffer window
  size_t bufferBytes = 0;     // 0: kDefaultBufferBytes; packets held before a write
  uint32_t syncIntervalMs = 0;  // written packets are forced to storage at least this often; 0: never
  // Seams for tests: a monotonic clock in milliseconds, and the call that forces the file's data
  // to storage. Null: the system's.
  int64_t (*clock)() = nullptr;
  int (*syncData)(int fd) = nullptr;
};

// What a file holds: header, whole packets and, once finished, the index.
struct FileFigures {
  uint64_t bytes = 0;
  uint64_t packets = 0;
  int64_t duration = 0;  // 100 ns of media, preroll excluded
};

class Writer {
 public:
  Writer() = default;
  ~Writer();  // an unclosed file keeps its packets and stays a readable broadcast file
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Creates or truncates the file and writes the header; when that fails, nothing is left at the
  // path. E_INVALIDARG for a bad description, NS_E_INVALID_REQUEST while a file is open.
  HRESULT Open(const std::string& path, const WriterOptions& options);
  // Times in 100 ns; the presentation time is floor(sampleTime / 1 ms) + preroll and must fit a
  // DWORD (else NS_E_INVALID_DATA). The bytes are copied before return. S_FALSE for an empty
  // sample, NS_E_INVALID_STREAM for an undeclared stream, NS_E_INVALID_REQUEST when not open.
  // A failing write (disk full, size limit) returns its status, and so does every later call.
  HRESULT WriteSample(uint16_t stream, int64_t sampleTime, int64_t duration, bool cleanPoint, bool discontinuity,
                      const uint8_t* data, size_t size);
  // Writes what has waited kWriteDelayMs and syncs when the sync interval has passed.
  HRESULT WriteDue();
  // Writes the last packet, the index and the final header, and closes the file whatever
  // happens; returns the file's failure if it has one.
  HRESULT Close();
  // Header plus finished packets, buffered ones included; after Close, the final size.
  uint64_t FileSize() const;
  // What is in the file now; after Close, what it ended with.
  FileFigures InFile() const;
  // The file's first failed write, S_OK while there is none.
  HRESULT WriteStatus() const { return failure_; }
  bool IsOpen() const { return fd_ >= 0; }

 private:
  struct StreamState {
    uint8_t nextObjectNumber = 0;
    uint32_t maxObjectSize = 0;
    bool video = false;
    uint64_t bytes = 0;
    std::vector<KeyFrameMark> keyFrames;
  };

  HRESULT Validate(const WriterOptions& options) const;
  HRESULT Fail(HRESULT hr);
  HRESULT WriteDue(int64_t now);
  HRESULT WriteBufferedPackets();
  HRESULT WriteFinalHeader(const std::vector<uint8_t>& header);
  HRESULT Finish();
  // What the broadcast and the final header share: the file's identity, packet size and preroll.
  HeaderFields FieldsOfThisFile() const;
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
  int64_t firstTime_ = 0;  // earliest sample time, 100 ns
  int64_t endTime_ = 0;    // 100 ns on the presentation axis, preroll included
  bool closing_ = false;
  bool dataWritten_ = false;
  HRESULT failure_ = S_OK;
  // Arrival times (clock ms) of the oldest payload in the open packet and in the finished
  // packets not yet written; -1: none.
  int64_t openSinceMs_ = -1;
  int64_t bufferedSinceMs_ = -1;
  int64_t dueMs_ = 0;  // before this, nothing has waited its time
  int64_t lastSyncMs_ = 0;
  uint64_t syncedPackets_ = 0;
  FileFigures final_;
};

}  // namespace asf
