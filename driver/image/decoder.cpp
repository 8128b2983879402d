// The decoder's records, marker reading, entropy decoding and MCU loop (see decoder.h).
#include "image/decoder.h"

#include <cstring>

#include "core/component.h"
#include "hal.h"
#include "image/decoder_huffman.h"
#include "image/decoder_transform.h"

// clang-format off
const UCHAR kBuiltInQuantTable0[64] = {
    8,  6,  5,  8,  12, 20, 26, 32,
    6,  6,  7,  10, 13, 29, 30, 28,
    7,  7,  8,  12, 20, 28, 35, 28,
    7,  9,  11, 15, 26, 44, 40, 31,
    9,  11, 19, 28, 34, 55, 52, 39,
    12, 18, 28, 32, 42, 52, 57, 46,
    25, 32, 39, 44, 42, 61, 60, 52,
    36, 46, 48, 49, 56, 50, 52, 50,
};
const UCHAR kBuiltInQuantTable1[64] = {
    9,  9,  12, 24, 50, 50, 50, 50,
    9,  11, 13, 33, 50, 50, 50, 50,
    12, 13, 28, 50, 50, 50, 50, 50,
    24, 33, 50, 50, 50, 50, 50, 50,
    50, 50, 50, 50, 50, 50, 50, 50,
    50, 50, 50, 50, 50, 50, 50, 50,
    50, 50, 50, 50, 50, 50, 50, 50,
    50, 50, 50, 50, 50, 50, 50, 50,
};
// clang-format on

namespace {

// Natural (row-major) index of each coefficient in the order the stream carries them (T.81 A.6).
constexpr UCHAR kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                               12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                               35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                               58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

constexpr ULONG kMaxComponents = 4;
constexpr ULONG kMaxBlocksPerMcu = 10;
constexpr UCHAR kNoComponent = 0xFF;
// Frames never have more MCU rows than 65535 lines of 8 can make.
constexpr ULONG kMaxMcuRows = 8192;

enum DecodeError : ULONG {
  kErrorNone = 0,
  kErrorBitstream = 2,
  kErrorUnexpectedMarker = 4,
};

enum Marker : UCHAR {
  kMarkerSof0 = 0xC0,
  kMarkerDht = 0xC4,
  kMarkerRst0 = 0xD0,
  kMarkerRst7 = 0xD7,
  kMarkerSoi = 0xD8,
  kMarkerEoi = 0xD9,
  kMarkerSos = 0xDA,
  kMarkerDqt = 0xDB,
  kMarkerDnl = 0xDC,
  kMarkerDri = 0xDD,
};

inline ULONG CeilDiv(ULONG value, ULONG divisor) { return (value + divisor - 1) / divisor; }

}  // namespace

// Record 1: the tables. Only the quantisation tables of the path in use exist: LONG[64] entries for
// the plain path, SHORT[64] for the SIMD path.
struct DecoderTableSet {
  HuffmanTable* dc[2];
  HuffmanTable* ac[2];
  void* quant[2];
  BOOLEAN simd;
  InverseTransformRoutine transform;
  InverseTransformPairRoutine transformPair;  // null when the path transforms one block at a time
  bool (*decodeScan)(DecoderState& d);
};

struct FrameComponent {
  UCHAR id;
  UCHAR h;
  UCHAR v;
  UCHAR quantSelector;
  ULONG planeWidth;
  ULONG planeHeight;
  ULONG planeOffset;
  // Where decoding writes the plane. The same as the plane's own place except while the line count
  // waits for a DNL segment: planes are then laid out for as many MCU rows as the destination
  // holds, and moved together when the count is known.
  ULONG writeHeight;
  ULONG writeOffset;
};

// Record 2: the frame header and what follows from it.
struct FrameRecord {
  BOOLEAN present;
  UCHAR frameType;  // always 0: baseline
  UCHAR precision;
  UCHAR hMax;
  UCHAR vMax;
  ULONG lines;  // 0 until a DNL segment gives the count
  ULONG samplesPerLine;
  ULONG componentCount;
  FrameComponent components[kMaxComponents];
  UCHAR componentOfId[16];  // index into components, or kNoComponent
  ULONG restartInterval;
  ULONG mcusPerRow;
  ULONG mcuRows;
  ULONG writeMcuRows;  // MCU rows the write layout has room for
  ULONG outputSize;
  ULONG scanCount;
};

struct ScanComponent {
  ULONG component;  // index into the frame's components
  UCHAR dcTable;
  UCHAR acTable;
  USHORT predictor;  // wraps as the 16-bit coefficient it becomes
};

// Record 3: the scan header and its MCU counts.
struct ScanRecord {
  ULONG componentCount;
  ScanComponent components[kMaxComponents];
  UCHAR ss, se, ah, al;  // read and ignored: baseline scans are always 0, 63, 0, 0
  ULONG mcusPerRow;
  ULONG mcuRows;
  ULONG writeRows;  // MCU rows the write layout has room for
};

struct DecoderState {
  DecoderTableSet* tables;
  FrameRecord* frame;
  ScanRecord* scan;

