// Test pictures for the emulated camera: a small library that knows nothing of cameras or
// registers. A pattern is a background (recomputed only when a setter changed what it depends on)
// with optional overlays drawn per frame: a frame counter and a moving marker.
//
// Every colour the built-in patterns use has channels of 0 or kBarLevel, so that every output path
// of the camera (packed YUV with plain colour differences, RGB 5:6:5, Bayer, JPEG) can carry them
// without clipping.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace campattern {

// An 8-bit RGB picture, rows top to bottom, three bytes per pixel in the order red, green, blue.
struct RgbImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;

  uint8_t* At(uint32_t x, uint32_t y) { return &pixels[(static_cast<size_t>(y) * width + x) * 3]; }
  const uint8_t* At(uint32_t x, uint32_t y) const {
    return &pixels[(static_cast<size_t>(y) * width + x) * 3];
  }
};

constexpr uint8_t kBarLevel = 140;
using Rgb = std::array<uint8_t, 3>;
// The eight vertical bars, left to right: white, yellow, cyan, green, magenta, red, blue, black.
extern const std::array<Rgb, 8> kColourBars;
// Which bar column x of a picture `width` wide falls in.
inline uint32_t BarIndex(uint32_t x, uint32_t width) { return x * 8 / width; }

enum class PatternKind {
  ColourBars,
  Gradient,      // grey ramp from black at the left to kBarLevel at the right
  Checkerboard,  // squares of kBarLevel grey and black, eight across
  Solid,
  Image,  // a picture file, scaled to the frame size
};

class TestPattern {
 public:
  void SetSize(uint32_t width, uint32_t height);
  void SetKind(PatternKind kind);
  void SetSolidColour(Rgb colour);
  // Reads a picture file (binary PPM or PGM with a maximum value of 255, or PNG) and selects it.
  // Returns an error text, empty on success; on failure the pattern is unchanged.
  std::string LoadImage(const std::string& path);
  // "bars", "gradient", "checker", "solid:RRGGBB" or "image:PATH"; an error text on failure.
  std::string Select(const std::string& text);
  void SetFrameCounter(bool on) { frameCounter_ = on; }
  void SetMovingMarker(bool on) { movingMarker_ = on; }

  // The picture of frame `frameNumber`, at the current size.
  const RgbImage& Render(uint32_t frameNumber);

 private:
  void DrawBackground();
  void DrawCounter(uint32_t frameNumber);
  void DrawMarker(uint32_t frameNumber);
  void FillRect(uint32_t x, uint32_t y, uint32_t w, uint32_t h, Rgb colour);

  PatternKind kind_ = PatternKind::ColourBars;
  Rgb solid_{kBarLevel, kBarLevel, kBarLevel};
  RgbImage source_;  // the loaded picture file, at its own size
  RgbImage background_;
  RgbImage frame_;
  uint32_t width_ = 640;
  uint32_t height_ = 480;
  bool backgroundDirty_ = true;
  bool frameCounter_ = false;
  bool movingMarker_ = false;
};

// Picture files larger than this either way are refused.
constexpr uint32_t kMaxPictureDimension = 8192;

// Reads a binary PPM or PGM picture; an error text on failure, empty on success.
std::string ReadNetpbm(const std::string& path, RgbImage* image);
// Reads a PNG picture (when the build has libpng); an error text on failure, empty on success.
std::string ReadPng(const std::string& path, RgbImage* image);
// Either of the two, told apart by the file's first bytes.
std::string ReadPicture(const std::string& path, RgbImage* image);

}  // namespace campattern
