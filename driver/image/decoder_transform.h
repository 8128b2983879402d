// The inverse DCT of the decoder and its output stage, shared by the plain and the SIMD routines.
//
// Both compute the same integer transform (the Loeffler-Ligtenberg-Moschytz factorisation with
// 13-bit constants, 2 extra bits of precision between the passes) with the same wrapping rules, so
// that their planes are identical:
//  - a dequantised coefficient (coefficient x table entry), and every sum of them that is then
//    multiplied by a constant, is a signed 16-bit value (wrapping), as in 16-bit SIMD lanes;
//  - products and the remaining sums are 32-bit, wrapping;
//  - the column pass rounds, shifts right by 11 and saturates to 16 bits; the row pass rounds,
//    shifts right by 18, adds the level shift of 128 and clamps to 0 .. 255.
// A column or row whose AC terms are zero yields the same values through the full transform as
// through the shortcut, so each routine may take the shortcut or not.
#pragma once

#include <cstdint>

#include "kernel_types.h"

// Transforms one block: coefficients in natural order (left unchanged), the quantisation table of
// the routine's path (LONG[64] for the plain routine, SHORT[64] for the SIMD ones), 8 x 8 samples
// written to out with the given row stride.
using InverseTransformRoutine = void (*)(const SHORT* coefficients, const void* quantTable,
                                         UCHAR* out, ULONG stride);

void InverseTransformPlain(const SHORT* coefficients, const void* quantTable, UCHAR* out,
                           ULONG stride);
void InverseTransformSse2(const SHORT* coefficients, const void* quantTable, UCHAR* out,
                          ULONG stride);
void InverseTransformAvx2(const SHORT* coefficients, const void* quantTable, UCHAR* out,
                          ULONG stride);

// The one sample value of a block whose only non-zero coefficient is the DC term: every column is
// 4 x the dequantised DC (saturated), every row (value + 16) >> 5, level-shifted and clamped.
inline UCHAR DcOnlySample(SHORT dc, LONG quantEntry) {
  int32_t dequantised = static_cast<int16_t>(static_cast<int32_t>(dc) * quantEntry);
  int32_t column = dequantised * 4;
  if (column > 32767) column = 32767;
  if (column < -32768) column = -32768;
  int32_t sample = ((column + 16) >> 5) + 128;
  if (sample < 0) sample = 0;
  if (sample > 255) sample = 255;
  return static_cast<UCHAR>(sample);
}

// Two blocks at once, each as the single routine would transform it (AVX2: one block per 128-bit
// half of every register).
using InverseTransformPairRoutine = void (*)(const SHORT* coefficientsA, const void* quantTableA,
                                             UCHAR* outA, ULONG strideA, const SHORT* coefficientsB,
                                             const void* quantTableB, UCHAR* outB, ULONG strideB);

void InverseTransformPairAvx2(const SHORT* coefficientsA, const void* quantTableA, UCHAR* outA,
                              ULONG strideA, const SHORT* coefficientsB, const void* quantTableB,
                              UCHAR* outB, ULONG strideB);