  // Byte input.
  const UCHAR* source;
  ULONG length;
  ULONG position;
  ULONG pastEndReads;
  // Bit input: bits most significant first in bits, bitCount of them valid. Filling stops at a
  // marker; past it the buffer is filled with paddingBits zero bits, so that consuming more bits
  // than the entropy-coded segment holds shows as paddingBits > bitCount.
  uint64_t bits;
  int bitCount;
  int paddingBits;
  bool markerHit;

  ULONG mcuCounter;
  LONG totalMcus;  // -1 while the line count is unknown
  ULONG mcuX;
  ULONG mcuY;
  ULONG nextRestartAt;
  ULONG expectedRestart;
  ULONG lastRestartFound;
  bool endOfImage;
  bool inputExhausted;
  bool restartMode;
  bool resynchronising;
  bool scanReady;
  ULONG error;

  UCHAR* output;
  ULONG outputCapacity;

  // Two coefficient blocks: the one being decoded, and a whole block waiting for a partner when
  // the path transforms blocks in pairs.
  alignas(32) SHORT coefficients[2][64];
  ULONG currentBlock;
  bool pending;
  const void* pendingQuant;
  UCHAR* pendingTarget;
  ULONG pendingStride;
};

namespace {

void* AllocateDecoderBlock(SIZE_T size) {
  void* block = AllocateUnderRetryRule(size, NonPagedPool, kPoolTagDecoder);
  if (block != nullptr) memset(block, 0, size);
  return block;
}

void FreeDecoderBlock(void* block) {
  if (block != nullptr) ExFreePool(block);
}

void FreeTables(DecoderTableSet* tables) {
  for (int i = 0; i < 2; ++i) {
    FreeDecoderBlock(tables->dc[i]);
    FreeDecoderBlock(tables->ac[i]);
    FreeDecoderBlock(tables->quant[i]);
    tables->dc[i] = nullptr;
    tables->ac[i] = nullptr;
    tables->quant[i] = nullptr;
  }
  tables->transform = nullptr;
  tables->transformPair = nullptr;
  tables->decodeScan = nullptr;
}

// AVX2 (with the BMI1 and BMI2 that come with it) needs the processor's feature bits and the
// operating system's saving of the YMM state.
bool ProcessorHasAvx2() {
  ULONG registers[4];
  QueryCpuid(0, registers);
  if (registers[0] < 7) return false;
  QueryCpuid(1, registers);
  constexpr ULONG kOsXsave = 1u << 27, kAvx = 1u << 28;
  if ((registers[2] & (kOsXsave | kAvx)) != (kOsXsave | kAvx)) return false;
  ULONG low, high;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  (void)high;
  if ((low & 6) != 6) return false;
  QueryCpuid(7, registers);
  constexpr ULONG kAvx2 = 1u << 5, kBmi1 = 1u << 3, kBmi2 = 1u << 8;
  return (registers[1] & (kAvx2 | kBmi1 | kBmi2)) == (kAvx2 | kBmi1 | kBmi2);
}

void StoreQuantEntry(DecoderTableSet* tables, ULONG table, ULONG index, UCHAR value) {
  if (tables->simd) {
    static_cast<SHORT*>(tables->quant[table])[index] = value;
  } else {
    static_cast<LONG*>(tables->quant[table])[index] = value;
  }
}

LONG QuantEntry(const DecoderTableSet* tables, ULONG table, ULONG index) {
  if (tables->simd) return static_cast<const SHORT*>(tables->quant[table])[index];
  return static_cast<const LONG*>(tables->quant[table])[index];
}

// ---- Byte input ----

// Past the end the input reads 0xFF once and then 0xD9: a frame cut short ends in an end-of-image.
UCHAR ReadByte(DecoderState& d) {
  if (d.position < d.length) return d.source[d.position++];
  d.inputExhausted = true;
  return d.pastEndReads++ == 0 ? 0xFF : kMarkerEoi;
}

ULONG ReadWord(DecoderState& d) {
  ULONG high = ReadByte(d);
  return (high << 8) | ReadByte(d);
}

void SkipBytes(DecoderState& d, ULONG count) {
  if (count > d.length - d.position) {
    d.position = d.length;
    d.inputExhausted = true;
  } else {
    d.position += count;
  }
}

// ---- Bit input ----

void ResetBits(DecoderState& d) {
  d.bits = 0;
  d.bitCount = 0;
  d.paddingBits = 0;
  d.markerHit = false;
}

// Tops the bit buffer up to at least 57 bits. A 0xFF 0x00 pair is one data byte 0xFF; any other
// byte after 0xFF is a marker, where filling stops (the read position stays on the 0xFF).
void FillBits(DecoderState& d) {
  while (d.bitCount <= 56) {
    if (d.markerHit) {
      d.paddingBits += 64 - d.bitCount;
      d.bitCount = 64;
      return;
    }
    if (d.length - d.position >= 8) {
      uint64_t word;
      memcpy(&word, d.source + d.position, 8);
      uint64_t inverted = ~word;
      // No 0xFF among the eight bytes: take as many whole bytes as fit at once.
      if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0) {
        word = __builtin_bswap64(word);
        int bytes = (64 - d.bitCount) >> 3;
        uint64_t taken = word & ~((uint64_t{1} << (64 - 8 * bytes)) - 1);
        d.bits |= taken >> d.bitCount;
        d.bitCount += 8 * bytes;
        d.position += bytes;
        return;
      }
    }
    if (d.position >= d.length) {
      d.markerHit = true;
      continue;
    }
    UCHAR byte = d.source[d.position];
    if (byte == 0xFF) {
      if (d.position + 1 < d.length && d.source[d.position + 1] == 0) {
        d.position += 2;
      } else {
        d.markerHit = true;
        continue;
      }
    } else {
      d.position += 1;
    }
    d.bits |= static_cast<uint64_t>(byte) << (56 - d.bitCount);
    d.bitCount += 8;
  }
}

