// Arbitrary sample sequences to the ASF writer (sizes, times, flags, stream numbers), then the
// reader on the file it made: the file must have no structural error, and the media objects must
// be exactly the samples the writer accepted, in order, with their times and key-frame marks.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/asf/format.h"
#include "platform/asf/reader.h"
#include "platform/asf/writer.h"

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  bool Empty() const { return p_ == end_; }
  uint64_t Take(int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes && p_ != end_; ++i) v |= uint64_t{*p_++} << (8 * i);
    return v;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

std::string ScratchPath() {
  static std::string path = [] {
    char pattern[] = "/tmp/asf-writer-fuzz-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    return std::string(pattern);
  }();
  return path;
}

struct Accepted {
  uint16_t stream;
  uint32_t presentationMs;
  bool key;
  uint32_t size;
  uint8_t seed;
};

[[noreturn]] void Fail(const char* what, const asf::Reader* reader = nullptr) {
  fprintf(stderr, "asf_writer_fuzz: %s\n", what);
  if (reader)
    for (const auto& p : reader->Problems()) fprintf(stderr, "  @%llu %s\n", (unsigned long long)p.offset, p.message.c_str());
  abort();
}

void Fill(std::vector<uint8_t>& buffer, uint32_t size, uint8_t seed) {
  buffer.resize(size);
  for (uint32_t i = 0; i < size; ++i) buffer[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  asf::WriterOptions options;
  const uint32_t layout = static_cast<uint32_t>(in.Take(1));
  options.packetSize = 40 + static_cast<uint32_t>(in.Take(2) % 4000);
  options.bufferBytes = options.packetSize * (1 + in.Take(1) % 8);
  options.prerollMs = static_cast<uint32_t>(in.Take(2));
  if (layout & 1) options.title = u"fuzz";
  // One to three streams, audio or video, numbers from the input.
  const int count = 1 + static_cast<int>(layout >> 1) % 3;
  for (int i = 0; i < count; ++i) {
    asf::StreamDescription s;
    s.number = static_cast<uint16_t>(1 + in.Take(1) % 127);
    s.kind = (layout >> (3 + i)) & 1 ? asf::StreamKind::Video : asf::StreamKind::Audio;
    if (s.kind == asf::StreamKind::Audio) {
      s.format = {1, 0, 2, 0, 0x80, 0xBB, 0, 0, 0, 0xEE, 2, 0, 4, 0, 16, 0, 0, 0};
    } else {
      s.format.assign(40, 0);
      s.format[0] = 40;
      s.format[16] = 'H', s.format[17] = '2', s.format[18] = '6', s.format[19] = '4';
    }
    s.bufferWindowMs = 0;
    options.streams.push_back(s);
  }
  const std::string path = ScratchPath();
  asf::Writer writer;
  if (writer.Open(path, options) != S_OK) return 0;  // e.g. the same number twice

  std::vector<Accepted> accepted;
  std::vector<uint8_t> buffer;
  int64_t time = 0;
  for (int n = 0; n < 400 && !in.Empty(); ++n) {
    const uint32_t flags = static_cast<uint32_t>(in.Take(1));
    const uint16_t stream = (flags & 0x3) < static_cast<uint32_t>(count) ? options.streams[flags & 0x3].number
                                                                         : static_cast<uint16_t>(in.Take(1));
    const bool key = flags & 0x4;
    if (flags & 0x8) time = static_cast<int64_t>(in.Take(8));             // any time at all
    else time += static_cast<int16_t>(in.Take(2)) * int64_t{10000} / 4;  // small steps, either way
    const int64_t duration = static_cast<int64_t>(in.Take(2)) * 1000;
    const uint32_t sampleSize = flags & 0x10 ? static_cast<uint32_t>(in.Take(3) % 200000) : static_cast<uint32_t>(in.Take(1));
    const uint8_t seed = static_cast<uint8_t>(n);
    Fill(buffer, sampleSize, seed);
    HRESULT hr = writer.WriteSample(stream, time, duration, key, flags & 0x20, buffer.data(), sampleSize);

    bool declared = false;
    for (const auto& s : options.streams) declared |= s.number == stream;
    const int64_t floorMs = time / 10000 - (time % 10000 < 0);
    const int64_t presentation = floorMs + options.prerollMs;
    const bool inRange = presentation >= 0 && presentation <= 0xFFFFFFFFll;
    HRESULT expected = !declared ? NS_E_INVALID_STREAM : sampleSize == 0 ? S_FALSE : !inRange ? NS_E_INVALID_DATA : S_OK;
    if (hr != expected) {
      fprintf(stderr, "sample %d: status 0x%08X, expected 0x%08X\n", n, (unsigned)hr, (unsigned)expected);
      Fail("unexpected status");
    }
    if (hr == S_OK) accepted.push_back({stream, static_cast<uint32_t>(presentation), key, sampleSize, seed});
  }
  if (writer.Close() != S_OK) Fail("Close failed");

  asf::Reader reader;
  if (reader.Open(path) != S_OK) Fail("reader refused the file", &reader);
  size_t next = 0;
  std::vector<size_t> cursor(128, 0);
  // Objects come out per stream in the order written; match them stream by stream.
  std::vector<std::vector<const Accepted*>> perStream(128);
  for (const auto& a : accepted) perStream[a.stream].push_back(&a);
  if (reader.ReadObjects([&](const asf::MediaObject& o) {
        ++next;
        auto& list = perStream[o.stream];
        size_t& i = cursor[o.stream];
        if (i >= list.size()) Fail("an object that was never written");
        const Accepted& a = *list[i++];
        if (o.size != a.size || o.presentationMs != a.presentationMs || o.keyFrame != a.key || o.compressed)
          Fail("object differs from the sample written");
        Fill(buffer, a.size, a.seed);
        for (uint32_t k = 0; k < a.size; ++k)
          if (o.data[k] != buffer[k]) Fail("object bytes differ");
      }) != S_OK)
    Fail("ReadObjects failed", &reader);
  if (next != accepted.size()) Fail("objects missing", &reader);
  if (reader.HasErrors()) Fail("structural errors in a file the writer made", &reader);
  return 0;
}
