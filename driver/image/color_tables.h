// Lookup tables of the decoded-plane conversion (YCbCr with the standard equations to 24-bit RGB).
#pragma once

#include "core/buffer_pool.h"

// Offsets are in 16-bit fixed point: 91881, 116130, 46802 and 22554 are 1.40200, 1.77200, 0.71414
// and 0.34414 times 65536.
struct DecodedColorTables {
  LONG crToR[256];  // (91881 x + 32768) >> 16, x = i - 128
  LONG cbToB[256];  // (116130 x + 32768) >> 16
  LONG crToG[256];  // -46802 x (green still to be shifted down by 16)
  LONG cbToG[256];  // -22554 x + 32768 (carries the rounding of the green sum)
  // 256 zeros, 0 ... 255, 384 x 255, 384 zeros, 0 ... 127. Indexed from kRangeLimitOrigin, so that
  // indices -256 ... 639 clamp to 0 ... 255; the last two runs answer indices that wrapped modulo
  // 1024 and are never reached by the sums of valid samples.
  UCHAR rangeLimit[1408];
};
inline constexpr LONG kRangeLimitOrigin = 256;

// Fills every table; a pure function of nothing, so the result is the same on every call.
void FillConversionTables(DecodedColorTables* tables);

// One persistent block of the pool, filled. STATUS_INSUFFICIENT_RESOURCES when the pool has none;
// *result is then null.
NTSTATUS BuildConversionTables(IBufferPool* pool, DecodedColorTables** result);
// Returns the block to the pool and clears *tables; a null slot or block is ignored.
void FreeConversionTables(IBufferPool* pool, DecodedColorTables** tables);

// The range-limit lookup: the table's clamp of a sum that lies in -256 ... 639.
inline UCHAR RangeLimit(const DecodedColorTables& tables, LONG value) {
  return tables.rangeLimit[kRangeLimitOrigin + value];
}