// The bit buffer of the block being decoded, kept in registers: a copy of the state's, written
// back when the block ends or the slow refill runs.
struct BitCursor {
  uint64_t bits;
  int count;
};

inline __attribute__((always_inline)) void Consume(BitCursor& cursor, int count) {
  cursor.bits <<= count;
  cursor.count -= count;
}

// Refills the cursor to at least 32 bits: eight bytes at once when none is 0xFF, otherwise through
// FillBits.
inline __attribute__((always_inline)) void Refill(DecoderState& d, BitCursor& cursor) {
  if (cursor.count >= 32) return;
  if (!d.markerHit && d.length - d.position >= 8) {
    uint64_t word;
    memcpy(&word, d.source + d.position, 8);
    uint64_t inverted = ~word;
    if (((inverted - 0x0101010101010101ull) & ~inverted & 0x8080808080808080ull) == 0) {
      word = __builtin_bswap64(word);
      int bytes = (64 - cursor.count) >> 3;
      uint64_t taken = word & ~((uint64_t{1} << (64 - 8 * bytes)) - 1);
      cursor.bits |= taken >> cursor.count;
      cursor.count += 8 * bytes;
      d.position += bytes;
      return;
    }
  }
  d.bits = cursor.bits;
  d.bitCount = cursor.count;
  FillBits(d);
  cursor.bits = d.bits;
  cursor.count = d.bitCount;
}

// Decodes one Huffman symbol of the table and, when it has extra bits, the extended value they
// carry (T.81 F.2.2.1 and F.2.2.3). False for a code the table does not have.
inline __attribute__((always_inline)) bool DecodeSymbol(DecoderState& d, BitCursor& cursor,
                                                        const HuffmanTable& table, int* symbol,
                                                        int* value) {
  Refill(d, cursor);
  LONG entry = table.lookup[cursor.bits >> (64 - kHuffmanLookupBits)];
  if ((entry & kLookupValueDone) != 0) {
    Consume(cursor, entry & kLookupLengthMask);
    *symbol = (entry >> 8) & 0xFF;
    *value = entry >> 16;
    return true;
  }
  int decoded;
  if (entry != 0) {
    Consume(cursor, entry & kLookupLengthMask);
    decoded = (entry >> 8) & 0xFF;
  } else {
    int length = kHuffmanLookupBits + 1;
    for (;; ++length) {
      if (length > 16) return false;
      LONG code = static_cast<LONG>(cursor.bits >> (64 - length));
      if (code <= table.maxCode[length]) {
        ULONG index = static_cast<ULONG>(table.valuePointer[length] + code - table.minCode[length]);
        if (index >= table.valueCount) return false;
        decoded = table.values[index];
        break;
      }
    }
    Consume(cursor, length);
  }
  *symbol = decoded;
  int extraBits = decoded & 15;
  if (extraBits == 0) {
    *value = 0;
    return true;
  }
  int received = static_cast<int>(cursor.bits >> (64 - extraBits));
  Consume(cursor, extraBits);
  if (received < (1 << (extraBits - 1))) received += 1 - (1 << extraBits);
  *value = received;
  return true;
}

// Decodes the coefficients of one block (all zero on entry). kClearSmall drops coefficients of -1,
// 0 and 1 (chrominance). *acPresent tells whether any AC coefficient was stored. False on a
// bitstream error.
template <bool kClearSmall>
inline __attribute__((always_inline)) bool DecodeCoefficients(DecoderState& d, BitCursor& cursor,
                                                              ScanComponent& component,
                                                              bool* acPresent) {
  const DecoderTableSet& tables = *d.tables;
  SHORT* coefficients = d.coefficients[d.currentBlock];
  int symbol, value;
  if (!DecodeSymbol(d, cursor, *tables.dc[component.dcTable], &symbol, &value)) return false;
  component.predictor = static_cast<USHORT>(component.predictor + value);
  SHORT dc = static_cast<SHORT>(component.predictor);
  if (!kClearSmall || dc > 1 || dc < -1) coefficients[0] = dc;

  const HuffmanTable& ac = *tables.ac[component.acTable];
  bool stored = false;
  for (int k = 1; k < 64;) {
    if (!DecodeSymbol(d, cursor, ac, &symbol, &value)) return false;
    int run = symbol >> 4;
    if ((symbol & 15) == 0) {
      if (run != 15) break;  // end of block
      k += 16;
      continue;
    }
    k += run;
    if (k > 63) return false;
    if (!kClearSmall || value > 1 || value < -1) {
      coefficients[kZigZag[k]] = static_cast<SHORT>(value);
      stored = true;
    }
    ++k;
  }
  *acPresent = stored;
  return true;
}

