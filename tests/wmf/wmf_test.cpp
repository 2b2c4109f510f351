// The Windows-Media-style writer objects: profiles, the writer's lifecycle and its statuses, the
// file sink's size and the sample buffer pool.
#include <gtest/gtest.h>

#include "platform/com/alloc_fault.h"
#include "platform/win/text.h"
#include "wmf_test_support.h"

using namespace wmf_test;

TEST(WmfProfile, KeepsStreamNumbersWindowsRatesAndTypes) {
  IWMProfile* profile = AudioVideoProfile();
  ASSERT_NE(profile, nullptr);
  DWORD count = 0;
  profile->GetStreamCount(&count);
  EXPECT_EQ(count, 2u);
  struct Expected { WORD number; GUID type; DWORD bitrate; };
  for (Expected e : {Expected{6, MEDIATYPE_Audio, 1536000}, Expected{8, MEDIATYPE_Video, 500000}}) {
    IWMStreamConfig* config = nullptr;
    ASSERT_EQ(profile->GetStreamByNumber(e.number, &config), S_OK);
    GUID type;
    DWORD bitrate = 0, window = 0;
    config->GetStreamType(&type);
    config->GetBitrate(&bitrate);
    config->GetBufferWindow(&window);
    EXPECT_EQ(type, e.type);
    EXPECT_EQ(bitrate, e.bitrate);
    EXPECT_EQ(window, 3000u);
    IWMMediaProps* props = nullptr;
    ASSERT_EQ(config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props)), S_OK);
    DWORD size = 0;
    ASSERT_EQ(props->GetMediaType(nullptr, &size), S_OK);
    std::vector<BYTE> record(size);
    auto* media = reinterpret_cast<WM_MEDIA_TYPE*>(record.data());
    ASSERT_EQ(props->GetMediaType(media, &size), S_OK);
    EXPECT_EQ(media->majortype, e.type);
    // The block follows the record in the caller's buffer.
    EXPECT_EQ(media->pbFormat, record.data() + sizeof(WM_MEDIA_TYPE));
    props->Release();
    config->Release();
  }
  IWMStreamConfig* missing = nullptr;
  EXPECT_EQ(profile->GetStreamByNumber(7, &missing), NS_E_NO_STREAM);
  profile->Release();
}

TEST(WmfProfile, RefusesStreamsItCannotCarry) {
  IWMProfileManager* manager = nullptr;
  ASSERT_EQ(WMCreateProfileManager(&manager), S_OK);
  IWMProfile* profile = nullptr;
  EXPECT_EQ(manager->CreateEmptyProfile(static_cast<WMT_VERSION>(0x12345), &profile), E_INVALIDARG);
  ASSERT_EQ(manager->CreateEmptyProfile(WMT_VER_9_0, &profile), S_OK);
  manager->Release();

  std::vector<BYTE> wave = PcmFormat();
  std::vector<BYTE> shortBlock(10);
  std::vector<BYTE> video = VideoInfo(64, 48, MakeFourCC("MJPG"));
  struct Case {
    const char* what;
    GUID streamType;
    WM_MEDIA_TYPE type;
  } cases[] = {
      {"audio type on a video stream", MEDIATYPE_Video, MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, wave)},
      {"audio block too short", MEDIATYPE_Audio, MakeType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FORMAT_WaveFormatEx, shortBlock)},
      {"video without a video block", MEDIATYPE_Video, MakeType(MEDIATYPE_Video, MEDIASUBTYPE_MJPG, FORMAT_WaveFormatEx, video)},
      {"video block too short", MEDIATYPE_Video, MakeType(MEDIATYPE_Video, MEDIASUBTYPE_MJPG, FORMAT_VideoInfo, shortBlock)},
  };
  for (Case& c : cases) EXPECT_EQ(AddStream(profile, c.streamType, c.type, 8, 1), NS_E_INVALID_INPUT_FORMAT) << c.what;

  // A stream number used twice, and a configuration without a media type.
  EXPECT_EQ(AddStream(profile, MEDIATYPE_Video, MakeType(MEDIATYPE_Video, MEDIASUBTYPE_MJPG, FORMAT_VideoInfo, video), 8, 1), S_OK);
  EXPECT_EQ(AddStream(profile, MEDIATYPE_Video, MakeType(MEDIATYPE_Video, MEDIASUBTYPE_MJPG, FORMAT_VideoInfo, video), 8, 1),
            NS_E_INVALID_STREAM);
  IWMStreamConfig* bare = nullptr;
  ASSERT_EQ(profile->CreateNewStream(MEDIATYPE_Audio, &bare), S_OK);
  bare->SetStreamNumber(6);
  EXPECT_EQ(profile->AddStream(bare), NS_E_INVALID_STREAM);
  EXPECT_EQ(bare->SetStreamNumber(0), E_INVALIDARG);
  EXPECT_EQ(bare->SetStreamNumber(64), E_INVALIDARG);
  bare->Release();
  IWMStreamConfig* other = nullptr;
  EXPECT_EQ(profile->CreateNewStream(MEDIATYPE_Stream, &other), E_INVALIDARG);
  profile->Release();
}

