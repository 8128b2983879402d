// Decoded YCbCr planes (standard JPEG equations) to 24-bit RGB: the frame walk, its checks and the
// plain row, which goes through the lookup tables of color_tables.h.
#include "image/color_kernels.h"

void DecodedRowToRgbPlain(const UCHAR* luma, const UCHAR* cb, const UCHAR* cr, UCHAR* destination,
                          ULONG width, const DecodedColorTables& tables) {
  for (ULONG x = 0; x < width; ++x, destination += 3) {
    const LONG y = luma[x];
    const UCHAR blueDifference = cb[x / 2];
    const UCHAR redDifference = cr[x / 2];
    destination[0] = RangeLimit(tables, y + tables.cbToB[blueDifference]);
    destination[1] = RangeLimit(
        tables, y + ((tables.cbToG[blueDifference] + tables.crToG[redDifference]) >> 16));
    destination[2] = RangeLimit(tables, y + tables.crToR[redDifference]);
  }
}

ULONG ConvertDecodedWithKernel(DecodedRowKernel kernel, bool chromaRowsHalved, ULONG width,
                               ULONG height, const UCHAR* planes, ULONG planeBytes,
                               UCHAR* destination, ULONG destinationLength,
                               const DecodedColorTables& tables) {
  if (!ColorSizeAllowed(width, height) || planes == nullptr || destination == nullptr) return 0;
  const ULONG chromaWidth = (width + 1) / 2;
  const ULONG chromaHeight = chromaRowsHalved ? (height + 1) / 2 : height;
  const ULONG lumaBytes = width * height;
  const ULONG chromaBytes = chromaWidth * chromaHeight;
  const ULONG outputBytes = RgbRowBytes(width) * height;
  if (planeBytes < static_cast<ULONGLONG>(lumaBytes) + 2ull * chromaBytes) return 0;
  if (destinationLength < outputBytes) return 0;
  const UCHAR* cbPlane = planes + lumaBytes;
  const UCHAR* crPlane = cbPlane + chromaBytes;
  // Bottom-up: source row 0 is the last row of the bitmap.
  for (ULONG y = 0; y < height; ++y) {
    const ULONG chromaRow = chromaRowsHalved ? y / 2 : y;
    kernel(planes + static_cast<SIZE_T>(y) * width,
           cbPlane + static_cast<SIZE_T>(chromaRow) * chromaWidth,
           crPlane + static_cast<SIZE_T>(chromaRow) * chromaWidth,
           destination + static_cast<SIZE_T>(height - 1 - y) * RgbRowBytes(width), width, tables);
  }
  return outputBytes;
}