// ---- Output ----

// Transforms the block waiting for a partner on its own.
void FlushPendingBlock(DecoderState& d) {
  if (!d.pending) return;
  ULONG slot = d.currentBlock ^ 1;
  d.tables->transform(d.coefficients[slot], d.pendingQuant, d.pendingTarget, d.pendingStride);
  memset(d.coefficients[slot], 0, sizeof(d.coefficients[slot]));
  d.pending = false;
}

// Transforms the decoded block into its place, keeping inside the plane: blocks that stick out
// past the right or bottom edge are transformed aside and only their visible part copied. With a
// pair routine a whole block waits for the next one. Leaves the coefficients it used zero.
inline __attribute__((always_inline)) void WriteBlock(DecoderState& d,
                                                      const FrameComponent& component, ULONG x,
                                                      ULONG y, bool acPresent) {
  const DecoderTableSet& tables = *d.tables;
  SHORT* coefficients = d.coefficients[d.currentBlock];
  const void* quant = tables.quant[component.quantSelector];
  ULONG width = component.planeWidth;
  ULONG height = component.writeHeight;
  if (x < width && y < height) {
    UCHAR* target = d.output + component.writeOffset + static_cast<size_t>(y) * width + x;
    ULONG columns = width - x < 8 ? width - x : 8;
    ULONG rows = height - y < 8 ? height - y : 8;
    if (!acPresent) {
      UCHAR value = DcOnlySample(coefficients[0], QuantEntry(&tables, component.quantSelector, 0));
      if (columns == 8) {
        uint64_t samples = value * 0x0101010101010101ull;
        for (ULONG row = 0; row < rows; ++row) memcpy(target + row * width, &samples, 8);
      } else {
        for (ULONG row = 0; row < rows; ++row) memset(target + row * width, value, columns);
      }
    } else if (columns == 8 && rows == 8) {
      if (tables.transformPair != nullptr) {
        if (!d.pending) {
          d.pending = true;
          d.pendingQuant = quant;
          d.pendingTarget = target;
          d.pendingStride = width;
          d.currentBlock ^= 1;
          return;
        }
        ULONG other = d.currentBlock ^ 1;
        tables.transformPair(d.coefficients[other], d.pendingQuant, d.pendingTarget,
                             d.pendingStride, coefficients, quant, target, width);
        memset(d.coefficients[other], 0, sizeof(d.coefficients[other]));
        d.pending = false;
      } else {
        tables.transform(coefficients, quant, target, width);
      }
    } else {
      UCHAR block[64];
      tables.transform(coefficients, quant, block, 8);
      for (ULONG row = 0; row < rows; ++row) memcpy(target + row * width, block + row * 8, columns);
    }
  }
  if (acPresent) {
    memset(coefficients, 0, sizeof(d.coefficients[0]));
  } else {
    coefficients[0] = 0;
  }
}

// ---- Frame layout ----

// Plane sizes and places from the frame header. With a known line count the planes must fit in the
// destination; without one they are laid out for as many MCU rows as it holds.
bool LayOutPlanes(DecoderState& d) {
  FrameRecord& f = *d.frame;
  f.mcusPerRow = CeilDiv(CeilDiv(f.samplesPerLine, f.hMax), 8);
  uint64_t offset = 0;
  for (ULONG i = 0; i < f.componentCount; ++i) {
    FrameComponent& c = f.components[i];
    c.planeWidth = CeilDiv(f.samplesPerLine * c.h, f.hMax);
    c.planeHeight = CeilDiv(f.lines * c.v, f.vMax);
    c.planeOffset = static_cast<ULONG>(offset);
    offset += static_cast<uint64_t>(c.planeWidth) * c.planeHeight;
  }
  if (offset > d.outputCapacity) return false;
  f.outputSize = static_cast<ULONG>(offset);
  if (f.lines != 0) {
    f.mcuRows = CeilDiv(CeilDiv(f.lines, f.vMax), 8);
    if (f.writeMcuRows == 0) {
      f.writeMcuRows = f.mcuRows;
      for (ULONG i = 0; i < f.componentCount; ++i) {
        f.components[i].writeHeight = f.components[i].planeHeight;
        f.components[i].writeOffset = f.components[i].planeOffset;
      }
    }
    // Rows already decoded into the provisional layout must hold the whole frame.
    return f.mcuRows <= f.writeMcuRows;
  }
  f.mcuRows = 0;
  uint64_t bytesPerMcuRow = 0;
  for (ULONG i = 0; i < f.componentCount; ++i) {
    bytesPerMcuRow += static_cast<uint64_t>(f.components[i].planeWidth) * 8 * f.components[i].v;
  }
  uint64_t rows = d.outputCapacity / bytesPerMcuRow;
  if (rows == 0) return false;
  f.writeMcuRows = static_cast<ULONG>(rows < kMaxMcuRows ? rows : kMaxMcuRows);
  offset = 0;
  for (ULONG i = 0; i < f.componentCount; ++i) {
    FrameComponent& c = f.components[i];
    c.writeHeight = f.writeMcuRows * 8 * c.v;
    c.writeOffset = static_cast<ULONG>(offset);
    offset += static_cast<uint64_t>(c.planeWidth) * c.writeHeight;
  }
  return true;
}

