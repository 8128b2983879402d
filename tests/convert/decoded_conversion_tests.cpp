// Decoded YCbCr planes to 24-bit RGB, and the lookup tables behind the plain routine.
#include "convert_test_support.h"
#include "core/buffer_pool.h"
#include "core/identifiers.h"
#include "host_control.h"

namespace {

using namespace convert_test;

DecodedColorTables Tables() {
  DecodedColorTables tables;
  FillConversionTables(&tables);
  return tables;
}

// Planes of the decoder's layout: Y, Cb, Cr back to back.
struct Planes {
  ULONG width, height, chromaHeight;
  Bytes bytes;
  Planes(ULONG w, ULONG h, bool halved)
      : width(w),
        height(h),
        chromaHeight(halved ? (h + 1) / 2 : h),
        bytes(size_t{w} * h + 2 * size_t{(w + 1) / 2} * chromaHeight, 128) {}
  ULONG ChromaWidth() const { return (width + 1) / 2; }
  UCHAR* Luma(ULONG row) { return bytes.data() + size_t{row} * width; }
  UCHAR* Cb(ULONG row) {
    return bytes.data() + size_t{width} * height + size_t{row} * ChromaWidth();
  }
  UCHAR* Cr(ULONG row) { return Cb(row) + size_t{ChromaWidth()} * chromaHeight; }
};

ULONG Convert(const ColorRoutines& routines, bool halved, Planes& planes, Bytes& rgb) {
  const DecodedColorTables tables = Tables();
  const ConvertDecodedRoutine convert =
      halved ? routines.convertDecoded420 : routines.convertDecoded422;
  return convert(planes.width, planes.height, planes.bytes.data(),
                 static_cast<ULONG>(planes.bytes.size()), rgb.data(),
                 static_cast<ULONG>(rgb.size()), nullptr, 0, tables);
}

TEST(ConversionTables, HoldTheFixedPointOffsetsAndTheRangeLimit) {
  const DecodedColorTables tables = Tables();
  EXPECT_EQ(tables.crToR[0], -179);  // (91881 x (-128) + 32768) >> 16
  EXPECT_EQ(tables.cbToB[0], -227);
  EXPECT_EQ(tables.crToR[128], 0);
  EXPECT_EQ(tables.cbToB[255], 225);
  EXPECT_EQ(tables.crToG[255], -46802 * 127);
  EXPECT_EQ(tables.cbToG[0], 22554 * 128 + 32768);
  const struct {
    LONG index;
    UCHAR value;
  } limits[] = {{-256, 0}, {-1, 0}, {0, 0}, {200, 200}, {255, 255}, {256, 255}, {639, 255}};
  for (const auto& limit : limits)
    EXPECT_EQ(RangeLimit(tables, limit.index), limit.value) << limit.index;
  // The last two runs answer wrapped indices: 384 zeros, then 0 ... 127.
  EXPECT_EQ(tables.rangeLimit[896], 0);
  EXPECT_EQ(tables.rangeLimit[1279], 0);
  EXPECT_EQ(tables.rangeLimit[1280], 0);
  EXPECT_EQ(tables.rangeLimit[1407], 127);
}

TEST(ConversionTables, LiveInOnePersistentPoolBlock) {
  UnknownBase* unknown = nullptr;
  ASSERT_EQ(CreateBufferPool(&unknown, CLSID_BufferPool, nullptr, NonPagedPool), STATUS_SUCCESS);
  IBufferPool* pool = static_cast<BufferPool*>(unknown);
  DecodedColorTables* tables = nullptr;
  // A fresh pool has no arena yet: the block needs one from the system.
  host::FailAllocationsWithTag(kPoolTagDriver);
  EXPECT_EQ(BuildConversionTables(pool, &tables), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(tables, nullptr);
  host::ClearAllocationFaults();

  ASSERT_EQ(BuildConversionTables(pool, &tables), STATUS_SUCCESS);
  const DecodedColorTables reference = Tables();
  EXPECT_EQ(memcmp(tables, &reference, sizeof(reference)), 0);
  FreeConversionTables(pool, &tables);
  EXPECT_EQ(tables, nullptr);
  EXPECT_EQ(unknown->Release(), 0);
}

class DecodedConversion : public testing::TestWithParam<const ColorRoutines*> {};

TEST_P(DecodedConversion, PutsSourceRowZeroAtTheBottom) {
  Planes planes(40, 3, false);
  for (ULONG row = 0; row < 3; ++row) memset(planes.Luma(row), 10 + 100 * row, 40);
  Bytes rgb(3 * 40 * 3);
  ASSERT_EQ(Convert(*GetParam(), false, planes, rgb), rgb.size());
  // Neutral chroma: grey pixels, rows reversed.
  EXPECT_EQ(Bytes(rgb.begin(), rgb.begin() + 120), Bytes(120, 210));
  EXPECT_EQ(Bytes(rgb.end() - 120, rgb.end()), Bytes(120, 10));
}

TEST_P(DecodedConversion, UsesTheStandardEquations) {
  for (bool halved : {false, true}) {
    Planes planes(32, 4, halved);
    memset(planes.bytes.data(), 100, 32 * 4);
    for (ULONG row = 0; row < planes.chromaHeight; ++row) {
      memset(planes.Cb(row), 200, 16);  // x = 72
      memset(planes.Cr(row), 60, 16);   // x = -68
    }
    Bytes rgb(3 * 32 * 4);
    ASSERT_EQ(Convert(*GetParam(), halved, planes, rgb), rgb.size());
    // blue 100 + 1.772 x 72 = 227.6; green 100 - 0.34414 x 72 + 0.71414 x 68 = 123.8;
    // red 100 - 1.402 x 68 = 4.7.
    for (size_t i = 0; i < rgb.size(); i += 3) {
      ASSERT_EQ((Bytes{rgb[i], rgb[i + 1], rgb[i + 2]}), (Bytes{228, 124, 5})) << i / 3;
    }
  }
}

TEST_P(DecodedConversion, FourTwoZeroChromaServesTwoRows) {
  Planes planes(18, 3, true);  // odd height: the last chroma row serves one row
  memset(planes.bytes.data(), 128, 18 * 3);
  memset(planes.Cb(0), 128, 9);
  memset(planes.Cr(0), 228, 9);  // red up
  memset(planes.Cr(1), 28, 9);   // red down
  Bytes rgb(3 * 18 * 3);
  ASSERT_EQ(Convert(*GetParam(), true, planes, rgb), rgb.size());
  auto redOfRow = [&](ULONG outputRow) { return rgb[size_t{outputRow} * 54 + 2]; };
  EXPECT_EQ(redOfRow(2), 255);  // source row 0
  EXPECT_EQ(redOfRow(1), 255);  // source row 1
  EXPECT_LT(redOfRow(0), 10);   // source row 2
}

TEST_P(DecodedConversion, RefusesShortPlanesAndDestinations) {
  for (bool halved : {false, true}) {
    Planes planes(16, 4, halved);
    Bytes rgb(3 * 16 * 4, 0x5A);
    const DecodedColorTables tables = Tables();
    const ConvertDecodedRoutine convert =
        halved ? GetParam()->convertDecoded420 : GetParam()->convertDecoded422;
    const ULONG planeBytes = static_cast<ULONG>(planes.bytes.size());
    EXPECT_EQ(
        convert(16, 4, planes.bytes.data(), planeBytes - 1, rgb.data(), 192, nullptr, 0, tables),
        0u);
    EXPECT_EQ(convert(16, 4, planes.bytes.data(), planeBytes, rgb.data(), 191, nullptr, 0, tables),
              0u);
    EXPECT_EQ(convert(0, 4, planes.bytes.data(), planeBytes, rgb.data(), 192, nullptr, 0, tables),
              0u);
    EXPECT_EQ(rgb, Bytes(192, 0x5A));
  }
}

INSTANTIATE_TEST_SUITE_P(AllRoutines, DecodedConversion, testing::ValuesIn(AvailableRoutines()),
                         RoutineName);

TEST(DecodedSimd, MatchesThePlainTablesExactly) {
  const ColorRoutines& plain = *ColorRoutinesFor(ColorRoutineSet::Plain);
  uint32_t seed = 100;
  for (const ColorRoutines* simd : SimdRoutines()) {
    for (auto [width, height] :
         {std::pair{640u, 480u}, {35u, 7u}, {16u, 2u}, {1u, 1u}, {17u, 1u}, {97u, 3u}, {48u, 2u}}) {
      for (bool halved : {false, true}) {
        SCOPED_TRACE(testing::Message() << simd->name << " " << width << "x" << height << " "
                                        << (halved ? "4:2:0" : "4:2:2"));
        Planes planes(width, height, halved);
        planes.bytes = RandomBytes(planes.bytes.size(), seed++);
        Bytes expected(size_t{3} * width * height), actual(expected.size(), 0x11);
        ASSERT_EQ(Convert(plain, halved, planes, expected), expected.size());
        ASSERT_EQ(Convert(*simd, halved, planes, actual), actual.size());
        EXPECT_EQ(MaxDifference(expected, actual), 0);
      }
    }
  }
}

// Every Cb, Cr pair once, with lumas near both clamps: the green offset depends on both samples,
// which random planes do not cover in full.
TEST(DecodedSimd, MatchesThePlainTablesForEveryChromaPair) {
  const ColorRoutines& plain = *ColorRoutinesFor(ColorRoutineSet::Plain);
  Planes planes(512, 256, false);
  for (ULONG row = 0; row < 256; ++row) {
    for (ULONG x = 0; x < 512; ++x) planes.Luma(row)[x] = x % 2 == 0 ? (x * 7) & 255 : 255 - row;
    for (ULONG i = 0; i < 256; ++i) {
      planes.Cb(row)[i] = static_cast<UCHAR>(i);
      planes.Cr(row)[i] = static_cast<UCHAR>(row);
    }
  }
  Bytes expected(size_t{3} * 512 * 256);
  ASSERT_EQ(Convert(plain, false, planes, expected), expected.size());
  for (const ColorRoutines* simd : SimdRoutines()) {
    SCOPED_TRACE(simd->name);
    Bytes actual(expected.size(), 0x11);
    ASSERT_EQ(Convert(*simd, false, planes, actual), actual.size());
    EXPECT_EQ(MaxDifference(expected, actual), 0);
  }
}

}  // namespace
