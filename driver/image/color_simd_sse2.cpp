// SSE2 row kernels of the colour converters. The packed-YUV-to-RGB kernel computes green with the
// shift-based weights 190/1024 and 520/1024 (the plain routine divides by 1000), so the two may
// differ by up to 2 in green; the decoded kernel splits the table constants so that it matches the
// plain routine exactly.
#include <emmintrin.h>

#include "image/color_kernels.h"

namespace {

// 24 bytes of blue, green, red for 8 pixels given as 16-bit lanes; values are clamped to 0 ... 255.
void StoreBgr8(__m128i blue, __m128i green, __m128i red, UCHAR* destination) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i blueRed = _mm_packus_epi16(blue, red);
  const __m128i greenZero = _mm_packus_epi16(green, zero);
  const __m128i blueGreen = _mm_unpacklo_epi8(blueRed, greenZero);
  const __m128i redZero = _mm_unpackhi_epi8(blueRed, zero);
  // Pixels as B G R 0, four to a register; squeeze out the zero bytes within each 64-bit lane,
  // then join the two lanes into 12 bytes.
  const __m128i lowMask = _mm_set1_epi64x(0x0000000000FFFFFFll);
  const __m128i highMask = _mm_set1_epi64x(0x0000FFFFFF000000ll);
  __m128i packed[2];
  for (int half = 0; half < 2; ++half) {
    const __m128i pixels =
        half == 0 ? _mm_unpacklo_epi16(blueGreen, redZero) : _mm_unpackhi_epi16(blueGreen, redZero);
    const __m128i lanes = _mm_or_si128(_mm_and_si128(pixels, lowMask),
                                       _mm_and_si128(_mm_srli_epi64(pixels, 8), highMask));
    packed[half] = _mm_or_si128(_mm_move_epi64(lanes), _mm_slli_si128(_mm_srli_si128(lanes, 8), 6));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(destination),
                   _mm_or_si128(packed[0], _mm_slli_si128(packed[1], 12)));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(destination + 16), _mm_srli_si128(packed[1], 4));
}

// Mean of two byte vectors, rounded down (pavgb rounds up).
__m128i MeanDown(__m128i a, __m128i b) {
  const __m128i odd = _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1));
  return _mm_sub_epi8(_mm_avg_epu8(a, b), odd);
}

// (a * weightA + b * weightB + add) >> shift for 8 16-bit lanes, through 32-bit products.
__m128i WeightedSum(__m128i a, __m128i b, short weightA, short weightB, int add, int shift) {
  const __m128i weights =
      _mm_set_epi16(weightB, weightA, weightB, weightA, weightB, weightA, weightB, weightA);
  const __m128i bias = _mm_set1_epi32(add);
  __m128i low = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights), bias);
  __m128i high = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a, b), weights), bias);
  low = _mm_srai_epi32(low, shift);
  high = _mm_srai_epi32(high, shift);
  return _mm_packs_epi32(low, high);
}

}  // namespace

