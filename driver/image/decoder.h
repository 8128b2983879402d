// The baseline JPEG decoder of lynxcam's compressed modes: one frame in, one plane of 8-bit samples
// per frame component out, planes back to back in frame-header order.
//
// The camera always codes with the example Huffman tables of ITU T.81 Annex K, so Huffman table
// segments in the stream are skipped; two quantisation tables are built in, and a quantisation
// table segment replaces one for this frame and every later frame of the stream. Restart intervals
// are honoured with resynchronisation: an error inside an interval skips to the next restart marker
// (the skipped MCUs keep what the destination held) and the frame still reports failure. A line
// count of 0 in the frame header is completed by a DNL segment. Chrominance coefficients of -1, 0
// and 1 are cleared before the inverse transform.
//
// Two paths share all but the inverse transform: the plain one (32-bit quantisation entries) and
// the SIMD one (16-bit entries; SSE2, or AVX2 when the processor has it). Both produce identical
// planes.
//
// A decoder state serves one open stream and decodes one frame at a time; nothing is shared
// between states.
#pragma once

#include "kernel_types.h"

// Pool tag of every decoder block; its bytes in memory read "Wdm ".
inline constexpr ULONG kPoolTagDecoder =
    static_cast<ULONG>('W') | ('d' << 8) | ('m' << 16) | (static_cast<ULONG>(' ') << 24);

// The two quantisation tables the camera's modes start with, in natural (row-major) order.
extern const UCHAR kBuiltInQuantTable0[64];
extern const UCHAR kBuiltInQuantTable1[64];

struct DecoderState;

// Allocates the decoder's records, zero-filled. STATUS_INSUFFICIENT_RESOURCES when the pool has no
// room (nothing is left allocated).
NTSTATUS CreateDecoder(DecoderState** result);

// Builds the four Huffman tables and the two quantisation tables (natural order) of the chosen
// path: the SIMD path when useSimd is non-zero. Runs once per stream open; a second call rebuilds.
NTSTATUS InitDecoderTables(DecoderState* decoder, const UCHAR table0[64], const UCHAR table1[64],
                           BOOLEAN useSimd);

// Frees everything CreateDecoder and InitDecoderTables allocated. Accepts null.
void DestroyDecoder(DecoderState* decoder);

// Decodes the frame in source[0 .. length-1] into destination, which holds destinationSize bytes.
// Returns true when the whole frame decoded without error, with the total output size (the sum of
// the plane sizes) in *outputSize. Returns false on any error: a malformed or unsupported header
// (anything but an 8-bit baseline frame, more than four components, identifiers above 15,
// quantisation or Huffman table numbers above 1), planes that do not fit in destinationSize, a
// bitstream error (also when the decoder resynchronised at a restart marker and decoded the rest),
// or no frame at all. The camera's modes need width x height x 2 bytes (4:2:2) or width x height x
// 3 / 2 (4:2:0), rounded up per chrominance plane. Input that ends early reads as if it ended with
// an end-of-image marker. The decoder never reads outside source[0 .. length-1] nor writes outside
// the destination.
bool DecodeFrame(DecoderState* decoder, const UCHAR* source, ULONG length, UCHAR* destination,
                 ULONG destinationSize, ULONG* outputSize);
