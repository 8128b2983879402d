#include "jpeg_frames.h"

#include <algorithm>
#include <array>

#ifdef CAM_HAVE_CAMJPEG
#include "camjpeg.h"
#endif

namespace camencode {

#ifdef CAM_HAVE_CAMJPEG

bool JpegEncoderAvailable() { return true; }

// The frame carries its quantisation tables (DQT), so the drivers' decoder uses the tables the
// bridge's registers hold; the Huffman tables are the Annex K examples either way.
std::string EncodeJpegFrame(const campattern::RgbImage& image, const FrameFormat& format,
                            std::vector<uint8_t>* out) {
  std::array<uint8_t, 64> luma, chroma;
  for (int i = 0; i < 64; ++i) {
    luma[i] = static_cast<uint8_t>(std::clamp<int>(format.lumaQuant[i], 1, 255));
    chroma[i] = static_cast<uint8_t>(std::clamp<int>(format.chromaQuant[i], 1, 255));
  }
  camjpeg::EncodeOptions options;
  options.sampling = format.format == OutputFormat::Jpeg420 ? camjpeg::ChromaSampling::k420
                                                            : camjpeg::ChromaSampling::k422;
  options.lumaQuantTable = luma.data();
  options.chromaQuantTable = chroma.data();
  options.restartInterval = format.restartInterval;
  std::string error;
  *out = camjpeg::EncodeRgb(image.pixels.data(), image.width, image.height, options, &error);
  if (out->empty()) return "JPEG encoding failed: " + error;
  return {};
}

bool CorruptJpegInterval(std::vector<uint8_t>& frame) {
  return camjpeg::CorruptRestartInterval(frame, camjpeg::CountRestartIntervals(frame) / 2);
}

#else

bool JpegEncoderAvailable() { return false; }

bool CorruptJpegInterval(std::vector<uint8_t>&) { return false; }

std::string EncodeJpegFrame(const campattern::RgbImage&, const FrameFormat&,
                            std::vector<uint8_t>*) {
  return "this build has no JPEG encoder (device/jpeg)";
}

#endif

uint32_t CorruptJpegScanData(std::vector<uint8_t>& frame, uint32_t count) {
  // The scan data starts after the SOS segment and ends at the EOI marker.
  size_t start = 0;
  for (size_t i = 0; i + 3 < frame.size(); ++i) {
    if (frame[i] == 0xFF && frame[i + 1] == 0xDA) {
      start = i + 2 + (static_cast<size_t>(frame[i + 2]) << 8 | frame[i + 3]);
      break;
    }
  }
  size_t end = frame.size();
  if (end >= 2 && frame[end - 2] == 0xFF && frame[end - 1] == 0xD9) end -= 2;
  if (start == 0 || start >= end || count == 0) return 0;
  uint32_t changed = 0;
  size_t span = end - start;
  for (uint32_t n = 0; n < count; ++n) {
    size_t at = start + span * (2 * n + 1) / (2 * count);
    // A marker byte, or the byte after one (stuffing or a marker code), would change the frame's
    // structure rather than its data.
    if (frame[at] == 0xFF || (at > start && frame[at - 1] == 0xFF)) continue;
    uint8_t damaged = frame[at] ^ 0x5A;
    if (damaged == 0xFF) damaged = frame[at] ^ 0x3C;
    frame[at] = damaged;
    ++changed;
  }
  return changed;
}

}  // namespace camencode
