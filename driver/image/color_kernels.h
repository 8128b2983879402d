// Row kernels behind the colour converters, one table per routine set. The frame routines
// (color_convert_yuv.cpp, color_convert_decoded.cpp) validate sizes and walk the rows; the kernels
// only compute, so a plain and a SIMD set share every check and every row address.
#pragma once

#include "image/color_convert.h"

// Running white-balance sums of one frame: U', V' of the first pair and U', V' of the second pair
// of every 16-byte step, and the number of steps.
struct WhiteBalanceAccumulator {
  LONG uFirst;
  LONG vFirst;
  LONG uSecond;
  LONG vSecond;
  ULONG steps;
};

struct YuvRowKernels {
  // Same size to 24-bit RGB: `pixels` pixels from whole source pairs. A non-null accumulator takes
  // the statistics of every whole 16-byte step of the row.
  void (*packedToRgb)(const UCHAR* source, UCHAR* destination, ULONG pixels,
                      WhiteBalanceAccumulator* accumulator);
  // Same size to 'UYVY': `groups` four-byte groups, Y0 U Y1 V to U Y0 V Y1.
  void (*packedToUyvy)(const UCHAR* source, UCHAR* destination, ULONG groups);
  // Same size to planar 4:2:0: two source rows give two luma rows of `width` bytes and width / 2
  // chroma samples each of U and V, the means of the two rows.
  void (*packedToPlanarRows)(const UCHAR* row0, const UCHAR* row1, UCHAR* luma0, UCHAR* luma1,
                             UCHAR* u, UCHAR* v, ULONG width);
  // 24-bit RGB from a source twice as wide and high: each of `pixels` output pixels from one source
  // pair in two rows, with the unit-gain or (standard) the standard equations.
  void (*halvePackedToRgb)(const UCHAR* row0, const UCHAR* row1, UCHAR* destination, ULONG pixels,
                           bool standard);
  // 'YUY2' or 'UYVY' from a source twice as wide and high: `pairs` output pairs from two source
  // rows, each from two source pairs (sums of four bytes shifted right by 2).
  void (*halvePackedRows)(const UCHAR* row0, const UCHAR* row1, UCHAR* destination, ULONG pairs,
                          bool uyvy);
  // Planar luma: one row of `width` lumas copied, or (halve) the 2 x 2 means of two rows of a
  // source twice as wide.
  void (*packedToLuma)(const UCHAR* row, UCHAR* luma, ULONG width);
  void (*halveLumaRows)(const UCHAR* row0, const UCHAR* row1, UCHAR* luma, ULONG width);
  bool keepsStatistics;
  FlipMirrorRoutine flipMirror;
};

// Decoded planes to 24-bit RGB, one output row: `width` pixels, chroma sample i serving pixels 2i
// and 2i + 1.
using DecodedRowKernel = void (*)(const UCHAR* luma, const UCHAR* cb, const UCHAR* cr,
                                  UCHAR* destination, ULONG width,
                                  const DecodedColorTables& tables);

ULONG ConvertYuv422WithKernels(const YuvRowKernels& kernels, const UCHAR* source,
                               ULONG sourceLength, UCHAR* destination, ULONG destinationLength,
                               ULONG width, ULONG height, ULONG compression, ULONG sourceWidth,
                               ULONG sourceHeight, const YuvConversionSettings& settings);
ULONG ConvertDecodedWithKernel(DecodedRowKernel kernel, bool chromaRowsHalved, ULONG width,
                               ULONG height, const UCHAR* planes, ULONG planeBytes,
                               UCHAR* destination, ULONG destinationLength,
                               const DecodedColorTables& tables);

// Plain kernels (the reference, and the tails of the SIMD kernels).
void PackedToRgbRowPlain(const UCHAR* source, UCHAR* destination, ULONG pixels,
                         WhiteBalanceAccumulator* accumulator);
void PackedToUyvyPlain(const UCHAR* source, UCHAR* destination, ULONG groups);
void PackedToPlanarRowsPlain(const UCHAR* row0, const UCHAR* row1, UCHAR* luma0, UCHAR* luma1,
                             UCHAR* u, UCHAR* v, ULONG width);
void HalvePackedToRgbPlain(const UCHAR* row0, const UCHAR* row1, UCHAR* destination, ULONG pixels,
                           bool standard);
void HalvePackedRowsPlain(const UCHAR* row0, const UCHAR* row1, UCHAR* destination, ULONG pairs,
                          bool uyvy);
void PackedToLumaPlain(const UCHAR* row, UCHAR* luma, ULONG width);
void HalveLumaRowsPlain(const UCHAR* row0, const UCHAR* row1, UCHAR* luma, ULONG width);
void DecodedRowToRgbPlain(const UCHAR* luma, const UCHAR* cb, const UCHAR* cr, UCHAR* destination,
                          ULONG width, const DecodedColorTables& tables);
void FlipMirrorPlain(ULONG width, ULONG height, UCHAR* image, ULONG length, bool sixteenBit,
                     ULONG flipBits);

// SSE2 kernels (x86-64 baseline).
void PackedToRgbRowSse2(const UCHAR* source, UCHAR* destination, ULONG pixels,
                        WhiteBalanceAccumulator* accumulator);
void PackedToUyvySse2(const UCHAR* source, UCHAR* destination, ULONG groups);
void PackedToPlanarRowsSse2(const UCHAR* row0, const UCHAR* row1, UCHAR* luma0, UCHAR* luma1,
                            UCHAR* u, UCHAR* v, ULONG width);
void HalvePackedToRgbSse2(const UCHAR* row0, const UCHAR* row1, UCHAR* destination, ULONG pixels,
                          bool standard);
void HalvePackedRowsSse2(const UCHAR* row0, const UCHAR* row1, UCHAR* destination, ULONG pairs,
                         bool uyvy);
void PackedToLumaSse2(const UCHAR* row, UCHAR* luma, ULONG width);
void HalveLumaRowsSse2(const UCHAR* row0, const UCHAR* row1, UCHAR* luma, ULONG width);
void DecodedRowToRgbSse2(const UCHAR* luma, const UCHAR* cb, const UCHAR* cr, UCHAR* destination,
                         ULONG width, const DecodedColorTables& tables);
void FlipMirrorSse2(ULONG width, ULONG height, UCHAR* image, ULONG length, bool sixteenBit,
                    ULONG flipBits);

// AVX2 kernel, compiled for AVX2 alone; run only after the processor was checked for it.
void PackedToRgbRowAvx2(const UCHAR* source, UCHAR* destination, ULONG pixels,
                        WhiteBalanceAccumulator* accumulator);
void DecodedRowToRgbAvx2(const UCHAR* luma, const UCHAR* cb, const UCHAR* cr, UCHAR* destination,
                         ULONG width, const DecodedColorTables& tables);
