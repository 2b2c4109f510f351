// The profile a recording starts with: bit rates by every rule, the values filled into the
// writer's type, stream numbers, buffer windows, subtypes, and the pin's record.
#include "platform/asf/reader.h"
#include "recorder_fixture.h"

using namespace recorder_test;

namespace {

constexpr DWORD kMaxRate = 0xFFFFFFFF;
const GUID kH264 = MEDIASUBTYPE_H264_INPUT;

struct VideoCase {
  const char* name;
  CMediaType (*make)(REFGUID, const VideoFormat&);
  GUID subtype;
  VideoFormat format;
  DWORD override;
  DWORD rate;                          // returned
  DWORD blockRate;                     // dwBitRate afterwards
  REFERENCE_TIME averageTimePerFrame;  // afterwards
};

const VideoCase kVideoCases[] = {
    // Uncompressed: bits x height x width x frame rate, no override, no cap.
    {"rgb24 at 30 fps", VideoInfoType, MEDIASUBTYPE_RGB24, {320, 240, 24, 333333}, 0, 55296055, 55296055, 333333},
    {"rgb24 without frame time", VideoInfoType, MEDIASUBTYPE_RGB24, {320, 240, 24, 0}, 0, 46080000, 46080000, 400000},
    {"negative frame time", VideoInfoType, MEDIASUBTYPE_RGB24, {320, 240, 24, -5}, 0, 46080000, 46080000, 400000},
    {"uncompressed ignores the override", VideoInfoType, MEDIASUBTYPE_RGB24, {320, 240, 24, 333333}, 2000000,
     55296055, 55296055, 333333},
    {"iyuv", VideoInfoType, MEDIASUBTYPE_IYUV, {64, 48, 12, 1000000}, 0, 368640, 368640, 1000000},
    // Compressed: width x height x frame rate x bits x 0.4, capped at 15 Mbit/s unless overridden.
    {"h264 capped", VideoInfoType, kH264, {640, 480, 24, 400000}, 0, 15000000, 15000000, 400000},
    {"h264 12 bits", VideoInfoType, kH264, {320, 240, 12, 400000}, 0, 9216000, 9216000, 400000},
    {"h264 no bit count", VideoInfoType, kH264, {320, 240, 0, 400000}, 0, 0, 0, 400000},
    {"h264 override", VideoInfoType, kH264, {640, 480, 24, 400000}, 2000000, 2000000, 2000000, 400000},
    {"upstream rate wins over override", VideoInfoType, kH264, {640, 480, 24, 400000, 1000000}, 2000000, 1000000,
     1000000, 400000},
    {"upstream rate, frame time still filled", VideoInfoType, kH264, {640, 480, 24, 0, 1000000}, 0, 1000000,
     1000000, 400000},
    {"mjpg is compressed", VideoInfoType, MEDIASUBTYPE_MJPG, {160, 120, 24, 400000}, 0, 4608000, 4608000, 400000},
    // MPEG-2 style: width x height x frame rate x 0.6; no override, no cap, no bit depth.
    {"mpeg2 format", Mpeg2VideoType, kH264, {720, 576, 24, 400000}, 0, 6220800, 6220800, 400000},
    {"mpeg2 format ignores the override", Mpeg2VideoType, kH264, {720, 576, 24, 400000}, 2000000, 6220800, 6220800,
     400000},
    {"mpeg2 format never uncompressed", Mpeg2VideoType, MEDIASUBTYPE_RGB24, {320, 240, 24, 400000}, 0, 1152000,
     1152000, 400000},
    {"mpeg2 upstream rate", Mpeg2VideoType, kH264, {720, 576, 24, 0, 3000000}, 0, 3000000, 3000000, 400000},
    {"mpeg2 without frame time", Mpeg2VideoType, kH264, {720, 576, 24, 0}, 0, 6220800, 6220800, 400000},
    // Products beyond 32 bits do not wrap; top-down images count their height; rates saturate.
    {"huge uncompressed saturates", VideoInfoType, MEDIASUBTYPE_RGB32, {70000, 70000, 32, 400000}, 0, kMaxRate,
     kMaxRate, 400000},
    {"uncompressed rate beyond 32 bits saturates", VideoInfoType, MEDIASUBTYPE_RGB32, {1920, 1080, 32, 100000}, 0,
     kMaxRate, kMaxRate, 100000},
    {"huge compressed still capped", VideoInfoType, kH264, {70000, 70000, 24, 400000}, 0, 15000000, 15000000,
     400000},
    {"huge mpeg2 saturates", Mpeg2VideoType, kH264, {70000, 70000, 24, 400000}, 0, kMaxRate, kMaxRate, 400000},
    {"top-down uncompressed", VideoInfoType, MEDIASUBTYPE_RGB24, {320, -240, 24, 333333}, 0, 55296055, 55296055,
     333333},
    {"top-down compressed", VideoInfoType, kH264, {320, -240, 12, 400000}, 0, 9216000, 9216000, 400000},
    {"top-down mpeg2", Mpeg2VideoType, kH264, {720, -576, 24, 400000}, 0, 6220800, 6220800, 400000},
};

TEST(RecorderBitrate, VideoRules) {
  TestOwner owner;
  for (const VideoCase& c : kVideoCases) {
    SCOPED_TRACE(c.name);
    CASFRecorder recorder(&owner);
    recorder.SetVideoBitrate(c.override);
    CMediaType type = c.make(c.subtype, c.format);
    EXPECT_EQ(c.rate, recorder.EstimateVideoBitrate(&type));
    if (IsEqualGUID(type.formattype, FORMAT_VideoInfo)) {
      auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
      EXPECT_EQ(c.blockRate, info->dwBitRate);
      EXPECT_EQ(c.averageTimePerFrame, info->AvgTimePerFrame);
    } else {
      auto* info = reinterpret_cast<MPEG2VIDEOINFO*>(type.pbFormat);
      EXPECT_EQ(c.blockRate, info->hdr.dwBitRate);
      EXPECT_EQ(c.averageTimePerFrame, info->hdr.AvgTimePerFrame);
    }
  }
}

TEST(RecorderBitrate, OtherFormatTypeIsHalfAMegabitAndUntouched) {
  TestOwner owner;
  CASFRecorder recorder(&owner);
  CMediaType type = VideoInfoType(kH264, {640, 480, 24, 0});
  type.SetFormatType(FORMAT_WaveFormatEx);
  std::vector<BYTE> before(type.pbFormat, type.pbFormat + type.cbFormat);
  EXPECT_EQ(500000u, recorder.EstimateVideoBitrate(&type));
  EXPECT_EQ(before, std::vector<BYTE>(type.pbFormat, type.pbFormat + type.cbFormat));
}

TEST(RecorderBitrate, AudioRules) {
  struct Case {
    WORD channels;
    DWORD rate;
    WORD bits;
    DWORD avgBytes;
    DWORD expected;
    DWORD avgBytesAfter;
  } cases[] = {
      {2, 8000, 16, 16000, 128000, 16000},           // from nAvgBytesPerSec, which stays
      {2, 44100, 16, 0, 1411200, 176400},            // computed, and filled in
      {1, 8000, 8, 0, 64000, 8000},
      {1, 11025, 4, 0, 44100, 5512},                 // integer division of the filled-in value
      {2, 48000, 16, 600000000, kMaxRate, 600000000},  // x8 beyond 32 bits saturates
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    CMediaType type = PcmType(c.channels, c.rate, c.bits, c.avgBytes);
    EXPECT_EQ(c.expected, CASFRecorder::AudioBitrate(&type));
    EXPECT_EQ(c.avgBytesAfter, reinterpret_cast<WAVEFORMATEX*>(type.pbFormat)->nAvgBytesPerSec);
  }
}

class RecorderProfile : public RecorderFixture {};

// Everything the profile carries for both streams, and the same in the file the writer made.
TEST_F(RecorderProfile, BothStreamsAsTheWriterReceivesThem) {
  owner.audioConnected = owner.videoConnected = true;
  owner.audioType = PcmType(2, 44100, 16, 0);
  owner.videoType = VideoInfoType(kH264, {640, 480, 24, 0});
  ASSERT_EQ(S_OK, Name("both.asf"));
  ASSERT_EQ(S_OK, recorder->StartRecording());
  ASSERT_EQ(1u, script.profiles.size());
  const auto& streams = script.profiles[0];
  ASSERT_EQ(2u, streams.size());

  const ProfileStream& audio = streams[0];  // added first
  EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Audio, audio.streamType));
  EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Audio, audio.majortype));
  EXPECT_EQ(6, audio.number);
  EXPECT_EQ(3000u, audio.bufferWindow);
  EXPECT_EQ(1411200u, audio.bitrate);
  EXPECT_EQ(176400u, audio.As<WAVEFORMATEX>().nAvgBytesPerSec);

  const ProfileStream& video = streams[1];
  EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, video.streamType));
  EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, video.majortype));
  EXPECT_EQ(8, video.number);
  EXPECT_EQ(3000u, video.bufferWindow);
  EXPECT_EQ(15000000u, video.bitrate);
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_h264, video.subtype)) << GuidToString(video.subtype);
  EXPECT_EQ(400000, video.As<VIDEOINFOHEADER>().AvgTimePerFrame);
  EXPECT_EQ(15000000u, video.As<VIDEOINFOHEADER>().dwBitRate);

  // The pins' records turn variable-size; the adjustments went into the copy only.
  EXPECT_FALSE(owner.audioType.bFixedSizeSamples);
  EXPECT_FALSE(owner.videoType.bFixedSizeSamples);
  EXPECT_EQ(0u, reinterpret_cast<WAVEFORMATEX*>(owner.audioType.pbFormat)->nAvgBytesPerSec);
  EXPECT_EQ(0, reinterpret_cast<VIDEOINFOHEADER*>(owner.videoType.pbFormat)->AvgTimePerFrame);
  EXPECT_TRUE(IsEqualGUID(kH264, owner.videoType.subtype));

  ASSERT_EQ(S_OK, recorder->StopRecording());
  asf::Reader reader;
  ASSERT_EQ(S_OK, reader.Open(dir / "both.asf"));
  ASSERT_EQ(2u, reader.Streams().size());
  EXPECT_EQ(6, reader.Streams()[0].number);
  EXPECT_EQ(8, reader.Streams()[1].number);
  for (const asf::StreamInfo& s : reader.Streams()) EXPECT_EQ(3000u, s.bufferWindowMs) << s.number;
  EXPECT_EQ(1411200u, reader.Streams()[0].bitrate);
  EXPECT_EQ(176400u, reader.Streams()[0].avgBytesPerSecond);
  EXPECT_EQ(15000000u, reader.Streams()[1].bitrate);
  EXPECT_EQ(MakeFourCC("h264"), reader.Streams()[1].fourcc);
  EXPECT_EQ(u"ASF File", reader.Title());
}

