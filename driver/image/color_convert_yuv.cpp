// Packed YUV 4:2:2 from the sensor to every output format: the frame walk, the size checks and the
// plain row kernels. The sensor's U and V are plain colour differences (B - Y and R - Y, offset by
// 128), so its RGB conversion has unit gains for blue and red.
#include <cstring>

#include "image/color_kernels.h"

namespace {

UCHAR Clamp255(LONG value) { return value < 0 ? 0 : value > 255 ? 255 : static_cast<UCHAR>(value); }

// u and v are U - 128 and V - 128. Division truncates towards zero.
void UnitGainPixel(LONG y, LONG u, LONG v, UCHAR* bgr) {
  bgr[0] = Clamp255(y + u);
  bgr[1] = Clamp255(y - (186 * u + 508 * v) / 1000);
  bgr[2] = Clamp255(y + v);
}

void StandardPixel(LONG y, LONG u, LONG v, UCHAR* bgr) {
  bgr[0] = Clamp255((1000 * y + 1772 * u) / 1000);
  bgr[1] = Clamp255(y - (714 * v + 344 * u) / 1000);
  bgr[2] = Clamp255((1000 * y + 1402 * v) / 1000);
}

// A packed source of whole pixel pairs, for the reductions. Column and pair indices past the row
// are clamped to its last pixel or pair, which only the padding pixel of an odd output width asks
// for.
struct PackedSource {
  const UCHAR* data;
  ULONG rowBytes;
  ULONG pixels;  // pixels of a row
  ULONG pairs;   // pairs of a row

  ULONG SumLuma(ULONG firstPixel, ULONG count, ULONG firstRow, ULONG rowCount) const {
    ULONG sum = 0;
    for (ULONG row = firstRow; row < firstRow + rowCount; ++row) {
      const UCHAR* line = data + static_cast<SIZE_T>(row) * rowBytes;
      for (ULONG i = 0; i < count; ++i) {
        ULONG pixel = firstPixel + i < pixels ? firstPixel + i : pixels - 1;
        sum += line[(pixel / 2) * 4 + (pixel & 1) * 2];
      }
    }
    return sum;
  }

