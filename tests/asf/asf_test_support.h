// Shared fixtures of the ASF tests: stream descriptions, a scratch folder, whole-file reads.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/asf/format.h"
#include "platform/asf/reader.h"
#include "platform/asf/writer.h"

namespace asf_test {

inline std::vector<uint8_t> PcmFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
  std::vector<uint8_t> f(18);
  uint8_t* p = f.data();
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  asf::PutU16(p, 1);
  asf::PutU16(p, channels);
  asf::PutU32(p, rate);
  asf::PutU32(p, rate * align);
  asf::PutU16(p, align);
  asf::PutU16(p, bits);
  asf::PutU16(p, 0);
  return f;
}

inline std::vector<uint8_t> BitmapFormat(const char* fourcc, int32_t width, int32_t height, size_t extra = 0) {
  std::vector<uint8_t> f(40 + extra, 0xE5);
  uint8_t* p = f.data();
  asf::PutU32(p, static_cast<uint32_t>(f.size()));
  asf::PutU32(p, static_cast<uint32_t>(width));
  asf::PutU32(p, static_cast<uint32_t>(height));
  asf::PutU16(p, 1);
  asf::PutU16(p, 24);
  asf::PutBytes(p, fourcc, 4);
  for (int i = 0; i < 5; ++i) asf::PutU32(p, 0);
  return f;
}

inline asf::StreamDescription Audio(uint16_t number = 6) {
  asf::StreamDescription s;
  s.number = number;
  s.kind = asf::StreamKind::Audio;
  s.format = PcmFormat(2, 48000, 16);
  s.bitrate = 48000 * 4 * 8;
  return s;
}

inline asf::StreamDescription Video(uint16_t number = 8, const char* fourcc = "H264") {
  asf::StreamDescription s;
  s.number = number;
  s.kind = asf::StreamKind::Video;
  s.format = BitmapFormat(fourcc, 320, 240);
  s.width = 320;
  s.height = 240;
  s.bitrate = 1000000;
  s.averageTimePerFrame = 400000;
  return s;
}

// A clock that never moves: tests of exact packet layouts must not see a packet finished early
// because the machine paused between two samples.
inline int64_t FrozenClock() { return 0; }

// Sample bytes that say which sample they are.
inline std::vector<uint8_t> SampleBytes(uint16_t stream, uint32_t index, size_t size) {
  std::vector<uint8_t> b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(stream * 31 + index * 7 + i * 13 + (i >> 8));
  return b;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

struct ReadObject {
  uint16_t stream;
  uint8_t number;
  uint32_t presentationMs;
  bool keyFrame;
  uint64_t firstPacket;
  std::vector<uint8_t> data;
};

inline std::vector<ReadObject> ReadObjects(asf::Reader& reader) {
  std::vector<ReadObject> out;
  EXPECT_EQ(S_OK, reader.ReadObjects([&](const asf::MediaObject& o) {
    out.push_back({o.stream, o.number, o.presentationMs, o.keyFrame, o.firstPacket, {o.data, o.data + o.size}});
  }));
  return out;
}

inline std::string DescribeProblems(const asf::Reader& reader) {
  std::string s;
  for (const auto& p : reader.Problems())
    s += (p.severity == asf::Problem::Severity::Error ? "error @" : "warning @") + std::to_string(p.offset) + ": " + p.message + "\n";
  return s;
}

inline bool HasProblem(const asf::Reader& reader, const std::string& text) {
  for (const auto& p : reader.Problems())
    if (p.message.find(text) != std::string::npos) return true;
  return false;
}

// A scratch folder per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "asf-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace asf_test
