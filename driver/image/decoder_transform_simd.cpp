// The SIMD inverse transform: eight columns (then eight rows) at once in 16-bit lanes, products and
// their sums in 32-bit lanes through multiply-add. The same arithmetic as the plain routine, lane
// for lane (see decoder_transform.h). SSE2 is the baseline; the AVX2 routine does the 32-bit half
// of each pass on all eight lanes in one register instead of two.
#include <emmintrin.h>
#include <immintrin.h>

#include "image/decoder_transform.h"

namespace {

constexpr int16_t kF0298 = 2446;
constexpr int16_t kF0390 = 3196;
constexpr int16_t kF0541 = 4433;
constexpr int16_t kF0765 = 6270;
constexpr int16_t kF0899 = 7373;
constexpr int16_t kF1175 = 9633;
constexpr int16_t kF1501 = 12299;
constexpr int16_t kF1847 = 15137;
constexpr int16_t kF1961 = 16069;
constexpr int16_t kF2053 = 16819;
constexpr int16_t kF2562 = 20995;
constexpr int16_t kF3072 = 25172;

#define CAM_SIMD_INLINE inline __attribute__((always_inline))

// Multiply-add operands: lane pairs (a, b) times the constant pair (first, second).
CAM_SIMD_INLINE __m128i Pair(int16_t first, int16_t second) {
  return _mm_set_epi16(second, first, second, first, second, first, second, first);
}

template <bool kHigh>
CAM_SIMD_INLINE __m128i Interleave(__m128i a, __m128i b) {
  return kHigh ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b);
}

template <bool kHigh>
CAM_SIMD_INLINE __m128i MultiplyAdd(__m128i a, __m128i b, __m128i constants) {
  return _mm_madd_epi16(Interleave<kHigh>(a, b), constants);
}

// A 16-bit lane times 8192 in a 32-bit lane.
template <bool kHigh>
CAM_SIMD_INLINE __m128i Times8192(__m128i a) {
  return _mm_srai_epi32(Interleave<kHigh>(_mm_setzero_si128(), a), 3);
}

// The 16-bit sums of one 1-D pass, wrapping, shared by both halves.
struct Sums16 {
  __m128i even, evenDifference, s26, s1, s2, s3, s4, s34;
};

CAM_SIMD_INLINE Sums16 MakeSums(const __m128i in[8]) {
  Sums16 s;
  s.even = _mm_add_epi16(in[0], in[4]);
  s.evenDifference = _mm_sub_epi16(in[0], in[4]);
  s.s26 = _mm_add_epi16(in[2], in[6]);
  s.s1 = _mm_add_epi16(in[7], in[1]);
  s.s2 = _mm_add_epi16(in[5], in[3]);
  s.s3 = _mm_add_epi16(in[7], in[3]);
  s.s4 = _mm_add_epi16(in[5], in[1]);
  s.s34 = _mm_add_epi16(s.s3, s.s4);
  return s;
}

// Four lanes (the low or high half) of the eight 32-bit sums before descaling.
template <bool kHigh>
CAM_SIMD_INLINE void ButterflyHalf(const __m128i in[8], const Sums16& s, __m128i out[8]) {
  __m128i tmp0 = Times8192<kHigh>(s.even);
  __m128i tmp1 = Times8192<kHigh>(s.evenDifference);
  __m128i tmp2 = MultiplyAdd<kHigh>(s.s26, in[6], Pair(kF0541, -kF1847));
  __m128i tmp3 = MultiplyAdd<kHigh>(s.s26, in[2], Pair(kF0541, kF0765));
  __m128i tmp10 = _mm_add_epi32(tmp0, tmp3);
  __m128i tmp13 = _mm_sub_epi32(tmp0, tmp3);
  __m128i tmp11 = _mm_add_epi32(tmp1, tmp2);
  __m128i tmp12 = _mm_sub_epi32(tmp1, tmp2);

  __m128i with3 = MultiplyAdd<kHigh>(s.s3, s.s34, Pair(-kF1961, kF1175));
  __m128i with4 = MultiplyAdd<kHigh>(s.s4, s.s34, Pair(-kF0390, kF1175));
  __m128i o0 = _mm_add_epi32(MultiplyAdd<kHigh>(in[7], s.s1, Pair(kF0298, -kF0899)), with3);
  __m128i o1 = _mm_add_epi32(MultiplyAdd<kHigh>(in[5], s.s2, Pair(kF2053, -kF2562)), with4);
  __m128i o2 = _mm_add_epi32(MultiplyAdd<kHigh>(in[3], s.s2, Pair(kF3072, -kF2562)), with3);
  __m128i o3 = _mm_add_epi32(MultiplyAdd<kHigh>(in[1], s.s1, Pair(kF1501, -kF0899)), with4);

  out[0] = _mm_add_epi32(tmp10, o3);
  out[7] = _mm_sub_epi32(tmp10, o3);
  out[1] = _mm_add_epi32(tmp11, o2);
  out[6] = _mm_sub_epi32(tmp11, o2);
  out[2] = _mm_add_epi32(tmp12, o1);
  out[5] = _mm_sub_epi32(tmp12, o1);
  out[3] = _mm_add_epi32(tmp13, o0);
  out[4] = _mm_sub_epi32(tmp13, o0);
}

