#include <gtest/gtest.h>

#include "sources/mjpeg_splitter.h"
#include "sources/mpeg4_splitter.h"
#include "tests/sources/fixtures.h"
#include "tests/sources/split_all.h"

namespace {

// FF D9 inside a marker segment, FF 00 stuffing, a restart marker and fill bytes must not end
// the frame; a second scan after a table segment (progressive style) belongs to the same frame.
const char* kFrameA =
    "ffd8 ffe0 0006 ffd9ffd9 ffc0 000b 08 0010 0008 01 011100 ffda 0008 01 0100 003f00"
    "12ff00 34ffd0 56ff00 ffffd9";
const char* kFrameB =
    "ffd8 ffc0 000b 08 0020 0018 01 011100 ffda 0008 01 0100 003f00 ab ffc4 0004 0000"
    "ffda 0008 01 0100 003f00 cdff00 ffd9";

TEST(MjpegSplit, FramesEndAtTheirRealEoi) {
  std::vector<BYTE> a = FromHex(kFrameA), b = FromHex(kFrameB);
  std::vector<BYTE> padded_b = {0x00, 0xFF};
  padded_b.insert(padded_b.end(), b.begin(), b.end());
  std::vector<BYTE> stream = a;
  stream.insert(stream.end(), padded_b.begin(), padded_b.end());
  for (Chunking chunking : {Chunking{}, Chunking{1, false}}) {
    MjpegFrameSplitter splitter;
    SplitResult result = SplitAll(splitter, stream, chunking);
    ASSERT_EQ(result.status, S_OK) << result.error;
    ASSERT_EQ(result.units.size(), 2u);
    EXPECT_TRUE(result.units[0].bytes == a);
    EXPECT_TRUE(result.units[1].bytes == padded_b);  // padding between frames leads the next
    EXPECT_TRUE(result.units[0].sync && result.units[1].sync);
    EXPECT_EQ(splitter.Width(), 24u);
    EXPECT_EQ(splitter.Height(), 32u);
  }
}

TEST(Mpeg4Split, HeadersRideWithThePlaneAfterThem) {
  // VOS, VO, VOL (176x144), GOV, I-plane, P-plane, end code, then headers again and an I-plane.
  const char* vol = "00000120 00844006682c209080";  // rectangular, resolution 25, 176x144
  std::string hex = std::string("000001b001 000001b509 000001000000") + vol +
                    "000001b3000000 000001b610aa 000001b650bb 000001b1" + vol + "000001b600cc";
  std::vector<BYTE> stream = FromHex(hex);
  for (Chunking chunking : {Chunking{}, Chunking{1, false}}) {
    Mpeg4VopSplitter splitter;
    SplitResult result = SplitAll(splitter, stream, chunking);
    ASSERT_EQ(result.status, S_OK) << result.error;
    ASSERT_EQ(result.units.size(), 3u);
    EXPECT_TRUE(result.units[0].sync);   // headers + intra plane
    EXPECT_FALSE(result.units[1].sync);  // P-plane, the end code after it
    EXPECT_TRUE(result.units[2].sync);
    EXPECT_EQ(result.units[1].bytes.size(), 6u + 4u);
    EXPECT_TRUE(Concatenate(result.units) == stream);
    ASSERT_NE(splitter.Layer(), nullptr);
    EXPECT_EQ(splitter.Layer()->width, 176u);
    EXPECT_EQ(splitter.Layer()->height, 144u);
  }
}

}  // namespace