  // Chroma byte `offset` (1 for U, 3 for V) of pairCount pairs, pairStep apart, in rowPairCount row
  // pairs (two adjacent rows), rowPairStep rows apart.
  ULONG SumChroma(ULONG offset, ULONG firstPair, ULONG pairCount, ULONG pairStep, ULONG firstRow,
                  ULONG rowPairCount, ULONG rowPairStep) const {
    ULONG sum = 0;
    for (ULONG k = 0; k < rowPairCount; ++k) {
      for (ULONG half = 0; half < 2; ++half) {
        const UCHAR* line =
            data + static_cast<SIZE_T>(firstRow + k * rowPairStep + half) * rowBytes;
        for (ULONG i = 0; i < pairCount; ++i) {
          ULONG pair = firstPair + i * pairStep;
          if (pair >= pairs) pair = pairs - 1;
          sum += line[pair * 4 + offset];
        }
      }
    }
    return sum;
  }
};

// 24-bit RGB from a source `ratio` times as wide and as high: each output pixel takes the luma mean
// of its ratio x ratio area and the chroma mean of the pairs of that area.
void ReduceToRgb(const PackedSource& source, ULONG ratio, bool standard, UCHAR* destination,
                 ULONG width, ULONG height) {
  const ULONG lumaCount = ratio * ratio;
  const ULONG chromaCount = ratio * ratio / 2;
  for (ULONG y = 0; y < height; ++y) {
    UCHAR* out = destination + static_cast<SIZE_T>(y) * RgbRowBytes(width);
    for (ULONG x = 0; x < width; ++x, out += 3) {
      LONG luma = source.SumLuma(x * ratio, ratio, y * ratio, ratio) / lumaCount;
      ULONG firstPair = x * ratio / 2;
      LONG u = source.SumChroma(1, firstPair, ratio / 2, 1, y * ratio, ratio / 2, 2) / chromaCount;
      LONG v = source.SumChroma(3, firstPair, ratio / 2, 1, y * ratio, ratio / 2, 2) / chromaCount;
      if (standard) {
        StandardPixel(luma, u - 128, v - 128, out);
      } else {
        UnitGainPixel(luma, u - 128, v - 128, out);
      }
    }
  }
}

// 'YUY2' or 'UYVY' from a source `ratio` (2 or 4) times as wide and as high: each luma the mean of
// its ratio x ratio area, each chroma the mean over the pair's area (ratio pairs by ratio rows).
// Output pairs from firstPair on.
void ReduceToPacked(const PackedSource& source, ULONG ratio, bool uyvy, UCHAR* destination,
                    ULONG width, ULONG height, ULONG firstPair) {
  const ULONG count = ratio * ratio;
  const ULONG pairs = (width + 1) / 2;
  for (ULONG y = 0; y < height; ++y) {
    UCHAR* out = destination + static_cast<SIZE_T>(y) * PackedRowBytes(width) + firstPair * 4;
    for (ULONG pair = firstPair; pair < pairs; ++pair, out += 4) {
      const ULONG row = y * ratio;
      UCHAR y0 = static_cast<UCHAR>(source.SumLuma(2 * pair * ratio, ratio, row, ratio) / count);
      UCHAR y1 =
          static_cast<UCHAR>(source.SumLuma((2 * pair + 1) * ratio, ratio, row, ratio) / count);
      UCHAR u = static_cast<UCHAR>(source.SumChroma(1, pair * ratio, ratio, 1, row, ratio / 2, 2) /
                                   count);
      UCHAR v = static_cast<UCHAR>(source.SumChroma(3, pair * ratio, ratio, 1, row, ratio / 2, 2) /
                                   count);
      if (uyvy) {
        out[0] = u, out[1] = y0, out[2] = v, out[3] = y1;
      } else {
        out[0] = y0, out[1] = u, out[2] = y1, out[3] = v;
      }
    }
  }
}

// Planar chroma at any ratio (1, 2, 4). A chroma sample covers a block of `block` x `block` output
// pixels (2 for 4:2:0, 4 for 4:1:0); it is the mean of the U (or V) of every `pairStep`-th pair in
// every `rowPairStep / 2`-th row pair of the block's source area, the sampling that 'YVU9' keeps at
// every ratio.
struct PlanarLayout {
  ULONG block;
  ULONG pairStep;
  ULONG rowPairStep;
  UCHAR* firstChroma;   // U for 4:2:0, V for 4:1:0
  UCHAR* secondChroma;  // V for 4:2:0, U for 4:1:0
  ULONG firstOffset;    // chroma byte of firstChroma in a pair
};

void ReduceToPlanarChroma(const PackedSource& source, ULONG ratio, const PlanarLayout& layout,
                          ULONG width, ULONG height) {
  const ULONG chromaWidth = width / layout.block;
  const ULONG chromaHeight = height / layout.block;
  // The block's source area spans block * ratio / 2 pairs and block * ratio / 2 row pairs.
  const ULONG span = layout.block * ratio / 2;
  const ULONG pairCount = span / layout.pairStep;
  const ULONG rowPairCount = span * 2 / layout.rowPairStep;
  const ULONG count = pairCount * rowPairCount * 2;
  const ULONG secondOffset = layout.firstOffset == 1 ? 3 : 1;
  for (ULONG cy = 0; cy < chromaHeight; ++cy) {
    for (ULONG cx = 0; cx < chromaWidth; ++cx) {
      const SIZE_T at = static_cast<SIZE_T>(cy) * chromaWidth + cx;
      const ULONG firstPair = cx * span;
      const ULONG firstRow = cy * layout.block * ratio;
      layout.firstChroma[at] = static_cast<UCHAR>(
          source.SumChroma(layout.firstOffset, firstPair, pairCount, layout.pairStep, firstRow,
                           rowPairCount, layout.rowPairStep) /
          count);
      layout.secondChroma[at] =
          static_cast<UCHAR>(source.SumChroma(secondOffset, firstPair, pairCount, layout.pairStep,
                                              firstRow, rowPairCount, layout.rowPairStep) /
                             count);
    }
  }
}

// The luma plane at any ratio: rows of the same-size and 2:1 sources through the kernels, 4:1
// through the area sums.
void ReduceToPlanarLuma(const YuvRowKernels& kernels, const PackedSource& source, ULONG ratio,
                        UCHAR* luma, ULONG width, ULONG height) {
  for (ULONG y = 0; y < height; ++y) {
    UCHAR* out = luma + static_cast<SIZE_T>(y) * width;
    const UCHAR* row = source.data + static_cast<SIZE_T>(y) * ratio * source.rowBytes;
    if (ratio == 1) {
      kernels.packedToLuma(row, out, width);
    } else if (ratio == 2) {
      kernels.halveLumaRows(row, row + source.rowBytes, out, width);
    } else {
      for (ULONG x = 0; x < width; ++x) {
        out[x] = static_cast<UCHAR>(source.SumLuma(x * ratio, ratio, y * ratio, ratio) /
                                    (ratio * ratio));
      }
    }
  }
}

void StoreStatistics(const WhiteBalanceAccumulator& sums, WhiteBalanceStatistics* statistics) {
  statistics->uSumFirst = sums.uFirst;
  statistics->uSumSecond = sums.uSecond;
  statistics->vSumFirst = sums.vFirst;
  statistics->vSumSecond = sums.vSecond;
  statistics->count = static_cast<LONG>(sums.steps / 4);
}

}  // namespace