TEST_F(RecorderProfile, OneStreamForOnePin) {
  struct Case {
    bool audio, video;
    WORD number;
  } cases[] = {{false, true, 8}, {true, false, 6}};
  ASSERT_EQ(S_OK, Name("one.asf"));
  for (const Case& c : cases) {
    Connect(c.audio, c.video);
    ASSERT_EQ(S_OK, recorder->StartRecording());
    ASSERT_EQ(S_OK, recorder->StopRecording());
    ASSERT_EQ(1u, script.profiles.back().size());
    EXPECT_EQ(c.number, script.profiles.back()[0].number);
  }
}

// Only the H.264 input subtype and lower-case "xvid" are renamed; every other subtype reaches
// the profile as it came.
TEST_F(RecorderProfile, VideoSubtypes) {
  struct Case {
    GUID input, profile;
  } cases[] = {
      {kH264, MEDIASUBTYPE_h264},
      {MEDIASUBTYPE_xvid, MEDIASUBTYPE_XVID},
      {MEDIASUBTYPE_XVID, MEDIASUBTYPE_XVID},
      {FourCCGuid("H264"), FourCCGuid("H264")},
      {MEDIASUBTYPE_MJPG, MEDIASUBTYPE_MJPG},
      {MEDIASUBTYPE_IYUV, MEDIASUBTYPE_IYUV},
      {MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB24},
  };
  ASSERT_EQ(S_OK, Name("subtype.asf"));
  for (const Case& c : cases) {
    SCOPED_TRACE(GuidToString(c.input));
    Connect(false, true, c.input);
    ASSERT_EQ(S_OK, recorder->StartRecording());
    ASSERT_EQ(S_OK, recorder->StopRecording());
    EXPECT_TRUE(IsEqualGUID(c.profile, script.profiles.back()[0].subtype))
        << GuidToString(script.profiles.back()[0].subtype);
  }
}