void PackedToRgbRowSse2(const UCHAR* source, UCHAR* destination, ULONG pixels,
                        WhiteBalanceAccumulator* accumulator) {
  const __m128i lumaMask = _mm_set1_epi16(0x00FF);
  const __m128i bias = _mm_set1_epi16(128);
  const __m128i greenWeights = _mm_set_epi16(520, 190, 520, 190, 520, 190, 520, 190);
  __m128i sums = _mm_setzero_si128();
  ULONG x = 0;
  for (; x + 8 <= pixels; x += 8, source += 16, destination += 24) {
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
    const __m128i luma = _mm_and_si128(in, lumaMask);
    const __m128i chroma = _mm_sub_epi16(_mm_srli_epi16(in, 8), bias);  // U0 V0 U1 V1 ...
    const __m128i u = _mm_shufflehi_epi16(_mm_shufflelo_epi16(chroma, _MM_SHUFFLE(2, 2, 0, 0)),
                                          _MM_SHUFFLE(2, 2, 0, 0));
    const __m128i v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(chroma, _MM_SHUFFLE(3, 3, 1, 1)),
                                          _MM_SHUFFLE(3, 3, 1, 1));
    __m128i greenOffset = _mm_srai_epi32(_mm_madd_epi16(chroma, greenWeights), 10);
    greenOffset = _mm_packs_epi32(greenOffset, greenOffset);
    greenOffset = _mm_unpacklo_epi16(greenOffset, greenOffset);
    StoreBgr8(_mm_adds_epi16(luma, u), _mm_subs_epi16(luma, greenOffset), _mm_adds_epi16(luma, v),
              destination);
    // U', V' of the first two pairs of this 16-byte step, sign-extended to 32 bits.
    sums = _mm_add_epi32(sums, _mm_srai_epi32(_mm_unpacklo_epi16(chroma, chroma), 16));
  }
  if (accumulator != nullptr) {
    alignas(16) LONG lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sums);
    accumulator->uFirst += lanes[0];
    accumulator->vFirst += lanes[1];
    accumulator->uSecond += lanes[2];
    accumulator->vSecond += lanes[3];
    accumulator->steps += x / 8;
  }
  if (x < pixels) PackedToRgbRowPlain(source, destination, pixels - x, nullptr);
}

void PackedToUyvySse2(const UCHAR* source, UCHAR* destination, ULONG groups) {
  ULONG i = 0;
  for (; i + 4 <= groups; i += 4, source += 16, destination += 16) {
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination),
                     _mm_or_si128(_mm_slli_epi16(in, 8), _mm_srli_epi16(in, 8)));
  }
  if (i < groups) PackedToUyvyPlain(source, destination, groups - i);
}

void PackedToPlanarRowsSse2(const UCHAR* row0, const UCHAR* row1, UCHAR* luma0, UCHAR* luma1,
                            UCHAR* u, UCHAR* v, ULONG width) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  ULONG x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i* in0 = reinterpret_cast<const __m128i*>(row0 + x * 2);
    const __m128i* in1 = reinterpret_cast<const __m128i*>(row1 + x * 2);
    const __m128i a0 = _mm_loadu_si128(in0), b0 = _mm_loadu_si128(in0 + 1);
    const __m128i a1 = _mm_loadu_si128(in1), b1 = _mm_loadu_si128(in1 + 1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(luma0 + x),
                     _mm_packus_epi16(_mm_and_si128(a0, lowBytes), _mm_and_si128(b0, lowBytes)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(luma1 + x),
                     _mm_packus_epi16(_mm_and_si128(a1, lowBytes), _mm_and_si128(b1, lowBytes)));
    const __m128i chroma0 = _mm_packus_epi16(_mm_srli_epi16(a0, 8), _mm_srli_epi16(b0, 8));
    const __m128i chroma1 = _mm_packus_epi16(_mm_srli_epi16(a1, 8), _mm_srli_epi16(b1, 8));
    const __m128i mean = MeanDown(chroma0, chroma1);  // U V U V ...
    const __m128i zero = _mm_setzero_si128();
    _mm_storel_epi64(reinterpret_cast<__m128i*>(u + x / 2),
                     _mm_packus_epi16(_mm_and_si128(mean, lowBytes), zero));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(v + x / 2),
                     _mm_packus_epi16(_mm_srli_epi16(mean, 8), zero));
  }
  if (x < width) {
    PackedToPlanarRowsPlain(row0 + x * 2, row1 + x * 2, luma0 + x, luma1 + x, u + x / 2, v + x / 2,
                            width - x);
  }
}

namespace {

// Source pairs a, b (16-bit sums of two rows) to one output pair: Y0 from a's two lumas, Y1 from
// b's, U and V from both; the sums of four land in the low four words.
__m128i HalvePairs(__m128i sums) {
  const __m128i lumas = _mm_add_epi16(sums, _mm_srli_epi64(sums, 32));  // words 0 and 4
  const __m128i chroma = _mm_add_epi16(sums, _mm_srli_si128(sums, 8));  // words 1 and 3
  const __m128i firstWord = _mm_set_epi16(0, 0, 0, 0, 0, 0, 0, -1);
  const __m128i thirdWord = _mm_set_epi16(0, 0, 0, 0, 0, -1, 0, 0);
  const __m128i oddWords = _mm_set_epi16(0, 0, 0, 0, -1, 0, -1, 0);
  const __m128i pair =
      _mm_or_si128(_mm_or_si128(_mm_and_si128(lumas, firstWord),
                                _mm_and_si128(_mm_srli_si128(lumas, 4), thirdWord)),
                   _mm_and_si128(chroma, oddWords));
  return _mm_srli_epi16(pair, 2);
}

}  // namespace