// MCU counts of the current scan: a one-component scan walks that component's blocks, an
// interleaved one the frame's MCUs.
void SetScanCounts(DecoderState& d) {
  FrameRecord& f = *d.frame;
  ScanRecord& s = *d.scan;
  if (s.componentCount == 1) {
    const FrameComponent& c = f.components[s.components[0].component];
    s.mcusPerRow = CeilDiv(c.planeWidth, 8);
    s.mcuRows = CeilDiv(c.planeHeight, 8);
    s.writeRows = c.writeHeight / 8 + (c.writeHeight % 8 != 0 ? 1 : 0);
  } else {
    s.mcusPerRow = f.mcusPerRow;
    s.mcuRows = f.mcuRows;
    s.writeRows = f.writeMcuRows;
  }
  d.totalMcus = f.lines == 0 ? -1 : static_cast<LONG>(s.mcusPerRow * s.mcuRows);
}

// Moves planes decoded in the provisional layout of a DNL frame to their final places.
void CompactPlanes(DecoderState& d) {
  FrameRecord& f = *d.frame;
  for (ULONG i = 0; i < f.componentCount; ++i) {
    const FrameComponent& c = f.components[i];
    if (c.writeOffset != c.planeOffset) {
      memmove(d.output + c.planeOffset, d.output + c.writeOffset,
              static_cast<size_t>(c.planeWidth) * c.planeHeight);
    }
  }
}

// ---- Marker segments ----

bool ReadFrameHeader(DecoderState& d) {
  FrameRecord& f = *d.frame;
  if (f.present) return false;  // one frame per image
  ULONG length = ReadWord(d);
  f.precision = ReadByte(d);
  f.lines = ReadWord(d);
  f.samplesPerLine = ReadWord(d);
  f.componentCount = ReadByte(d);
  if (f.componentCount < 1 || f.componentCount > kMaxComponents ||
      length != 8 + 3 * f.componentCount) {
    return false;
  }
  // Baseline frames have 8-bit samples, and a line has at least one.
  if (f.precision != 8 || f.samplesPerLine == 0) return false;
  f.frameType = 0;
  f.hMax = 1;
  f.vMax = 1;
  memset(f.componentOfId, kNoComponent, sizeof(f.componentOfId));
  for (ULONG i = 0; i < f.componentCount; ++i) {
    FrameComponent& c = f.components[i];
    c.id = ReadByte(d);
    UCHAR sampling = ReadByte(d);
    c.quantSelector = ReadByte(d);
    c.h = sampling >> 4;
    c.v = sampling & 15;
    if (c.id > 15 || f.componentOfId[c.id] != kNoComponent) return false;
    if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4 || c.quantSelector > 1) return false;
    f.componentOfId[c.id] = static_cast<UCHAR>(i);
    if (c.h > f.hMax) f.hMax = c.h;
    if (c.v > f.vMax) f.vMax = c.v;
  }
  f.writeMcuRows = 0;
  if (!LayOutPlanes(d)) return false;
  f.present = TRUE;
  return true;
}

bool ReadScanHeader(DecoderState& d) {
  FrameRecord& f = *d.frame;
  ScanRecord& s = *d.scan;
  // Every component is coded in one scan; more scans than components is a malformed frame.
  if (!f.present || ++f.scanCount > f.componentCount) return false;
  ULONG length = ReadWord(d);
  s.componentCount = ReadByte(d);
  if (s.componentCount < 1 || s.componentCount > kMaxComponents ||
      length != 6 + 2 * s.componentCount) {
    return false;
  }
  ULONG blocks = 0;
  for (ULONG i = 0; i < s.componentCount; ++i) {
    ScanComponent& sc = s.components[i];
    UCHAR id = ReadByte(d);
    UCHAR tables = ReadByte(d);
    if (id > 15 || f.componentOfId[id] == kNoComponent) return false;
    sc.component = f.componentOfId[id];
    for (ULONG j = 0; j < i; ++j) {
      if (s.components[j].component == sc.component) return false;
    }
    sc.dcTable = tables >> 4;
    sc.acTable = tables & 15;
    if (sc.dcTable > 1 || sc.acTable > 1) return false;
    sc.predictor = 0;
    blocks += f.components[sc.component].h * f.components[sc.component].v;
  }
  if (s.componentCount > 1 && blocks > kMaxBlocksPerMcu) return false;
  s.ss = ReadByte(d);
  s.se = ReadByte(d);
  UCHAR approximation = ReadByte(d);
  s.ah = approximation >> 4;
  s.al = approximation & 15;
  SetScanCounts(d);
  d.mcuCounter = 0;
  d.mcuX = 0;
  d.mcuY = 0;
  d.nextRestartAt = f.restartInterval;
  d.expectedRestart = 0;
  d.restartMode = f.restartInterval != 0;
  d.resynchronising = false;
  d.scanReady = true;
  ResetBits(d);
  return true;
}