void PackedToRgbRowPlain(const UCHAR* source, UCHAR* destination, ULONG pixels,
                         WhiteBalanceAccumulator*) {
  for (ULONG x = 0; x < pixels; x += 2, source += 4, destination += 6) {
    const LONG u = source[1] - 128;
    const LONG v = source[3] - 128;
    UnitGainPixel(source[0], u, v, destination);
    if (x + 1 < pixels) UnitGainPixel(source[2], u, v, destination + 3);
  }
}

void PackedToUyvyPlain(const UCHAR* source, UCHAR* destination, ULONG groups) {
  for (ULONG i = 0; i < groups; ++i, source += 4, destination += 4) {
    const UCHAR y0 = source[0], u = source[1], y1 = source[2], v = source[3];
    destination[0] = u, destination[1] = y0, destination[2] = v, destination[3] = y1;
  }
}

void PackedToPlanarRowsPlain(const UCHAR* row0, const UCHAR* row1, UCHAR* luma0, UCHAR* luma1,
                             UCHAR* u, UCHAR* v, ULONG width) {
  for (ULONG x = 0; x < width; ++x) {
    const ULONG at = (x / 2) * 4 + (x & 1) * 2;
    luma0[x] = row0[at];
    luma1[x] = row1[at];
  }
  for (ULONG i = 0; i < width / 2; ++i) {
    u[i] = static_cast<UCHAR>((row0[i * 4 + 1] + row1[i * 4 + 1]) >> 1);
    v[i] = static_cast<UCHAR>((row0[i * 4 + 3] + row1[i * 4 + 3]) >> 1);
  }
}

void HalvePackedToRgbPlain(const UCHAR* row0, const UCHAR* row1, UCHAR* destination, ULONG pixels,
                           bool standard) {
  for (ULONG x = 0; x < pixels; ++x, row0 += 4, row1 += 4, destination += 3) {
    const LONG luma = (row0[0] + row0[2] + row1[0] + row1[2]) / 4;
    const LONG u = (row0[1] + row1[1]) / 2 - 128;
    const LONG v = (row0[3] + row1[3]) / 2 - 128;
    if (standard) {
      StandardPixel(luma, u, v, destination);
    } else {
      UnitGainPixel(luma, u, v, destination);
    }
  }
}

void HalvePackedRowsPlain(const UCHAR* row0, const UCHAR* row1, UCHAR* destination, ULONG pairs,
                          bool uyvy) {
  for (ULONG i = 0; i < pairs; ++i, row0 += 8, row1 += 8, destination += 4) {
    const UCHAR y0 = static_cast<UCHAR>((row0[0] + row0[2] + row1[0] + row1[2]) >> 2);
    const UCHAR y1 = static_cast<UCHAR>((row0[4] + row0[6] + row1[4] + row1[6]) >> 2);
    const UCHAR u = static_cast<UCHAR>((row0[1] + row0[5] + row1[1] + row1[5]) >> 2);
    const UCHAR v = static_cast<UCHAR>((row0[3] + row0[7] + row1[3] + row1[7]) >> 2);
    if (uyvy) {
      destination[0] = u, destination[1] = y0, destination[2] = v, destination[3] = y1;
    } else {
      destination[0] = y0, destination[1] = u, destination[2] = y1, destination[3] = v;
    }
  }
}

void PackedToLumaPlain(const UCHAR* row, UCHAR* luma, ULONG width) {
  for (ULONG x = 0; x < width; ++x) luma[x] = row[(x / 2) * 4 + (x & 1) * 2];
}

void HalveLumaRowsPlain(const UCHAR* row0, const UCHAR* row1, UCHAR* luma, ULONG width) {
  for (ULONG x = 0; x < width; ++x, row0 += 4, row1 += 4) {
    luma[x] = static_cast<UCHAR>((row0[0] + row0[2] + row1[0] + row1[2]) >> 2);
  }
}