// The standard equations with the multipliers 29032 and 22970 (1.772 and 1.402 in 14-bit fixed
// point) and the green weights 352/1024 and 731/1024; products round down where the plain routine
// truncates, so results may differ from it by 1 or 2.
void HalvePackedToRgbSse2(const UCHAR* row0, const UCHAR* row1, UCHAR* destination, ULONG pixels,
                          bool standard) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  const __m128i ones = _mm_set1_epi16(1);
  const __m128i bias = _mm_set1_epi16(128);
  const __m128i greenWeights =
      standard ? _mm_set1_epi32((731 << 16) | 352) : _mm_set1_epi32((520 << 16) | 190);
  ULONG x = 0;
  for (; x + 8 <= pixels; x += 8, destination += 24) {
    __m128i lumaSums[2], chroma[2];
    for (int k = 0; k < 2; ++k) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row0 + x * 4) + k);
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row1 + x * 4) + k);
      const __m128i lumas = _mm_add_epi16(_mm_and_si128(a, lowBytes), _mm_and_si128(b, lowBytes));
      lumaSums[k] = _mm_srli_epi32(_mm_madd_epi16(lumas, ones), 2);
      // U' and V' of one pair per 32-bit lane: U' in the low word.
      chroma[k] = _mm_sub_epi16(
          _mm_srli_epi16(_mm_add_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)), 1), bias);
    }
    const __m128i luma = _mm_packs_epi32(lumaSums[0], lumaSums[1]);
    const __m128i u = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(chroma[0], 16), 16),
                                      _mm_srai_epi32(_mm_slli_epi32(chroma[1], 16), 16));
    const __m128i v = _mm_packs_epi32(_mm_srai_epi32(chroma[0], 16), _mm_srai_epi32(chroma[1], 16));
    const __m128i greenOffset =
        _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(chroma[0], greenWeights), 10),
                        _mm_srai_epi32(_mm_madd_epi16(chroma[1], greenWeights), 10));
    __m128i blueOffset = u, redOffset = v;
    if (standard) {
      blueOffset = _mm_mulhi_epi16(_mm_slli_epi16(u, 2), _mm_set1_epi16(29032));
      redOffset = _mm_mulhi_epi16(_mm_slli_epi16(v, 2), _mm_set1_epi16(22970));
    }
    StoreBgr8(_mm_adds_epi16(luma, blueOffset), _mm_subs_epi16(luma, greenOffset),
              _mm_adds_epi16(luma, redOffset), destination);
  }
  if (x < pixels)
    HalvePackedToRgbPlain(row0 + x * 4, row1 + x * 4, destination, pixels - x, standard);
}

void HalvePackedRowsSse2(const UCHAR* row0, const UCHAR* row1, UCHAR* destination, ULONG pairs,
                         bool uyvy) {
  const __m128i zero = _mm_setzero_si128();
  ULONG i = 0;
  for (; i + 4 <= pairs; i += 4, row0 += 32, row1 += 32, destination += 16) {
    __m128i halves[4];
    for (int k = 0; k < 2; ++k) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row0) + k);
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row1) + k);
      halves[2 * k] =
          HalvePairs(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)));
      halves[2 * k + 1] =
          HalvePairs(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)));
    }
    __m128i out = _mm_packus_epi16(_mm_unpacklo_epi64(halves[0], halves[1]),
                                   _mm_unpacklo_epi64(halves[2], halves[3]));
    if (uyvy) out = _mm_or_si128(_mm_slli_epi16(out, 8), _mm_srli_epi16(out, 8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination), out);
  }
  if (i < pairs) HalvePackedRowsPlain(row0, row1, destination, pairs - i, uyvy);
}