TEST(WmfWriter, RecordsWithTheCallsOfARecordingAndCanBeginAgain) {
  TempDir dir;
  IWMProfile* profile = AudioVideoProfile();
  ASSERT_NE(profile, nullptr);
  WriterSet w;

  // Nothing can be written before the writer is configured and has begun.
  EXPECT_EQ(WriteBytes(w.writer, w.advanced, 8, 0, 100), NS_E_INVALID_REQUEST);
  EXPECT_EQ(w.writer->BeginWriting(), NS_E_NOT_CONFIGURED);
  IWMWriterSink* noSink = nullptr;
  EXPECT_EQ(w.advanced->GetSink(0, &noSink), E_INVALIDARG);

  ASSERT_EQ(w.Configure(profile, dir.File("first.asf")), S_OK);
  DWORD inputs = 0;
  w.writer->GetInputCount(&inputs);
  EXPECT_EQ(inputs, 2u);
  EXPECT_EQ(w.writer->SetInputProps(2, nullptr), E_INVALIDARG);
  const char16_t title[] = u"ASF File";
  EXPECT_EQ(w.header->SetAttribute(0, u"Title", WMT_TYPE_STRING, reinterpret_cast<const BYTE*>(title), 16), S_OK);
  IWMWriterFileSink2* sink = w.FileSink();
  ASSERT_NE(sink, nullptr);

  ASSERT_EQ(w.writer->BeginWriting(), S_OK);
  EXPECT_EQ(w.writer->BeginWriting(), NS_E_INVALID_REQUEST);
  EXPECT_EQ(w.writer->SetProfile(profile), NS_E_INVALID_REQUEST);
  EXPECT_EQ(w.header->SetAttribute(0, u"Title", WMT_TYPE_STRING, reinterpret_cast<const BYTE*>(title), 16),
            NS_E_INVALID_REQUEST);
  QWORD headerOnly = 0;
  sink->GetFileSize(&headerOnly);
  EXPECT_GT(headerOnly, 0u);

  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(WriteBytes(w.writer, w.advanced, 6, i * 200000LL, 3840, 0x11, 0), S_OK);
    ASSERT_EQ(WriteBytes(w.writer, w.advanced, 8, i * 200000LL, 20000, 0x22), S_OK);
  }
  QWORD written = 0;
  sink->GetFileSize(&written);
  EXPECT_GT(written, headerOnly + 50 * (3840 + 20000));

  EXPECT_EQ(WriteBytes(w.writer, w.advanced, 7, 0, 100), NS_E_INVALID_STREAM);
  EXPECT_EQ(WriteBytes(w.writer, w.advanced, 8, 0, 0), S_FALSE);
  EXPECT_EQ(w.advanced->WriteStreamSample(8, 0, 0, 0, 0, nullptr), E_POINTER);
  // Down to minus the preroll a time still plays; below it the sample is refused.
  EXPECT_EQ(WriteBytes(w.writer, w.advanced, 8, -30000000LL, 10), S_OK);
  EXPECT_LT(WriteBytes(w.writer, w.advanced, 8, -30010000LL, 10), 0);

  ASSERT_EQ(w.writer->EndWriting(), S_OK);
  QWORD finished = 0;
  sink->GetFileSize(&finished);
  EXPECT_EQ(finished, SizeOnDisk(dir.File("first.asf")));
  EXPECT_EQ(w.writer->EndWriting(), NS_E_INVALID_REQUEST);
  EXPECT_EQ(WriteBytes(w.writer, w.advanced, 8, 0, 100), NS_E_INVALID_REQUEST);

  // The same writer takes a profile and a name again and writes a second file.
  ASSERT_EQ(w.Configure(profile, dir.File("second.asf")), S_OK);
  ASSERT_EQ(w.writer->BeginWriting(), S_OK);
  EXPECT_EQ(WriteBytes(w.writer, w.advanced, 8, 0, 5000), S_OK);
  ASSERT_EQ(w.writer->EndWriting(), S_OK);
  EXPECT_GT(SizeOnDisk(dir.File("second.asf")), 5000u);
  EXPECT_EQ(SizeOnDisk(dir.File("first.asf")), finished);

  WM_WRITER_STATISTICS stats;
  ASSERT_EQ(w.advanced->GetStatistics(8, &stats), S_OK);
  EXPECT_EQ(stats.qwSampleCount, 1u);
  sink->Release();
  profile->Release();
}

