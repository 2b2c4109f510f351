// Writes an elementary stream (and optionally a WAV) into an ASF file through the writer objects,
// the way the recorder does: audio as stream 6, video as stream 8 with the profile subtype,
// samples byte for byte with their times and clean-point flags. The interoperability suite feeds
// the result to ffmpeg and GStreamer.
//
//   asf_write_tool --video FILE --format h264|mpeg4|mjpeg|y4m [--fps N] [--audio WAV]
//                  [--repeat N] [--cut-after N] -o OUT.asf
//
// --repeat N writes the inputs N times over, times running on, to outgrow the writer's buffer.
// --cut-after N ends the process (_exit) after N samples, before EndWriting: a file cut short.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/win/text.h"
#include "platform/wmf/wmsdk.h"
#include "recorder/media_types.h"
#include "sources/h264_splitter.h"
#include "sources/mjpeg_splitter.h"
#include "sources/mpeg4_splitter.h"
#include "sources/wav_reader.h"
#include "sources/y4m_reader.h"

namespace {

constexpr WORD kAudioStream = 6;
constexpr WORD kVideoStream = 8;
constexpr DWORD kBufferWindowMs = 3000;

struct Sample {
  std::vector<BYTE> bytes;
  bool sync = false;
  REFERENCE_TIME start = 0, stop = 0;
};

struct Options {
  std::string video, format, audio, output;
  unsigned fps = 25;
  unsigned repeat = 1;
  long cut_after = -1;
};

int Usage(const char* why) {
  std::fprintf(stderr, "asf_write_tool: %s\nusage: asf_write_tool --video FILE --format h264|mpeg4|mjpeg|y4m "
                       "[--fps N] [--audio WAV] [--repeat N] [--cut-after N] -o OUT.asf\n", why);
  return 2;
}

bool ReadFile(const std::string& path, std::vector<BYTE>* bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

// Feeds the input in pipe-sized chunks, as a source reading a pipe would.
bool Split(StreamParser& parser, const std::vector<BYTE>& input, std::vector<Sample>* samples) {
  constexpr size_t kChunk = 65536;
  for (size_t pos = 0;; pos += kChunk) {
    if (pos < input.size()) {
      if (FAILED(parser.Push(input.data() + pos, std::min(kChunk, input.size() - pos)))) break;
    } else {
      parser.Finish();
    }
    StreamUnit unit;
    HRESULT hr;
    while ((hr = parser.Next(&unit)) == S_OK)
      samples->push_back({std::vector<BYTE>(unit.data, unit.data + unit.size), unit.sync, unit.start, unit.stop});
    if (FAILED(hr)) break;
    if (pos >= input.size()) return true;
  }
  std::fprintf(stderr, "asf_write_tool: %s\n", parser.Error().c_str());
  return false;
}

#define CHECK(call)                                                                              \
  do {                                                                                           \
    HRESULT hr_ = (call);                                                                        \
    if (FAILED(hr_)) {                                                                           \
      std::fprintf(stderr, "asf_write_tool: %s failed: 0x%08X\n", #call, static_cast<unsigned>(hr_)); \
      return false;                                                                              \
    }                                                                                            \
  } while (0)

bool AddStream(IWMProfile* profile, const GUID& major, const GUID& subtype, const GUID& formattype,
               std::vector<BYTE> format, bool fixed_size, ULONG sample_size, WORD number, DWORD bitrate) {
  IWMStreamConfig* config = nullptr;
  CHECK(profile->CreateNewStream(major, &config));
  std::unique_ptr<IWMStreamConfig, void (*)(IWMStreamConfig*)> hold(config, [](IWMStreamConfig* c) { c->Release(); });
  IWMMediaProps* props = nullptr;
  CHECK(config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props)));
  WM_MEDIA_TYPE type{};
  type.majortype = major;
  type.subtype = subtype;
  type.bFixedSizeSamples = fixed_size;
  type.bTemporalCompression = !fixed_size;
  type.lSampleSize = sample_size;
  type.formattype = formattype;
  type.cbFormat = static_cast<ULONG>(format.size());
  type.pbFormat = format.data();
  HRESULT hr = props->SetMediaType(&type);
  props->Release();
  CHECK(hr);
  CHECK(config->SetBitrate(bitrate));
  CHECK(config->SetBufferWindow(kBufferWindowMs));
  CHECK(config->SetStreamNumber(number));
  CHECK(profile->AddStream(config));
  return true;
}

bool Write(const Options& options, const std::vector<Sample>& video, const GUID& subtype, unsigned width,
           unsigned height, const WavReader* audio_format, const std::vector<Sample>& audio) {
  IWMProfileManager* manager = nullptr;
  CHECK(WMCreateProfileManager(&manager));
  IWMProfile* profile = nullptr;
  HRESULT hr = manager->CreateEmptyProfile(WMT_VER_9_0, &profile);
  manager->Release();
  CHECK(hr);

  REFERENCE_TIME duration = video.empty() ? 0 : video.back().stop;
  uint64_t video_bytes = 0;
  for (const Sample& s : video) video_bytes += s.bytes.size();
  DWORD video_bitrate = duration > 0 ? static_cast<DWORD>(video_bytes * 8 * 10000000 / duration) : 1000000;

  if (audio_format) {
    GUID audio_subtype = MEDIASUBTYPE_PCM;
    audio_subtype.Data1 = audio_format->FormatTag();
    if (!AddStream(profile, MEDIATYPE_Audio, audio_subtype, FORMAT_WaveFormatEx, audio_format->Format(), true,
                   audio_format->BlockAlign(), kAudioStream, audio_format->AverageBytesPerSecond() * 8))
      return false;
  }
  // A plain VIDEOINFOHEADER and nothing after it: an Annex B stream carries its parameter sets in
  // band, and bytes after the bitmap header would reach players as codec data.
  VIDEOINFOHEADER info{};
  info.rcSource = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
  info.rcTarget = info.rcSource;
  info.dwBitRate = video_bitrate;
  info.AvgTimePerFrame = video.size() > 1 ? video[1].start - video[0].start : 10000000 / options.fps;
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = static_cast<LONG>(height);
  info.bmiHeader.biPlanes = 1;
  bool raw = IsEqualGUID(subtype, MEDIASUBTYPE_IYUV);
  info.bmiHeader.biBitCount = raw ? 12 : 24;
  info.bmiHeader.biCompression = subtype.Data1;
  info.bmiHeader.biSizeImage = raw ? width * height * 3 / 2 : 0;
  std::vector<BYTE> format(reinterpret_cast<const BYTE*>(&info), reinterpret_cast<const BYTE*>(&info) + sizeof info);
  if (!AddStream(profile, MEDIATYPE_Video, subtype, FORMAT_VideoInfo, format, raw, raw ? width * height * 3 / 2 : 0,
                 kVideoStream, video_bitrate)) {
    profile->Release();
    return false;
  }

  IWMWriter* writer = nullptr;
  CHECK(WMCreateWriter(nullptr, &writer));
  hr = writer->SetProfile(profile);
  profile->Release();
  CHECK(hr);
  DWORD inputs = 0;
  CHECK(writer->GetInputCount(&inputs));
  for (DWORD i = 0; i < inputs; ++i) CHECK(writer->SetInputProps(i, nullptr));
  std::u16string name = Utf8ToWide(options.output);
  CHECK(writer->SetOutputFilename(name.c_str()));
  IWMWriterAdvanced* advanced = nullptr;
  CHECK(writer->QueryInterface(IID_IWMWriterAdvanced, reinterpret_cast<void**>(&advanced)));
  IWMHeaderInfo* header = nullptr;
  CHECK(writer->QueryInterface(IID_IWMHeaderInfo, reinterpret_cast<void**>(&header)));
  std::u16string title = u"ASF File";
  CHECK(header->SetAttribute(0, u"Title", WMT_TYPE_STRING, reinterpret_cast<const BYTE*>(title.c_str()),
                             static_cast<WORD>((title.size() + 1) * sizeof(WCHAR))));
  header->Release();
  CHECK(writer->BeginWriting());

  // Both streams in time order, as the recorder receives them.
  size_t v = 0, a = 0;
  long written = 0;
  while (v < video.size() || a < audio.size()) {
    bool take_audio = a < audio.size() && (v >= video.size() || audio[a].start <= video[v].start);
    const Sample& s = take_audio ? audio[a++] : video[v++];
    INSSBuffer* buffer = nullptr;
    CHECK(writer->AllocateSample(static_cast<DWORD>(s.bytes.size()), &buffer));
    BYTE* bytes = nullptr;
    CHECK(buffer->GetBuffer(&bytes));
    std::memcpy(bytes, s.bytes.data(), s.bytes.size());
    CHECK(buffer->SetLength(static_cast<DWORD>(s.bytes.size())));
    hr = advanced->WriteStreamSample(take_audio ? kAudioStream : kVideoStream, static_cast<QWORD>(s.start),
                                     static_cast<DWORD>(s.start / 10000), static_cast<QWORD>(s.stop - s.start),
                                     s.sync ? WM_SF_CLEANPOINT : 0, buffer);
    buffer->Release();
    CHECK(hr);
    if (++written == options.cut_after) {
      std::fflush(nullptr);
      _exit(0);  // no EndWriting: what a crash or a power loss leaves
    }
  }
  CHECK(writer->EndWriting());
  advanced->Release();
  writer->Release();
  return true;
}

void Repeat(std::vector<Sample>* samples, unsigned times) {
  if (samples->empty()) return;
  const size_t count = samples->size();
  const REFERENCE_TIME length = samples->back().stop;
  for (unsigned r = 1; r < times; ++r)
    for (size_t i = 0; i < count; ++i) {
      Sample copy = (*samples)[i];
      copy.start += length * r;
      copy.stop += length * r;
      samples->push_back(std::move(copy));
    }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return Usage(("missing value after " + arg).c_str());
    std::string value = argv[++i];
    if (arg == "--video") options.video = value;
    else if (arg == "--format") options.format = value;
    else if (arg == "--audio") options.audio = value;
    else if (arg == "-o") options.output = value;
    else if (arg == "--fps") options.fps = static_cast<unsigned>(std::stoul(value));
    else if (arg == "--cut-after") options.cut_after = std::stol(value);
    else if (arg == "--repeat") options.repeat = static_cast<unsigned>(std::stoul(value));
    else return Usage(("unknown option " + arg).c_str());
  }
  if (options.video.empty() || options.output.empty() || options.fps == 0 || options.repeat == 0)
    return Usage("--video and -o are needed");

