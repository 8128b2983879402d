// The raw-frame conversions of the image processor that need no state of their own: the
// compressed pass-through, the 16-bit RGB 5:6:5 and 8-bit grey expansions to 24-bit RGB, the
// 10-bit sample reduction and the decode of a compressed frame to 24-bit RGB.
//
// Every routine bounds what it reads by the source length and what it writes by the destination
// length; the camera decides the raw length and the application the frame buffer, and neither is
// trusted to match the format.
#pragma once

#include "image/color_convert.h"
#include "kernel_types.h"

struct DecoderState;

// Copies a compressed frame unchanged: min(source, destination, limit) bytes. Returns the count.
ULONG CopyCompressedFrame(UCHAR* destination, ULONG destinationLength, const UCHAR* source,
                          ULONG sourceLength, ULONG limit);

// RGB 5:6:5 pairs (b0, b1) to blue, green, red: (b1 & 0x1F) << 3, ((b0 & 7) << 5) | ((b1 >> 5)
// << 2), b0 & 0xF8; rows in input order. Whole pairs that fit the destination; returns the bytes
// written.
ULONG ExpandRgb565(UCHAR* destination, ULONG destinationLength, const UCHAR* source,
                   ULONG sourceLength);

// Every grey byte becomes three equal bytes; as many as fit. Returns the bytes written.
ULONG ExpandGrey(UCHAR* destination, ULONG destinationLength, const UCHAR* source,
                 ULONG sourceLength);

// Replaces the first `samples` little-endian 16-bit samples of raw by bytes, in place: the low
// byte, or curve[sample & 0x3FF] when a 1024-entry curve is given. FALSE (nothing changed) when
// raw does not hold that many samples.
BOOLEAN ReduceTenBitSamples(UCHAR* raw, ULONG rawLength, ULONG samples, const UCHAR* curve);

// Decodes a compressed frame into the work buffer and converts its planes to 24-bit RGB,
// bottom-up, in destination: 4:2:2 planes when fourTwoTwo, else 4:2:0. Returns 3 x width x height,
// or 0 when the frame does not decode, its planes are not the expected size, or a buffer is short.
ULONG DecodeToRgb(DecoderState* decoder, const ColorRoutines& routines,
                  const DecodedColorTables& tables, const UCHAR* source, ULONG sourceLength,
                  UCHAR* work, ULONG workLength, UCHAR* destination, ULONG destinationLength,
                  ULONG width, ULONG height, bool fourTwoTwo);
