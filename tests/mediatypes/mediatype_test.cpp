// Media type records: classification of streams, and the copy/free/compare operations that own
// a record's format block and object reference.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "framework/mediatype.h"
#include "platform/com/alloc_fault.h"
#include "recorder/media_types.h"

namespace {

// An object that counts its references, to see each copy take one and each free give one back.
class CountedObject : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  ULONG refs = 1;
};

CMediaType VideoType(REFGUID subtype, ULONG blockBytes = sizeof(VIDEOINFOHEADER)) {
  CMediaType type;
  type.SetType(MEDIATYPE_Video);
  type.SetSubtype(subtype);
  type.SetFormatType(FORMAT_VideoInfo);
  std::vector<BYTE> block(blockBytes);
  for (ULONG i = 0; i < blockBytes; ++i) block[i] = static_cast<BYTE>(i * 7);
  EXPECT_TRUE(type.SetFormat(block.data(), blockBytes));
  return type;
}

}  // namespace

TEST(MediaTypeGuids, TableValuesAndFourCharacterCodes) {
  struct Case { GUID guid; const char* text; } cases[] = {
      {MEDIATYPE_Audio, "{73647561-0000-0010-8000-00AA00389B71}"},
      {MEDIATYPE_Video, "{73646976-0000-0010-8000-00AA00389B71}"},
      {FORMAT_WaveFormatEx, "{05589F81-C356-11CE-BF01-00AA0055595A}"},
      {FORMAT_VideoInfo, "{05589F80-C356-11CE-BF01-00AA0055595A}"},
      {FORMAT_MPEG2Video, "{E06D80E3-DB46-11CF-B4D1-00805F6CBBEA}"},
      {MEDIASUBTYPE_H264_INPUT, "{8D2D71CB-243F-45E3-B2D8-5FD7967EC09B}"},
      {MEDIASUBTYPE_xvid, "{64697678-0000-0010-8000-00AA00389B71}"},
      {MEDIASUBTYPE_MJPG, "{47504A4D-0000-0010-8000-00AA00389B71}"},
      {MEDIASUBTYPE_h264, "{34363268-0000-0010-8000-00AA00389B71}"},
      {MEDIASUBTYPE_XVID, "{44495658-0000-0010-8000-00AA00389B71}"},
      {MEDIASUBTYPE_RGB1, "{E436EB78-524F-11CE-9F53-0020AF0BA770}"},
      {MEDIASUBTYPE_YVYU, "{55595659-0000-0010-8000-00AA00389B71}"},
      {MEDIASUBTYPE_PCM, "{00000001-0000-0010-8000-00AA00389B71}"},
  };
  for (const Case& c : cases) EXPECT_EQ(GuidToString(c.guid), c.text);
}

TEST(MediaTypeClassification, OnlyTheInputSubtypesSelectAnInspection) {
  struct Case {
    GUID subtype;
    VideoSubtypeClass kind;
    GUID profileSubtype;
  } cases[] = {
      {MEDIASUBTYPE_H264_INPUT, VideoSubtypeClass::H264, MEDIASUBTYPE_h264},
      {MEDIASUBTYPE_xvid, VideoSubtypeClass::Mpeg4Part2, MEDIASUBTYPE_XVID},
      // Upper-case "XVID" and a four-character-code H.264 are other streams, kept as they are.
      {MEDIASUBTYPE_XVID, VideoSubtypeClass::Other, MEDIASUBTYPE_XVID},
      {FourCCGuid("H264"), VideoSubtypeClass::Other, FourCCGuid("H264")},
      {MEDIASUBTYPE_h264, VideoSubtypeClass::Other, MEDIASUBTYPE_h264},
      {MEDIASUBTYPE_MJPG, VideoSubtypeClass::Other, MEDIASUBTYPE_MJPG},
      {MEDIASUBTYPE_RGB24, VideoSubtypeClass::Other, MEDIASUBTYPE_RGB24},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyVideoSubtype(c.subtype), c.kind) << GuidToString(c.subtype);
    EXPECT_EQ(ProfileVideoSubtype(c.subtype), c.profileSubtype) << GuidToString(c.subtype);
  }
}

