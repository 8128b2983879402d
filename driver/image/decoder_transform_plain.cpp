// The plain inverse transform: 32-bit arithmetic that follows the 16-bit wrapping rules of the SIMD
// routines (see decoder_transform.h), written as the reference for them.
#include "image/decoder_transform.h"

namespace {

// The constants times 8192: 0.298631336, 0.390180644, 0.541196100, 0.765366865, 0.899976223,
// 1.175875602, 1.501321110, 1.847759065, 1.961570560, 2.053119869, 2.562915447, 3.072711026.
constexpr int32_t kF0298 = 2446;
constexpr int32_t kF0390 = 3196;
constexpr int32_t kF0541 = 4433;
constexpr int32_t kF0765 = 6270;
constexpr int32_t kF0899 = 7373;
constexpr int32_t kF1175 = 9633;
constexpr int32_t kF1501 = 12299;
constexpr int32_t kF1847 = 15137;
constexpr int32_t kF1961 = 16069;
constexpr int32_t kF2053 = 16819;
constexpr int32_t kF2562 = 20995;
constexpr int32_t kF3072 = 25172;

// A value as a 16-bit SIMD lane holds it.
inline int32_t Wrap16(int32_t value) { return static_cast<int16_t>(value); }

inline int32_t Saturate16(int32_t value) {
  if (value > 32767) return 32767;
  if (value < -32768) return -32768;
  return value;
}

// A 16-bit value times a constant, as the unsigned 32-bit word the wrapping sums are made of.
inline uint32_t Product(int32_t value, int32_t constant) {
  return static_cast<uint32_t>(value * constant);
}

// One 1-D transform of eight 16-bit inputs; the eight sums before descaling, modulo 2^32.
void Butterfly(const int32_t in[8], uint32_t out[8]) {
  uint32_t tmp0 = static_cast<uint32_t>(Wrap16(in[0] + in[4])) << 13;
  uint32_t tmp1 = static_cast<uint32_t>(Wrap16(in[0] - in[4])) << 13;
  uint32_t z1 = Product(Wrap16(in[2] + in[6]), kF0541);
  uint32_t tmp2 = z1 + Product(in[6], -kF1847);
  uint32_t tmp3 = z1 + Product(in[2], kF0765);
  uint32_t tmp10 = tmp0 + tmp3;
  uint32_t tmp13 = tmp0 - tmp3;
  uint32_t tmp11 = tmp1 + tmp2;
  uint32_t tmp12 = tmp1 - tmp2;

  int32_t t0 = in[7], t1 = in[5], t2 = in[3], t3 = in[1];
  int32_t s1 = Wrap16(t0 + t3);
  int32_t s2 = Wrap16(t1 + t2);
  int32_t s3 = Wrap16(t0 + t2);
  int32_t s4 = Wrap16(t1 + t3);
  uint32_t z5 = Product(Wrap16(s3 + s4), kF1175);
  uint32_t o0 = Product(t0, kF0298) + Product(s1, -kF0899) + Product(s3, -kF1961) + z5;
  uint32_t o1 = Product(t1, kF2053) + Product(s2, -kF2562) + Product(s4, -kF0390) + z5;
  uint32_t o2 = Product(t2, kF3072) + Product(s2, -kF2562) + Product(s3, -kF1961) + z5;
  uint32_t o3 = Product(t3, kF1501) + Product(s1, -kF0899) + Product(s4, -kF0390) + z5;

  out[0] = tmp10 + o3;
  out[7] = tmp10 - o3;
  out[1] = tmp11 + o2;
  out[6] = tmp11 - o2;
  out[2] = tmp12 + o1;
  out[5] = tmp12 - o1;
  out[3] = tmp13 + o0;
  out[4] = tmp13 - o0;
}

inline int32_t Descale(uint32_t sum, int shift) {
  return static_cast<int32_t>(sum + (1u << (shift - 1))) >> shift;
}

inline UCHAR ClampSample(int32_t value) {
  value += 128;
  if (value < 0) return 0;
  if (value > 255) return 255;
  return static_cast<UCHAR>(value);
}

}  // namespace

void InverseTransformPlain(const SHORT* coefficients, const void* quantTable, UCHAR* out,
                           ULONG stride) {
  const LONG* quant = static_cast<const LONG*>(quantTable);
  int32_t workspace[64];
  for (int column = 0; column < 8; ++column) {
    int32_t in[8];
    bool acZero = true;
    for (int row = 0; row < 8; ++row) {
      int index = row * 8 + column;
      in[row] = Wrap16(coefficients[index] * quant[index]);
      if (row != 0 && in[row] != 0) acZero = false;
    }
    if (acZero) {
      int32_t value = Saturate16(in[0] * 4);
      for (int row = 0; row < 8; ++row) workspace[row * 8 + column] = value;
      continue;
    }
    uint32_t sums[8];
    Butterfly(in, sums);
    for (int row = 0; row < 8; ++row) {
      workspace[row * 8 + column] = Saturate16(Descale(sums[row], 11));
    }
  }
  for (int row = 0; row < 8; ++row) {
    const int32_t* in = &workspace[row * 8];
    UCHAR* line = out + static_cast<size_t>(row) * stride;
    if ((in[1] | in[2] | in[3] | in[4] | in[5] | in[6] | in[7]) == 0) {
      UCHAR value = ClampSample((in[0] + 16) >> 5);
      for (int x = 0; x < 8; ++x) line[x] = value;
      continue;
    }
    uint32_t sums[8];
    Butterfly(in, sums);
    for (int x = 0; x < 8; ++x) line[x] = ClampSample(Descale(sums[x], 18));
  }
}
