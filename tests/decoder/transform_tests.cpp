// The inverse transform routines against each other, with coefficients and quantisation entries
// over their whole ranges, where the 16-bit wrapping rules decide the result.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "image/decoder_transform.h"

namespace {

struct Block {
  alignas(16) SHORT coefficients[64];
  LONG quant32[64];
  alignas(16) SHORT quant16[64];
};

Block RandomBlock(std::mt19937& random, int coefficientRange, int quantMax, int nonZero) {
  Block block = {};
  std::uniform_int_distribution<int> coefficient(-coefficientRange, coefficientRange - 1);
  std::uniform_int_distribution<int> position(0, 63);
  std::uniform_int_distribution<int> quant(1, quantMax);
  for (int i = 0; i < nonZero; ++i)
    block.coefficients[position(random)] = static_cast<SHORT>(coefficient(random));
  for (int i = 0; i < 64; ++i) {
    block.quant32[i] = quant(random);
    block.quant16[i] = static_cast<SHORT>(block.quant32[i]);
  }
  return block;
}

TEST(InverseTransformTest, SimdRoutinesMatchThePlainOneBitForBit) {
  std::mt19937 random(7);
  const bool haveAvx2 = __builtin_cpu_supports("avx2");
  struct Range {
    int coefficients, quantMax, nonZero;
  };
  // Typical blocks, dense ones, and extreme ones whose sums wrap and saturate.
  for (const Range& range :
       {Range{64, 16, 6}, Range{1024, 255, 64}, Range{32768, 255, 64}, Range{2048, 255, 3}}) {
    Block partner = RandomBlock(random, range.coefficients, range.quantMax, range.nonZero);
    UCHAR partnerPlain[64];
    InverseTransformPlain(partner.coefficients, partner.quant32, partnerPlain, 8);
    for (int round = 0; round < 2000; ++round) {
      Block block = RandomBlock(random, range.coefficients, range.quantMax, range.nonZero);
      UCHAR plain[64], sse2[64], avx2[64], pairA[64], pairB[64];
      InverseTransformPlain(block.coefficients, block.quant32, plain, 8);
      InverseTransformSse2(block.coefficients, block.quant16, sse2, 8);
      ASSERT_EQ(0, memcmp(plain, sse2, 64)) << "range " << range.coefficients << " round " << round;
      if (haveAvx2) {
        InverseTransformAvx2(block.coefficients, block.quant16, avx2, 8);
        ASSERT_EQ(0, memcmp(plain, avx2, 64))
            << "range " << range.coefficients << " round " << round;
        // Two blocks at once, each with its own table and stride: the previous block rides along.
        UCHAR wide[8 * 16];
        InverseTransformPairAvx2(block.coefficients, block.quant16, pairA, 8, partner.coefficients,
                                 partner.quant16, wide, 16);
        for (int row = 0; row < 8; ++row) memcpy(pairB + row * 8, wide + row * 16, 8);
        ASSERT_EQ(0, memcmp(plain, pairA, 64))
            << "range " << range.coefficients << " round " << round;
        ASSERT_EQ(0, memcmp(partnerPlain, pairB, 64))
            << "range " << range.coefficients << " round " << round;
      }
      partner = block;
      memcpy(partnerPlain, plain, 64);
    }
  }
}

// The shortcut for blocks of a DC term alone gives what the full transform gives.
TEST(InverseTransformTest, DcOnlyShortcutMatchesTheTransform) {
  for (int dc = -32768; dc <= 32767; dc += 37) {
    for (LONG quant : {1, 8, 99, 255}) {
      Block block = {};
      block.coefficients[0] = static_cast<SHORT>(dc);
      block.quant32[0] = quant;
      UCHAR out[64];
      InverseTransformPlain(block.coefficients, block.quant32, out, 8);
      UCHAR expected = DcOnlySample(static_cast<SHORT>(dc), quant);
      for (UCHAR sample : out) ASSERT_EQ(sample, expected) << "dc " << dc << " quant " << quant;
    }
  }
}

}  // namespace
