// AVX2 kernel of the packed-YUV-to-RGB conversion: sixteen pixels per step, with the arithmetic of
// the SSE2 kernel. Compiled for AVX2 by attribute only; the routine table hands it out after CPUID
// and the operating system's register-state check said yes.
#include <immintrin.h>

#include "image/color_kernels.h"

__attribute__((target("avx2"))) void PackedToRgbRowAvx2(const UCHAR* source, UCHAR* destination,
                                                        ULONG pixels,
                                                        WhiteBalanceAccumulator* accumulator) {
  const __m256i lumaMask = _mm256_set1_epi16(0x00FF);
  const __m256i bias = _mm256_set1_epi16(128);
  const __m256i greenWeights = _mm256_set1_epi32((520 << 16) | 190);
  const __m256i zero = _mm256_setzero_si256();
  // B G R 0 pixels to 12 bytes at the bottom of each 128-bit lane.
  const __m256i squeeze = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                           0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  // Statistics: U', V' of the first two pairs of each 16-byte step are summed in 16-bit lanes (at
  // most 128 steps, well inside their range) and widened to 32 bits from time to time.
  __m256i sums = zero;
  __m256i recent = zero;
  ULONG recentSteps = 0;
  ULONG x = 0;
  // Each step stores four 16-byte pieces of which only 12 bytes are pixels; the last piece spills
  // 4 bytes past the step, so a step needs at least two more pixels (6 bytes) after it in the row.
  for (; x + 18 <= pixels; x += 16, source += 32, destination += 48) {
    const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source));
    const __m256i luma = _mm256_and_si256(in, lumaMask);
    const __m256i chroma = _mm256_sub_epi16(_mm256_srli_epi16(in, 8), bias);
    const __m256i u = _mm256_shufflehi_epi16(
        _mm256_shufflelo_epi16(chroma, _MM_SHUFFLE(2, 2, 0, 0)), _MM_SHUFFLE(2, 2, 0, 0));
    const __m256i v = _mm256_shufflehi_epi16(
        _mm256_shufflelo_epi16(chroma, _MM_SHUFFLE(3, 3, 1, 1)), _MM_SHUFFLE(3, 3, 1, 1));
    __m256i greenOffset = _mm256_srai_epi32(_mm256_madd_epi16(chroma, greenWeights), 10);
    greenOffset = _mm256_packs_epi32(greenOffset, greenOffset);
    greenOffset = _mm256_unpacklo_epi16(greenOffset, greenOffset);
    const __m256i blue = _mm256_adds_epi16(luma, u);
    const __m256i green = _mm256_subs_epi16(luma, greenOffset);
    const __m256i red = _mm256_adds_epi16(luma, v);

    const __m256i blueRed = _mm256_packus_epi16(blue, red);
    const __m256i greenZero = _mm256_packus_epi16(green, zero);
    const __m256i blueGreen = _mm256_unpacklo_epi8(blueRed, greenZero);
    const __m256i redZero = _mm256_unpackhi_epi8(blueRed, zero);
    // Lane 0 holds pixels 0-3 and 4-7, lane 1 pixels 8-11 and 12-15.
    const __m256i first = _mm256_shuffle_epi8(_mm256_unpacklo_epi16(blueGreen, redZero), squeeze);
    const __m256i second = _mm256_shuffle_epi8(_mm256_unpackhi_epi16(blueGreen, redZero), squeeze);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination), _mm256_castsi256_si128(first));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 12), _mm256_castsi256_si128(second));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 24),
                     _mm256_extracti128_si256(first, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 36),
                     _mm256_extracti128_si256(second, 1));

    recent = _mm256_add_epi16(recent, chroma);
    if (++recentSteps == 128) {
      sums = _mm256_add_epi32(sums, _mm256_srai_epi32(_mm256_unpacklo_epi16(recent, recent), 16));
      recent = zero;
      recentSteps = 0;
    }
  }
  sums = _mm256_add_epi32(sums, _mm256_srai_epi32(_mm256_unpacklo_epi16(recent, recent), 16));
  if (accumulator != nullptr) {
    const __m128i both =
        _mm_add_epi32(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
    alignas(16) LONG lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), both);
    accumulator->uFirst += lanes[0];
    accumulator->vFirst += lanes[1];
    accumulator->uSecond += lanes[2];
    accumulator->vSecond += lanes[3];
    accumulator->steps += x / 8;
  }
  if (x < pixels) PackedToRgbRowSse2(source, destination, pixels - x, accumulator);
}

namespace {

// The chrominance offsets of sixteen Cb, Cr sample pairs, equal to the plain routine's tables to
// the bit: blue (116130 x + 32768) >> 16 is x + (25297 x + 16384) >> 15, which the rounding
// multiply gives; red (91881 x + 32768) >> 16 is x + ((26345 x) >> 15 rounded half up by one
// more halving); green keeps the exact 32-bit sum of both products.
struct ChromaOffsets {
  __m256i blue, green, red;
};

__attribute__((target("avx2"))) inline ChromaOffsets DecodedChromaOffsets(const UCHAR* cb,
                                                                          const UCHAR* cr) {
  const __m256i bias = _mm256_set1_epi16(128);
  const __m256i blueDifference = _mm256_sub_epi16(
      _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb))), bias);
  const __m256i redDifference = _mm256_sub_epi16(
      _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr))), bias);
  ChromaOffsets offsets;
  offsets.blue = _mm256_add_epi16(blueDifference,
                                  _mm256_mulhrs_epi16(blueDifference, _mm256_set1_epi16(25297)));
  const __m256i redHalfUnits =
      _mm256_mulhi_epi16(_mm256_slli_epi16(redDifference, 1), _mm256_set1_epi16(26345));
  offsets.red = _mm256_add_epi16(
      redDifference, _mm256_srai_epi16(_mm256_add_epi16(redHalfUnits, _mm256_set1_epi16(1)), 1));
  // -22554 b + 18734 r + 32768, shifted down by 16, less r: -46802 = 18734 - 65536.
  const __m256i weights = _mm256_set1_epi32((18734 << 16) | (-22554 & 0xFFFF));
  const __m256i rounding = _mm256_set1_epi32(32768);
  const __m256i low = _mm256_srai_epi32(
      _mm256_add_epi32(
          _mm256_madd_epi16(_mm256_unpacklo_epi16(blueDifference, redDifference), weights),
          rounding),
      16);
  const __m256i high = _mm256_srai_epi32(
      _mm256_add_epi32(
          _mm256_madd_epi16(_mm256_unpackhi_epi16(blueDifference, redDifference), weights),
          rounding),
      16);
  offsets.green = _mm256_sub_epi16(_mm256_packs_epi32(low, high), redDifference);
  return offsets;
}

