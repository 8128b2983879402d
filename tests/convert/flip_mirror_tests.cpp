// FlipMirror on 24-bit and packed 16-bit images, and the flip that ends a conversion to RGB.
#include "convert_test_support.h"

namespace {

using namespace convert_test;

class FlipMirror : public testing::TestWithParam<const ColorRoutines*> {};

// Pixel (x, y) of a 24-bit image as three distinct bytes.
Bytes NumberedRgb(ULONG width, ULONG height) {
  Bytes image(size_t{3} * width * height);
  for (ULONG y = 0; y < height; ++y) {
    for (ULONG x = 0; x < width; ++x) {
      UCHAR* pixel = &image[(size_t{y} * width + x) * 3];
      pixel[0] = static_cast<UCHAR>(x), pixel[1] = static_cast<UCHAR>(y),
      pixel[2] = static_cast<UCHAR>(x + y);
    }
  }
  return image;
}

TEST_P(FlipMirror, RgbFollowsEachBit) {
  const ULONG width = 21, height = 5;
  const Bytes original = NumberedRgb(width, height);
  for (ULONG bits = 0; bits < 4; ++bits) {
    SCOPED_TRACE(bits);
    Bytes image = original;
    GetParam()->flipMirror(width, height, image.data(), static_cast<ULONG>(image.size()), false,
                           bits);
    for (ULONG y = 0; y < height; ++y) {
      for (ULONG x = 0; x < width; ++x) {
        const ULONG fromX = (bits & kFlipMirror) ? width - 1 - x : x;
        const ULONG fromY = (bits & kFlipVertical) ? height - 1 - y : y;
        ASSERT_EQ(memcmp(&image[(size_t{y} * width + x) * 3],
                         &original[(size_t{fromY} * width + fromX) * 3], 3),
                  0)
            << x << "," << y;
      }
    }
  }
}

TEST_P(FlipMirror, PackedSwapsRowsWhenTheVerticalBitIsClear) {
  for (ULONG width : {40u, 38u, 7u}) {  // 20 groups (vector body), 19 (odd middle), 4 (padded)
    const ULONG height = 3, groups = (width + 1) / 2;
    const Bytes original = RandomBytes(size_t{PackedRowBytes(width)} * height, width);
    for (ULONG bits = 0; bits < 4; ++bits) {
      SCOPED_TRACE(testing::Message() << "width " << width << " bits " << bits);
      Bytes image = original;
      GetParam()->flipMirror(width, height, image.data(), static_cast<ULONG>(image.size()), true,
                             bits);
      for (ULONG y = 0; y < height; ++y) {
        const ULONG fromY = (bits & kFlipVertical) ? y : height - 1 - y;
        for (ULONG g = 0; g < groups; ++g) {
          const bool mirrored = (bits & kFlipMirror) != 0;
          const UCHAR* from =
              &original[size_t{fromY} * groups * 4 + (mirrored ? groups - 1 - g : g) * 4];
          const UCHAR* to = &image[size_t{y} * groups * 4 + g * 4];
          const Bytes expected = mirrored ? Bytes{from[2], from[1], from[0], from[3]}
                                          : Bytes{from[0], from[1], from[2], from[3]};
          ASSERT_EQ((Bytes{to[0], to[1], to[2], to[3]}), expected) << "group " << g << " row " << y;
        }
      }
    }
  }
}

TEST_P(FlipMirror, LeavesAnImageLongerThanItsBufferAlone) {
  for (bool sixteenBit : {false, true}) {
    Bytes image = RandomBytes((sixteenBit ? 2 : 3) * 8 * 4 - 1, 9);
    const Bytes original = image;
    GetParam()->flipMirror(8, 4, image.data(), static_cast<ULONG>(image.size()), sixteenBit,
                           kFlipMirror);
    EXPECT_EQ(image, original) << sixteenBit;
  }
}

TEST_P(FlipMirror, EndsTheConversionToRgbOnly) {
  const ULONG width = 24, height = 4;
  const Bytes source = RandomBytes(size_t{PackedRowBytes(width)} * height, 21);
  Bytes straight = OutputFor(kCompressionRgb24, width, height);
  Bytes flipped = OutputFor(kCompressionRgb24, width, height);
  ASSERT_NE(ConvertYuv(*GetParam(), source, straight, width, height, kCompressionRgb24), 0u);
  ASSERT_NE(ConvertYuv(*GetParam(), source, flipped, width, height, kCompressionRgb24, 0, 0,
                       {kFlipVertical | kFlipMirror, false, nullptr}),
            0u);
  GetParam()->flipMirror(width, height, straight.data(), static_cast<ULONG>(straight.size()), false,
                         kFlipVertical | kFlipMirror);
  EXPECT_EQ(flipped, straight);

  Bytes packed = OutputFor(kFourCcYuy2, width, height);
  ASSERT_NE(ConvertYuv(*GetParam(), source, packed, width, height, kFourCcYuy2, 0, 0,
                       {kFlipVertical | kFlipMirror, false, nullptr}),
            0u);
  EXPECT_EQ(packed, source);
}

INSTANTIATE_TEST_SUITE_P(AllRoutines, FlipMirror, testing::ValuesIn(AvailableRoutines()),
                         RoutineName);

}  // namespace
