// Where a picture's time comes from: the frame rate the stream states (H.264 timing information
// and picture structure, the MPEG-4 time base and its not-coded planes, the Y4M header), the one
// given, or 25 with a warning.
#include <gtest/gtest.h>

#include "sources/h264_splitter.h"
#include "sources/h264_sps.h"
#include "sources/mpeg4_splitter.h"
#include "sources/parsed_source.h"
#include "tests/sources/bit_writer.h"
#include "tests/sources/fixtures.h"
#include "tests/sources/source_test_files.h"
#include "tests/sources/split_all.h"

namespace {

// --- H.264 ------------------------------------------------------------------------------------

struct SpsTiming {
  bool frame_mbs_only = true;
  uint32_t num_units_in_tick = 0;  // 0: no timing information
  uint32_t time_scale = 0;
  bool hrd = false;  // NAL HRD parameters, which put two delays in front of pic_struct
  bool pic_struct = false;
};

constexpr unsigned kCpbDelayBits = 11, kDpbDelayBits = 6;

std::vector<BYTE> Sps(const SpsTiming& t) {
  BitWriter w;
  w.Bits(66, 8).Bits(0, 8).Bits(30, 8).Ue(0);  // Baseline, level 3, id 0
  w.Ue(0).Ue(2).Ue(1).Bit(0);                   // frame_num 4 bits, POC type 2, one reference
  w.Ue(19).Ue(t.frame_mbs_only ? 14 : 7).Bit(t.frame_mbs_only);  // 320x240
  if (!t.frame_mbs_only) w.Bit(1);                               // MBAFF
  w.Bit(1).Bit(0);                                               // direct 8x8, no cropping
  w.Bit(1);                                                      // VUI
  w.Bit(0).Bit(0).Bit(0).Bit(0);  // no aspect ratio, overscan, signal type, chroma location
  w.Bit(t.num_units_in_tick != 0);
  if (t.num_units_in_tick) w.Bits(t.num_units_in_tick, 32).Bits(t.time_scale, 32).Bit(1);
  w.Bit(t.hrd);
  if (t.hrd) {
    w.Ue(0).Bits(4, 4).Bits(6, 4).Ue(5000).Ue(3000).Bit(0);
    w.Bits(23, 5).Bits(kCpbDelayBits - 1, 5).Bits(kDpbDelayBits - 1, 5).Bits(24, 5);
  }
  w.Bit(0);  // no VCL HRD
  if (t.hrd) w.Bit(0);
  w.Bit(t.pic_struct).Bit(0);  // no bitstream restriction
  return w.Trailing().WithStartCode(0x67, true);
}

std::vector<BYTE> Slice(bool idr, bool field) {
  BitWriter w;
  w.Ue(0).Ue(idr ? 7 : 5).Ue(0).Bits(3, 4);  // first_mb 0, I or P, PPS 0, frame_num
  w.Bit(field).Bit(0);                       // field_pic_flag (read only when fields may be), bottom
  w.Bits(0x5A5A, 16);                        // stands in for the rest of the slice
  return w.Trailing().WithStartCode(idr ? 0x65 : 0x41, true);
}

std::vector<BYTE> PictureTiming(unsigned pic_struct, bool hrd) {
  BitWriter payload;
  if (hrd) payload.Bits(1, kCpbDelayBits).Bits(2, kDpbDelayBits);
  payload.Bits(pic_struct, 4).Bits(0, 4);  // no clock timestamps
  std::vector<BYTE> body = payload.WithStartCode(0);
  BitWriter w;
  w.Bits(1, 8).Bits(static_cast<uint32_t>(body.size() - 5), 8);  // type 1 (picture timing), its size
  for (size_t i = 5; i < body.size(); ++i) w.Bits(body[i], 8);
  return w.Trailing().WithStartCode(0x06, true);
}

void Append(std::vector<BYTE>& out, const std::vector<BYTE>& more) { out.insert(out.end(), more.begin(), more.end()); }

// A stream of `pictures` access units: parameter sets, then for each an optional picture timing
// SEI and one slice.
std::vector<BYTE> H264Stream(const SpsTiming& sps, const std::vector<unsigned>& pic_structs, bool fields,
                             size_t pictures) {
  std::vector<BYTE> out = Sps(sps);
  Append(out, BitWriter().Ue(0).Ue(0).Bit(0).Bit(0).Trailing().WithStartCode(0x68));
  for (size_t i = 0; i < pictures; ++i) {
    if (!pic_structs.empty()) Append(out, PictureTiming(pic_structs[i % pic_structs.size()], sps.hrd));
    Append(out, Slice(i == 0, fields));
  }
  return out;
}

struct H264RateCase {
  const char* what;
  std::vector<BYTE> sps;
  FramesPerSecond rate;  // unknown: {0, 0}
  bool pic_struct;
};

TEST(FrameRate, H264FromTheTimingInformation) {
  const H264RateCase cases[] = {
      // x264 and ffmpeg's libx264, as in the end-to-end cases.
      {"50 fps", FromHex("67640015acd94141fb0110000003001000000640f162d960"), {50, 1}, false},
      {"29.97 fps", FromHex("6764000dacd94141fb011000003e90000ea600f1429960"), {30000, 1001}, false},
      {"25 fps interlaced: time_scale counts fields", FromHex("67640015acd941410fcb808800000300080000030190f8a14cb0"),
       {25, 1}, true},
      {"the committed fixture, 25 fps", FromHex("6764000dacb20283f60220000003002000000651e28549"), {25, 1}, false},
      {"x264 Baseline, cropped: its VUI has timing too", FromHex("6742c00bd903447965c044000003000400000300ca3c50a920"),
       {25, 1}, false},
      {"VUI without timing information", Sps({}), {}, false},
      {"HRD parameters in front of pic_struct_present_flag", Sps({true, 1001, 48000, true, true}), {24000, 1001}, true},
      {"a tick count of zero", Sps({true, 0, 0, false, false}), {}, false},
      {"half a billion frames a second is not believed", Sps({true, 1, 1000000000, false, false}), {}, false},
  };
  for (const H264RateCase& c : cases) {
    SCOPED_TRACE(c.what);
    H264SequenceInfo info;
    std::string error;
    ASSERT_TRUE(ParseH264Sps(c.sps.data() + (c.sps[0] == 0 ? 4 : 0), c.sps.size() - (c.sps[0] == 0 ? 4 : 0), &info, &error))
        << error;
    FramesPerSecond rate = H264FrameRate(info);
    EXPECT_EQ(rate.num, c.rate.num);
    EXPECT_EQ(rate.den, c.rate.den);
    EXPECT_EQ(info.pic_struct_present, c.pic_struct);
  }
}

struct H264FieldsCase {
  const char* what;
  SpsTiming sps;
  std::vector<unsigned> pic_structs;  // one SEI per picture, in turn; none when empty
  bool field_pictures;
  std::vector<unsigned> fields;       // of the units handed out
};

TEST(FrameRate, H264UnitsLastTheirFieldPeriods) {
  const H264FieldsCase cases[] = {
      {"progressive frames", {true, 1, 50, false, false}, {}, false, {2, 2, 2}},
      {"field pictures: each access unit is one field", {false, 1, 50, false, false}, {}, true, {1, 1, 1, 1}},
      {"MBAFF frames of an interlaced stream", {false, 1, 50, false, false}, {}, false, {2, 2}},
      {"pic_struct: frame, repeated field, doubled, tripled, top-bottom",
       {true, 1001, 60000, false, true}, {0, 5, 7, 8, 3}, false, {2, 3, 4, 6, 2}},
      {"pic_struct behind the HRD delays", {false, 1, 50, true, true}, {1, 2, 4}, true, {1, 1, 2}},
      {"pic_struct in a stream whose SPS does not announce it is not read", {true, 1, 50, false, false}, {5, 5}, false,
       {2, 2}},
  };
  for (const H264FieldsCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<BYTE> stream = H264Stream(c.sps, c.pic_structs, c.field_pictures, c.fields.size());
    for (Chunking chunking : {Chunking{}, Chunking{1, false}}) {
      H264AccessUnitSplitter splitter;
      SplitResult result = SplitAll(splitter, stream, chunking);
      ASSERT_EQ(result.status, S_OK) << result.error;
      std::vector<unsigned> fields;
      for (const CollectedUnit& u : result.units) fields.push_back(u.fields);
      EXPECT_EQ(fields, c.fields);
      EXPECT_TRUE(Concatenate(result.units) == stream);
    }
  }
}

// --- MPEG-4 Part 2 ------------------------------------------------------------------------------

unsigned IncrementBits(unsigned resolution) {
  unsigned bits = 1;
  while (bits < 16 && (1u << bits) < resolution) ++bits;
  return bits;
}

std::vector<BYTE> Vol(unsigned resolution, unsigned fixed_increment) {
  BitWriter w;
  w.Bit(0).Bits(1, 8).Bit(0).Bits(1, 4).Bit(0);  // simple object, square pixels, no control parameters
  w.Bits(0, 2).Bit(1).Bits(resolution, 16).Bit(1);
  w.Bit(fixed_increment != 0);
  if (fixed_increment) w.Bits(fixed_increment, IncrementBits(resolution));
  w.Bit(1).Bits(320, 13).Bit(1).Bits(240, 13).Bit(1).Bits(0x11, 8);  // size, and what follows it
  return w.Stuffing().WithStartCode(0x20);
}

struct Plane {
  unsigned type;       // 0 I, 1 P, 2 B
  unsigned increment;  // ticks since the last full second
  bool coded = true;
  unsigned seconds = 0;  // modulo_time_base
};

std::vector<BYTE> Vop(const Plane& p, unsigned resolution) {
  BitWriter w;
  w.Bits(p.type, 2);
  for (unsigned s = 0; s < p.seconds; ++s) w.Bit(1);
  w.Bit(0).Bit(1).Bits(p.increment, IncrementBits(resolution)).Bit(1).Bit(p.coded);
  if (p.coded) w.Bits(0xABCD, 16);  // stands in for the picture
  return w.Stuffing().WithStartCode(0xB6);
}

std::vector<BYTE> Mpeg4Stream(unsigned resolution, unsigned fixed, const std::vector<Plane>& planes) {
  std::vector<BYTE> out = Vol(resolution, fixed);
  for (const Plane& p : planes) Append(out, Vop(p, resolution));
  return out;
}

// Decode order of I P B B groups at one tick a frame, DivX-style packed when asked: a not-coded
// plane after each run of B-planes stands in for the P-plane that was sent early.
std::vector<Plane> Group(unsigned groups, unsigned step, unsigned resolution, bool packed) {
  std::vector<Plane> planes;
  auto at = [&](unsigned frame, unsigned type, bool coded = true) {
    unsigned ticks = frame * step;
    planes.push_back({type, ticks % resolution, coded, ticks / resolution});
  };
  at(0, 0);
  for (unsigned g = 0; g < groups; ++g) {
    unsigned p = 3 * g + 3;
    at(p, 1);
    at(p - 2, 2);
    at(p - 1, 2);
    if (packed) at(p, 1, false);
  }
  return planes;
}

struct Mpeg4RateCase {
  const char* what;
  std::vector<BYTE> stream;
  FramesPerSecond rate;
  size_t units;
  size_t timeless;  // units that take no frame time
};

TEST(FrameRate, Mpeg4FromTheTimeBase) {
  const Mpeg4RateCase cases[] = {
      {"fixed_vop_rate states it", Mpeg4Stream(30000, 1001, {{0, 0}, {1, 1001}}), {30000, 1001}, 2, 0},
      {"without a fixed rate: the smallest step among B-planes out of order",
       Mpeg4Stream(25, 0, Group(4, 1, 25, false)), {25, 1}, 13, 0},
      {"steps across whole seconds, 29.97", Mpeg4Stream(30000, 0, Group(12, 1001, 30000, false)), {30000, 1001}, 37, 0},
      {"two planes and the end: one step is all there is", Mpeg4Stream(24, 0, {{0, 0}, {1, 2}}), {12, 1}, 2, 0},
      {"packed: the not-coded planes take no time and do not count as steps",
       Mpeg4Stream(25, 0, Group(4, 1, 25, true)), {25, 1}, 17, 4},
  };
  for (const Mpeg4RateCase& c : cases) {
    SCOPED_TRACE(c.what);
    Mpeg4VopSplitter splitter;
    SplitResult result = SplitAll(splitter, c.stream);
    ASSERT_EQ(result.status, S_OK) << result.error;
    EXPECT_EQ(result.units.size(), c.units);
    EXPECT_TRUE(Concatenate(result.units) == c.stream);
    FramesPerSecond rate = splitter.StatedFrameRate();
    EXPECT_EQ(rate.num, c.rate.num);
    EXPECT_EQ(rate.den, c.rate.den);
  }
}

TEST(FrameRate, Mpeg4NotCodedPlanesAreUnitsOfNoTime) {
  const std::vector<BYTE> stream = Mpeg4Stream(25, 0, Group(2, 1, 25, true));
  for (Chunking chunking : {Chunking{}, Chunking{1, false}}) {
    Mpeg4VopSplitter splitter;
    SplitResult result = SplitAll(splitter, stream, chunking);
    ASSERT_EQ(result.status, S_OK) << result.error;
    std::vector<unsigned> fields;
    for (const CollectedUnit& u : result.units) fields.push_back(u.fields);
    EXPECT_EQ(fields, (std::vector<unsigned>{2, 2, 2, 2, 0, 2, 2, 2, 0}));
    EXPECT_EQ(result.units[4].bytes.size(), Vop({1, 3, false}, 25).size());  // carried whole
  }
}

// --- The source: stated, given, or the default --------------------------------------------------

struct SourceRateCase {
  const char* what;
  StreamFormat format;
  std::vector<BYTE> input;
  double fps;  // given; 0 for none
  FramesPerSecond rate;
  size_t units;
  REFERENCE_TIME end;  // stop time of the last unit
  bool warned;         // the one-line notice that 25 is assumed
};

TEST(FrameRate, SourceTakesTheGivenRateThenTheStreamsThenTwentyFive) {
  const std::vector<BYTE> h264 = ReadFixture("h264-aud.264");
  const std::vector<BYTE> m4v = ReadFixture("mpeg4.m4v");
  const std::vector<BYTE> mjpeg = ReadFixture("mjpeg.mjpeg");
  const std::vector<BYTE> y4m = ReadFixture("video.y4m");
  const SourceRateCase cases[] = {
      {"H.264 fixture: its timing information", StreamFormat::H264, h264, 0, {25, 1}, 100, 40000000, false},
      {"H.264 at 29.97: times from the frame count, not rounded per frame", StreamFormat::H264,
       H264Stream({true, 1001, 60000, false, false}, {}, false, 300), 0, {30000, 1001}, 300, 100100000, false},
      {"H.264 field pictures at 50 fields a second", StreamFormat::H264,
       H264Stream({false, 1, 50, false, false}, {}, true, 50), 0, {25, 1}, 50, 10000000, false},
      {"H.264 without timing", StreamFormat::H264, H264Stream({}, {}, false, 10), 0, {25, 1}, 10, 4000000, true},
      {"MPEG-4 from ffmpeg, no fixed rate: read ahead for the steps", StreamFormat::Mpeg4, m4v, 0, {25, 1}, 100,
       40000000, false},
      {"MPEG-4 packed at 25: 13 pictures, 4 not-coded planes", StreamFormat::Mpeg4,
       Mpeg4Stream(25, 0, Group(4, 1, 25, true)), 0, {25, 1}, 17, 5200000, false},
      {"MJPEG states no rate", StreamFormat::Mjpeg, mjpeg, 0, {25, 1}, 100, 40000000, true},
      {"Y4M: its header", StreamFormat::Y4m, y4m, 0, {10, 1}, 40, 40000000, false},
      {"given over the Y4M header", StreamFormat::Y4m, y4m, 20, {20, 1}, 40, 20000000, false},
      {"given over H.264 timing", StreamFormat::H264, h264, 50, {50, 1}, 100, 20000000, false},
      {"given for MJPEG: no notice", StreamFormat::Mjpeg, mjpeg, 29.97, {2997, 100}, 100, 33366700, false},
  };
  for (const SourceRateCase& c : cases) {
    SCOPED_TRACE(c.what);
    SourceRun run = RunSource(c.format, c.input, c.fps);
    ASSERT_EQ(run.open, S_OK) << run.error;
    EXPECT_EQ(run.end, S_FALSE) << run.error;
    EXPECT_EQ(run.rate.num, c.rate.num);
    EXPECT_EQ(run.rate.den, c.rate.den);
    ASSERT_EQ(run.stops.size(), c.units);
    EXPECT_EQ(run.stops.back(), c.end);
    for (size_t i = 1; i < run.starts.size(); ++i) ASSERT_EQ(run.starts[i], run.stops[i - 1]) << "unit " << i;
    if (c.warned) {
      ASSERT_EQ(run.warnings.size(), 1u);
      EXPECT_EQ(run.warnings[0], "no frame rate in " + run.path + "; using 25 fps (set --fps)");
    } else {
      EXPECT_TRUE(run.warnings.empty()) << run.warnings[0];
    }
  }
}

}  // namespace