// Clamped y + offset for 32 pixels as bytes: lane 0 pixels 0-15, lane 1 pixels 16-31. lumaLow and
// lumaHigh hold pixels 0-7 | 16-23 and 8-15 | 24-31, as the in-lane unpacks leave them.
__attribute__((target("avx2"))) inline __m256i AddOffsets(__m256i lumaLow, __m256i lumaHigh,
                                                          __m256i offsets) {
  return _mm256_packus_epi16(_mm256_add_epi16(lumaLow, _mm256_unpacklo_epi16(offsets, offsets)),
                             _mm256_add_epi16(lumaHigh, _mm256_unpackhi_epi16(offsets, offsets)));
}

// One 16-byte piece of B G R bytes per lane, each byte taken from the component whose mask names
// it.
__attribute__((target("avx2"))) inline __m256i InterleavePiece(__m256i blue, __m256i green,
                                                               __m256i red, __m256i blueMask,
                                                               __m256i greenMask, __m256i redMask) {
  return _mm256_or_si256(
      _mm256_or_si256(_mm256_shuffle_epi8(blue, blueMask), _mm256_shuffle_epi8(green, greenMask)),
      _mm256_shuffle_epi8(red, redMask));
}

}  // namespace

// Thirty-two pixels per step: each 128-bit lane carries sixteen, interleaved to 48 bytes of B G R
// by byte shuffles, and the three results are regrouped so that the step stores exactly 96 bytes.
__attribute__((target("avx2"))) void DecodedRowToRgbAvx2(const UCHAR* luma, const UCHAR* cb,
                                                         const UCHAR* cr, UCHAR* destination,
                                                         ULONG width,
                                                         const DecodedColorTables& tables) {
  // Output byte j of each 16-byte piece k takes component j % 3 of pixel (16 k + j) / 3; -1 is a
  // byte another component fills.
  const __m256i blueToPiece0 =
      _mm256_setr_epi8(0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5, 0, -1, -1, 1, -1,
                       -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, 5);
  const __m256i greenToPiece0 =
      _mm256_setr_epi8(-1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, -1, 0, -1, -1, 1,
                       -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1);
  const __m256i redToPiece0 =
      _mm256_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1, -1, -1, 0, -1, -1,
                       1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
  const __m256i blueToPiece1 =
      _mm256_setr_epi8(-1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1, -1, -1, 6, -1,
                       -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, -1);
  const __m256i greenToPiece1 =
      _mm256_setr_epi8(5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10, 5, -1, -1, 6, -1,
                       -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, 10);
  const __m256i redToPiece1 =
      _mm256_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1, -1, 5, -1, -1, 6,
                       -1, -1, 7, -1, -1, 8, -1, -1, 9, -1, -1);
  const __m256i blueToPiece2 =
      _mm256_setr_epi8(-1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1, -1, 11, -1,
                       -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1);
  const __m256i greenToPiece2 =
      _mm256_setr_epi8(-1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1, -1, -1, 11,
                       -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, -1);
  const __m256i redToPiece2 =
      _mm256_setr_epi8(10, -1, -1, 11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15, 10, -1, -1,
                       11, -1, -1, 12, -1, -1, 13, -1, -1, 14, -1, -1, 15);
  const __m256i zero = _mm256_setzero_si256();
  ULONG x = 0;
  for (; x + 32 <= width; x += 32, destination += 96) {
    const ChromaOffsets offsets = DecodedChromaOffsets(cb + x / 2, cr + x / 2);
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(luma + x));
    const __m256i lumaLow = _mm256_unpacklo_epi8(y, zero);
    const __m256i lumaHigh = _mm256_unpackhi_epi8(y, zero);
    const __m256i blue = AddOffsets(lumaLow, lumaHigh, offsets.blue);
    const __m256i green = AddOffsets(lumaLow, lumaHigh, offsets.green);
    const __m256i red = AddOffsets(lumaLow, lumaHigh, offsets.red);
    const __m256i piece0 =
        InterleavePiece(blue, green, red, blueToPiece0, greenToPiece0, redToPiece0);
    const __m256i piece1 =
        InterleavePiece(blue, green, red, blueToPiece1, greenToPiece1, redToPiece1);
    const __m256i piece2 =
        InterleavePiece(blue, green, red, blueToPiece2, greenToPiece2, redToPiece2);
    __m256i* out = reinterpret_cast<__m256i*>(destination);
    _mm256_storeu_si256(out, _mm256_permute2x128_si256(piece0, piece1, 0x20));
    _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(piece2, piece0, 0x30));
    _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(piece1, piece2, 0x31));
  }
  if (x < width)
    DecodedRowToRgbSse2(luma + x, cb + x / 2, cr + x / 2, destination, width - x, tables);
}
