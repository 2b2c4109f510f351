// Writes a few seconds of the test pattern (uncompressed 4:2:0) and a 1 kHz tone into an ASF
// file through the writer objects, the way a recording does: audio as stream 6, video as 8.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win/text.h"
#include "platform/wmf/wmsdk.h"
#include "sources/test_pattern.h"

namespace {

constexpr int kWidth = 320, kHeight = 240, kFps = 25;
constexpr int kRate = 48000, kChannels = 2;
constexpr REFERENCE_TIME kFrameTime = 10000000 / kFps;

struct Released {
  IUnknown* object;
  ~Released() {
    if (object) object->Release();
  }
};

HRESULT AddStream(IWMProfile* profile, REFGUID major, REFGUID sub, REFGUID format, std::vector<BYTE>& block,
                  WORD number, DWORD bitrate) {
  IWMStreamConfig* config = nullptr;
  HRESULT hr = profile->CreateNewStream(major, &config);
  if (FAILED(hr)) return hr;
  Released holdConfig{config};
  IWMMediaProps* props = nullptr;
  hr = config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props));
  if (FAILED(hr)) return hr;
  Released holdProps{props};
  WM_MEDIA_TYPE type{};
  type.majortype = major;
  type.subtype = sub;
  type.formattype = format;
  type.cbFormat = static_cast<ULONG>(block.size());
  type.pbFormat = block.data();
  hr = props->SetMediaType(&type);
  if (FAILED(hr)) return hr;
  config->SetBitrate(bitrate);
  config->SetBufferWindow(3000);
  config->SetStreamNumber(number);
  return profile->AddStream(config);
}

HRESULT WriteSample(IWMWriter* writer, IWMWriterAdvanced* advanced, WORD stream, REFERENCE_TIME start,
                    REFERENCE_TIME duration, bool key, const std::vector<BYTE>& bytes) {
  INSSBuffer* buffer = nullptr;
  HRESULT hr = writer->AllocateSample(static_cast<DWORD>(bytes.size()), &buffer);
  if (FAILED(hr)) return hr;
  BYTE* data = nullptr;
  buffer->GetBuffer(&data);
  std::memcpy(data, bytes.data(), bytes.size());
  buffer->SetLength(static_cast<DWORD>(bytes.size()));
  hr = advanced->WriteStreamSample(stream, static_cast<QWORD>(start), static_cast<DWORD>(start / 10000), duration,
                                   key ? WM_SF_CLEANPOINT : 0, buffer);
  buffer->Release();
  return hr;
}

int Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "pelistra-demo: %s failed (0x%08X)\n", what, static_cast<unsigned>(hr));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || std::strcmp(argv[1], "--help") == 0) {
    std::fprintf(stderr, "usage: pelistra-demo OUTPUT.asf [SECONDS]\n");
    return argc == 2 ? 0 : 2;
  }
  const int seconds = argc == 3 ? std::atoi(argv[2]) : 5;
  if (seconds <= 0 || seconds > 3600) {
    std::fprintf(stderr, "pelistra-demo: SECONDS must be between 1 and 3600\n");
    return 2;
  }

  WAVEFORMATEX wave{};
  wave.wFormatTag = WAVE_FORMAT_PCM;
  wave.nChannels = kChannels;
  wave.nSamplesPerSec = kRate;
  wave.wBitsPerSample = 16;
  wave.nBlockAlign = kChannels * 2;
  wave.nAvgBytesPerSec = kRate * wave.nBlockAlign;
  std::vector<BYTE> audioFormat(reinterpret_cast<BYTE*>(&wave), reinterpret_cast<BYTE*>(&wave) + sizeof wave);

  TestPattern pattern(kWidth, kHeight);
  VIDEOINFOHEADER info{};
  info.AvgTimePerFrame = kFrameTime;
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = kWidth;
  info.bmiHeader.biHeight = kHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 12;
  info.bmiHeader.biCompression = MakeFourCC("IYUV");
  info.bmiHeader.biSizeImage = static_cast<DWORD>(pattern.FrameBytes());
  const DWORD videoBitrate = static_cast<DWORD>(pattern.FrameBytes() * 8 * kFps);
  info.dwBitRate = videoBitrate;
  std::vector<BYTE> videoFormat(reinterpret_cast<BYTE*>(&info), reinterpret_cast<BYTE*>(&info) + sizeof info);

  IWMProfileManager* manager = nullptr;
  HRESULT hr = WMCreateProfileManager(&manager);
  if (FAILED(hr)) return Fail("WMCreateProfileManager", hr);
  Released holdManager{manager};
  IWMProfile* profile = nullptr;
  hr = manager->CreateEmptyProfile(WMT_VER_9_0, &profile);
  if (FAILED(hr)) return Fail("CreateEmptyProfile", hr);
  Released holdProfile{profile};
  hr = AddStream(profile, MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, audioFormat, 6, wave.nAvgBytesPerSec * 8);
  if (FAILED(hr)) return Fail("adding the audio stream", hr);
  hr = AddStream(profile, MEDIATYPE_Video, MEDIASUBTYPE_IYUV, FORMAT_VideoInfo, videoFormat, 8, videoBitrate);
  if (FAILED(hr)) return Fail("adding the video stream", hr);

  IWMWriter* writer = nullptr;
  hr = WMCreateWriter(nullptr, &writer);
  if (FAILED(hr)) return Fail("WMCreateWriter", hr);
  Released holdWriter{writer};
  IWMWriterAdvanced* advanced = nullptr;
  hr = writer->QueryInterface(IID_IWMWriterAdvanced, reinterpret_cast<void**>(&advanced));
  if (FAILED(hr)) return Fail("IWMWriterAdvanced", hr);
  Released holdAdvanced{advanced};
  IWMHeaderInfo* header = nullptr;
  hr = writer->QueryInterface(IID_IWMHeaderInfo, reinterpret_cast<void**>(&header));
  if (FAILED(hr)) return Fail("IWMHeaderInfo", hr);
  Released holdHeader{header};

  hr = writer->SetProfile(profile);
  if (FAILED(hr)) return Fail("SetProfile", hr);
  DWORD inputs = 0;
  writer->GetInputCount(&inputs);
  for (DWORD i = 0; i < inputs; ++i) writer->SetInputProps(i, nullptr);
  hr = writer->SetOutputFilename(Utf8ToWide(argv[1]).c_str());
  if (FAILED(hr)) return Fail("SetOutputFilename", hr);
  const char16_t title[] = u"ASF File";
  header->SetAttribute(0, u"Title", WMT_TYPE_STRING, reinterpret_cast<const BYTE*>(title), 16);
  hr = writer->BeginWriting();
  if (FAILED(hr)) return Fail("BeginWriting", hr);

  // Audio in 20 ms blocks, video frames between them, in time order as a live source delivers.
  ToneGenerator tone(kRate, kChannels, 1000.0);
  const size_t blockFrames = kRate / 50;
  std::vector<BYTE> audio(blockFrames * wave.nBlockAlign), picture(pattern.FrameBytes());
  const REFERENCE_TIME end = static_cast<REFERENCE_TIME>(seconds) * 10000000;
  REFERENCE_TIME audioTime = 0, videoTime = 0;
  uint64_t frame = 0;
  while (audioTime < end || videoTime < end) {
    if (videoTime <= audioTime && videoTime < end) {
      pattern.Render(frame++, picture.data());
      hr = WriteSample(writer, advanced, 8, videoTime, kFrameTime, true, picture);
      videoTime += kFrameTime;
    } else {
      tone.Render(blockFrames, audio.data());
      hr = WriteSample(writer, advanced, 6, audioTime, 200000, false, audio);
      audioTime += 200000;
    }
    if (FAILED(hr)) return Fail("writing a sample", hr);
  }
  hr = writer->EndWriting();
  if (FAILED(hr)) return Fail("EndWriting", hr);
  std::printf("pelistra-demo: wrote %s: %d s of %dx%d test pattern and a 1 kHz tone\n", argv[1], seconds, kWidth, kHeight);
  return 0;
}
