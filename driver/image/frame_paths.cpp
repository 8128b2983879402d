#include "image/frame_paths.h"

#include <cstring>

#include "image/decoder.h"

namespace {
ULONG Smallest(ULONG a, ULONG b) { return a < b ? a : b; }
}  // namespace

ULONG CopyCompressedFrame(UCHAR* destination, ULONG destinationLength, const UCHAR* source,
                          ULONG sourceLength, ULONG limit) {
  if (destination == nullptr || source == nullptr) return 0;
  const ULONG count = Smallest(Smallest(sourceLength, destinationLength), limit);
  memcpy(destination, source, count);
  return count;
}

ULONG ExpandRgb565(UCHAR* destination, ULONG destinationLength, const UCHAR* source,
                   ULONG sourceLength) {
  if (destination == nullptr || source == nullptr) return 0;
  const ULONG pairs = Smallest(sourceLength / 2, destinationLength / 3);
  for (ULONG index = 0; index < pairs; ++index) {
    const UCHAR b0 = source[2 * index];
    const UCHAR b1 = source[2 * index + 1];
    UCHAR* pixel = destination + 3 * index;
    pixel[0] = static_cast<UCHAR>((b1 & 0x1F) << 3);
    pixel[1] = static_cast<UCHAR>(((b0 & 7) << 5) | ((b1 >> 5) << 2));
    pixel[2] = static_cast<UCHAR>(b0 & 0xF8);
  }
  return 3 * pairs;
}

ULONG ExpandGrey(UCHAR* destination, ULONG destinationLength, const UCHAR* source,
                 ULONG sourceLength) {
  if (destination == nullptr || source == nullptr) return 0;
  const ULONG count = Smallest(sourceLength, destinationLength / 3);
  for (ULONG index = 0; index < count; ++index) {
    memset(destination + 3 * index, source[index], 3);
  }
  return 3 * count;
}

BOOLEAN ReduceTenBitSamples(UCHAR* raw, ULONG rawLength, ULONG samples, const UCHAR* curve) {
  if (raw == nullptr || samples > rawLength / 2) return FALSE;
  // Forward order is safe in place: byte i is written after samples 0 ... i were read.
  for (ULONG index = 0; index < samples; ++index) {
    const UCHAR low = raw[2 * index];
    const UCHAR high = raw[2 * index + 1];
    raw[index] =
        curve != nullptr ? curve[(static_cast<ULONG>(low) << 2 | (high & 3)) & 0x3FF] : low;
  }
  return TRUE;
}

ULONG DecodeToRgb(DecoderState* decoder, const ColorRoutines& routines,
                  const DecodedColorTables& tables, const UCHAR* source, ULONG sourceLength,
                  UCHAR* work, ULONG workLength, UCHAR* destination, ULONG destinationLength,
                  ULONG width, ULONG height, bool fourTwoTwo) {
  if (decoder == nullptr || source == nullptr || work == nullptr || destination == nullptr ||
      !ColorSizeAllowed(width, height)) {
    return 0;
  }
  ULONG produced = 0;
  if (!DecodeFrame(decoder, source, sourceLength, work, workLength, &produced) || produced == 0) {
    return 0;
  }
  // The planes must be those of the format: a frame of another size would be read as garbage.
  const ULONGLONG chromaWidth = (width + 1) / 2;
  const ULONGLONG chromaHeight = fourTwoTwo ? height : (height + 1) / 2;
  const ULONGLONG expected =
      static_cast<ULONGLONG>(width) * height + 2 * chromaWidth * chromaHeight;
  if (produced != expected) return 0;
  ConvertDecodedRoutine convert =
      fourTwoTwo ? routines.convertDecoded422 : routines.convertDecoded420;
  return convert(width, height, work, produced, destination, destinationLength, nullptr, 0, tables);
}
