// The three routine tables (plain, SSE2, AVX2) and the choice between them. The choice is made
// once per stream; every frame then calls through the chosen table.
#include <immintrin.h>

#include "hal.h"
#include "image/color_kernels.h"

namespace {

constexpr YuvRowKernels kPlainYuv{
    PackedToRgbRowPlain,  PackedToUyvyPlain, PackedToPlanarRowsPlain, HalvePackedToRgbPlain,
    HalvePackedRowsPlain, PackedToLumaPlain, HalveLumaRowsPlain,      false,
    FlipMirrorPlain};
constexpr YuvRowKernels kSse2Yuv{
    PackedToRgbRowSse2,  PackedToUyvySse2, PackedToPlanarRowsSse2, HalvePackedToRgbSse2,
    HalvePackedRowsSse2, PackedToLumaSse2, HalveLumaRowsSse2,      true,
    FlipMirrorSse2};
constexpr YuvRowKernels kAvx2Yuv{
    PackedToRgbRowAvx2,  PackedToUyvySse2, PackedToPlanarRowsSse2, HalvePackedToRgbSse2,
    HalvePackedRowsSse2, PackedToLumaSse2, HalveLumaRowsSse2,      true,
    FlipMirrorSse2};

template <const YuvRowKernels& kKernels>
ULONG ConvertYuv422Using(const UCHAR* source, ULONG sourceLength, UCHAR* destination,
                         ULONG destinationLength, ULONG width, ULONG height, ULONG compression,
                         ULONG sourceWidth, ULONG sourceHeight,
                         const YuvConversionSettings& settings) {
  return ConvertYuv422WithKernels(kKernels, source, sourceLength, destination, destinationLength,
                                  width, height, compression, sourceWidth, sourceHeight, settings);
}

template <DecodedRowKernel kKernel, bool kChromaRowsHalved>
ULONG ConvertDecodedUsing(ULONG width, ULONG height, const UCHAR* planes, ULONG planeBytes,
                          UCHAR* destination, ULONG destinationLength, UCHAR*, ULONG,
                          const DecodedColorTables& tables) {
  return ConvertDecodedWithKernel(kKernel, kChromaRowsHalved, width, height, planes, planeBytes,
                                  destination, destinationLength, tables);
}

constexpr ColorRoutines kPlainRoutines{
    ConvertYuv422Using<kPlainYuv>, ConvertDecodedUsing<DecodedRowToRgbPlain, false>,
    ConvertDecodedUsing<DecodedRowToRgbPlain, true>, FlipMirrorPlain, "plain"};
constexpr ColorRoutines kSse2Routines{
    ConvertYuv422Using<kSse2Yuv>, ConvertDecodedUsing<DecodedRowToRgbSse2, false>,
    ConvertDecodedUsing<DecodedRowToRgbSse2, true>, FlipMirrorSse2, "sse2"};
constexpr ColorRoutines kAvx2Routines{
    ConvertYuv422Using<kAvx2Yuv>, ConvertDecodedUsing<DecodedRowToRgbAvx2, false>,
    ConvertDecodedUsing<DecodedRowToRgbAvx2, true>, FlipMirrorSse2, "avx2"};

// Leaf 1 ECX: the operating system saves the extended registers (XSAVE enabled), and AVX.
constexpr ULONG kCpuidOsXsave = 1u << 27;
constexpr ULONG kCpuidAvx = 1u << 28;
// Leaf 7 EBX.
constexpr ULONG kCpuidAvx2 = 1u << 5;
// XCR0: SSE and AVX register state enabled by the operating system.
constexpr ULONGLONG kXcr0SseAvx = 0x6;

__attribute__((target("xsave"))) ULONGLONG ReadExtendedControlRegister() { return _xgetbv(0); }

bool ProcessorHasSse2() {
  ULONG registers[4];
  QueryCpuid(1, registers);
  return (registers[3] & CPUID_FEATURE_SSE2) != 0;
}

bool ProcessorHasAvx2() {
  ULONG registers[4];
  QueryCpuid(0, registers);
  if (registers[0] < 7) return false;
  QueryCpuid(1, registers);
  if ((registers[2] & (kCpuidOsXsave | kCpuidAvx)) != (kCpuidOsXsave | kCpuidAvx)) return false;
  if ((ReadExtendedControlRegister() & kXcr0SseAvx) != kXcr0SseAvx) return false;
  QueryCpuid(7, registers);
  return (registers[1] & kCpuidAvx2) != 0;
}

bool ProcessorHasMmx() {
  ULONG registers[4];
  QueryCpuid(1, registers);
  return (registers[3] & CPUID_FEATURE_MMX) != 0;
}

}  // namespace

const ColorRoutines* ColorRoutinesFor(ColorRoutineSet set) {
  switch (set) {
    case ColorRoutineSet::Plain:
      return &kPlainRoutines;
    case ColorRoutineSet::Sse2:
      return ProcessorHasSse2() ? &kSse2Routines : nullptr;
    case ColorRoutineSet::Avx2:
      return ProcessorHasSse2() && ProcessorHasAvx2() ? &kAvx2Routines : nullptr;
  }
  return &kPlainRoutines;
}

const ColorRoutines* SelectColorRoutines(bool useSimd) {
  if (!useSimd || !ProcessorHasMmx()) return &kPlainRoutines;
  if (const ColorRoutines* avx2 = ColorRoutinesFor(ColorRoutineSet::Avx2)) return avx2;
  if (const ColorRoutines* sse2 = ColorRoutinesFor(ColorRoutineSet::Sse2)) return sse2;
  return &kPlainRoutines;
}