bool ReadQuantTables(DecoderState& d) {
  ULONG length = ReadWord(d);
  if (length < 2) return false;
  ULONG remaining = length - 2;
  while (remaining > 0) {
    UCHAR selector = ReadByte(d);
    remaining -= 1;
    ULONG precision = selector >> 4;
    ULONG table = selector & 15;
    if (precision != 0 || table > 1 || remaining < 64) return false;
    for (ULONG k = 0; k < 64; ++k) StoreQuantEntry(d.tables, table, kZigZag[k], ReadByte(d));
    remaining -= 64;
  }
  return true;
}

// The line count of a frame whose header left it 0; the layout, the scan's counts and the total
// follow from it.
bool ReadLineCount(DecoderState& d) {
  FrameRecord& f = *d.frame;
  ULONG length = ReadWord(d);
  ULONG lines = ReadWord(d);
  if (length != 4 || lines == 0 || !f.present || f.lines != 0) return false;
  f.lines = lines;
  if (!LayOutPlanes(d)) return false;
  if (d.scanReady) SetScanCounts(d);
  return true;
}

// Reads one marker and its segment. *code receives the marker. False on a malformed or
// unsupported segment, or a marker that has no place between segments.
bool ReadMarker(DecoderState& d, UCHAR* code) {
  UCHAR byte = ReadByte(d);
  while (byte == 0xFF) byte = ReadByte(d);
  *code = byte;
  if (byte < 0xC0) {
    d.error = kErrorUnexpectedMarker;
    return false;
  }
  switch (byte) {
    case kMarkerSof0:
      return ReadFrameHeader(d);
    case kMarkerSoi:
      d.endOfImage = false;
      return true;
    case kMarkerEoi:
      d.endOfImage = true;
      return true;
    case kMarkerSos:
      return ReadScanHeader(d);
    case kMarkerDqt:
      return ReadQuantTables(d);
    case kMarkerDnl:
      return ReadLineCount(d);
    case kMarkerDri:
      if (ReadWord(d) != 4) return false;
      d.frame->restartInterval = ReadWord(d);
      return true;
    default:
      break;
  }
  if (byte == kMarkerDht || byte >= 0xE0) {
    // The camera's Huffman tables are fixed; table segments, application data and comments are
    // skipped by their length.
    ULONG length = ReadWord(d);
    if (length < 2) return false;
    SkipBytes(d, length - 2);
    return true;
  }
  // Other frame types (extended, progressive, lossless, arithmetic), restart markers outside
  // entropy-coded data, and the reserved 0xDE and 0xDF.
  d.error = kErrorBitstream;
  return false;
}

// Reads markers until a scan header or the end of the image.
bool ReadMarkersUntilScanData(DecoderState& d) {
  for (;;) {
    UCHAR code;
    if (!ReadMarker(d, &code)) return false;
    if (code == kMarkerSos || code == kMarkerEoi) return true;
  }
}

// ---- Restart intervals ----

// From the read position, the next 0xFF followed by a byte other than 0x00 and 0xFF; its code, or
// 0 when the input ends first. The read position moves past the marker.
UCHAR FindNextMarker(DecoderState& d) {
  while (d.position + 1 < d.length) {
    UCHAR code = d.source[d.position + 1];
    if (d.source[d.position] == 0xFF && code != 0 && code != 0xFF) {
      d.position += 2;
      return code;
    }
    d.position += 1;
  }
  d.position = d.length;
  return 0;
}

void ResetPredictors(DecoderState& d) {
  for (ULONG i = 0; i < d.scan->componentCount; ++i) d.scan->components[i].predictor = 0;
}

// Skips to the next restart marker after a bitstream error: the MCUs up to the interval it starts
// are skipped. False when there is none (the frame cannot go on).
bool Resynchronise(DecoderState& d) {
  d.error = kErrorBitstream;
  if (!d.restartMode) return false;
  for (;;) {
    UCHAR code = FindNextMarker(d);
    if (code == 0) return false;
    if (code >= kMarkerRst0 && code <= kMarkerRst7) {
      ResetBits(d);
      d.lastRestartFound = code - kMarkerRst0;
      d.expectedRestart = (d.lastRestartFound + 1) & 7;
      ResetPredictors(d);
      d.resynchronising = true;
      return true;
    }
  }
}

