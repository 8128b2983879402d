// The decoder against libjpeg-turbo as the reference, the plain and SIMD paths against each other,
// and the decoder state's life in the pool.
#include <gtest/gtest.h>

#include <ostream>

#include "decoder_test_support.h"
#include "host_control.h"

namespace decoder_test {
namespace {

using camjpeg::ChromaSampling;

struct ReferenceCase {
  uint32_t width, height;
  ChromaSampling sampling;
  int quality;
  uint32_t restartInterval;
};
// Test names show the case, not its bytes.
void PrintTo(const ReferenceCase& value, std::ostream* os) {
  *os << value.width << "x" << value.height << " q" << value.quality << " restart "
      << value.restartInterval;
}

std::string CaseName(const testing::TestParamInfo<ReferenceCase>& info) {
  const ReferenceCase& c = info.param;
  return std::to_string(c.width) + "x" + std::to_string(c.height) +
         (c.sampling == ChromaSampling::k422 ? "_422" : "_420") + "_q" + std::to_string(c.quality) +
         (c.restartInterval != 0 ? "_ri" + std::to_string(c.restartInterval) : "");
}

class ReferenceDecodeTest : public testing::TestWithParam<ReferenceCase> {};

// The decoder uses the same integer transform as libjpeg-turbo's accurate one, so its planes equal
// libjpeg-turbo's decode of the frame with the small chrominance coefficients cleared, byte for
// byte. Against the unchanged frame luminance is still exact; chrominance differs where the
// clearing changed a block. Over these (deliberately detailed) pictures that costs: Cb and Cr PSNR
// from 27.1 dB (quality 75 at 640 x 480) to 33.6 dB (quality 85), largest difference 69.
constexpr double kMinChromaPsnr = 26.0;

TEST_P(ReferenceDecodeTest, PlanesMatchLibjpegTurboAndBothPathsAgree) {
  const ReferenceCase& c = GetParam();
  camjpeg::EncodeOptions options;
  options.sampling = c.sampling;
  options.quality = c.quality;
  options.restartInterval = c.restartInterval;
  std::vector<uint8_t> picture =
      MakePicture(c.width, c.height, c.sampling, c.width * 31 + c.height);
  std::string error;
  std::vector<uint8_t> frame =
      camjpeg::EncodePlanes(picture.data(), c.width, c.height, options, &error);
  ASSERT_FALSE(frame.empty()) << error;
  uint32_t width = 0, height = 0;
  ChromaSampling sampling;
  std::vector<uint8_t> reference =
      camjpeg::DecodePlanes(frame.data(), frame.size(), &width, &height, &sampling, &error);
  ASSERT_FALSE(reference.empty()) << error;
  camjpeg::PlaneSizes sizes = camjpeg::PlaneSizesFor(c.width, c.height, c.sampling);

  std::vector<uint8_t> plain, simd;
  Decoder plainDecoder(Path::Plain), simdDecoder(Path::Simd);
  // Room to spare: the decoder must report the planes' size, not the buffer's.
  ASSERT_TRUE(plainDecoder.Decode(frame, &plain, sizes.TotalBytes() + 100));
  ASSERT_TRUE(simdDecoder.Decode(frame, &simd, sizes.TotalBytes()));
  ASSERT_EQ(plain.size(), sizes.TotalBytes());
  EXPECT_EQ(plain, simd) << "the plain and SIMD paths differ";

  std::vector<uint8_t> cleared = WithSmallChromaCleared(frame);
  std::vector<uint8_t> exact =
      camjpeg::DecodePlanes(cleared.data(), cleared.size(), &width, &height, &sampling, &error);
  EXPECT_EQ(plain, exact) << "differs from libjpeg-turbo with the chroma clearing applied";

  PlaneDifference luma = Compare(plain, reference, 0, sizes.LumaBytes());
  EXPECT_EQ(luma.maxDifference, 0) << "luma PSNR " << luma.psnr;
  for (int chroma = 0; chroma < 2; ++chroma) {
    PlaneDifference d = Compare(plain, reference, sizes.LumaBytes() + chroma * sizes.ChromaBytes(),
                                sizes.ChromaBytes());
    EXPECT_GE(d.psnr, kMinChromaPsnr) << (chroma == 0 ? "Cb" : "Cr");
    RecordProperty(chroma == 0 ? "cb_psnr" : "cr_psnr", std::to_string(d.psnr));
    RecordProperty(chroma == 0 ? "cb_max_difference" : "cr_max_difference", d.maxDifference);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, ReferenceDecodeTest,
    testing::Values(ReferenceCase{640, 480, ChromaSampling::k422, 75, 0},
                    ReferenceCase{640, 480, ChromaSampling::k420, 75, 0},
                    ReferenceCase{320, 240, ChromaSampling::k422, 95, 0},
                    ReferenceCase{320, 240, ChromaSampling::k420, 30, 0},
                    ReferenceCase{176, 144, ChromaSampling::k420, 50, 8},
                    // Sizes that are not whole MCUs: blocks past the edges are clipped.
                    ReferenceCase{33, 17, ChromaSampling::k422, 75, 0},
                    ReferenceCase{33, 17, ChromaSampling::k420, 90, 3},
                    ReferenceCase{1, 1, ChromaSampling::k420, 75, 0},
                    ReferenceCase{97, 61, ChromaSampling::k422, 60, 5},
                    ReferenceCase{250, 7, ChromaSampling::k420, 85, 0}),
    CaseName);

// Every allocation of the decoder may fail: the call then says so and leaves nothing allocated.
TEST(DecoderStateTest, AllocationFailuresLeaveNothingBehind) {
  for (uint64_t failing = 1;; ++failing) {
    host::FailAllocationNumber(failing);
    DecoderState* state = nullptr;
    NTSTATUS status = CreateDecoder(&state);
    if (NT_SUCCESS(status)) {
      status = InitDecoderTables(state, kBuiltInQuantTable0, kBuiltInQuantTable1, TRUE);
      DestroyDecoder(state);
    }
    host::ClearAllocationFaults();
    EXPECT_EQ(host::PoolOutstandingBlocks(), 0u) << "failing allocation " << failing;
    if (NT_SUCCESS(status)) break;
    EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES);
    ASSERT_LT(failing, 100u);
  }
}

// Decoder memory carries its own tag, so that a pool dump shows what a stream's decoder holds.
TEST(DecoderStateTest, BlocksCarryTheDecoderTag) {
  Decoder decoder(Path::Simd);
  size_t blocks = 0;
  for (const host::PoolUsage& usage : host::PoolReport()) {
    if (usage.tag == host::TagFromMemoryOrder("Wdm ")) blocks += usage.count;
  }
  EXPECT_EQ(blocks, 10u);  // state, three records, four Huffman and two quantisation tables
}

// Two open streams decode at the same time with states of their own: a table segment in one
// stream's frames does not reach the other.
TEST(DecoderStateTest, StatesShareNothing) {
  camjpeg::EncodeOptions options;
  options.quality = 20;
  std::vector<uint8_t> picture = MakePicture(64, 32, ChromaSampling::k422, 5);
  std::vector<uint8_t> withTables = camjpeg::EncodePlanes(picture.data(), 64, 32, options);
  options.writeTables = false;
  std::vector<uint8_t> withoutTables = camjpeg::EncodePlanes(picture.data(), 64, 32, options);
  Decoder first(Path::Simd), second(Path::Simd);
  std::vector<uint8_t> a, b;
  ASSERT_TRUE(first.Decode(withTables, &a, 64 * 32 * 2));
  ASSERT_TRUE(first.Decode(withoutTables, &a, 64 * 32 * 2));
  ASSERT_TRUE(second.Decode(withoutTables, &b, 64 * 32 * 2));
  EXPECT_NE(a, b);
}

}  // namespace
}  // namespace decoder_test
