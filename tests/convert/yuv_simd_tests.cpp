// The SIMD routines against the plain ones on random frames, the white-balance statistics, and the
// choice of routines when a stream opens.
#include "convert_test_support.h"
#include "host_control.h"

namespace {

using namespace convert_test;

struct FrameSize {
  ULONG width, height;
};
// Odd widths end rows with a padded pair; widths that are not multiples of 8 or 16 run the kernels'
// tails.
constexpr FrameSize kSizes[] = {{640, 480}, {176, 144}, {33, 7}, {46, 5}, {7, 3}, {1, 1}, {2, 9}};

class YuvSimdMatchesPlain : public testing::TestWithParam<const ColorRoutines*> {};

TEST_P(YuvSimdMatchesPlain, OnRandomFramesOfEveryOutputAndRatio) {
  const ColorRoutines& plain = *ColorRoutinesFor(ColorRoutineSet::Plain);
  uint32_t seed = 1;
  for (FrameSize size : kSizes) {
    for (ULONG ratio : {1u, 2u, 4u}) {
      const ULONG sourceWidth = size.width * ratio, sourceHeight = size.height * ratio;
      const Bytes source = RandomBytes(size_t{PackedRowBytes(sourceWidth)} * sourceHeight, seed++);
      for (ULONG compression :
           {kCompressionRgb24, kFourCcYuy2, kFourCcUyvy, kFourCcI420, kFourCcYvu9}) {
        for (bool standard : {false, true}) {
          SCOPED_TRACE(testing::Message()
                       << size.width << "x" << size.height << " ratio " << ratio << " compression "
                       << compression << " standard " << standard);
          const YuvConversionSettings settings{0, standard, nullptr};
          Bytes expected = OutputFor(compression, size.width, size.height);
          Bytes actual = OutputFor(compression, size.width, size.height, 0x3C);
          const ULONG produced = ConvertYuv(plain, source, expected, size.width, size.height,
                                            compression, sourceWidth, sourceHeight, settings);
          ASSERT_EQ(produced, expected.size());
          ASSERT_EQ(ConvertYuv(*GetParam(), source, actual, size.width, size.height, compression,
                               sourceWidth, sourceHeight, settings),
                    produced);
          // RGB from same-size and 2:1 sources is computed with shifts where the plain routine
          // divides by 1000 with truncation: green may differ by 2, and with the standard
          // equations blue and red too. Everything else is exact.
          const bool rounded = compression == kCompressionRgb24 && ratio < 4;
          EXPECT_LE(MaxDifference(expected, actual), rounded ? 2 : 0);
          if (rounded && (ratio == 1 || !standard)) {
            for (size_t i = 0; i < expected.size(); i += 3) {
              ASSERT_EQ(expected[i], actual[i]) << "blue of pixel " << i / 3;
              ASSERT_EQ(expected[i + 2], actual[i + 2]) << "red of pixel " << i / 3;
            }
          }
        }
      }
    }
  }
}

// The sums of U - 128 and V - 128 over the first two pairs of every whole 16-byte step of each row.
WhiteBalanceStatistics ReferenceStatistics(const Bytes& source, ULONG width, ULONG height) {
  WhiteBalanceStatistics sums{};
  ULONG steps = 0;
  for (ULONG y = 0; y < height; ++y) {
    const UCHAR* row = source.data() + size_t{PackedRowBytes(width)} * y;
    for (ULONG step = 0; step < width / 8; ++step, ++steps) {
      const UCHAR* bytes = row + step * 16;
      sums.uSumFirst += bytes[1] - 128;
      sums.vSumFirst += bytes[3] - 128;
      sums.uSumSecond += bytes[5] - 128;
      sums.vSumSecond += bytes[7] - 128;
    }
  }
  sums.count = static_cast<LONG>(steps / 4);
  return sums;
}

TEST_P(YuvSimdMatchesPlain, KeepsWhiteBalanceStatisticsOfTheSameSizeRgbConversion) {
  for (FrameSize size : {FrameSize{640, 480}, FrameSize{40, 6}, FrameSize{5, 2}}) {
    SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
    const Bytes source = RandomBytes(size_t{PackedRowBytes(size.width)} * size.height, size.width);
    Bytes rgb = OutputFor(kCompressionRgb24, size.width, size.height);
    WhiteBalanceStatistics statistics{1, 2, 3, 4, 5};  // replaced as a whole
    ASSERT_NE(ConvertYuv(*GetParam(), source, rgb, size.width, size.height, kCompressionRgb24, 0, 0,
                         {0, false, &statistics}),
              0u);
    const WhiteBalanceStatistics expected = ReferenceStatistics(source, size.width, size.height);
    EXPECT_EQ(statistics.uSumFirst, expected.uSumFirst);
    EXPECT_EQ(statistics.uSumSecond, expected.uSumSecond);
    EXPECT_EQ(statistics.vSumFirst, expected.vSumFirst);
    EXPECT_EQ(statistics.vSumSecond, expected.vSumSecond);
    EXPECT_EQ(statistics.count, expected.count);
  }
}

INSTANTIATE_TEST_SUITE_P(Simd, YuvSimdMatchesPlain, testing::ValuesIn(SimdRoutines()), RoutineName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(YuvSimdMatchesPlain);

TEST(YuvStatistics, PlainRoutineAndOtherOutputsLeaveThemAlone) {
  const Bytes source = RandomBytes(size_t{PackedRowBytes(64)} * 8, 11);
  for (const ColorRoutines* routines : AvailableRoutines()) {
    for (ULONG compression : {kCompressionRgb24, kFourCcYuy2, kFourCcI420}) {
      const bool keeps =
          compression == kCompressionRgb24 && routines != ColorRoutinesFor(ColorRoutineSet::Plain);
      if (keeps) continue;
      WhiteBalanceStatistics statistics{1, 2, 3, 4, 5};
      Bytes out = OutputFor(compression, 64, 8);
      ASSERT_NE(
          ConvertYuv(*routines, source, out, 64, 8, compression, 0, 0, {0, false, &statistics}),
          0u);
      EXPECT_EQ(statistics.uSumFirst + statistics.uSumSecond + statistics.vSumFirst +
                    statistics.vSumSecond + statistics.count,
                15)
          << routines->name << " " << compression;
    }
  }
}

TEST(ColorRoutineChoice, FollowsTheSimdSwitchAndTheMmxBit) {
  const ColorRoutines* plain = ColorRoutinesFor(ColorRoutineSet::Plain);
  EXPECT_EQ(SelectColorRoutines(false), plain);
  host::SetMmxPresent(false);
  EXPECT_EQ(SelectColorRoutines(true), plain);
  host::SetMmxPresent(true);
  const ColorRoutines* chosen = SelectColorRoutines(true);
  host::ClearCpuidOverride();
  const ColorRoutines* widest = SimdRoutines().empty() ? plain : SimdRoutines().back();
  EXPECT_EQ(chosen, widest);
  EXPECT_NE(ColorRoutinesFor(ColorRoutineSet::Sse2), nullptr) << "SSE2 is part of every x86-64";
}

}  // namespace