ULONG ConvertYuv422WithKernels(const YuvRowKernels& kernels, const UCHAR* source,
                               ULONG sourceLength, UCHAR* destination, ULONG destinationLength,
                               ULONG width, ULONG height, ULONG compression, ULONG sourceWidth,
                               ULONG sourceHeight, const YuvConversionSettings& settings) {
  if (compression == kFourCcVraw) return destinationLength;
  if (!ColorSizeAllowed(width, height)) return 0;
  const ULONGLONG outputBytes = OutputImageBytes(compression, width, height);
  if (outputBytes == 0 || destination == nullptr || destinationLength < outputBytes) return 0;
  if (source == nullptr) return 0;
  const ULONG imageBytes = static_cast<ULONG>(outputBytes);

  if (compression == kCompressionRgb565) {
    if (sourceLength < imageBytes) return 0;
    memcpy(destination, source, imageBytes);
    return imageBytes;
  }

  ULONG ratio = 1;
  if (sourceWidth == 2 * width) ratio = 2;
  if (sourceWidth == 4 * width) ratio = 4;
  const ULONG sourceRowWidth = ratio == 1 ? width : sourceWidth;
  const ULONG sourceRows = ratio * height;
  if (ratio > 1 && sourceHeight < sourceRows) return 0;
  const ULONG sourceRowBytes = PackedRowBytes(sourceRowWidth);
  if (sourceLength < static_cast<ULONGLONG>(sourceRowBytes) * sourceRows) return 0;
  const PackedSource packed{source, sourceRowBytes, sourceRowWidth, sourceRowBytes / 4};

  switch (compression) {
    case kCompressionRgb24:
      if (ratio == 1) {
        WhiteBalanceAccumulator sums{};
        const bool keep = kernels.keepsStatistics && settings.statistics != nullptr;
        for (ULONG y = 0; y < height; ++y) {
          kernels.packedToRgb(source + static_cast<SIZE_T>(y) * sourceRowBytes,
                              destination + static_cast<SIZE_T>(y) * RgbRowBytes(width), width,
                              keep ? &sums : nullptr);
        }
        if (keep) StoreStatistics(sums, settings.statistics);
      } else if (ratio == 2) {
        for (ULONG y = 0; y < height; ++y) {
          const UCHAR* row0 = source + static_cast<SIZE_T>(2 * y) * sourceRowBytes;
          kernels.halvePackedToRgb(row0, row0 + sourceRowBytes,
                                   destination + static_cast<SIZE_T>(y) * RgbRowBytes(width), width,
                                   settings.standardCoefficients);
        }
      } else {
        ReduceToRgb(packed, ratio, settings.standardCoefficients, destination, width, height);
      }
      kernels.flipMirror(width, height, destination, imageBytes, false, settings.flipBits);
      return imageBytes;

    case kFourCcYuy2:
    case kFourCcUyvy:
      if (ratio == 2) {
        // Whole output pairs through the kernel; the padded pair of an odd width (its second
        // pixel lies past the source row) through the reduction that clamps.
        for (ULONG y = 0; y < height; ++y) {
          const UCHAR* row0 = source + static_cast<SIZE_T>(2 * y) * sourceRowBytes;
          kernels.halvePackedRows(row0, row0 + sourceRowBytes,
                                  destination + static_cast<SIZE_T>(y) * PackedRowBytes(width),
                                  width / 2, compression == kFourCcUyvy);
        }
        if (width % 2 != 0) {
          ReduceToPacked(packed, ratio, compression == kFourCcUyvy, destination, width, height,
                         width / 2);
        }
      } else if (ratio == 4) {
        ReduceToPacked(packed, ratio, compression == kFourCcUyvy, destination, width, height, 0);
      } else if (compression == kFourCcYuy2) {
        memcpy(destination, source, imageBytes);
      } else {
        kernels.packedToUyvy(source, destination, imageBytes / 4);
      }
      return imageBytes;

    case kFourCcI420:
    case kFourCcIyuv: {
      UCHAR* u = destination + static_cast<SIZE_T>(width) * height;
      UCHAR* v = u + static_cast<SIZE_T>(width / 2) * (height / 2);
      if (ratio > 1) {
        ReduceToPlanarLuma(kernels, packed, ratio, destination, width, height);
        ReduceToPlanarChroma(packed, ratio, PlanarLayout{2, 1, 2, u, v, 1}, width, height);
        return imageBytes;
      }
      const ULONG chromaWidth = width / 2;
      for (ULONG y = 0; y + 1 < height; y += 2) {
        const UCHAR* row0 = source + static_cast<SIZE_T>(y) * sourceRowBytes;
        UCHAR* luma0 = destination + static_cast<SIZE_T>(y) * width;
        const SIZE_T chromaAt = static_cast<SIZE_T>(y / 2) * chromaWidth;
        kernels.packedToPlanarRows(row0, row0 + sourceRowBytes, luma0, luma0 + width, u + chromaAt,
                                   v + chromaAt, width);
      }
      if (height % 2 != 0) {
        // The last row of an odd height has luma only: its chroma row pair is incomplete.
        kernels.packedToLuma(source + static_cast<SIZE_T>(height - 1) * sourceRowBytes,
                             destination + static_cast<SIZE_T>(height - 1) * width, width);
      }
      return imageBytes;
    }

    case kFourCcYvu9: {
      UCHAR* v = destination + static_cast<SIZE_T>(width) * height;
      UCHAR* u = v + static_cast<SIZE_T>(width / 4) * (height / 4);
      ReduceToPlanarLuma(kernels, packed, ratio, destination, width, height);
      ReduceToPlanarChroma(packed, ratio, PlanarLayout{4, 2, 4, v, u, 3}, width, height);
      return imageBytes;
    }

    default:
      return 0;
  }
}