// One pass: in[i] is input i of eight parallel 1-D transforms; out[i] their output i, rounded,
// shifted right by kShift, plus kOffset, saturated to 16 bits.
template <int kShift, int kOffset>
CAM_SIMD_INLINE void Pass(const __m128i in[8], __m128i out[8]) {
  Sums16 sums = MakeSums(in);
  __m128i low[8], high[8];
  ButterflyHalf<false>(in, sums, low);
  ButterflyHalf<true>(in, sums, high);
  const __m128i round = _mm_set1_epi32(1 << (kShift - 1));
  const __m128i offset = _mm_set1_epi32(kOffset);
  for (int i = 0; i < 8; ++i) {
    __m128i l = _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(low[i], round), kShift), offset);
    __m128i h = _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(high[i], round), kShift), offset);
    out[i] = _mm_packs_epi32(l, h);
  }
}

CAM_SIMD_INLINE void Transpose(const __m128i r[8], __m128i c[8]) {
  __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  c[0] = _mm_unpacklo_epi64(b0, b4);
  c[1] = _mm_unpackhi_epi64(b0, b4);
  c[2] = _mm_unpacklo_epi64(b1, b5);
  c[3] = _mm_unpackhi_epi64(b1, b5);
  c[4] = _mm_unpacklo_epi64(b2, b6);
  c[5] = _mm_unpackhi_epi64(b2, b6);
  c[6] = _mm_unpacklo_epi64(b3, b7);
  c[7] = _mm_unpackhi_epi64(b3, b7);
}

// ---- AVX2: the 32-bit half of each pass on all eight lanes at once
// --------------------------------

#define CAM_AVX2_INLINE inline __attribute__((always_inline, target("avx2")))

CAM_AVX2_INLINE __m256i Pair256(int16_t first, int16_t second) {
  return _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(first)) |
                           (static_cast<int32_t>(second) << 16));
}

// Lanes (a, b) of all eight columns, columns 0 to 3 in the low half.
CAM_AVX2_INLINE __m256i Interleave256(__m128i a, __m128i b) {
  return _mm256_set_m128i(_mm_unpackhi_epi16(a, b), _mm_unpacklo_epi16(a, b));
}

CAM_AVX2_INLINE __m256i MultiplyAdd256(__m128i a, __m128i b, __m256i constants) {
  return _mm256_madd_epi16(Interleave256(a, b), constants);
}

