// Builds writer profiles the way the recorder does, and a writer with its interfaces and a
// scratch folder, for the writer object tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win/text.h"
#include "platform/wmf/wmsdk.h"

namespace wmf_test {

inline std::vector<BYTE> PcmFormat(WORD channels = 2, DWORD rate = 48000) {
  WAVEFORMATEX wave{};
  wave.wFormatTag = WAVE_FORMAT_PCM;
  wave.nChannels = channels;
  wave.nSamplesPerSec = rate;
  wave.wBitsPerSample = 16;
  wave.nBlockAlign = static_cast<WORD>(channels * 2);
  wave.nAvgBytesPerSec = rate * wave.nBlockAlign;
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&wave);
  return std::vector<BYTE>(bytes, bytes + sizeof wave);
}

inline std::vector<BYTE> VideoInfo(LONG width, LONG height, DWORD fourcc, WORD bits = 24) {
  VIDEOINFOHEADER info{};
  info.AvgTimePerFrame = 400000;
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = bits;
  info.bmiHeader.biCompression = fourcc;
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&info);
  return std::vector<BYTE>(bytes, bytes + sizeof info);
}

inline WM_MEDIA_TYPE MakeType(REFGUID major, REFGUID sub, REFGUID format, std::vector<BYTE>& block) {
  WM_MEDIA_TYPE type{};
  type.majortype = major;
  type.subtype = sub;
  type.formattype = format;
  type.cbFormat = static_cast<ULONG>(block.size());
  type.pbFormat = block.data();
  return type;
}

// Adds one stream to the profile; returns the first failing status.
inline HRESULT AddStream(IWMProfile* profile, REFGUID major, WM_MEDIA_TYPE type, WORD number, DWORD bitrate) {
  IWMStreamConfig* config = nullptr;
  HRESULT hr = profile->CreateNewStream(major, &config);
  if (FAILED(hr)) return hr;
  IWMMediaProps* props = nullptr;
  hr = config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props));
  if (SUCCEEDED(hr)) hr = props->SetMediaType(&type);
  if (SUCCEEDED(hr)) {
    config->SetBitrate(bitrate);
    config->SetBufferWindow(3000);
    config->SetStreamNumber(number);
    hr = profile->AddStream(config);
  }
  if (props) props->Release();
  config->Release();
  return hr;
}

// A profile with PCM audio as stream 6 and video of the given subtype as stream 8.
inline IWMProfile* AudioVideoProfile(REFGUID videoSubtype = FourCCGuid("MJPG")) {
  IWMProfileManager* manager = nullptr;
  if (FAILED(WMCreateProfileManager(&manager))) return nullptr;
  IWMProfile* profile = nullptr;
  manager->CreateEmptyProfile(WMT_VER_9_0, &profile);
  manager->Release();
  if (!profile) return nullptr;
  std::vector<BYTE> wave = PcmFormat();
  std::vector<BYTE> video = VideoInfo(64, 48, videoSubtype.Data1);
  if (FAILED(AddStream(profile, MEDIATYPE_Audio, MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, wave), 6,
                       1536000)) ||
      FAILED(AddStream(profile, MEDIATYPE_Video, MakeType(MEDIATYPE_Video, videoSubtype, FORMAT_VideoInfo, video), 8,
                       500000))) {
    profile->Release();
    return nullptr;
  }
  return profile;
}

// Writes `size` bytes of `fill` as one stream sample.
inline HRESULT WriteBytes(IWMWriter* writer, IWMWriterAdvanced* advanced, WORD stream, int64_t time, DWORD size,
                          BYTE fill = 0x5A, DWORD flags = WM_SF_CLEANPOINT) {
  INSSBuffer* buffer = nullptr;
  HRESULT hr = writer->AllocateSample(size, &buffer);
  if (FAILED(hr)) return hr;
  BYTE* data = nullptr;
  buffer->GetBuffer(&data);
  for (DWORD i = 0; i < size; ++i) data[i] = fill;
  buffer->SetLength(size);
  hr = advanced->WriteStreamSample(stream, static_cast<QWORD>(time), static_cast<DWORD>(time / 10000), 400000, flags,
                                   buffer);
  buffer->Release();
  return hr;
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/pelistra-wmf-XXXXXX";
    m_path = mkdtemp(pattern);
  }
  ~TempDir() { std::system(("rm -rf '" + m_path + "'").c_str()); }
  std::string File(const char* name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

inline uint64_t SizeOnDisk(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// A writer with its advanced and header interfaces, released together.
struct WriterSet {
  IWMWriter* writer = nullptr;
  IWMWriterAdvanced* advanced = nullptr;
  IWMHeaderInfo* header = nullptr;
  WriterSet() {
    EXPECT_EQ(WMCreateWriter(nullptr, &writer), S_OK);
    EXPECT_EQ(writer->QueryInterface(IID_IWMWriterAdvanced, reinterpret_cast<void**>(&advanced)), S_OK);
    EXPECT_EQ(writer->QueryInterface(IID_IWMHeaderInfo, reinterpret_cast<void**>(&header)), S_OK);
  }
  ~WriterSet() {
    header->Release();
    advanced->Release();
    writer->Release();
  }
  // SetProfile, inputs, file name: what a recording does before BeginWriting.
  HRESULT Configure(IWMProfile* profile, const std::string& path) {
    HRESULT hr = writer->SetProfile(profile);
    if (FAILED(hr)) return hr;
    DWORD inputs = 0;
    writer->GetInputCount(&inputs);
    for (DWORD i = 0; i < inputs; ++i) writer->SetInputProps(i, nullptr);
    return writer->SetOutputFilename(Utf8ToWide(path).c_str());
  }
  IWMWriterFileSink2* FileSink() {
    IWMWriterSink* sink = nullptr;
    if (FAILED(advanced->GetSink(0, &sink))) return nullptr;
    IWMWriterFileSink2* fileSink = nullptr;
    sink->QueryInterface(IID_IWMWriterFileSink2, reinterpret_cast<void**>(&fileSink));
    sink->Release();
    return fileSink;
  }
};

}  // namespace wmf_test