void PackedToLumaSse2(const UCHAR* row, UCHAR* luma, ULONG width) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  ULONG x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i* in = reinterpret_cast<const __m128i*>(row + x * 2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + x),
                     _mm_packus_epi16(_mm_and_si128(_mm_loadu_si128(in), lowBytes),
                                      _mm_and_si128(_mm_loadu_si128(in + 1), lowBytes)));
  }
  if (x < width) PackedToLumaPlain(row + x * 2, luma + x, width - x);
}

void HalveLumaRowsSse2(const UCHAR* row0, const UCHAR* row1, UCHAR* luma, ULONG width) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  const __m128i ones = _mm_set1_epi16(1);
  ULONG x = 0;
  for (; x + 8 <= width; x += 8) {
    __m128i sums[2];
    for (int k = 0; k < 2; ++k) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row0 + x * 4) + k);
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row1 + x * 4) + k);
      const __m128i lumas = _mm_add_epi16(_mm_and_si128(a, lowBytes), _mm_and_si128(b, lowBytes));
      sums[k] = _mm_srli_epi32(_mm_madd_epi16(lumas, ones), 2);  // one pair's four lumas
    }
    const __m128i words = _mm_packs_epi32(sums[0], sums[1]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(luma + x), _mm_packus_epi16(words, words));
  }
  if (x < width) HalveLumaRowsPlain(row0 + x * 4, row1 + x * 4, luma + x, width - x);
}

// The table entries split into a unit part and a 16-bit remainder: 116130 = 65536 + 2 x 25297,
// 91881 = 65536 + 26345, 46802 = 65536 - 18734. With the rounding constants kept, each offset
// equals the table's to the bit.
void DecodedRowToRgbSse2(const UCHAR* luma, const UCHAR* cb, const UCHAR* cr, UCHAR* destination,
                         ULONG width, const DecodedColorTables& tables) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(128);
  const __m128i ones = _mm_set1_epi16(1);
  ULONG x = 0;
  for (; x + 16 <= width; x += 16, destination += 48) {
    const __m128i blueDifference = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x / 2)), zero),
        bias);
    const __m128i redDifference = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x / 2)), zero),
        bias);
    // (25297 x + 16384) >> 15 and (26345 x + 32768) >> 16 as a high-half product of x scaled up,
    // rounded half up by one more halving.
    const auto roundedHalf = [ones](__m128i product) {
      return _mm_srai_epi16(_mm_add_epi16(product, ones), 1);
    };
    const __m128i blueOffset = _mm_add_epi16(
        blueDifference,
        roundedHalf(_mm_mulhi_epi16(_mm_slli_epi16(blueDifference, 2), _mm_set1_epi16(25297))));
    const __m128i redOffset = _mm_add_epi16(
        redDifference,
        roundedHalf(_mm_mulhi_epi16(_mm_slli_epi16(redDifference, 1), _mm_set1_epi16(26345))));
    const __m128i greenOffset = _mm_sub_epi16(
        WeightedSum(blueDifference, redDifference, -22554, 18734, 32768, 16), redDifference);
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + x));
    for (int half = 0; half < 2; ++half) {
      const __m128i y16 = half == 0 ? _mm_unpacklo_epi8(y, zero) : _mm_unpackhi_epi8(y, zero);
      const auto spread = [half](__m128i offsets) {
        return half == 0 ? _mm_unpacklo_epi16(offsets, offsets)
                         : _mm_unpackhi_epi16(offsets, offsets);
      };
      StoreBgr8(_mm_add_epi16(y16, spread(blueOffset)), _mm_add_epi16(y16, spread(greenOffset)),
                _mm_add_epi16(y16, spread(redOffset)), destination + half * 24);
    }
  }
  if (x < width) {
    DecodedRowToRgbPlain(luma + x, cb + x / 2, cr + x / 2, destination, width - x, tables);
  }
}