// The writer's type carries no object; the pin's record keeps its own reference.
TEST_F(RecorderProfile, ObjectOfThePinTypeStaysWithThePin) {
  struct Counted final : IUnknown {
    long refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  } object;
  Connect(false, true);
  owner.videoType.pUnk = &object;
  object.refs = 2;  // the record's reference
  ASSERT_EQ(S_OK, Name("object.asf"));
  ASSERT_EQ(S_OK, recorder->StartRecording());
  EXPECT_FALSE(script.profiles[0][0].hasObject);
  EXPECT_EQ(2, object.refs);
  EXPECT_EQ(&object, owner.videoType.pUnk);
  recorder->StopRecording();
  owner.videoType.pUnk = nullptr;
}

// A new connection type between recordings takes effect at the next start.
TEST_F(RecorderProfile, EachStartBuildsFromTheCurrentRecords) {
  Connect(false, true, kH264);
  ASSERT_EQ(S_OK, Name("again.asf"));
  ASSERT_EQ(S_OK, recorder->StartRecording());
  recorder->StopRecording();
  recorder->SetVideoBitrate(2000000);
  owner.videoType = VideoInfoType(MEDIASUBTYPE_xvid, {352, 288, 12, 400000});
  ASSERT_EQ(S_OK, recorder->StartRecording());
  recorder->StopRecording();
  ASSERT_EQ(2u, script.profiles.size());
  EXPECT_EQ(15000000u, script.profiles[0][0].bitrate);
  EXPECT_EQ(2000000u, script.profiles[1][0].bitrate);
  EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_XVID, script.profiles[1][0].subtype));
  EXPECT_EQ(2, script.profilesCreated);
}

}  // namespace