// At the start of every restart interval but the first: the restart marker that ends the previous
// one, unless a resynchronisation already found it.
bool EnterRestartInterval(DecoderState& d) {
  if (!d.resynchronising) {
    ResetBits(d);
    UCHAR code = FindNextMarker(d);
    if (code < kMarkerRst0 || code > kMarkerRst7) {
      // The marker is missing or another one: look further for a restart marker.
      if (!Resynchronise(d)) return false;
    } else if (static_cast<ULONG>(code - kMarkerRst0) != d.expectedRestart) {
      // Intervals were lost: skip until the interval that follows this marker.
      d.error = kErrorBitstream;
      d.lastRestartFound = code - kMarkerRst0;
      d.expectedRestart = (d.lastRestartFound + 1) & 7;
      d.resynchronising = true;
    } else {
      d.expectedRestart = (d.expectedRestart + 1) & 7;
    }
  }
  ULONG interval = d.mcuCounter / d.frame->restartInterval;
  if (d.resynchronising && ((interval ^ (d.lastRestartFound + 1)) & 7) == 0) {
    d.resynchronising = false;
  }
  ResetPredictors(d);
  return true;
}

// Whether the entropy-coded data ends here (at most the padding of its last byte left) with a DNL
// marker.
bool AtLineCountMarker(DecoderState& d) {
  if (d.bitCount - d.paddingBits >= 8) return false;
  ULONG position = d.position;
  if (position >= d.length || d.source[position] != 0xFF) return false;
  while (position < d.length && d.source[position] == 0xFF) ++position;
  return position < d.length && d.source[position] == kMarkerDnl;
}

// ---- MCU loop ----

// Decodes the MCU at (mcuX, mcuY) of the scan. False on a bitstream error.
inline __attribute__((always_inline)) bool DecodeMcu(DecoderState& d) {
  FrameRecord& f = *d.frame;
  ScanRecord& s = *d.scan;
  bool interleaved = s.componentCount > 1;
  BitCursor cursor{d.bits, d.bitCount};
  bool decoded = true;
  for (ULONG i = 0; i < s.componentCount && decoded; ++i) {
    ScanComponent& sc = s.components[i];
    const FrameComponent& component = f.components[sc.component];
    ULONG h = interleaved ? component.h : 1;
    ULONG v = interleaved ? component.v : 1;
    for (ULONG block = 0; block < h * v; ++block) {
      bool acPresent = false;
      decoded = i == 0 ? DecodeCoefficients<false>(d, cursor, sc, &acPresent)
                       : DecodeCoefficients<true>(d, cursor, sc, &acPresent);
      if (!decoded) {
        memset(d.coefficients[d.currentBlock], 0, sizeof(d.coefficients[0]));
        break;
      }
      ULONG row = block / h, column = block % h;
      WriteBlock(d, component, (d.mcuX * h + column) * 8, (d.mcuY * v + row) * 8, acPresent);
    }
  }
  d.bits = cursor.bits;
  d.bitCount = cursor.count;
  FlushPendingBlock(d);
  // Bits taken from past a marker: the segment held less data than its MCUs need.
  return decoded && d.paddingBits <= d.bitCount;
}

// Decodes MCUs until the scan's last one. False when the frame cannot go on.
inline __attribute__((always_inline)) bool DecodeScanBody(DecoderState& d) {
  ScanRecord& s = *d.scan;
  ULONG restartInterval = d.frame->restartInterval;
  for (;;) {
    if (d.totalMcus >= 0 && d.mcuCounter >= static_cast<ULONG>(d.totalMcus)) return true;
    if (d.totalMcus < 0 && d.mcuX == 0) {
      if (AtLineCountMarker(d)) {
        ResetBits(d);
        UCHAR code;
        if (!ReadMarker(d, &code)) return false;
        continue;
      }
      if (d.mcuY >= s.writeRows) return false;  // taller than the destination
    }
    if (restartInterval != 0 && d.mcuCounter == d.nextRestartAt) {
      d.nextRestartAt += restartInterval;
      if (!EnterRestartInterval(d)) return false;
    }
    if (!d.resynchronising && !DecodeMcu(d)) {
      if (!Resynchronise(d)) return false;
    }
    ++d.mcuCounter;
    if (++d.mcuX == s.mcusPerRow) {
      d.mcuX = 0;
      ++d.mcuY;
    }
  }
}

bool DecodeScan(DecoderState& d) { return DecodeScanBody(d); }

// The same loop built for processors with AVX2: the bit-manipulation instructions that come with
// them (BMI2) shift the bit buffer by a variable count in one step.
__attribute__((target("avx2,bmi,bmi2"))) bool DecodeScanAvx2(DecoderState& d) {
  return DecodeScanBody(d);
}

}  // namespace

