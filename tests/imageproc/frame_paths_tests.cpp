// The stateless raw-frame paths: compressed copy, RGB 5:6:5 and grey expansion, 10-bit reduction.
#include <gtest/gtest.h>

#include <vector>

#include "image/frame_paths.h"

namespace {

TEST(FramePaths, CompressedCopyIsCutToTheSmallestBound) {
  std::vector<UCHAR> raw(100, 7), frame(80, 0);
  EXPECT_EQ(CopyCompressedFrame(frame.data(), 80, raw.data(), 100, 50), 50u);
  EXPECT_EQ(frame[49], 7);
  EXPECT_EQ(frame[50], 0);
  EXPECT_EQ(CopyCompressedFrame(frame.data(), 80, raw.data(), 100, 1000), 80u);
  EXPECT_EQ(CopyCompressedFrame(frame.data(), 80, raw.data(), 30, 1000), 30u);
}

TEST(FramePaths, Rgb565WorkedValuesAndBounds) {
  const UCHAR raw[] = {0xFF, 0xFF, 0xF8, 0x1F, 0x00, 0x00};
  std::vector<UCHAR> frame(9, 0x55);
  ASSERT_EQ(ExpandRgb565(frame.data(), 9, raw, sizeof raw), 9u);
  EXPECT_EQ(std::vector<UCHAR>(frame.begin(), frame.begin() + 6),
            (std::vector<UCHAR>{0xF8, 0xFC, 0xF8, 0xF8, 0x00, 0xF8}));
  // A frame buffer shorter than the raw frame's output takes only the whole pixels that fit.
  std::vector<UCHAR> shortFrame(8, 0x55);
  EXPECT_EQ(ExpandRgb565(shortFrame.data(), 7, raw, sizeof raw), 6u);
  EXPECT_EQ(shortFrame[6], 0x55);
}

TEST(FramePaths, GreyBecomesThreeEqualBytesWithinTheBuffer) {
  const UCHAR raw[] = {10, 200, 30};
  std::vector<UCHAR> frame(8, 0);
  EXPECT_EQ(ExpandGrey(frame.data(), 8, raw, 3), 6u);
  EXPECT_EQ(std::vector<UCHAR>(frame.begin(), frame.begin() + 6),
            (std::vector<UCHAR>{10, 10, 10, 200, 200, 200}));
}

TEST(FramePaths, TenBitSamplesReduceInPlaceOrNotAtAll) {
  std::vector<UCHAR> raw = {0xFF, 0x03, 0x12, 0x01, 0x34, 0x02};
  std::vector<UCHAR> curve(1024);
  for (int i = 0; i < 1024; ++i) curve[i] = static_cast<UCHAR>(i >> 2);
  std::vector<UCHAR> viaCurve = raw;
  ASSERT_TRUE(ReduceTenBitSamples(viaCurve.data(), 6, 3, curve.data()));
  // Index is low byte x 4 plus bits 8 and 9.
  EXPECT_EQ(viaCurve[0], curve[0xFF * 4 + 3]);
  EXPECT_EQ(viaCurve[1], curve[0x12 * 4 + 1]);
  ASSERT_TRUE(ReduceTenBitSamples(raw.data(), 6, 3, nullptr));
  EXPECT_EQ((std::vector<UCHAR>(raw.begin(), raw.begin() + 3)),
            (std::vector<UCHAR>{0xFF, 0x12, 0x34}));
  std::vector<UCHAR> shortRaw = {1, 2, 3};
  EXPECT_FALSE(ReduceTenBitSamples(shortRaw.data(), 3, 2, nullptr));
  EXPECT_EQ(shortRaw, (std::vector<UCHAR>{1, 2, 3}));
}

}  // namespace
