// FlipMirror in place, plain and SSE2. Row swaps are memory moves; the SSE2 routine also reverses
// the four-byte groups of packed 16-bit rows sixteen bytes at a time.
#include <emmintrin.h>

#include <cstring>

#include "image/color_kernels.h"

namespace {

bool FlipFits(ULONG width, ULONG height, UCHAR* image, ULONG length, ULONG rowBytes) {
  return ColorSizeAllowed(width, height) && image != nullptr &&
         static_cast<ULONGLONG>(rowBytes) * height <= length;
}

void SwapBytes(UCHAR* a, UCHAR* b, ULONG count) {
  UCHAR chunk[256];
  while (count > 0) {
    const ULONG step = count < sizeof(chunk) ? count : sizeof(chunk);
    memcpy(chunk, a, step);
    memcpy(a, b, step);
    memcpy(b, chunk, step);
    a += step, b += step, count -= step;
  }
}

void SwapRows(UCHAR* image, ULONG rowBytes, ULONG height) {
  for (ULONG i = 0; i < height / 2; ++i) {
    SwapBytes(image + static_cast<SIZE_T>(i) * rowBytes,
              image + static_cast<SIZE_T>(height - 1 - i) * rowBytes, rowBytes);
  }
}

void MirrorRgbRow(UCHAR* row, ULONG width) {
  for (ULONG left = 0, right = width - 1; left < right; ++left, --right) {
    UCHAR* a = row + left * 3;
    UCHAR* b = row + right * 3;
    for (ULONG k = 0; k < 3; ++k) {
      const UCHAR t = a[k];
      a[k] = b[k];
      b[k] = t;
    }
  }
}

// Group Y0 U Y1 V becomes Y1 U Y0 V: with the groups reversed, the pixels are mirrored too.
ULONG MirrorGroup(ULONG group) {
  return (group & 0xFF00FF00u) | ((group >> 16) & 0xFFu) | ((group & 0xFFu) << 16);
}

void MirrorPackedRowPlain(UCHAR* row, ULONG groups) {
  for (ULONG left = 0; left < groups / 2; ++left) {
    const ULONG right = groups - 1 - left;
    ULONG a, b;
    memcpy(&a, row + left * 4, 4);
    memcpy(&b, row + right * 4, 4);
    a = MirrorGroup(a);
    b = MirrorGroup(b);
    memcpy(row + left * 4, &b, 4);
    memcpy(row + right * 4, &a, 4);
  }
  if (groups % 2 != 0) {
    UCHAR* middle = row + (groups / 2) * 4;
    ULONG group;
    memcpy(&group, middle, 4);
    group = MirrorGroup(group);
    memcpy(middle, &group, 4);
  }
}

__m128i MirrorGroups128(__m128i groups) {
  const __m128i reversed = _mm_shuffle_epi32(groups, _MM_SHUFFLE(0, 1, 2, 3));
  const __m128i chroma = _mm_and_si128(reversed, _mm_set1_epi32(static_cast<int>(0xFF00FF00u)));
  const __m128i y1 = _mm_and_si128(_mm_srli_epi32(reversed, 16), _mm_set1_epi32(0xFF));
  const __m128i y0 = _mm_slli_epi32(_mm_and_si128(reversed, _mm_set1_epi32(0xFF)), 16);
  return _mm_or_si128(chroma, _mm_or_si128(y0, y1));
}

void MirrorPackedRowSse2(UCHAR* row, ULONG groups) {
  ULONG left = 0, right = groups;  // groups [left, right) remain
  while (right - left >= 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + left * 4));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + (right - 4) * 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + left * 4), MirrorGroups128(b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(row + (right - 4) * 4), MirrorGroups128(a));
    left += 4, right -= 4;
  }
  if (right > left) MirrorPackedRowPlain(row + left * 4, right - left);
}

template <void (*MirrorPackedRow)(UCHAR*, ULONG)>
void FlipMirrorWith(ULONG width, ULONG height, UCHAR* image, ULONG length, bool sixteenBit,
                    ULONG flipBits) {
  const ULONG rowBytes = sixteenBit ? PackedRowBytes(width) : RgbRowBytes(width);
  if (!FlipFits(width, height, image, length, rowBytes)) return;
  const bool swapRows =
      sixteenBit ? (flipBits & kFlipVertical) == 0 : (flipBits & kFlipVertical) != 0;
  if (swapRows) SwapRows(image, rowBytes, height);
  if ((flipBits & kFlipMirror) == 0) return;
  for (ULONG y = 0; y < height; ++y) {
    UCHAR* row = image + static_cast<SIZE_T>(y) * rowBytes;
    if (sixteenBit) {
      MirrorPackedRow(row, rowBytes / 4);
    } else {
      MirrorRgbRow(row, width);
    }
  }
}

}  // namespace

void FlipMirrorPlain(ULONG width, ULONG height, UCHAR* image, ULONG length, bool sixteenBit,
                     ULONG flipBits) {
  FlipMirrorWith<MirrorPackedRowPlain>(width, height, image, length, sixteenBit, flipBits);
}

void FlipMirrorSse2(ULONG width, ULONG height, UCHAR* image, ULONG length, bool sixteenBit,
                    ULONG flipBits) {
  FlipMirrorWith<MirrorPackedRowSse2>(width, height, image, length, sixteenBit, flipBits);
}
