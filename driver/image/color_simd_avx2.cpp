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
