// What the recorder tests share: a media sample, an owner standing in for the filter, the media
// types the pins would carry, and a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "framework/mediatype.h"
#include "platform/dshow/media_sample.h"
#include "platform/win/text.h"
#include "recorder/asf_recorder.h"
#include "recorder/media_types.h"

namespace recorder_test {

// A media sample holding its own bytes. Lives on the stack or in a vector; the recorder does not
// keep it, so the count is only kept honest.
class TestSample final : public IMediaSample {
 public:
  TestSample(REFERENCE_TIME start, REFERENCE_TIME end, std::vector<BYTE> bytes, bool sync = true,
             bool discontinuity = false)
      : m_start(start), m_end(end), m_bytes(std::move(bytes)), m_sync(sync), m_discontinuity(discontinuity) {}

  HRESULT timeStatus = S_OK;  // what GetTime answers

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IMediaSample)) return E_NOINTERFACE;
    *ppv = static_cast<IMediaSample*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_refs); }

  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override {
    if (!buffer) return E_POINTER;
    *buffer = m_bytes.data();
    return S_OK;
  }
  LONG STDMETHODCALLTYPE GetSize() override { return static_cast<LONG>(m_bytes.size()); }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
    if (FAILED(timeStatus)) return timeStatus;
    *start = m_start;
    *end = m_end;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override {
    m_start = *start;
    m_end = *end;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return m_sync ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL sync) override {
    m_sync = sync;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL) override { return S_OK; }
  LONG STDMETHODCALLTYPE GetActualDataLength() override { return static_cast<LONG>(m_bytes.size()); }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** type) override {
    *type = nullptr;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return m_discontinuity ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL discontinuity) override {
    m_discontinuity = discontinuity;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

  const std::vector<BYTE>& Bytes() const { return m_bytes; }

 private:
  static constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = MakeStatus(0x80040251);
  REFERENCE_TIME m_start, m_end;
  std::vector<BYTE> m_bytes;
  bool m_sync, m_discontinuity;
  std::atomic<long> m_refs{1};
};

// Stands in for the filter: the pins' connection records and the size event.
class TestOwner final : public CRecorderOwner {
 public:
  bool audioConnected = false;
  bool videoConnected = false;
  bool audioEnded = false;
  bool videoEnded = false;
  CMediaType audioType, videoType;
  std::atomic<int> sizeEvents{0};
  std::atomic<LONG_PTR> lastSizeParam{0};
  std::function<void()> onSizeEvent;

  BOOL IsAudioConnected() override { return audioConnected; }
  BOOL IsVideoConnected() override { return videoConnected; }
  BOOL HasAudioEnded() override { return audioEnded; }
  BOOL HasVideoEnded() override { return videoEnded; }
  AM_MEDIA_TYPE* GetAudioMediaType() override { return &audioType; }
  AM_MEDIA_TYPE* GetVideoMediaType() override { return &videoType; }
  HRESULT NotifySizeLimit(LONG_PTR param) override {
    ++sizeEvents;
    lastSizeParam = param;
    if (onSizeEvent) onSizeEvent();
    return E_FAIL;  // as a filter without an event sink answers; the event counts as sent
  }
};

inline CMediaType PcmType(WORD channels, DWORD rate, WORD bits, DWORD avgBytes) {
  WAVEFORMATEX wave{};
  wave.wFormatTag = WAVE_FORMAT_PCM;
  wave.nChannels = channels;
  wave.nSamplesPerSec = rate;
  wave.wBitsPerSample = bits;
  wave.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  wave.nAvgBytesPerSec = avgBytes;
  CMediaType type;
  type.SetType(MEDIATYPE_Audio);
  type.SetSubtype(MEDIASUBTYPE_PCM);
  type.SetFormatType(FORMAT_WaveFormatEx);
  type.bFixedSizeSamples = TRUE;
  type.lSampleSize = wave.nBlockAlign;
  EXPECT_TRUE(type.SetFormat(&wave, sizeof wave));
  return type;
}

inline CMediaType PcmType(const std::vector<BYTE>& wave) {
  CMediaType type;
  type.SetType(MEDIATYPE_Audio);
  type.SetSubtype(MEDIASUBTYPE_PCM);
  type.SetFormatType(FORMAT_WaveFormatEx);
  EXPECT_TRUE(type.SetFormat(wave.data(), static_cast<ULONG>(wave.size())));
  return type;
}

struct VideoFormat {
  LONG width = 320;
  LONG height = 240;
  WORD bitCount = 24;
  REFERENCE_TIME averageTimePerFrame = 400000;
  DWORD bitRate = 0;
};

// A FORMAT_VideoInfo record; the compression code follows the subtype when it is a FOURCC.
inline CMediaType VideoInfoType(REFGUID subtype, const VideoFormat& f = {}) {
  VIDEOINFOHEADER info{};
  info.dwBitRate = f.bitRate;
  info.AvgTimePerFrame = f.averageTimePerFrame;
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = f.width;
  info.bmiHeader.biHeight = f.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = f.bitCount;
  info.bmiHeader.biCompression = IsFourCCGuid(subtype) ? subtype.Data1 : 0;
  CMediaType type;
  type.SetType(MEDIATYPE_Video);
  type.SetSubtype(subtype);
  type.SetFormatType(FORMAT_VideoInfo);
  type.bFixedSizeSamples = TRUE;
  EXPECT_TRUE(type.SetFormat(&info, sizeof info));
  return type;
}

inline CMediaType Mpeg2VideoType(REFGUID subtype, const VideoFormat& f = {}) {
  MPEG2VIDEOINFO info{};
  info.hdr.dwBitRate = f.bitRate;
  info.hdr.AvgTimePerFrame = f.averageTimePerFrame;
  info.hdr.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.hdr.bmiHeader.biWidth = f.width;
  info.hdr.bmiHeader.biHeight = f.height;
  info.hdr.bmiHeader.biBitCount = f.bitCount;
  CMediaType type;
  type.SetType(MEDIATYPE_Video);
  type.SetSubtype(subtype);
  type.SetFormatType(FORMAT_MPEG2Video);
  EXPECT_TRUE(type.SetFormat(&info, offsetof(MPEG2VIDEOINFO, dwSequenceHeader)));
  return type;
}

// A scratch folder per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "recorder-test-XXXXXX").string();
    m_path = mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(m_path); }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
};

inline std::u16string Wide(const std::string& text) { return Utf8ToWide(text); }

inline std::vector<BYTE> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<BYTE> Fixture(const std::string& name) {
  return ReadBytes(std::string(PELISTRA_SOURCE_DIR) + "/tests/fixtures/" + name);
}

// Bytes from a hex string; spaces are ignored.
inline std::vector<BYTE> Hex(const std::string& text) {
  std::vector<BYTE> bytes;
  std::string digits;
  for (char c : text)
    if (c != ' ') digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2)
    bytes.push_back(static_cast<BYTE>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return bytes;
}

inline std::vector<BYTE> Concat(std::vector<BYTE> a, const std::vector<BYTE>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace recorder_test