template <int kShift, int kOffset>
CAM_AVX2_INLINE __m128i Finish256(__m256i sum) {
  const __m256i round = _mm256_set1_epi32(1 << (kShift - 1));
  const __m256i offset = _mm256_set1_epi32(kOffset);
  __m256i v = _mm256_add_epi32(_mm256_srai_epi32(_mm256_add_epi32(sum, round), kShift), offset);
  return _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

template <int kShift, int kOffset>
CAM_AVX2_INLINE void Pass256(const __m128i in[8], __m128i out[8]) {
  Sums16 s = MakeSums(in);
  __m256i tmp0 = _mm256_slli_epi32(_mm256_cvtepi16_epi32(s.even), 13);
  __m256i tmp1 = _mm256_slli_epi32(_mm256_cvtepi16_epi32(s.evenDifference), 13);
  __m256i tmp2 = MultiplyAdd256(s.s26, in[6], Pair256(kF0541, -kF1847));
  __m256i tmp3 = MultiplyAdd256(s.s26, in[2], Pair256(kF0541, kF0765));
  __m256i tmp10 = _mm256_add_epi32(tmp0, tmp3);
  __m256i tmp13 = _mm256_sub_epi32(tmp0, tmp3);
  __m256i tmp11 = _mm256_add_epi32(tmp1, tmp2);
  __m256i tmp12 = _mm256_sub_epi32(tmp1, tmp2);

  __m256i with3 = MultiplyAdd256(s.s3, s.s34, Pair256(-kF1961, kF1175));
  __m256i with4 = MultiplyAdd256(s.s4, s.s34, Pair256(-kF0390, kF1175));
  __m256i o0 = _mm256_add_epi32(MultiplyAdd256(in[7], s.s1, Pair256(kF0298, -kF0899)), with3);
  __m256i o1 = _mm256_add_epi32(MultiplyAdd256(in[5], s.s2, Pair256(kF2053, -kF2562)), with4);
  __m256i o2 = _mm256_add_epi32(MultiplyAdd256(in[3], s.s2, Pair256(kF3072, -kF2562)), with3);
  __m256i o3 = _mm256_add_epi32(MultiplyAdd256(in[1], s.s1, Pair256(kF1501, -kF0899)), with4);

  out[0] = Finish256<kShift, kOffset>(_mm256_add_epi32(tmp10, o3));
  out[7] = Finish256<kShift, kOffset>(_mm256_sub_epi32(tmp10, o3));
  out[1] = Finish256<kShift, kOffset>(_mm256_add_epi32(tmp11, o2));
  out[6] = Finish256<kShift, kOffset>(_mm256_sub_epi32(tmp11, o2));
  out[2] = Finish256<kShift, kOffset>(_mm256_add_epi32(tmp12, o1));
  out[5] = Finish256<kShift, kOffset>(_mm256_sub_epi32(tmp12, o1));
  out[3] = Finish256<kShift, kOffset>(_mm256_add_epi32(tmp13, o0));
  out[4] = Finish256<kShift, kOffset>(_mm256_sub_epi32(tmp13, o0));
}

CAM_SIMD_INLINE void LoadDequantised(const SHORT* coefficients, const void* quantTable,
                                     __m128i rows[8]) {
  const __m128i* coefficientRows = reinterpret_cast<const __m128i*>(coefficients);
  const __m128i* quantRows = static_cast<const __m128i*>(quantTable);
  for (int i = 0; i < 8; ++i) {
    rows[i] = _mm_mullo_epi16(_mm_loadu_si128(coefficientRows + i), _mm_loadu_si128(quantRows + i));
  }
}

CAM_SIMD_INLINE void StoreSamples(const __m128i rows[8], UCHAR* out, ULONG stride) {
  for (int i = 0; i < 8; i += 2) {
    __m128i bytes = _mm_packus_epi16(rows[i], rows[i + 1]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<size_t>(i) * stride), bytes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + static_cast<size_t>(i + 1) * stride),
                     _mm_unpackhi_epi64(bytes, bytes));
  }
}

}  // namespace

// Each: dequantise, columns (rows[i] holds input i of the eight column transforms), transpose,
// rows (now rows[i] holds sample i of every row), transpose back, store.
void InverseTransformSse2(const SHORT* coefficients, const void* quantTable, UCHAR* out,
                          ULONG stride) {
  __m128i rows[8], columns[8];
  LoadDequantised(coefficients, quantTable, rows);
  Pass<11, 0>(rows, columns);
  Transpose(columns, rows);
  Pass<18, 128>(rows, columns);
  Transpose(columns, rows);
  StoreSamples(rows, out, stride);
}

__attribute__((target("avx2"))) void InverseTransformAvx2(const SHORT* coefficients,
                                                          const void* quantTable, UCHAR* out,
                                                          ULONG stride) {
  __m128i rows[8], columns[8];
  LoadDequantised(coefficients, quantTable, rows);
  Pass256<11, 0>(rows, columns);
  Transpose(columns, rows);
  Pass256<18, 128>(rows, columns);
  Transpose(columns, rows);
  StoreSamples(rows, out, stride);
}

// ---- AVX2, two blocks: block A in the low 128-bit half of every register, block B in the high
// ----

