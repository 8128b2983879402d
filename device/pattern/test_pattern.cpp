#include "test_pattern.h"

#include <algorithm>
#include <cstdio>

namespace campattern {

constexpr uint8_t L = kBarLevel;
const std::array<Rgb, 8> kColourBars = {{
    {L, L, L},  // white
    {L, L, 0},  // yellow
    {0, L, L},  // cyan
    {0, L, 0},  // green
    {L, 0, L},  // magenta
    {L, 0, 0},  // red
    {0, 0, L},  // blue
    {0, 0, 0},  // black
}};

namespace {

// Digits 0-9 in a 3 x 5 cell font, one row of three bits per entry, top row first.
constexpr uint8_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void TestPattern::SetSize(uint32_t width, uint32_t height) {
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  backgroundDirty_ = true;
}

void TestPattern::SetKind(PatternKind kind) {
  if (kind == kind_) return;
  kind_ = kind;
  backgroundDirty_ = true;
}

void TestPattern::SetSolidColour(Rgb colour) {
  solid_ = colour;
  if (kind_ == PatternKind::Solid) backgroundDirty_ = true;
}

std::string TestPattern::LoadImage(const std::string& path) {
  RgbImage picture;
  std::string error = ReadPicture(path, &picture);
  if (!error.empty()) return error;
  source_ = std::move(picture);
  kind_ = PatternKind::Image;
  backgroundDirty_ = true;
  return {};
}

std::string TestPattern::Select(const std::string& text) {
  if (text == "bars") {
    SetKind(PatternKind::ColourBars);
  } else if (text == "gradient") {
    SetKind(PatternKind::Gradient);
  } else if (text == "checker") {
    SetKind(PatternKind::Checkerboard);
  } else if (text.rfind("solid:", 0) == 0 && text.size() == 12) {
    Rgb colour;
    for (int c = 0; c < 3; ++c) {
      int high = HexDigit(text[6 + 2 * c]), low = HexDigit(text[7 + 2 * c]);
      if (high < 0 || low < 0) return "pattern '" + text + "' needs a colour as RRGGBB in hex";
      colour[c] = static_cast<uint8_t>(high * 16 + low);
    }
    SetSolidColour(colour);
    SetKind(PatternKind::Solid);
  } else if (text.rfind("image:", 0) == 0) {
    return LoadImage(text.substr(6));
  } else {
    return "unknown pattern '" + text + "'";
  }
  return {};
}

void TestPattern::DrawBackground() {
  background_.width = width_;
  background_.height = height_;
  background_.pixels.assign(static_cast<size_t>(width_) * height_ * 3, 0);
  for (uint32_t y = 0; y < height_; ++y) {
    for (uint32_t x = 0; x < width_; ++x) {
      uint8_t* pixel = background_.At(x, y);
      Rgb colour{};
      switch (kind_) {
        case PatternKind::ColourBars:
          colour = kColourBars[BarIndex(x, width_)];
          break;
        case PatternKind::Gradient: {
          uint8_t level = static_cast<uint8_t>(width_ > 1 ? x * kBarLevel / (width_ - 1) : 0);
          colour = {level, level, level};
          break;
        }
        case PatternKind::Checkerboard: {
          uint32_t square = std::max<uint32_t>(1, width_ / 8);
          uint8_t level = ((x / square + y / square) & 1) ? 0 : kBarLevel;
          colour = {level, level, level};
          break;
        }
        case PatternKind::Solid:
          colour = solid_;
          break;
        case PatternKind::Image: {
          if (source_.width == 0 || source_.height == 0) break;  // no picture loaded: black
          // Nearest-neighbour scaling to the frame size.
          const uint8_t* source = source_.At(
              static_cast<uint32_t>(static_cast<uint64_t>(x) * source_.width / width_),
              static_cast<uint32_t>(static_cast<uint64_t>(y) * source_.height / height_));
          colour = {source[0], source[1], source[2]};
          break;
        }
      }
      pixel[0] = colour[0];
      pixel[1] = colour[1];
      pixel[2] = colour[2];
    }
  }
  backgroundDirty_ = false;
}

void TestPattern::FillRect(uint32_t x, uint32_t y, uint32_t w, uint32_t h, Rgb colour) {
  for (uint32_t row = y; row < std::min(y + h, height_); ++row) {
    for (uint32_t column = x; column < std::min(x + w, width_); ++column) {
      uint8_t* pixel = frame_.At(column, row);
      pixel[0] = colour[0];
      pixel[1] = colour[1];
      pixel[2] = colour[2];
    }
  }
}

// The frame number in white digits on a black box at the top left, scaled with the picture.
void TestPattern::DrawCounter(uint32_t frameNumber) {
  char text[16];
  int digits = std::snprintf(text, sizeof text, "%u", frameNumber);
  uint32_t scale = std::max<uint32_t>(1, height_ / 120);
  uint32_t cell = 4 * scale;
  FillRect(0, 0, digits * cell + scale, 7 * scale, kColourBars[7]);
  for (int d = 0; d < digits; ++d) {
    for (uint32_t row = 0; row < 5; ++row) {
      for (uint32_t bit = 0; bit < 3; ++bit) {
        if (kDigits[text[d] - '0'][row] & (4 >> bit)) {
          FillRect(scale + d * cell + bit * scale, scale + row * scale, scale, scale,
                   kColourBars[0]);
        }
      }
    }
  }
}

// A square that moves right by one step per frame along the middle of the picture: black with a
// white centre, so that it shows on every bar.
void TestPattern::DrawMarker(uint32_t frameNumber) {
  uint32_t size = std::max<uint32_t>(2, std::min(width_, height_) / 16);
  if (size > width_ || size > height_) return;
  uint32_t travel = width_ - size + 1;
  uint32_t x =
      static_cast<uint32_t>((static_cast<uint64_t>(frameNumber) * (size / 2 + 1)) % travel);
  uint32_t y = (height_ - size) / 2;
  FillRect(x, y, size, size, kColourBars[7]);
  FillRect(x + size / 4, y + size / 4, size / 2, size / 2, kColourBars[0]);
}

const RgbImage& TestPattern::Render(uint32_t frameNumber) {
  if (backgroundDirty_) DrawBackground();
  if (!frameCounter_ && !movingMarker_) return background_;
  frame_ = background_;
  if (movingMarker_) DrawMarker(frameNumber);
  if (frameCounter_) DrawCounter(frameNumber);
  return frame_;
}

}  // namespace campattern
