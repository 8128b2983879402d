// Packed YUV 4:2:2 to every output format: worked values, the reductions of wider sources, and the
// checks that keep a bad call from touching memory.
#include "convert_test_support.h"

namespace {

using namespace convert_test;

class YuvWorkedValues : public testing::TestWithParam<const ColorRoutines*> {};

// Wide enough that the SIMD kernels, not only their tails, convert the pixels.
constexpr ULONG kWideWidth = 48;

TEST_P(YuvWorkedValues, GreyPairGivesGreyPixels) {
  const Bytes source = UniformPacked(kWideWidth, 2, 100, 128, 200, 128);
  Bytes rgb = OutputFor(kCompressionRgb24, kWideWidth, 2);
  ASSERT_EQ(ConvertYuv(*GetParam(), source, rgb, kWideWidth, 2, kCompressionRgb24), rgb.size());
  for (size_t pixel = 0; pixel < rgb.size() / 3; ++pixel) {
    const UCHAR grey = pixel % 2 == 0 ? 100 : 200;
    ASSERT_EQ(rgb[pixel * 3], grey) << pixel;
    ASSERT_EQ(rgb[pixel * 3 + 1], grey) << pixel;
    ASSERT_EQ(rgb[pixel * 3 + 2], grey) << pixel;
  }
}

TEST_P(YuvWorkedValues, ColourDifferencesHaveUnitGains) {
  const Bytes source = UniformPacked(kWideWidth, 2, 100, 228, 100, 28);
  Bytes rgb = OutputFor(kCompressionRgb24, kWideWidth, 2);
  ASSERT_EQ(ConvertYuv(*GetParam(), source, rgb, kWideWidth, 2, kCompressionRgb24), rgb.size());
  // Plain: green = 100 - (186 x 100 + 508 x (-100)) / 1000 = 132; the SIMD weights give 133.
  const bool plain = GetParam() == ColorRoutinesFor(ColorRoutineSet::Plain);
  for (size_t pixel = 0; pixel < rgb.size() / 3; ++pixel) {
    ASSERT_EQ(rgb[pixel * 3], 200);
    ASSERT_EQ(rgb[pixel * 3 + 2], 0);
    if (plain) {
      ASSERT_EQ(rgb[pixel * 3 + 1], 132);
    } else {
      ASSERT_NEAR(rgb[pixel * 3 + 1], 132, 1);
    }
  }
}

TEST_P(YuvWorkedValues, PackedOutputsAtTheSameSizeCopyOrReorder) {
  const ULONG width = 37, height = 3;  // odd: rows end with a padded pair
  const Bytes source = RandomBytes(size_t{PackedRowBytes(width)} * height, 7);
  for (ULONG compression : {kFourCcYuy2, kCompressionRgb565}) {
    Bytes copy = OutputFor(compression, width, height);
    ASSERT_EQ(ConvertYuv(*GetParam(), source, copy, width, height, compression), source.size());
    EXPECT_EQ(copy, source);
  }
  Bytes uyvy = OutputFor(kFourCcUyvy, width, height);
  ASSERT_EQ(ConvertYuv(*GetParam(), source, uyvy, width, height, kFourCcUyvy), source.size());
  for (size_t i = 0; i < source.size(); i += 4) {
    ASSERT_EQ((Bytes{uyvy[i], uyvy[i + 1], uyvy[i + 2], uyvy[i + 3]}),
              (Bytes{source[i + 1], source[i], source[i + 3], source[i + 2]}))
        << i;
  }
}

TEST_P(YuvWorkedValues, Yvu9PlanesAreLumaThenVThenU) {
  const ULONG width = 640, height = 480;
  for (ULONG ratio : {1u, 2u, 4u}) {
    SCOPED_TRACE(ratio);
    const Bytes source = UniformPacked(width * ratio, height * ratio, 10, 30, 20, 40);
    Bytes planar = OutputFor(kFourCcYvu9, width, height);
    ASSERT_EQ(ConvertYuv(*GetParam(), source, planar, width, height, kFourCcYvu9, width * ratio,
                         height * ratio),
              307200u + 19200u + 19200u);
    const UCHAR expectedLuma = ratio == 1 ? 10 : 15;  // wider sources average the pair's two lumas
    EXPECT_EQ(planar[0], expectedLuma);
    EXPECT_EQ(planar[307199], ratio == 1 ? 20 : 15);
    EXPECT_EQ(Bytes(planar.begin() + 307200, planar.begin() + 326400), Bytes(19200, 40));
    EXPECT_EQ(Bytes(planar.begin() + 326400, planar.end()), Bytes(19200, 30));
  }
}

TEST_P(YuvWorkedValues, I420ChromaIsTheMeanOfTwoRowsRoundedDown) {
  const ULONG width = 34, height = 5;  // the fifth row has luma only
  Bytes source = UniformPacked(width, height, 50, 10, 60, 200);
  for (size_t i = PackedRowBytes(width); i < 2 * size_t{PackedRowBytes(width)}; i += 4) {
    source[i + 1] = 13, source[i + 3] = 205;  // row 1
  }
  for (ULONG compression : {kFourCcI420, kFourCcIyuv}) {
    Bytes planar = OutputFor(compression, width, height);
    ASSERT_EQ(ConvertYuv(*GetParam(), source, planar, width, height, compression),
              width * height + 2 * 17 * 2);
    for (ULONG i = 0; i < width * height; ++i) ASSERT_EQ(planar[i], i % 2 == 0 ? 50 : 60) << i;
    const UCHAR* u = planar.data() + width * height;
    const UCHAR* v = u + 17 * 2;
    for (ULONG i = 0; i < 17; ++i) {
      EXPECT_EQ(u[i], 11);   // (10 + 13) >> 1
      EXPECT_EQ(v[i], 202);  // (200 + 205) >> 1
      EXPECT_EQ(u[17 + i], 10);
      EXPECT_EQ(v[17 + i], 200);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllRoutines, YuvWorkedValues, testing::ValuesIn(AvailableRoutines()),
                         RoutineName);

// The reductions run the same code in every routine set; the plain table shows their values.
const ColorRoutines& Plain() { return *ColorRoutinesFor(ColorRoutineSet::Plain); }

TEST(YuvReduction, TwoToOneRgbAveragesOnePairOverTwoRows) {
  const Bytes source{10, 120, 30, 130, 50, 124, 70, 137};  // one pair in each of two rows
  for (bool standard : {false, true}) {
    Bytes rgb = OutputFor(kCompressionRgb24, 1, 1);
    ASSERT_EQ(
        ConvertYuv(Plain(), source, rgb, 1, 1, kCompressionRgb24, 2, 2, {0, standard, nullptr}),
        3u);
    // Y 40, U' -6, V' 5.
    EXPECT_EQ(rgb, standard ? (Bytes{29, 39, 47}) : (Bytes{34, 39, 45}));
  }
}

TEST(YuvReduction, FourToOneRgbAveragesItsArea) {
  // Luma x + 10 y; U of pair p in row y is 2 p + y; V is 100 + p.
  Bytes source(size_t{PackedRowBytes(4)} * 4);
  for (ULONG y = 0; y < 4; ++y) {
    for (ULONG p = 0; p < 2; ++p) {
      UCHAR* pair = &source[y * 8 + p * 4];
      pair[0] = static_cast<UCHAR>(2 * p + 10 * y), pair[1] = static_cast<UCHAR>(2 * p + y);
      pair[2] = static_cast<UCHAR>(2 * p + 1 + 10 * y), pair[3] = static_cast<UCHAR>(100 + p);
    }
  }
  Bytes rgb = OutputFor(kCompressionRgb24, 1, 1);
  ASSERT_EQ(ConvertYuv(Plain(), source, rgb, 1, 1, kCompressionRgb24, 4, 4), 3u);
  EXPECT_EQ(rgb, (Bytes{0, 53, 0}));  // Y 16, U 2, V 100
}

TEST(YuvReduction, PackedOutputFromWiderSources) {
  // 2:1: two source pairs in two rows give one output pair.
  const Bytes twoToOne{10, 100, 20, 200, 30, 104, 40, 204, 50, 108, 60, 208, 70, 112, 80, 212};
  Bytes yuy2 = OutputFor(kFourCcYuy2, 2, 1);
  Bytes uyvy = OutputFor(kFourCcUyvy, 2, 1);
  ASSERT_EQ(ConvertYuv(Plain(), twoToOne, yuy2, 2, 1, kFourCcYuy2, 4, 2), 4u);
  ASSERT_EQ(ConvertYuv(Plain(), twoToOne, uyvy, 2, 1, kFourCcUyvy, 4, 2), 4u);
  EXPECT_EQ(yuy2, (Bytes{35, 106, 55, 206}));
  EXPECT_EQ(uyvy, (Bytes{106, 35, 206, 55}));

  // 4:1: luma x + 10 y, U 2 p + y, V 100 + p over an 8 x 4 source.
  Bytes fourToOne(size_t{PackedRowBytes(8)} * 4);
  for (ULONG y = 0; y < 4; ++y) {
    for (ULONG p = 0; p < 4; ++p) {
      UCHAR* pair = &fourToOne[y * 16 + p * 4];
      pair[0] = static_cast<UCHAR>(2 * p + 10 * y), pair[1] = static_cast<UCHAR>(2 * p + y);
      pair[2] = static_cast<UCHAR>(2 * p + 1 + 10 * y), pair[3] = static_cast<UCHAR>(100 + p);
    }
  }
  ASSERT_EQ(ConvertYuv(Plain(), fourToOne, yuy2, 2, 1, kFourCcYuy2, 8, 4), 4u);
  EXPECT_EQ(yuy2, (Bytes{16, 4, 20, 101}));
}

TEST(YuvReduction, PlanarChromaSamplesItsBlock) {
  // 4 x 4 same-size source; U of pair p in row y is 10 + 50 p + 20 y, V is 100 + 50 p + 20 y.
  Bytes source(size_t{PackedRowBytes(4)} * 4);
  for (ULONG y = 0; y < 4; ++y) {
    for (ULONG p = 0; p < 2; ++p) {
      UCHAR* pair = &source[y * 8 + p * 4];
      pair[0] = pair[2] = static_cast<UCHAR>(y);
      pair[1] = static_cast<UCHAR>(10 + 50 * p + 20 * y);
      pair[3] = static_cast<UCHAR>(100 + 50 * p + 20 * y);
    }
  }
  // 'YVU9': one sample from the first pair of the first row pair: (10 + 30) / 2, (100 + 120) / 2.
  Bytes yvu9 = OutputFor(kFourCcYvu9, 4, 4);
  ASSERT_EQ(ConvertYuv(Plain(), source, yvu9, 4, 4, kFourCcYvu9), 18u);
  EXPECT_EQ(yvu9[16], 110);  // V
  EXPECT_EQ(yvu9[17], 20);   // U

  // 'I420' from the same frame as a 2:1 source of a 2 x 2 output: luma the 2 x 2 means, chroma the
  // mean of both pairs over all four rows.
  Bytes i420 = OutputFor(kFourCcI420, 2, 2);
  ASSERT_EQ(ConvertYuv(Plain(), source, i420, 2, 2, kFourCcI420, 4, 4), 6u);
  EXPECT_EQ(i420, (Bytes{0, 0, 2, 2, 65, 155}));  // luma (0+0+1+1)/4 = 0, (2+2+3+3)/4 = 2
}

TEST(YuvConversionChecks, BadCallsReturnZeroAndWriteNothing) {
  const ULONG width = 16, height = 4;
  const Bytes frame = RandomBytes(size_t{PackedRowBytes(width)} * height, 3);
  struct Case {
    const char* name;
    ULONG compression, width, height, sourceWidth, sourceHeight;
    size_t sourceBytes, destinationBytes;
  };
  const size_t rgbBytes = 3 * width * height;
  const Case cases[] = {
      {"source one byte short", kCompressionRgb24, width, height, width, height, frame.size() - 1,
       rgbBytes},
      {"destination one byte short", kCompressionRgb24, width, height, width, height, frame.size(),
       rgbBytes - 1},
      {"copy source short", kFourCcYuy2, width, height, width, height, frame.size() - 1,
       frame.size()},
      {"planar destination short", kFourCcI420, width, height, width, height, frame.size(), 95},
      {"unknown compression", kFourCcMjpg, width, height, width, height, frame.size(), rgbBytes},
      {"zero width", kCompressionRgb24, 0, height, 0, height, frame.size(), rgbBytes},
      {"absurd height", kCompressionRgb24, width, 0x10000000, width, height, frame.size(),
       rgbBytes},
      {"2:1 source lacks rows", kFourCcYuy2, width / 2, height / 2, width, height / 2 * 2 - 1,
       frame.size(), frame.size()},
      {"2:1 source bytes short", kFourCcYuy2, width / 2, height / 2, width, height,
       frame.size() - 4, frame.size()},
  };
  for (const ColorRoutines* routines : AvailableRoutines()) {
    for (const Case& test : cases) {
      SCOPED_TRACE(std::string(routines->name) + ": " + test.name);
      const Bytes source(frame.begin(), frame.begin() + static_cast<long>(test.sourceBytes));
      Bytes destination(test.destinationBytes, 0x5A);
      EXPECT_EQ(routines->convertYuv422(source.data(), static_cast<ULONG>(source.size()),
                                        destination.data(), static_cast<ULONG>(destination.size()),
                                        test.width, test.height, test.compression, test.sourceWidth,
                                        test.sourceHeight, {}),
                0u);
      EXPECT_EQ(destination, Bytes(test.destinationBytes, 0x5A));
    }
    Bytes untouched(64, 0x5A);
    EXPECT_EQ(routines->convertYuv422(nullptr, 0, untouched.data(), 64, width, height, kFourCcVraw,
                                      width, height, {}),
              64u)
        << "'VRAW' reports the buffer and converts nothing";
    EXPECT_EQ(untouched, Bytes(64, 0x5A));
  }
}

TEST(YuvConversionChecks, LargerDestinationKeepsItsTail) {
  const ULONG width = 20, height = 3;
  const Bytes source = RandomBytes(size_t{PackedRowBytes(width)} * height, 5);
  for (const ColorRoutines* routines : AvailableRoutines()) {
    for (ULONG compression :
         {kCompressionRgb24, kFourCcYuy2, kFourCcUyvy, kFourCcI420, kFourCcYvu9}) {
      SCOPED_TRACE(std::string(routines->name) + " " + std::to_string(compression));
      const size_t image = static_cast<size_t>(OutputImageBytes(compression, width, height));
      Bytes destination(image + 40, 0x5A);
      ASSERT_EQ(ConvertYuv(*routines, source, destination, width, height, compression), image);
      EXPECT_EQ(Bytes(destination.begin() + static_cast<long>(image), destination.end()),
                Bytes(40, 0x5A));
    }
  }
}

}  // namespace
