#include "sources/unit_source.h"

#include <cstring>

SourceFormat VideoInfoFormat(REFGUID subtype, DWORD compression, unsigned width, unsigned height,
                             REFERENCE_TIME frameTime, bool uncompressed) {
  SourceFormat format;
  format.majortype = MEDIATYPE_Video;
  format.subtype = subtype;
  format.formattype = FORMAT_VideoInfo;
  VIDEOINFOHEADER info{};
  info.rcSource = {0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
  info.rcTarget = info.rcSource;
  info.AvgTimePerFrame = frameTime;
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = static_cast<LONG>(height);
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = uncompressed ? 12 : 24;
  info.bmiHeader.biCompression = compression;
  if (uncompressed) {
    const uint64_t frame = uint64_t{width} * height * 3 / 2;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(frame);
    format.fixed_size = true;
    format.sample_size = static_cast<ULONG>(frame);
    if (frameTime > 0) info.dwBitRate = static_cast<DWORD>(frame * 8 * 10000000 / static_cast<uint64_t>(frameTime));
  }
  format.block.resize(sizeof info);
  std::memcpy(format.block.data(), &info, sizeof info);
  return format;
}

SourceFormat WaveFormat(const std::vector<BYTE>& waveFormatEx) {
  SourceFormat format;
  format.majortype = MEDIATYPE_Audio;
  format.subtype = MEDIASUBTYPE_PCM;
  WORD tag = 0;
  if (waveFormatEx.size() >= 2) std::memcpy(&tag, waveFormatEx.data(), 2);
  format.subtype.Data1 = tag;  // the format tag's subtype: PCM's for tag 1
  format.formattype = FORMAT_WaveFormatEx;
  format.fixed_size = true;
  if (waveFormatEx.size() >= sizeof(WAVEFORMATEX)) {
    WAVEFORMATEX wave;
    std::memcpy(&wave, waveFormatEx.data(), sizeof wave);
    format.sample_size = wave.nBlockAlign;
  }
  format.block = waveFormatEx;
  return format;
}
