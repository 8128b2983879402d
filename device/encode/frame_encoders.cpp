#include "frame_encoders.h"

#include <algorithm>

#include "jpeg_frames.h"

namespace camencode {
namespace {

uint8_t Clamp(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

void EncodeYuv422(const campattern::RgbImage& image, bool chromaSwap, uint8_t* out) {
  for (uint32_t y = 0; y < image.height; ++y) {
    for (uint32_t x = 0; x < image.width; x += 2) {
      const uint8_t* p0 = image.At(x, y);
      const uint8_t* p1 = image.At(x + 1, y);
      int y0 = Luma(p0[0], p0[1], p0[2]);
      int y1 = Luma(p1[0], p1[1], p1[2]);
      // Plain colour differences of the pair, rounded half away from zero.
      int sumU = (p0[2] - y0) + (p1[2] - y1);
      int sumV = (p0[0] - y0) + (p1[0] - y1);
      uint8_t u = Clamp(128 + (sumU >= 0 ? sumU + 1 : sumU - 1) / 2);
      uint8_t v = Clamp(128 + (sumV >= 0 ? sumV + 1 : sumV - 1) / 2);
      if (chromaSwap) std::swap(u, v);
      out[0] = static_cast<uint8_t>(y0);
      out[1] = u;
      out[2] = static_cast<uint8_t>(y1);
      out[3] = v;
      out += 4;
    }
  }
}

void EncodeRgb565(const campattern::RgbImage& image, uint8_t* out) {
  for (size_t i = 0; i < static_cast<size_t>(image.width) * image.height; ++i) {
    const uint8_t* p = &image.pixels[i * 3];
    out[2 * i] = static_cast<uint8_t>((p[0] & 0xF8) | (p[1] >> 5));
    out[2 * i + 1] = static_cast<uint8_t>(((p[1] << 3) & 0xE0) | (p[2] >> 3));
  }
}

void EncodeGrey(const campattern::RgbImage& image, uint8_t* out) {
  for (size_t i = 0; i < static_cast<size_t>(image.width) * image.height; ++i) {
    const uint8_t* p = &image.pixels[i * 3];
    out[i] = Luma(p[0], p[1], p[2]);
  }
}

// The mosaic sample at (x, y): blue at even rows and columns, red at odd ones, green elsewhere.
uint8_t MosaicSample(const campattern::RgbImage& image, uint32_t x, uint32_t y) {
  const uint8_t* p = image.At(x, y);
  if ((y & 1) == 0 && (x & 1) == 0) return p[2];
  if ((y & 1) == 1 && (x & 1) == 1) return p[0];
  return p[1];
}

// A 10-bit sample travels as its top eight bits, then its low two bits; the low bits extend the
// eight-bit level the way a wider converter would (0 stays 0, 255 becomes 1023).
void PutSample(uint8_t level, bool tenBit, uint8_t*& out) {
  *out++ = level;
  if (tenBit) *out++ = static_cast<uint8_t>(level >> 6);
}

void EncodeBayer(const campattern::RgbImage& image, bool oneLine, bool tenBit, uint8_t* out) {
  if (oneLine) {
    for (uint32_t y = 0; y < image.height; ++y) {
      for (uint32_t x = 0; x < image.width; ++x) PutSample(MosaicSample(image, x, y), tenBit, out);
    }
    return;
  }
  for (uint32_t y = 0; y < image.height; y += 2) {
    for (uint32_t x = 0; x < image.width; x += 2) {
      PutSample(MosaicSample(image, x, y + 1), tenBit, out);
      PutSample(MosaicSample(image, x, y), tenBit, out);
      PutSample(MosaicSample(image, x + 1, y), tenBit, out);
      PutSample(MosaicSample(image, x + 1, y + 1), tenBit, out);
    }
  }
}

}  // namespace

uint8_t Luma(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<uint8_t>((299 * red + 587 * green + 114 * blue + 500) / 1000);
}

uint64_t UncompressedFrameBytes(const FrameFormat& format) {
  uint64_t pixels = static_cast<uint64_t>(format.width) * format.height;
  switch (format.format) {
    case OutputFormat::Yuv422:
    case OutputFormat::Rgb565:
    case OutputFormat::Bayer10:
      return 2 * pixels;
    case OutputFormat::Bayer8:
    case OutputFormat::Grey:
      return pixels;
    default:
      return 0;
  }
}

std::string EncodeFrame(const campattern::RgbImage& image, const FrameFormat& format,
                        std::vector<uint8_t>* out) {
  if (format.width == 0 || format.height == 0 || (format.width & 1) || (format.height & 1)) {
    return "frame size " + std::to_string(format.width) + " x " + std::to_string(format.height) +
           " is not a non-zero even size";
  }
  if (image.width != format.width || image.height != format.height ||
      image.pixels.size() != static_cast<size_t>(image.width) * image.height * 3) {
    return "picture size does not match the frame size";
  }
  if (IsCompressed(format.format)) return EncodeJpegFrame(image, format, out);
  out->resize(UncompressedFrameBytes(format));
  switch (format.format) {
    case OutputFormat::Yuv422:
      EncodeYuv422(image, format.chromaSwap, out->data());
      break;
    case OutputFormat::Rgb565:
      EncodeRgb565(image, out->data());
      break;
    case OutputFormat::Grey:
      EncodeGrey(image, out->data());
      break;
    case OutputFormat::Bayer8:
    case OutputFormat::Bayer10:
      EncodeBayer(image, format.oneLineBayer, format.format == OutputFormat::Bayer10, out->data());
      break;
    default:
      return "unknown output format " + std::to_string(static_cast<int>(format.format));
  }
  return {};
}

}  // namespace camencode