namespace {

template <bool kHigh>
CAM_AVX2_INLINE __m256i InterleavePair(__m256i a, __m256i b) {
  return kHigh ? _mm256_unpackhi_epi16(a, b) : _mm256_unpacklo_epi16(a, b);
}

template <bool kHigh>
CAM_AVX2_INLINE __m256i MultiplyAddPair(__m256i a, __m256i b, __m256i constants) {
  return _mm256_madd_epi16(InterleavePair<kHigh>(a, b), constants);
}

template <bool kHigh>
CAM_AVX2_INLINE __m256i Times8192Pair(__m256i a) {
  return _mm256_srai_epi32(InterleavePair<kHigh>(_mm256_setzero_si256(), a), 3);
}

// Both halves (columns 0 to 3 and 4 to 7 of each block) of a 32-bit term.
struct HalvesPair {
  __m256i low, high;
};

CAM_AVX2_INLINE HalvesPair MultiplyAddHalves(__m256i a, __m256i b, __m256i constants) {
  return {MultiplyAddPair<false>(a, b, constants), MultiplyAddPair<true>(a, b, constants)};
}

CAM_AVX2_INLINE HalvesPair AddHalves(HalvesPair a, HalvesPair b) {
  return {_mm256_add_epi32(a.low, b.low), _mm256_add_epi32(a.high, b.high)};
}

CAM_AVX2_INLINE HalvesPair SubtractHalves(HalvesPair a, HalvesPair b) {
  return {_mm256_sub_epi32(a.low, b.low), _mm256_sub_epi32(a.high, b.high)};
}

// Descales both halves of one output and packs them back into 16-bit lanes. After the shift a value
// is within +-2^(31 - kShift), so the offset added in 16 bits after the saturating pack cannot
// overflow, and the pack does not saturate.
template <int kShift, int kOffset>
CAM_AVX2_INLINE __m256i FinishHalves(HalvesPair sum) {
  static_assert(31 - kShift < 15 || kOffset == 0);
  __m256i packed =
      _mm256_packs_epi32(_mm256_srai_epi32(sum.low, kShift), _mm256_srai_epi32(sum.high, kShift));
  return kOffset == 0 ? packed : _mm256_add_epi16(packed, _mm256_set1_epi16(kOffset));
}

// One pass over two blocks. The even part is made first; each odd term then finishes its two
// outputs at once, so that few 32-bit sums are alive at a time. Every output sums exactly one of
// tmp0 and tmp1, so the rounding term added to both once is added to each output (modulo 2^32,
// as the sums are).
template <int kShift, int kOffset>
CAM_AVX2_INLINE void PassPair(const __m256i in[8], __m256i out[8]) {
  const __m256i round = _mm256_set1_epi32(1 << (kShift - 1));
  const __m256i even = _mm256_add_epi16(in[0], in[4]);
  const __m256i evenDifference = _mm256_sub_epi16(in[0], in[4]);
  const __m256i s26 = _mm256_add_epi16(in[2], in[6]);
  HalvesPair tmp0 = {_mm256_add_epi32(Times8192Pair<false>(even), round),
                     _mm256_add_epi32(Times8192Pair<true>(even), round)};
  HalvesPair tmp1 = {_mm256_add_epi32(Times8192Pair<false>(evenDifference), round),
                     _mm256_add_epi32(Times8192Pair<true>(evenDifference), round)};
  HalvesPair tmp2 = MultiplyAddHalves(s26, in[6], Pair256(kF0541, -kF1847));
  HalvesPair tmp3 = MultiplyAddHalves(s26, in[2], Pair256(kF0541, kF0765));
  const HalvesPair tmp10 = AddHalves(tmp0, tmp3);
  const HalvesPair tmp13 = SubtractHalves(tmp0, tmp3);
  const HalvesPair tmp11 = AddHalves(tmp1, tmp2);
  const HalvesPair tmp12 = SubtractHalves(tmp1, tmp2);

  const __m256i s1 = _mm256_add_epi16(in[7], in[1]);
  const __m256i s2 = _mm256_add_epi16(in[5], in[3]);
  const __m256i s3 = _mm256_add_epi16(in[7], in[3]);
  const __m256i s4 = _mm256_add_epi16(in[5], in[1]);
  const __m256i s34 = _mm256_add_epi16(s3, s4);
  const HalvesPair with3 = MultiplyAddHalves(s3, s34, Pair256(-kF1961, kF1175));
  const HalvesPair with4 = MultiplyAddHalves(s4, s34, Pair256(-kF0390, kF1175));

  HalvesPair o3 = AddHalves(MultiplyAddHalves(in[1], s1, Pair256(kF1501, -kF0899)), with4);
  out[0] = FinishHalves<kShift, kOffset>(AddHalves(tmp10, o3));
  out[7] = FinishHalves<kShift, kOffset>(SubtractHalves(tmp10, o3));
  HalvesPair o2 = AddHalves(MultiplyAddHalves(in[3], s2, Pair256(kF3072, -kF2562)), with3);
  out[1] = FinishHalves<kShift, kOffset>(AddHalves(tmp11, o2));
  out[6] = FinishHalves<kShift, kOffset>(SubtractHalves(tmp11, o2));
  HalvesPair o1 = AddHalves(MultiplyAddHalves(in[5], s2, Pair256(kF2053, -kF2562)), with4);
  out[2] = FinishHalves<kShift, kOffset>(AddHalves(tmp12, o1));
  out[5] = FinishHalves<kShift, kOffset>(SubtractHalves(tmp12, o1));
  HalvesPair o0 = AddHalves(MultiplyAddHalves(in[7], s1, Pair256(kF0298, -kF0899)), with3);
  out[3] = FinishHalves<kShift, kOffset>(AddHalves(tmp13, o0));
  out[4] = FinishHalves<kShift, kOffset>(SubtractHalves(tmp13, o0));
}

CAM_AVX2_INLINE void TransposePair(const __m256i r[8], __m256i c[8]) {
  __m256i a0 = _mm256_unpacklo_epi16(r[0], r[1]), a1 = _mm256_unpackhi_epi16(r[0], r[1]);
  __m256i a2 = _mm256_unpacklo_epi16(r[2], r[3]), a3 = _mm256_unpackhi_epi16(r[2], r[3]);
  __m256i a4 = _mm256_unpacklo_epi16(r[4], r[5]), a5 = _mm256_unpackhi_epi16(r[4], r[5]);
  __m256i a6 = _mm256_unpacklo_epi16(r[6], r[7]), a7 = _mm256_unpackhi_epi16(r[6], r[7]);
  __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
  __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
  __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
  __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
  c[0] = _mm256_unpacklo_epi64(b0, b4);
  c[1] = _mm256_unpackhi_epi64(b0, b4);
  c[2] = _mm256_unpacklo_epi64(b1, b5);
  c[3] = _mm256_unpackhi_epi64(b1, b5);
  c[4] = _mm256_unpacklo_epi64(b2, b6);
  c[5] = _mm256_unpackhi_epi64(b2, b6);
  c[6] = _mm256_unpacklo_epi64(b3, b7);
  c[7] = _mm256_unpackhi_epi64(b3, b7);
}

CAM_AVX2_INLINE __m256i LoadPair(const void* a, const void* b) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(a))),
      _mm_loadu_si128(static_cast<const __m128i*>(b)), 1);
}

}  // namespace

