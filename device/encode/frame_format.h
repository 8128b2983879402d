// What one encoded frame looks like: the output format and its options, as the bridge's registers
// choose them. The encoders know nothing of the registers; the emulator fills this in per frame.
#pragma once

#include <array>
#include <cstdint>

namespace camencode {

// Values of the bridge's output format register.
enum class OutputFormat : uint8_t {
  Yuv422 = 0,   // packed Y0 U Y1 V; U = B - Y + 128, V = R - Y + 128
  Bayer8 = 1,   // B G / G R mosaic, one byte per sample
  Bayer10 = 2,  // the same mosaic, two bytes per sample (see EncodeBayer)
  Rgb565 = 3,   // two bytes per pixel, red in the high bits of the first byte
  Grey = 4,     // luma only
  Jpeg422 = 5,  // baseline JPEG, chroma halved horizontally
  Jpeg420 = 6,  // baseline JPEG, chroma halved both ways
};
constexpr uint8_t kOutputFormatCount = 7;

struct FrameFormat {
  OutputFormat format = OutputFormat::Yuv422;
  uint32_t width = 0;
  uint32_t height = 0;
  bool oneLineBayer = false;  // Bayer rows one by one instead of interleaved row pairs
  bool chromaSwap = false;    // packed YUV carries V where U belongs and U where V belongs
  // JPEG: MCUs between restart markers, 0 for none; quantisers in natural (row-major) order.
  uint32_t restartInterval = 0;
  std::array<uint16_t, 64> lumaQuant{};
  std::array<uint16_t, 64> chromaQuant{};
};

inline bool IsCompressed(OutputFormat format) {
  return format == OutputFormat::Jpeg422 || format == OutputFormat::Jpeg420;
}

}  // namespace camencode
