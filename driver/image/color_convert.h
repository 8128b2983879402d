// The colour converters of the image processor: packed YUV 4:2:2 from the sensor to every output
// format, decoded YCbCr planes to 24-bit RGB, and the in-place flip and mirror.
//
// Each converter exists as a plain routine, which defines the results, and as SIMD routines: SSE2
// row kernels for every same-size and 2:1 path and the decoded planes, AVX2 for the same-size
// packed-to-RGB path (the one every uncompressed frame of a 24-bit stream takes). The 4:1
// reductions and the planar chroma (a sixteenth of the output at most) are shared plain code. The
// image processor picks one ColorRoutines table when a stream opens (SelectColorRoutines) and calls
// through it for every frame; nothing here allocates, locks or keeps state between calls, so one
// table serves any number of streams at once.
//
// Contract common to every routine: widths and heights are 1 ... kMaxColorDimension; every buffer
// is checked against the bytes the call would touch before anything is read or written, and a call
// that does not fit returns 0 with the destination untouched. Sizes (color_formats.h):
// - packed 4:2:2 rows are PackedRowBytes(width) bytes (whole pixel pairs), rows back to back;
// - 24-bit RGB rows are 3 x width bytes (blue, green, red), rows back to back, no padding;
// - 'I420'/'IYUV': Y plane width x height, then U and V of (width / 2) x (height / 2);
// - 'YVU9': Y plane width x height, then V and U of (width / 4) x (height / 4).
#pragma once

#include "image/color_formats.h"
#include "image/color_tables.h"

// White-balance statistics of one converted frame: sums of U - 128 and V - 128 over the first and
// the second pixel pair of every 16 source bytes, and the number of 16-byte steps divided by 4.
// Only the SIMD same-size conversion to 24-bit RGB writes them (once per frame, all five fields);
// the plain routine leaves them as they were.
struct WhiteBalanceStatistics {
  LONG uSumFirst;
  LONG uSumSecond;
  LONG vSumFirst;
  LONG vSumSecond;
  LONG count;
};

// What the image processor's adjustment state says to the packed YUV converter.
struct YuvConversionSettings {
  ULONG flipBits;                      // kFlipVertical, kFlipMirror; applied to 24-bit RGB output
  bool standardCoefficients;           // reduced (2:1, 4:1) RGB output uses the standard equations
  WhiteBalanceStatistics* statistics;  // may be null: no statistics are kept
};

// ConvertYuv422: one packed YUV 4:2:2 frame of sourceWidth x sourceHeight pixels to the output
// `compression` at width x height.
// - sourceWidth 2 x width or 4 x width selects the 2:1 or 4:1 reduction (each output row then
//   reads 2 or 4 source rows, and sourceHeight must be at least that many times height); any other
//   sourceWidth means the source is width x height.
// - source must hold the rows read (PackedRowBytes(sourceWidth) each), destination
//   OutputImageBytes(compression, width, height).
// - 24-bit RGB: each output pixel from one source pair (2:1: luma the mean of the pair's four
//   lumas in two rows, chroma the mean of two rows) or from two pairs in four rows (4:1), with the
//   unit-gain equations, or the standard ones for reduced sources when standardCoefficients is set.
// - 'YUY2' and the RGB 5:6:5 pass-through copy a same-size image; 'UYVY' reorders each group.
// - Returns the bytes of the output image written. 'VRAW' converts nothing and returns
//   destinationLength. Unknown compressions, bad sizes and short buffers return 0.
// - 24-bit RGB output ends with FlipMirror(settings.flipBits); other outputs are not flipped.
using ConvertYuv422Routine = ULONG (*)(const UCHAR* source, ULONG sourceLength, UCHAR* destination,
                                       ULONG destinationLength, ULONG width, ULONG height,
                                       ULONG compression, ULONG sourceWidth, ULONG sourceHeight,
                                       const YuvConversionSettings& settings);

// ConvertDecoded422 / ConvertDecoded420: the decoder's planes back to back, Y (width x height),
// then Cb and Cr of ((width + 1) / 2) x height (4:2:2) or ((width + 1) / 2) x ((height + 1) / 2)
// (4:2:0): the plane sizes the decoder produces, which are (width / 2) x ... for even sizes. Output
// is 24-bit RGB, bottom-up: source row 0 becomes the last output row. planeBytes must cover the
// three planes and destinationLength 3 x width x height. The scratch area is not needed by these
// routines (it may be null). Returns 3 x width x height, or 0.
using ConvertDecodedRoutine = ULONG (*)(ULONG width, ULONG height, const UCHAR* planes,
                                        ULONG planeBytes, UCHAR* destination,
                                        ULONG destinationLength, UCHAR* scratch,
                                        ULONG scratchLength, const DecodedColorTables& tables);

// FlipMirror: applies flipBits in place to an image of width x height.
// - 24-bit RGB (sixteenBit false): kFlipVertical swaps rows top for bottom, kFlipMirror reverses
// the
//   pixels of every row.
// - packed 16-bit (sixteenBit true): rows are swapped when kFlipVertical is CLEAR (the packed
// output
//   of the raw-sensor path is stored the other way up from its RGB output); kFlipMirror reverses
//   the four-byte groups of every row and exchanges the two luma bytes of each group.
// An image longer than `length` is left untouched.
using FlipMirrorRoutine = void (*)(ULONG width, ULONG height, UCHAR* image, ULONG length,
                                   bool sixteenBit, ULONG flipBits);

struct ColorRoutines {
  ConvertYuv422Routine convertYuv422;
  ConvertDecodedRoutine convertDecoded422;
  ConvertDecodedRoutine convertDecoded420;
  FlipMirrorRoutine flipMirror;
  const char* name;  // "plain", "sse2" or "avx2"
};

enum class ColorRoutineSet { Plain, Sse2, Avx2 };

// The table for one routine set, or null when this processor cannot run it.
const ColorRoutines* ColorRoutinesFor(ColorRoutineSet set);

// The choice made when a stream opens: plain when useSimd is false or the CPUID MMX bit is clear;
// otherwise the widest SIMD set the processor supports.
const ColorRoutines* SelectColorRoutines(bool useSimd);
