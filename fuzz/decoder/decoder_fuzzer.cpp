// libFuzzer target: any bytes as one compressed frame, decoded by both paths into a destination of
// the size the image processor gives the camera's largest 4:2:2 frame. The sanitizers catch any
// access outside the input or the destination; the two paths must agree on the answer and bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/decoder.h"

namespace {

constexpr size_t kDestinationSize = 640 * 480 * 2;

struct Decoders {
  DecoderState* plain = nullptr;
  DecoderState* simd = nullptr;
  Decoders() {
    if (CreateDecoder(&plain) != STATUS_SUCCESS || CreateDecoder(&simd) != STATUS_SUCCESS ||
        InitDecoderTables(plain, kBuiltInQuantTable0, kBuiltInQuantTable1, FALSE) !=
            STATUS_SUCCESS ||
        InitDecoderTables(simd, kBuiltInQuantTable0, kBuiltInQuantTable1, TRUE) != STATUS_SUCCESS) {
      abort();
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Decoders decoders;
  // Heap blocks of exactly the destination's size, so that a write past the end hits a red zone.
  static std::vector<uint8_t> plainPlanes(kDestinationSize), simdPlanes(kDestinationSize);
  // Quantisation table segments carry over between frames; start each input from the built-in
  // tables so that a run depends on its input alone.
  InitDecoderTables(decoders.plain, kBuiltInQuantTable0, kBuiltInQuantTable1, FALSE);
  InitDecoderTables(decoders.simd, kBuiltInQuantTable0, kBuiltInQuantTable1, TRUE);
  ULONG plainSize = 0, simdSize = 0;
  bool plainDecoded = DecodeFrame(decoders.plain, data, static_cast<ULONG>(size),
                                  plainPlanes.data(), kDestinationSize, &plainSize);
  bool simdDecoded = DecodeFrame(decoders.simd, data, static_cast<ULONG>(size), simdPlanes.data(),
                                 kDestinationSize, &simdSize);
  if (plainDecoded != simdDecoded || plainSize != simdSize || plainSize > kDestinationSize ||
      (plainDecoded && memcmp(plainPlanes.data(), simdPlanes.data(), plainSize) != 0)) {
    abort();
  }
  return 0;
}