TEST(WmfWriter, AnUnwritableFileFailsTheStart) {
  IWMProfile* profile = AudioVideoProfile();
  WriterSet w;
  ASSERT_EQ(w.Configure(profile, "/nonexistent-folder/x.asf"), S_OK);
  EXPECT_LT(w.writer->BeginWriting(), 0);
  EXPECT_EQ(WriteBytes(w.writer, w.advanced, 8, 0, 100), NS_E_INVALID_REQUEST);
  EXPECT_EQ(w.writer->SetOutputFilename(u""), NS_E_INVALID_NAME);
  profile->Release();
}

TEST(WmfBuffers, ReleasedBuffersAreReusedAndShortMemoryFails) {
  WriterSet w;
  INSSBuffer* first = nullptr;
  ASSERT_EQ(w.writer->AllocateSample(16384, &first), S_OK);
  DWORD max = 0;
  first->GetMaxLength(&max);
  EXPECT_GE(max, 16384u);
  EXPECT_EQ(first->SetLength(max + 1), E_INVALIDARG);
  BYTE* firstBytes = nullptr;
  first->GetBuffer(&firstBytes);
  first->Release();
  // The same memory comes back for the next sample of a size that fits: no allocation per sample.
  INSSBuffer* second = nullptr;
  ASSERT_EQ(w.writer->AllocateSample(16000, &second), S_OK);
  BYTE* secondBytes = nullptr;
  second->GetBuffer(&secondBytes);
  EXPECT_EQ(firstBytes, secondBytes);
  DWORD length = 1;
  second->GetLength(&length);
  EXPECT_EQ(length, 0u);

  AllocationFault fault(0);
  INSSBuffer* none = nullptr;
  EXPECT_EQ(w.writer->AllocateSample(1 << 20, &none), E_OUTOFMEMORY);
  EXPECT_EQ(none, nullptr);
  second->Release();
}

TEST(WmfBuffers, ABufferMayOutliveItsWriter) {
  INSSBuffer* buffer = nullptr;
  {
    WriterSet w;
    ASSERT_EQ(w.writer->AllocateSample(100, &buffer), S_OK);
  }
  BYTE* data = nullptr;
  buffer->GetBuffer(&data);
  data[99] = 1;
  buffer->Release();
}
