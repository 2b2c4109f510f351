#include "recorder/media_types.h"

static constexpr GUID kUncompressedSubtypes[] = {
    MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB565, MEDIASUBTYPE_RGB555, MEDIASUBTYPE_RGB8,
    MEDIASUBTYPE_RGB4,  MEDIASUBTYPE_RGB1,  MEDIASUBTYPE_IYUV,   MEDIASUBTYPE_UYVY,   MEDIASUBTYPE_YUY2,
    MEDIASUBTYPE_YV12,  MEDIASUBTYPE_YVU9,  MEDIASUBTYPE_YVYU,   MEDIASUBTYPE_PCM,
};
static_assert(sizeof(kUncompressedSubtypes) / sizeof(GUID) == 14);

bool IsUncompressedVideo(const AM_MEDIA_TYPE* type) {
  for (const GUID& subtype : kUncompressedSubtypes)
    if (IsEqualGUID(type->subtype, subtype)) return true;
  return false;
}

VideoSubtypeClass ClassifyVideoSubtype(REFGUID subtype) {
  if (IsEqualGUID(subtype, MEDIASUBTYPE_H264_INPUT)) return VideoSubtypeClass::H264;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_xvid)) return VideoSubtypeClass::Mpeg4Part2;
  return VideoSubtypeClass::Other;
}

GUID ProfileVideoSubtype(REFGUID subtype) {
  switch (ClassifyVideoSubtype(subtype)) {
    case VideoSubtypeClass::H264: return MEDIASUBTYPE_h264;
    case VideoSubtypeClass::Mpeg4Part2: return MEDIASUBTYPE_XVID;
    case VideoSubtypeClass::Other: break;
  }
  return subtype;
}
