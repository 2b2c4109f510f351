// The media type record and the format blocks it carries. The format blocks hold no pointers and
// keep the exact byte layout of the platform; the record itself is laid out for this system.
#pragma once

#include <cstddef>

#include "platform/com/unknown.h"

#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;  // bytes of format-specific data after these 18
};
#pragma pack(pop)

struct RECT {
  LONG left, top, right, bottom;
};

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // negative: a top-down image
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;  // a four-character code, or BI_RGB (0)
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
};

struct VIDEOINFOHEADER2 {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  DWORD dwInterlaceFlags;
  DWORD dwCopyProtectFlags;
  DWORD dwPictAspectRatioX;
  DWORD dwPictAspectRatioY;
  DWORD dwControlFlags;
  DWORD dwReserved2;
  BITMAPINFOHEADER bmiHeader;
};

struct MPEG2VIDEOINFO {
  VIDEOINFOHEADER2 hdr;
  DWORD dwStartTimeCode;
  DWORD cbSequenceHeader;
  DWORD dwProfile;
  DWORD dwLevel;
  DWORD dwFlags;
  DWORD dwSequenceHeader[1];
};

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr DWORD BI_RGB = 0;

// The offsets the system reads and writes; the layouts are published and files depend on them.
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, nChannels) == 2 && offsetof(WAVEFORMATEX, nSamplesPerSec) == 4);
static_assert(offsetof(WAVEFORMATEX, nAvgBytesPerSec) == 8 && offsetof(WAVEFORMATEX, wBitsPerSample) == 14);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(offsetof(VIDEOINFOHEADER, dwBitRate) == 32 && offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == 40);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) + offsetof(BITMAPINFOHEADER, biWidth) == 52);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) + offsetof(BITMAPINFOHEADER, biHeight) == 56);
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) + offsetof(BITMAPINFOHEADER, biBitCount) == 62);
static_assert(sizeof(VIDEOINFOHEADER) == 88);
static_assert(offsetof(MPEG2VIDEOINFO, hdr) + offsetof(VIDEOINFOHEADER2, dwBitRate) == 32);
static_assert(offsetof(MPEG2VIDEOINFO, hdr) + offsetof(VIDEOINFOHEADER2, AvgTimePerFrame) == 40);
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader) + offsetof(BITMAPINFOHEADER, biWidth) == 76);
static_assert(offsetof(VIDEOINFOHEADER2, bmiHeader) + offsetof(BITMAPINFOHEADER, biHeight) == 80);
static_assert(sizeof(VIDEOINFOHEADER2) == 112 && offsetof(MPEG2VIDEOINFO, dwSequenceHeader) == 132);

struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;  // one reference held by the record, or null
  ULONG cbFormat;
  BYTE* pbFormat;  // cbFormat bytes of COM task memory owned by the record; null when cbFormat is 0
};

// Major types.
inline constexpr GUID MEDIATYPE_Audio = FourCCGuid("auds");
inline constexpr GUID MEDIATYPE_Video = FourCCGuid("vids");
inline constexpr GUID MEDIATYPE_Stream = MakeGuid("E436EB83-524F-11CE-9F53-0020AF0BA770");
// Format types.
inline constexpr GUID FORMAT_WaveFormatEx = MakeGuid("05589F81-C356-11CE-BF01-00AA0055595A");
inline constexpr GUID FORMAT_VideoInfo = MakeGuid("05589F80-C356-11CE-BF01-00AA0055595A");
inline constexpr GUID FORMAT_VideoInfo2 = MakeGuid("F72A76A0-EB0A-11D0-ACE4-0000C0CC16BA");
inline constexpr GUID FORMAT_MPEG2Video = MakeGuid("E06D80E3-DB46-11CF-B4D1-00805F6CBBEA");
inline constexpr GUID FORMAT_None = MakeGuid("0F6417D6-C318-11D0-A43F-00A0C9223196");
// Subtypes.
inline constexpr GUID MEDIASUBTYPE_RGB32 = MakeGuid("E436EB7E-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB24 = MakeGuid("E436EB7D-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB565 = MakeGuid("E436EB7B-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB555 = MakeGuid("E436EB7C-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB8 = MakeGuid("E436EB7A-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB4 = MakeGuid("E436EB79-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_RGB1 = MakeGuid("E436EB78-524F-11CE-9F53-0020AF0BA770");
inline constexpr GUID MEDIASUBTYPE_IYUV = FourCCGuid("IYUV");
inline constexpr GUID MEDIASUBTYPE_I420 = FourCCGuid("I420");
inline constexpr GUID MEDIASUBTYPE_UYVY = FourCCGuid("UYVY");
inline constexpr GUID MEDIASUBTYPE_YUY2 = FourCCGuid("YUY2");
inline constexpr GUID MEDIASUBTYPE_YV12 = FourCCGuid("YV12");
inline constexpr GUID MEDIASUBTYPE_YVU9 = FourCCGuid("YVU9");
inline constexpr GUID MEDIASUBTYPE_YVYU = FourCCGuid("YVYU");
inline constexpr GUID MEDIASUBTYPE_MJPG = FourCCGuid("MJPG");
inline constexpr GUID MEDIASUBTYPE_PCM = MakeGuid("00000001-0000-0010-8000-00AA00389B71");
