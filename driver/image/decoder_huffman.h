// The decoder's Huffman tables: the example tables of ITU T.81 Annex K in their segment form, and
// the tables derived from them for decoding (T.81 F.2.2.3 plus lookups that decode a short code,
// and the extra bits of its coefficient, with one index).
#pragma once

#include "kernel_types.h"

// Lookups are indexed by this many next bits of the entropy-coded data.
inline constexpr int kHuffmanLookupBits = 10;

// A coefficient lookup entry: 0 when the code is longer than the lookup; otherwise the bits to
// consume (kLookupLengthMask), the symbol (bits 8 to 15), kLookupValueDone when the entry also
// holds the extended coefficient value (bits 16 to 31, signed).
inline constexpr LONG kLookupLengthMask = 0x3F;
inline constexpr LONG kLookupValueDone = 0x40;

struct HuffmanTable {
  UCHAR counts[17];   // BITS: number of codes of each length 1 to 16 (index 0 unused)
  UCHAR values[256];  // HUFFVAL
  ULONG valueCount;
  LONG minCode[17];
  LONG maxCode[17];  // -1 for a length without codes
  LONG valuePointer[17];
  // Indexed by the next kHuffmanLookupBits bits. The symbol's low four bits are the number of
  // extra bits that follow the code (the DC category, or S of an AC run/size symbol).
  LONG lookup[1 << kHuffmanLookupBits];
};

// The four Annex K tables (K.3 to K.6) as the payload of Huffman table segments: for each table
// the class/identifier byte, the 16 code counts and the values.
extern const UCHAR kAnnexKHuffmanSegments[];
extern const ULONG kAnnexKHuffmanSegmentsLength;

// Builds the derived arrays of a table from its counts and values. False when the counts describe
// more than 256 values or more codes than a length can hold.
bool BuildHuffmanTable(HuffmanTable* table, const UCHAR counts[16], const UCHAR* values);
