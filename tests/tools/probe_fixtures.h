// Files for the probe tests: a finished recording from the ASF writer, the same recording as a
// crash leaves it, and a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/asf/format.h"
#include "platform/asf/reader.h"
#include "platform/asf/writer.h"
#include "tools/pelistra/probe_command.h"

namespace probe_test {

struct Probe {
  int code;
  std::string out, err;
};

inline Probe RunOn(const std::string& path, bool json = false, bool frames = false) {
  std::ostringstream out, err;
  int code = RunProbe({path, json, frames}, out, err);
  return {code, out.str(), err.str()};
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline std::vector<std::string> Lines(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  return lines;
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "probe-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline asf::WriterOptions TwoStreams(uint32_t packetSize) {
  asf::StreamDescription audio;
  audio.number = 6;
  audio.kind = asf::StreamKind::Audio;
  audio.format = {1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0, 0xEE, 2, 0, 4, 0, 16, 0, 0, 0};  // PCM 48 kHz stereo
  audio.bitrate = 1536000;
  asf::StreamDescription video;
  video.number = 8;
  video.kind = asf::StreamKind::Video;
  video.format.assign(40, 0);
  video.format[0] = 40;
  video.format[12] = 1;
  std::memcpy(&video.format[16], "XVID", 4);
  video.width = 640;
  video.height = 480;
  video.bitrate = 4000000;
  asf::WriterOptions options;
  options.streams = {audio, video};
  options.title = u"ASF File";
  options.packetSize = packetSize;
  return options;
}

// Two seconds of both streams, video key frames once a second. `firstTime` below zero puts
// the first samples before the preroll.
inline void WriteRecording(const std::string& path, uint32_t packetSize = 0, int64_t firstTime = 0) {
  asf::Writer writer;
  ASSERT_EQ(S_OK, writer.Open(path, TwoStreams(packetSize)));
  std::vector<uint8_t> bytes(5000, 0x11);
  for (int i = 0; i < 50; ++i) {
    const int64_t t = firstTime + i * 400000LL;
    ASSERT_EQ(S_OK, writer.WriteSample(8, t, 400000, i % 25 == 0, false, bytes.data(), 2000 + i));
    ASSERT_EQ(S_OK, writer.WriteSample(6, t, 400000, false, false, bytes.data(), 3840));
  }
  ASSERT_EQ(S_OK, writer.Close());
}

inline size_t FindGuid(const std::vector<uint8_t>& bytes, const GUID& id) {
  uint8_t raw[16];
  GuidToBytes(id, raw);
  for (size_t i = 0; i + 16 <= bytes.size(); ++i)
    if (std::memcmp(&bytes[i], raw, 16) == 0) return i;
  return std::string::npos;
}

// The header as the writer leaves it until Close: broadcast, totals 0, Data Object size 0.
inline void MarkUnfinished(std::vector<uint8_t>& bytes) {
  const size_t properties = FindGuid(bytes, asf::kFilePropertiesObject);
  const size_t data = FindGuid(bytes, asf::kDataObject);
  ASSERT_NE(std::string::npos, properties);
  ASSERT_NE(std::string::npos, data);
  uint8_t* p = &bytes[properties + 40];
  for (int i = 0; i < 5; ++i) asf::PutU64(p, 0);  // file size, creation date, packets, play and send duration
  p = &bytes[properties + 88];
  asf::PutU32(p, asf::kFlagBroadcast);
  p = &bytes[data + 16];
  asf::PutU64(p, 0);
  p = &bytes[data + 40];
  asf::PutU64(p, 0);
}

}  // namespace probe_test
