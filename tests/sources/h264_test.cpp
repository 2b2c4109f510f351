#include <gtest/gtest.h>

#include "sources/h264_splitter.h"
#include "sources/h264_sps.h"
#include "tests/sources/fixtures.h"
#include "tests/sources/split_all.h"

namespace {

struct SpsCase {
  const char* what;
  const char* hex;  // NAL unit, header byte first
  unsigned width, height;
  bool frame_mbs_only;
};

// Taken from x264 output (the fixtures, and --tff / --output-csp i422 runs).
const SpsCase kSpsCases[] = {
    {"High, no cropping", "6764000dacb20283f60220000003002000000651e28549", 320, 240, true},
    {"Baseline, cropped right and bottom", "6742c00bd903447965c044000003000400000300ca3c50a920", 200, 120, true},
    {"High, scaling matrices", "6764000bacd942c4ec0440000003004000000ca3c50a6580", 176, 144, true},
    {"High, interlaced (field pairs)", "67640015acd941612d808800000300080000030194f8a14cb0", 352, 288, false},
    {"High 4:2:2, interlaced, cropped", "677a0015bcd941612fcb808800000300080000030194f8a14cb0", 352, 280, false},
};

TEST(H264Sps, SizeFromMacroblocksFieldsAndCropping) {
  for (const SpsCase& c : kSpsCases) {
    SCOPED_TRACE(c.what);
    std::vector<BYTE> nal = FromHex(c.hex);
    H264SequenceInfo info;
    std::string error;
    ASSERT_TRUE(ParseH264Sps(nal.data(), nal.size(), &info, &error)) << error;
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.height);
    EXPECT_EQ(info.frame_mbs_only, c.frame_mbs_only);
  }
}

TEST(H264Sps, MalformedIsRefusedWithAReason) {
  const std::pair<const char*, const char*> cases[] = {
      {"67640015acd9", "truncated"},                        // cut inside the picture size
      {"6764001e9400", "chroma format"},                    // chroma_format_idc 4
      {"67", "too short"},
      {"6742c00bd9ff", "truncated"},                        // exp-Golomb runs off the end
      {"6742c00bddf89e", "cropping"},                      // crop 16 of 16 columns
  };
  for (auto [hex, reason] : cases) {
    SCOPED_TRACE(hex);
    std::vector<BYTE> nal = FromHex(hex);
    H264SequenceInfo info;
    std::string error;
    EXPECT_FALSE(ParseH264Sps(nal.data(), nal.size(), &info, &error));
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  }
}

// A stream of NAL units, "|" marking where an access unit must begin.
struct SplitCase {
  const char* what;
  std::vector<const char*> nals;
};

const char* kSps = "6742c00bd903447965c044000003000400000300ca3c50a920";

const SplitCase kSplitCases[] = {
    {"slices of one picture stay together; first_mb_in_slice 0 starts the next",
     {"|6588 84", "6548 80", "|4188 20", "4148 20"}},
    {"parameter sets and SEI after a slice begin a new unit",
     {"|4188 20", "|67", "68ce3880", "0605 1122", "6588 84", "|0605 1122", "4188 20"}},
    {"a delimiter always begins a unit, even with no picture before it",
     {"|0910", "|0910", "4188 20", "|0910", "4188 20"}},
    {"end of sequence and filler stay with the picture before them",
     {"|6588 84", "0a", "0cff ff80", "|6588 84"}},
    {"data partitions B and C stay; A with first_mb 0 begins",
     {"|2288 20", "2380", "2480", "|2288 20"}},
};

TEST(H264Split, AccessUnitBoundaries) {
  for (const SplitCase& c : kSplitCases) {
    SCOPED_TRACE(c.what);
    std::vector<BYTE> stream;
    std::vector<std::vector<BYTE>> expected;
    for (const char* nal : c.nals) {
      std::string hex = nal;
      if (hex[0] == '|') {
        expected.emplace_back();
        hex = hex.substr(1);
      }
      if (hex == "67") hex = kSps;
      std::vector<BYTE> bytes = {0, 0, 0, 1};
      for (BYTE b : FromHex(hex)) bytes.push_back(b);
      stream.insert(stream.end(), bytes.begin(), bytes.end());
      expected.back().insert(expected.back().end(), bytes.begin(), bytes.end());
    }
    for (Chunking chunking : {Chunking{}, Chunking{1, false}}) {
      H264AccessUnitSplitter splitter;
      SplitResult result = SplitAll(splitter, stream, chunking);
      ASSERT_EQ(result.status, S_OK) << result.error;
      ASSERT_EQ(result.units.size(), expected.size());
      for (size_t i = 0; i < expected.size(); ++i) EXPECT_TRUE(result.units[i].bytes == expected[i]) << "unit " << i;
    }
  }
}

TEST(H264Split, ZeroBytesGoWithTheNextUnitAndIdrIsSync) {
  // Leading zeros stay in front of the first unit; trailing zeros in front of a start code
  // belong to the unit that the start code begins; 3-byte start codes work as well.
  std::vector<BYTE> stream = FromHex("0000 000001 6588 84 0000 000001 4188 20 00 000001 6588 8400");
  H264AccessUnitSplitter splitter;
  SplitResult result = SplitAll(splitter, stream);
  ASSERT_EQ(result.status, S_OK) << result.error;
  ASSERT_EQ(result.units.size(), 3u);
  EXPECT_TRUE(result.units[0].bytes == FromHex("0000000001658884"));
  EXPECT_TRUE(result.units[1].bytes == FromHex("00000000014188 20"));
  EXPECT_TRUE(result.units[2].bytes == FromHex("00000001658884 00"));
  EXPECT_TRUE(result.units[0].sync);
  EXPECT_FALSE(result.units[1].sync);
  EXPECT_TRUE(result.units[2].sync);
}

TEST(H264Split, BadSequenceParameterSetStopsTheStream) {
  std::vector<BYTE> stream = FromHex("00000001 6764001e9400 00000001 6588 84");
  H264AccessUnitSplitter splitter;
  SplitResult result = SplitAll(splitter, stream);
  EXPECT_EQ(result.status, E_STREAM_INVALID_DATA);
  EXPECT_NE(result.error.find("sequence parameter set"), std::string::npos) << result.error;
  StreamUnit unit;
  EXPECT_EQ(splitter.Next(&unit), E_STREAM_INVALID_DATA);  // sticky
}

}  // namespace