NTSTATUS CreateDecoder(DecoderState** result) {
  DecoderState* decoder = static_cast<DecoderState*>(AllocateDecoderBlock(sizeof(DecoderState)));
  if (decoder == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  decoder->tables = static_cast<DecoderTableSet*>(AllocateDecoderBlock(sizeof(DecoderTableSet)));
  decoder->frame = static_cast<FrameRecord*>(AllocateDecoderBlock(sizeof(FrameRecord)));
  decoder->scan = static_cast<ScanRecord*>(AllocateDecoderBlock(sizeof(ScanRecord)));
  if (decoder->tables == nullptr || decoder->frame == nullptr || decoder->scan == nullptr) {
    DestroyDecoder(decoder);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  *result = decoder;
  return STATUS_SUCCESS;
}

NTSTATUS InitDecoderTables(DecoderState* decoder, const UCHAR table0[64], const UCHAR table1[64],
                           BOOLEAN useSimd) {
  DecoderTableSet* tables = decoder->tables;
  FreeTables(tables);
  tables->simd = useSimd != 0;

  // The built-in segments: at most four tables, classes 0 and 1, identifiers 0 and 1.
  ULONG offset = 0;
  for (int segment = 0; segment < 4 && offset < kAnnexKHuffmanSegmentsLength; ++segment) {
    UCHAR classAndId = kAnnexKHuffmanSegments[offset];
    ULONG tableClass = classAndId >> 4;
    ULONG id = classAndId & 15;
    if (tableClass > 1 || id > 1 || offset + 17 > kAnnexKHuffmanSegmentsLength) {
      FreeTables(tables);
      return STATUS_INVALID_PARAMETER;
    }
    HuffmanTable** slot = tableClass == 0 ? &tables->dc[id] : &tables->ac[id];
    if (*slot == nullptr) {
      *slot = static_cast<HuffmanTable*>(AllocateDecoderBlock(sizeof(HuffmanTable)));
      if (*slot == nullptr) {
        FreeTables(tables);
        return STATUS_INSUFFICIENT_RESOURCES;
      }
    }
    const UCHAR* counts = &kAnnexKHuffmanSegments[offset + 1];
    ULONG valueCount = 0;
    for (int i = 0; i < 16; ++i) valueCount += counts[i];
    if (offset + 17 + valueCount > kAnnexKHuffmanSegmentsLength ||
        !BuildHuffmanTable(*slot, counts, counts + 16)) {
      FreeTables(tables);
      return STATUS_INVALID_PARAMETER;
    }
    offset += 17 + valueCount;
  }
  for (int i = 0; i < 2; ++i) {
    if (tables->dc[i] == nullptr || tables->ac[i] == nullptr) {
      FreeTables(tables);
      return STATUS_INVALID_PARAMETER;
    }
  }

  SIZE_T entrySize = tables->simd ? sizeof(SHORT) : sizeof(LONG);
  const UCHAR* sources[2] = {table0, table1};
  for (ULONG table = 0; table < 2; ++table) {
    tables->quant[table] = AllocateDecoderBlock(64 * entrySize);
    if (tables->quant[table] == nullptr) {
      FreeTables(tables);
      return STATUS_INSUFFICIENT_RESOURCES;
    }
    for (ULONG i = 0; i < 64; ++i) StoreQuantEntry(tables, table, i, sources[table][i]);
  }
  tables->decodeScan = DecodeScan;
  if (!tables->simd) {
    tables->transform = InverseTransformPlain;
  } else {
    bool avx2 = ProcessorHasAvx2();
    tables->transform = avx2 ? InverseTransformAvx2 : InverseTransformSse2;
    tables->transformPair = avx2 ? InverseTransformPairAvx2 : nullptr;
    if (avx2) tables->decodeScan = DecodeScanAvx2;
  }
  return STATUS_SUCCESS;
}

void DestroyDecoder(DecoderState* decoder) {
  if (decoder == nullptr) return;
  if (decoder->tables != nullptr) FreeTables(decoder->tables);
  FreeDecoderBlock(decoder->tables);
  FreeDecoderBlock(decoder->frame);
  FreeDecoderBlock(decoder->scan);
  FreeDecoderBlock(decoder);
}

bool DecodeFrame(DecoderState* decoder, const UCHAR* source, ULONG length, UCHAR* destination,
                 ULONG destinationSize, ULONG* outputSize) {
  if (outputSize != nullptr) *outputSize = 0;
  if (decoder == nullptr || decoder->tables->transform == nullptr || destination == nullptr ||
      outputSize == nullptr || (source == nullptr && length != 0)) {
    return false;
  }
  DecoderState& d = *decoder;
  d.source = source;
  d.length = length;
  d.position = 0;
  d.pastEndReads = 0;
  ResetBits(d);
  d.error = kErrorNone;
  d.mcuCounter = 0;
  d.totalMcus = 0;
  d.endOfImage = true;
  d.inputExhausted = false;
  d.restartMode = false;
  d.resynchronising = false;
  d.scanReady = false;
  d.output = destination;
  d.outputCapacity = destinationSize;
  d.pending = false;
  // The quantisation tables carry over from frame to frame; the rest of the headers does not.
  memset(d.frame, 0, sizeof(FrameRecord));
  memset(d.scan, 0, sizeof(ScanRecord));

  if (!ReadMarkersUntilScanData(d) || !d.scanReady) return false;
  for (;;) {
    if (!d.tables->decodeScan(d)) return false;
    d.mcuCounter = 0;
    ResetBits(d);
    d.scanReady = false;
    if (!ReadMarkersUntilScanData(d)) return false;
    if (d.inputExhausted || d.endOfImage) break;
  }
  if (d.error != kErrorNone || d.frame->lines == 0) return false;
  CompactPlanes(d);
  *outputSize = d.frame->outputSize;
  return true;
}