TEST(MediaTypeClassification, UncompressedSetIsExactlyFourteenSubtypesAndReadsTheSubtypeAlone) {
  const GUID members[] = {MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB565, MEDIASUBTYPE_RGB555,
                          MEDIASUBTYPE_RGB8,  MEDIASUBTYPE_RGB4,  MEDIASUBTYPE_RGB1,   MEDIASUBTYPE_IYUV,
                          MEDIASUBTYPE_UYVY,  MEDIASUBTYPE_YUY2,  MEDIASUBTYPE_YV12,   MEDIASUBTYPE_YVU9,
                          MEDIASUBTYPE_YVYU,  MEDIASUBTYPE_PCM};
  AM_MEDIA_TYPE type;
  std::memset(&type, 0xEE, sizeof type);  // every other field arbitrary
  for (const GUID& subtype : members) {
    type.subtype = subtype;
    EXPECT_TRUE(IsUncompressedVideo(&type)) << GuidToString(subtype);
  }
  for (const GUID& subtype : {MEDIASUBTYPE_I420, MEDIASUBTYPE_MJPG, MEDIASUBTYPE_H264_INPUT, GUID_NULL}) {
    type.subtype = subtype;
    EXPECT_FALSE(IsUncompressedVideo(&type)) << GuidToString(subtype);
  }
}

TEST(MediaTypeRecord, InitGivesAnEmptyFixedSizeType) {
  AM_MEDIA_TYPE type;
  std::memset(&type, 0xAB, sizeof type);
  InitMediaType(&type);
  EXPECT_EQ(type.majortype, GUID_NULL);
  EXPECT_EQ(type.subtype, GUID_NULL);
  EXPECT_EQ(type.formattype, GUID_NULL);
  EXPECT_EQ(type.bFixedSizeSamples, TRUE);
  EXPECT_EQ(type.bTemporalCompression, FALSE);
  EXPECT_EQ(type.lSampleSize, 1u);
  EXPECT_EQ(type.cbFormat, 0u);
  EXPECT_EQ(type.pbFormat, nullptr);
  EXPECT_EQ(type.pUnk, nullptr);
}

TEST(MediaTypeRecord, CopiesOwnTheirBlockAndObjectReference) {
  CountedObject object;
  CMediaType source = VideoType(MEDIASUBTYPE_RGB24, 1000);
  source.pUnk = &object;
  object.AddRef();

  AM_MEDIA_TYPE copy;
  ASSERT_EQ(CopyMediaType(&copy, &source), S_OK);
  EXPECT_NE(copy.pbFormat, source.pbFormat);
  EXPECT_EQ(copy.cbFormat, 1000u);
  EXPECT_EQ(0, std::memcmp(copy.pbFormat, source.pbFormat, 1000));
  EXPECT_EQ(object.refs, 3u);
  FreeMediaType(copy);
  FreeMediaType(copy);  // a second free changes nothing
  EXPECT_EQ(copy.cbFormat, 0u);
  EXPECT_EQ(copy.pbFormat, nullptr);
  EXPECT_EQ(object.refs, 2u);
  EXPECT_EQ(source.pbFormat[999], static_cast<BYTE>(999 * 7));  // the source is intact

  // A record without a block allocates nothing.
  CMediaType bare;
  {
    AllocationFault noMemory(0, -1);
    AM_MEDIA_TYPE bareCopy;
    EXPECT_EQ(CopyMediaType(&bareCopy, &bare), S_OK);
    EXPECT_EQ(bareCopy.pbFormat, nullptr);
  }
  // Freeing the source gives back its reference too.
  FreeMediaType(source);
  EXPECT_EQ(object.refs, 1u);
}

