// What the decoder suites share: a decoder state that cleans up after itself, test pictures, plane
// comparison, and frames assembled by hand from chosen coefficients.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "camjpeg.h"
#include "image/decoder.h"

namespace decoder_test {

enum class Path { Plain, Simd };
inline const char* PathName(Path path) { return path == Path::Plain ? "Plain" : "Simd"; }
inline void PrintTo(Path path, std::ostream* os) { *os << PathName(path); }

// A decoder state with the built-in tables, for one path.
class Decoder {
 public:
  explicit Decoder(Path path);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Decodes into *planes (resized to capacity first, filled with fill). Returns DecodeFrame's
  // answer; on success *planes is cut to the output size.
  bool Decode(const std::vector<uint8_t>& frame, std::vector<uint8_t>* planes, size_t capacity,
              uint8_t fill = 0);
  DecoderState* state() { return state_; }

 private:
  DecoderState* state_ = nullptr;
};

// A picture with smooth gradients, edges and noise, as planes of the given sampling.
std::vector<uint8_t> MakePicture(uint32_t width, uint32_t height, camjpeg::ChromaSampling sampling,
                                 uint32_t seed);

struct PlaneDifference {
  int maxDifference = 0;
  double psnr = 0;  // infinity when equal
};
// Compares bytes [offset, offset + size) of two plane sets.
PlaneDifference Compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t offset,
                        size_t size);

// One MCU of a 16 x 8 frame sampled 4:2:2 (blocks Y0, Y1, Cb, Cr) as quantised coefficients in
// natural order.
using Block = std::array<int16_t, 64>;
struct Mcu422 {
  Block blocks[4] = {};
};
// A complete frame of that MCU: SOI, DQT (every entry of both tables quantValue), SOF0, SOS, the
// entropy-coded data with the Annex K tables, EOI. No DHT segment.
std::vector<uint8_t> MakeFrame(const Mcu422& mcu, uint8_t quantValue = 1);

// The frame transcoded by libjpeg-turbo with every chrominance coefficient of -1, 0 or 1 set to 0:
// decoded by libjpeg-turbo it is the exact reference for the camera's decoder.
std::vector<uint8_t> WithSmallChromaCleared(const std::vector<uint8_t>& frame);

// Index of the first occurrence of marker 0xFF code, or npos.
size_t FindMarker(const std::vector<uint8_t>& frame, uint8_t code);

}  // namespace decoder_test
