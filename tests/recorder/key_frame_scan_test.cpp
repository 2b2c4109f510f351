// Looking into video samples: where the first key frame starts, what is captured in front of it,
// which samples may begin a file, and what a switched file's first sample carries.
#include "recorder/key_frame_scan.h"
#include "recorder_fixture.h"

using namespace recorder_test;
using namespace key_frame_scan;

namespace {

struct ScanCase {
  const char* name;
  const char* hex;
  ptrdiff_t keyFrameAt;  // FindH264Idr
  bool rotation;         // IsH264RotationPoint
};

const ScanCase kH264Cases[] = {
    {"aud sps pps idr with 4-byte start codes", "00 00 00 01 09 10 00 00 00 01 67 42 00 00 00 01 68 ce 00 00 00 01 65 88 84",
     19, true},
    {"idr first", "00 00 01 65 88 84", 0, true},
    {"idr first, 5 bytes", "00 00 01 65 88", -1, false},
    {"idr start code too close to the end", "00 00 01 41 9a 00 00 01 65 88", -1, false},
    {"idr start code last in the window", "00 00 01 41 9a 00 00 01 65 88 84", 5, false},
    {"nal_ref_idc bits do not matter", "00 00 01 25 88 84", 0, true},
    {"sps first", "00 00 01 67 42 00 1e 00 00 01 68 ce 00 00 01 65 88 84", 12, true},
    {"pps first", "00 00 01 68 ce 00 00 01 65 88 84", 5, true},
    {"non-idr slice", "00 00 01 41 9a 22 11 00", -1, false},
    {"sei first, idr after", "00 00 01 06 05 00 00 01 65 88 84", 5, false},
    {"garbage before the first start code", "ff ff 00 00 01 65 88 84", 2, true},
    {"too short", "00 00 01 67", -1, false},
    {"empty", "", -1, false},
    // An access unit delimiter in front of an IDR picture opens a file too.
    {"aud then idr", "00 00 00 01 09 10 00 00 00 01 65 88 84 21", 7, true},
    {"aud sei idr", "00 00 01 09 10 00 00 01 06 05 01 00 00 01 65 88 84", 11, true},
    {"aud then non-idr", "00 00 00 01 09 30 00 00 00 01 41 9a 22 11", -1, false},
    {"aud alone", "00 00 00 01 09 10 00 00", -1, false},
};

TEST(StreamInspection, H264Scans) {
  for (const ScanCase& c : kH264Cases) {
    SCOPED_TRACE(c.name);
    std::vector<BYTE> bytes = Hex(c.hex);
    EXPECT_EQ(c.keyFrameAt, FindH264Idr(bytes.data(), bytes.size()));
    EXPECT_EQ(c.rotation, IsH264RotationPoint(bytes.data(), bytes.size()));
  }
}

TEST(StreamInspection, Mpeg4Scans) {
  struct Case {
    const char* name;
    const char* hex;
    ptrdiff_t vopAt;
    bool rotation;
  } cases[] = {
      {"intra plane", "00 00 01 b6 10 aa bb", 0, true},
      {"predicted plane", "00 00 01 b6 50 aa bb", 0, false},
      {"bidirectional plane", "00 00 01 b6 90 aa bb", 0, false},
      {"sprite plane", "00 00 01 b6 d0 aa bb", 0, false},
      {"headers then intra plane", "00 00 01 b0 01 00 00 01 b5 09 00 00 01 00 00 00 01 20 08 00 00 01 b3 00 00 01 b6 10 aa",
       23, true},
      {"headers then predicted plane", "00 00 01 b0 01 00 00 01 b6 50 aa bb", 5, false},
      {"headers only", "00 00 01 b0 01 00 00 01 b5 09 00 00", -1, false},
      {"six bytes", "00 00 01 b6 10 aa", 0, true},
      {"five bytes", "00 00 01 b6 10", -1, false},
      {"four bytes", "00 00 01 b6", -1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<BYTE> bytes = Hex(c.hex);
    EXPECT_EQ(c.vopAt, FindMpeg4Vop(bytes.data(), bytes.size()));
    EXPECT_EQ(c.rotation, IsMpeg4RotationPoint(bytes.data(), bytes.size()));
  }
}

// --- Through the recorder ----------------------------------------------------------------------

const std::string kAud = "00 00 00 01 09 10 ";
const std::string kSps = "00 00 00 01 67 42 c0 1e d9 ";
const std::string kPps = "00 00 00 01 68 ce 3c 80 ";
const std::string kIdr = "00 00 00 01 65 88 84 00 33 ";
const std::string kSlice = "00 00 00 01 41 9a 22 11 ";

const std::string kVol = "00 00 01 b0 01 00 00 01 b5 09 00 00 01 00 00 00 01 20 08 c8 ";
const std::string kIntraVop = "00 00 01 b6 10 aa bb cc ";
const std::string kPredictedVop = "00 00 01 b6 50 aa bb cc ";

class RecorderInspection : public RecorderFixture {
 protected:
  void Record(REFGUID subtype) {
    Connect(false, true, subtype);
    ASSERT_EQ(S_OK, Name("a.asf"));
    ASSERT_EQ(S_OK, recorder->StartRecording());
  }
  // Writes the samples in turn; returns the first status that is not S_OK.
  HRESULT Write(const std::vector<std::string>& samples) {
    for (const std::string& hex : samples) {
      HRESULT hr = Video(m_time, Hex(hex));
      m_time += kFrame;
      if (hr != S_OK) return hr;
    }
    return S_OK;
  }
  // The bytes of the first sample of the file the recorder switched to last.
  std::vector<BYTE> FirstOfLastFile() {
    for (const WrittenSample& s : script.samples)
      if (s.writer == script.writersCreated - 1) return s.bytes;
    return {};
  }
  REFERENCE_TIME m_time = 0;
};

// The header in front of the first IDR slice goes in front of the sample that begins the new
// file, also when that sample brings its own parameter sets.
TEST_F(RecorderInspection, H264HeaderPrefixesTheSwitchedFile) {
  Record(MEDIASUBTYPE_H264_INPUT);
  const std::string header = kAud + kSps + kPps + "00";
  ASSERT_EQ(S_OK, Write({kAud + kSps + kPps + kIdr, kAud + kSlice}));
  ASSERT_EQ(S_OK, Name("b.asf"));
  ASSERT_EQ(S_OK, Write({kAud + kSlice, kSlice, kSps + kPps + kIdr}));
  ASSERT_EQ(2, script.writersCreated);
  EXPECT_EQ(4, script.CountSamples(kVideoStreamNumber, 0));
  EXPECT_EQ(Concat(Hex(header), Hex(kSps + kPps + kIdr)), FirstOfLastFile());

  // The next switch comes at an access unit that opens with a delimiter before its IDR picture.
  ASSERT_EQ(S_OK, Name("c.asf"));
  ASSERT_EQ(S_OK, Write({kAud + kSlice, kAud + kIdr}));
  ASSERT_EQ(3, script.writersCreated);
  EXPECT_EQ(Concat(Hex(header), Hex(kAud + kIdr)), FirstOfLastFile());
  // Later samples carry no prefix.
  ASSERT_EQ(S_OK, Write({kAud + kSlice}));
  EXPECT_EQ(Hex(kAud + kSlice), script.samples.back().bytes);
}

// Samples before the first IDR picture are written and scanned again one by one; until then a
// new name waits for the next start.
TEST_F(RecorderInspection, H264StreamBeginningWithoutAKeyFrame) {
  Record(MEDIASUBTYPE_H264_INPUT);
  ASSERT_EQ(S_OK, Write({kSlice, kSlice}));
  ASSERT_EQ(S_OK, Name("early.asf"));
  ASSERT_EQ(S_OK, Write({kSps + kPps + kIdr, kSlice, kIdr}));
  EXPECT_EQ(1, script.writersCreated);
  EXPECT_EQ(5, script.CountSamples(kVideoStreamNumber, 0));
  ASSERT_EQ(S_OK, Name("b.asf"));
  ASSERT_EQ(S_OK, Write({kSlice, kIdr}));
  ASSERT_EQ(2, script.writersCreated);
  EXPECT_EQ(Concat(Hex(kSps + kPps + "00"), Hex(kIdr)), FirstOfLastFile());
}

TEST_F(RecorderInspection, HeaderLengthDecidesThePrefix) {
  struct Case {
    const char* name;
    size_t fillerBytes;  // in front of the first IDR start code
    bool prefixed;
  } cases[] = {
      {"key frame at offset 0", 0, false},
      {"header of 1023 bytes", 1023, true},
      {"header of 1024 bytes is not captured", 1024, false},
      {"header of 5000 bytes is not captured", 5000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder = std::make_unique<CASFRecorder>(&owner);
    script = WriterScript{};
    Record(MEDIASUBTYPE_H264_INPUT);
    // An SEI message padded out to the wanted length; the IDR start code's three bytes follow.
    std::vector<BYTE> first;
    if (c.fillerBytes) {
      first = Hex("00 00 01 06");
      first.resize(c.fillerBytes, 0xFF);
    }
    std::vector<BYTE> idr = Hex("00 00 01 65 88 84 00 33");
    first.insert(first.end(), idr.begin(), idr.end());
    ASSERT_EQ(S_OK, Video(0, first));
    ASSERT_EQ(S_OK, Name("b.asf"));
    ASSERT_EQ(S_OK, Video(kFrame, idr));
    ASSERT_EQ(2, script.writersCreated);
    std::vector<BYTE> expected = idr;
    if (c.prefixed) expected = Concat(std::vector<BYTE>(first.begin(), first.begin() + c.fillerBytes), idr);
    EXPECT_EQ(expected, FirstOfLastFile());
  }
}

TEST_F(RecorderInspection, Mpeg4SwitchesAtAnIntraPlaneWithTheHeaders) {
  Record(MEDIASUBTYPE_xvid);
  ASSERT_EQ(S_OK, Write({kVol + kIntraVop, kPredictedVop}));
  ASSERT_EQ(S_OK, Name("b.asf"));
  ASSERT_EQ(S_OK, Write({kPredictedVop, kPredictedVop}));
  EXPECT_EQ(1, script.writersCreated);
  ASSERT_EQ(S_OK, Write({kIntraVop}));
  ASSERT_EQ(2, script.writersCreated);
  EXPECT_EQ(Hex(kVol + kIntraVop), FirstOfLastFile());
}

// A first sample without a plane still counts as inspected; nothing is captured.
TEST_F(RecorderInspection, Mpeg4FirstSampleWithoutAPlane) {
  Record(MEDIASUBTYPE_xvid);
  ASSERT_EQ(S_OK, Write({kVol}));
  ASSERT_EQ(S_OK, Name("b.asf"));
  ASSERT_EQ(S_OK, Write({kIntraVop}));
  ASSERT_EQ(2, script.writersCreated);
  EXPECT_EQ(Hex(kIntraVop), FirstOfLastFile());
}

// Without an inspection every sample is a key frame: the very next video sample switches, with
// no prefix. Upper-case "XVID" and a FOURCC H.264 subtype are such classes too.
TEST_F(RecorderInspection, UninspectedClassesSwitchAtTheNextSample) {
  for (GUID subtype : {MEDIASUBTYPE_MJPG, MEDIASUBTYPE_IYUV, MEDIASUBTYPE_XVID, FourCCGuid("H264")}) {
    SCOPED_TRACE(GuidToString(subtype));
    recorder = std::make_unique<CASFRecorder>(&owner);
    script = WriterScript{};
    Record(subtype);
    ASSERT_EQ(S_OK, Write({kVol + kIntraVop}));
    ASSERT_EQ(S_OK, Name("b.asf"));
    ASSERT_EQ(S_OK, Write({kPredictedVop}));
    ASSERT_EQ(2, script.writersCreated);
    EXPECT_EQ(Hex(kPredictedVop), FirstOfLastFile());
  }
}

// The switched file's samples keep the stream's times and its flags.
TEST_F(RecorderInspection, SwitchedFileContinuesTheTimes) {
  Record(MEDIASUBTYPE_MJPG);
  ASSERT_EQ(S_OK, Write({"ff d8 01 02 03 04", "ff d8 01 02 03 05"}));
  ASSERT_EQ(S_OK, Name("b.asf"));
  ASSERT_EQ(S_OK, Write({"ff d8 01 02 03 06"}));
  ASSERT_EQ(3u, script.samples.size());
  EXPECT_EQ(1, script.samples[2].writer);
  EXPECT_EQ(static_cast<QWORD>(2 * kFrame), script.samples[2].time);
  EXPECT_EQ(80u, script.samples[2].sendTime);
  EXPECT_EQ(WM_SF_CLEANPOINT, script.samples[2].flags);
}

}  // namespace