__attribute__((target("avx2"))) void InverseTransformPairAvx2(
    const SHORT* coefficientsA, const void* quantTableA, UCHAR* outA, ULONG strideA,
    const SHORT* coefficientsB, const void* quantTableB, UCHAR* outB, ULONG strideB) {
  const SHORT* quantA = static_cast<const SHORT*>(quantTableA);
  const SHORT* quantB = static_cast<const SHORT*>(quantTableB);
  __m256i rows[8], columns[8];
  for (int i = 0; i < 8; ++i) {
    rows[i] = _mm256_mullo_epi16(LoadPair(coefficientsA + 8 * i, coefficientsB + 8 * i),
                                 LoadPair(quantA + 8 * i, quantB + 8 * i));
  }
  PassPair<11, 0>(rows, columns);
  TransposePair(columns, rows);
  PassPair<18, 128>(rows, columns);
  TransposePair(columns, rows);
  for (int i = 0; i < 8; i += 2) {
    // Per half: row i then row i + 1 of that block.
    __m256i bytes = _mm256_packus_epi16(rows[i], rows[i + 1]);
    __m128i a = _mm256_castsi256_si128(bytes);
    __m128i b = _mm256_extracti128_si256(bytes, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(outA + static_cast<size_t>(i) * strideA), a);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(outA + static_cast<size_t>(i + 1) * strideA),
                     _mm_unpackhi_epi64(a, a));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(outB + static_cast<size_t>(i) * strideB), b);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(outB + static_cast<size_t>(i + 1) * strideB),
                     _mm_unpackhi_epi64(b, b));
  }
}