TEST(MediaTypeRecord, FailedBlockAllocationLeavesAFreeableTargetThatStillOwnsItsObject) {
  CountedObject object;
  CMediaType source = VideoType(MEDIASUBTYPE_MJPG);
  source.pUnk = &object;
  object.AddRef();
  AM_MEDIA_TYPE copy;
  {
    AllocationFault noMemory(0);
    EXPECT_EQ(CopyMediaType(&copy, &source), E_OUTOFMEMORY);
  }
  EXPECT_EQ(copy.cbFormat, 0u);
  EXPECT_EQ(copy.pbFormat, nullptr);
  EXPECT_EQ(copy.majortype, MEDIATYPE_Video);
  EXPECT_EQ(object.refs, 3u);
  FreeMediaType(copy);
  EXPECT_EQ(object.refs, 2u);

  CMediaType target = VideoType(MEDIASUBTYPE_RGB24);
  {
    AllocationFault noMemory(0);
    EXPECT_EQ(target.Set(source), E_OUTOFMEMORY);
  }
  EXPECT_EQ(target.cbFormat, 0u);
  FreeMediaType(source);
  EXPECT_EQ(object.refs, 2u);  // target still holds one
  FreeMediaType(target);
  EXPECT_EQ(object.refs, 1u);
}

TEST(MediaTypeRecord, SelfAssignmentKeepsTheBlockAndDeleteOfNullIsHarmless) {
  CMediaType type = VideoType(MEDIASUBTYPE_RGB32);
  BYTE* block = type.pbFormat;
  EXPECT_EQ(type.Set(type), S_OK);
  EXPECT_EQ(type.pbFormat, block);
  DeleteMediaType(nullptr);

  AM_MEDIA_TYPE* handed = CreateMediaType(&type);
  ASSERT_NE(handed, nullptr);
  EXPECT_NE(handed->pbFormat, type.pbFormat);
  DeleteMediaType(handed);
  AllocationFault noMemory(0);
  EXPECT_EQ(CreateMediaType(&type), nullptr);
}

TEST(MediaTypeRecord, PartialSpecificationAndMatching) {
  CMediaType full = VideoType(MEDIASUBTYPE_RGB24);
  EXPECT_FALSE(full.IsPartiallySpecified());
  CMediaType noSubtype = full;
  noSubtype.SetSubtype(GUID_NULL);
  EXPECT_FALSE(noSubtype.IsPartiallySpecified());  // the subtype is not considered
  CMediaType noMajor = full;
  noMajor.SetType(GUID_NULL);
  EXPECT_TRUE(noMajor.IsPartiallySpecified());
  CMediaType noFormat = full;
  noFormat.SetFormatType(GUID_NULL);
  EXPECT_TRUE(noFormat.IsPartiallySpecified());

  CMediaType any;
  any.bFixedSizeSamples = FALSE;
  any.lSampleSize = 99;  // not compared
  EXPECT_TRUE(full.MatchesPartial(&any));

  struct Case {
    const char* what;
    CMediaType partial;
    bool matches;
  };
  CMediaType sameFormat;
  sameFormat.SetFormatType(FORMAT_VideoInfo);
  sameFormat.SetFormat(full.pbFormat, full.cbFormat);
  CMediaType shorterBlock;
  shorterBlock.SetFormatType(FORMAT_VideoInfo);
  shorterBlock.SetFormat(full.pbFormat, full.cbFormat - 1);
  CMediaType otherBytes = sameFormat;
  otherBytes.pbFormat[10] ^= 1;
  CMediaType otherMajor;
  otherMajor.SetType(MEDIATYPE_Audio);
  CMediaType sameSubtype;
  sameSubtype.SetSubtype(MEDIASUBTYPE_RGB24);
  CMediaType otherSubtype;
  otherSubtype.SetSubtype(MEDIASUBTYPE_RGB32);
  Case cases[] = {{"format type and the same block", sameFormat, true},
                  {"a block of another length", shorterBlock, false},
                  {"a block with other bytes", otherBytes, false},
                  {"another major type", otherMajor, false},
                  {"the same subtype", sameSubtype, true},
                  {"another subtype", otherSubtype, false}};
  for (const Case& c : cases) EXPECT_EQ(full.MatchesPartial(&c.partial), c.matches) << c.what;
}

TEST(MediaTypeRecord, SetVariableSizeChangesOnlyTheFixedSizeFlag) {
  CMediaType type = VideoType(MEDIASUBTYPE_MJPG);
  type.lSampleSize = 1234;
  CMediaType before = type;
  SetVariableSize(&type);
  EXPECT_EQ(type.bFixedSizeSamples, FALSE);
  EXPECT_EQ(type.lSampleSize, 1234u);
  EXPECT_TRUE(type == before);
}