  std::vector<BYTE> input;
  if (!ReadFile(options.video, &input)) return Usage(("cannot read " + options.video).c_str());
  std::vector<Sample> video;
  GUID subtype;
  unsigned width = 0, height = 0;
  if (options.format == "h264") {
    H264AccessUnitSplitter parser;
    if (!Split(parser, input, &video) || !parser.Sequence()) return 1;
    subtype = MEDIASUBTYPE_h264;
    width = parser.Sequence()->width, height = parser.Sequence()->height;
  } else if (options.format == "mpeg4") {
    Mpeg4VopSplitter parser;
    if (!Split(parser, input, &video) || !parser.Layer()) return 1;
    subtype = MEDIASUBTYPE_XVID;
    width = parser.Layer()->width, height = parser.Layer()->height;
  } else if (options.format == "mjpeg") {
    MjpegFrameSplitter parser;
    if (!Split(parser, input, &video)) return 1;
    subtype = MEDIASUBTYPE_MJPG;
    width = parser.Width(), height = parser.Height();
  } else if (options.format == "y4m") {
    Y4mReader parser;
    if (!Split(parser, input, &video)) return 1;
    subtype = MEDIASUBTYPE_IYUV;
    width = parser.Info().width, height = parser.Info().height;
  } else {
    return Usage("unknown --format");
  }
  if (video.empty()) return Usage("no video in the input");
  // Elementary streams are timed from the frame rate; Y4M brings its own times.
  if (options.format != "y4m")
    for (size_t i = 0; i < video.size(); ++i) {
      video[i].start = static_cast<REFERENCE_TIME>(i * 10000000 / options.fps);
      video[i].stop = static_cast<REFERENCE_TIME>((i + 1) * 10000000 / options.fps);
    }

  WavReader wav;
  std::vector<Sample> audio;
  if (!options.audio.empty()) {
    std::vector<BYTE> bytes;
    if (!ReadFile(options.audio, &bytes)) return Usage(("cannot read " + options.audio).c_str());
    if (!Split(wav, bytes, &audio)) return 1;
  }
  Repeat(&video, options.repeat);
  Repeat(&audio, options.repeat);
  return Write(options, video, subtype, width, height, options.audio.empty() ? nullptr : &wav, audio) ? 0 : 1;
}
