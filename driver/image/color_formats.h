// Output formats of the colour converters and the buffer sizes each needs. The image processor uses
// these to check a frame buffer before it hands it to a converter.
#pragma once

#include "kernel_types.h"

// Compression values of the bitmap header (little-endian FourCCs).
constexpr ULONG MakeFourCc(char a, char b, char c, char d) {
  return static_cast<ULONG>(static_cast<UCHAR>(a)) |
         (static_cast<ULONG>(static_cast<UCHAR>(b)) << 8) |
         (static_cast<ULONG>(static_cast<UCHAR>(c)) << 16) |
         (static_cast<ULONG>(static_cast<UCHAR>(d)) << 24);
}
inline constexpr ULONG kCompressionRgb24 = 0;
inline constexpr ULONG kFourCcYuy2 = MakeFourCc('Y', 'U', 'Y', '2');
inline constexpr ULONG kFourCcUyvy = MakeFourCc('U', 'Y', 'V', 'Y');
inline constexpr ULONG kFourCcI420 = MakeFourCc('I', '4', '2', '0');
inline constexpr ULONG kFourCcIyuv = MakeFourCc('I', 'Y', 'U', 'V');
inline constexpr ULONG kFourCcYvu9 = MakeFourCc('Y', 'V', 'U', '9');
inline constexpr ULONG kFourCcVraw = MakeFourCc('V', 'R', 'A', 'W');
inline constexpr ULONG kFourCcMjpg = MakeFourCc('M', 'J', 'P', 'G');
// The first 32 bits of the RGB 5:6:5 media subtype; frames in it pass through unchanged.
inline constexpr ULONG kCompressionRgb565 = 0xE436EB7B;

// Flip bits of the image processor.
inline constexpr ULONG kFlipVertical = 1u << 0;
inline constexpr ULONG kFlipMirror = 1u << 1;

// Packed 4:2:2 rows hold whole pixel pairs: a row of an odd width ends with a full four-byte group
// whose second pixel is padding. For even widths this is 2 x width.
constexpr ULONG PackedRowBytes(ULONG width) { return ((width + 1) / 2) * 4; }
constexpr ULONG RgbRowBytes(ULONG width) { return width * 3; }

// Bytes of one output image, 0 for a compression no converter produces. The results fit in 32 bits
// only for sane sizes; callers check width and height against the frame first (see
// ColorImageFits).
constexpr ULONGLONG OutputImageBytes(ULONG compression, ULONG width, ULONG height) {
  const ULONGLONG w = width, h = height;
  switch (compression) {
    case kCompressionRgb24:
      return 3 * w * h;
    case kFourCcYuy2:
    case kFourCcUyvy:
    case kCompressionRgb565:
      return static_cast<ULONGLONG>(PackedRowBytes(width)) * h;
    case kFourCcI420:
    case kFourCcIyuv:
      return w * h + 2 * (w / 2) * (h / 2);
    case kFourCcYvu9:
      return w * h + 2 * (w / 4) * (h / 4);
    default:
      return 0;
  }
}

// Widths and heights above this are refused by every converter, so that no size product
// overflows 32 bits (16384 x 16384 x 3 is below 2^32 only with this margin).
inline constexpr ULONG kMaxColorDimension = 16384;
constexpr bool ColorSizeAllowed(ULONG width, ULONG height) {
  return width != 0 && height != 0 && width <= kMaxColorDimension && height <= kMaxColorDimension;
}
