// lynxcam's compressed modes: a frame from the camera's JPEG encoder decodes with the driver's
// decoder and becomes 24-bit RGB, bottom-up; a damaged frame gives no output at all.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <vector>

#include "camjpeg.h"
#include "image/decoder.h"
#include "image/frame_paths.h"

namespace camjpeg {
// Test names show the sampling, not its bytes.
static void PrintTo(ChromaSampling sampling, std::ostream* os) {
  *os << (sampling == ChromaSampling::k422 ? "4:2:2" : "4:2:0");
}
}  // namespace camjpeg

namespace {

constexpr uint32_t kWidth = 64, kHeight = 16, kBarWidth = 8;
// Colour bars, red, green, blue per bar: white, yellow, cyan, green, magenta, red, blue, black.
const uint8_t kBars[8][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                             {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16}};

std::vector<uint8_t> BarsPicture() {
  std::vector<uint8_t> pixels(3 * kWidth * kHeight);
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (uint32_t x = 0; x < kWidth; ++x) {
      for (int c = 0; c < 3; ++c) pixels[3 * (y * kWidth + x) + c] = kBars[x / kBarWidth][c];
    }
  }
  return pixels;
}

class CompressedFrameTest : public testing::TestWithParam<camjpeg::ChromaSampling> {
 protected:
  void SetUp() override {
    ASSERT_EQ(CreateDecoder(&decoder_), STATUS_SUCCESS);
    ASSERT_EQ(InitDecoderTables(decoder_, kBuiltInQuantTable0, kBuiltInQuantTable1, TRUE),
              STATUS_SUCCESS);
    FillConversionTables(&tables_);
  }
  void TearDown() override { DestroyDecoder(decoder_); }

  ULONG Decode(const std::vector<uint8_t>& jpeg, std::vector<UCHAR>* rgb) {
    std::vector<UCHAR> work(2 * kWidth * kHeight);
    rgb->assign(3 * kWidth * kHeight, 0);
    return DecodeToRgb(
        decoder_, *SelectColorRoutines(true), tables_, jpeg.data(), static_cast<ULONG>(jpeg.size()),
        work.data(), static_cast<ULONG>(work.size()), rgb->data(), static_cast<ULONG>(rgb->size()),
        kWidth, kHeight, GetParam() == camjpeg::ChromaSampling::k422);
  }

  DecoderState* decoder_ = nullptr;
  DecodedColorTables tables_;
};

TEST_P(CompressedFrameTest, ColourBarsComeOutBottomUpInBlueGreenRed) {
  camjpeg::EncodeOptions options;
  options.sampling = GetParam();
  options.quality = 90;
  std::vector<uint8_t> picture = BarsPicture();
  std::vector<uint8_t> jpeg = camjpeg::EncodeRgb(picture.data(), kWidth, kHeight, options);
  ASSERT_FALSE(jpeg.empty());
  std::vector<UCHAR> rgb;
  ASSERT_EQ(Decode(jpeg, &rgb), 3 * kWidth * kHeight);
  // The middle of every bar, on the top row of the picture (the last row of the output) and the
  // bottom row (the first).
  for (uint32_t bar = 0; bar < 8; ++bar) {
    const uint32_t x = bar * kBarWidth + kBarWidth / 2;
    for (uint32_t row : {0u, kHeight - 1}) {
      const UCHAR* pixel = &rgb[3 * (row * kWidth + x)];
      for (int c = 0; c < 3; ++c) {
        EXPECT_LE(std::abs(int(pixel[c]) - int(kBars[bar][2 - c])), 12)
            << "bar " << bar << " row " << row << " byte " << c;
      }
    }
  }
}

TEST_P(CompressedFrameTest, DamagedOrForeignFramesGiveNothing) {
  camjpeg::EncodeOptions options;
  options.sampling = GetParam();
  options.restartInterval = 1;
  options.corruptInterval = 0;
  std::vector<uint8_t> picture = BarsPicture();
  std::vector<uint8_t> damaged = camjpeg::EncodeRgb(picture.data(), kWidth, kHeight, options);
  ASSERT_FALSE(damaged.empty());
  std::vector<UCHAR> rgb;
  EXPECT_EQ(Decode(damaged, &rgb), 0u);
  // A good frame of another size than the format's is not read as this format.
  options.restartInterval = 0;
  options.corruptInterval = -1;
  std::vector<uint8_t> narrow = camjpeg::EncodeRgb(picture.data(), kWidth / 2, kHeight, options);
  EXPECT_EQ(Decode(narrow, &rgb), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sampling, CompressedFrameTest,
                         testing::Values(camjpeg::ChromaSampling::k422,
                                         camjpeg::ChromaSampling::k420));

}  // namespace
