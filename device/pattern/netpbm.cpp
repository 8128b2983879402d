// Binary PPM (P6) and PGM (P5) reading with every size checked against the bytes present.
#include <cctype>
#include <fstream>
#include <iterator>

#include "test_pattern.h"

namespace campattern {
namespace {

// Reads one header number, skipping white space and comments.
bool ReadHeaderNumber(const std::vector<uint8_t>& bytes, size_t* at, uint32_t* value) {
  while (*at < bytes.size()) {
    if (bytes[*at] == '#') {
      while (*at < bytes.size() && bytes[*at] != '\n') ++*at;
    } else if (std::isspace(bytes[*at])) {
      ++*at;
    } else {
      break;
    }
  }
  uint64_t number = 0;
  size_t digits = 0;
  while (*at < bytes.size() && std::isdigit(bytes[*at])) {
    number = number * 10 + (bytes[(*at)++] - '0');
    if (++digits > 9) return false;
  }
  *value = static_cast<uint32_t>(number);
  return digits > 0;
}

}  // namespace

std::string ReadNetpbm(const std::string& path, RgbImage* image) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return "cannot open picture file '" + path + "'";
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '6' && bytes[1] != '5')) {
    return "picture file '" + path + "' is not a binary PPM (P6) or PGM (P5) file";
  }
  size_t channels = bytes[1] == '6' ? 3 : 1;
  size_t at = 2;
  uint32_t width, height, maxValue;
  if (!ReadHeaderNumber(bytes, &at, &width) || !ReadHeaderNumber(bytes, &at, &height) ||
      !ReadHeaderNumber(bytes, &at, &maxValue) || at >= bytes.size() || !std::isspace(bytes[at])) {
    return "picture file '" + path + "' has a malformed header";
  }
  ++at;  // the single white-space byte before the samples
  if (width == 0 || height == 0 || width > kMaxPictureDimension || height > kMaxPictureDimension) {
    return "picture file '" + path + "' has an unsupported size";
  }
  if (maxValue == 0 || maxValue > 255) {
    return "picture file '" + path + "' is not an 8-bit picture";
  }
  size_t samples = static_cast<size_t>(width) * height * channels;
  if (bytes.size() - at < samples) return "picture file '" + path + "' is truncated";
  image->width = width;
  image->height = height;
  image->pixels.resize(static_cast<size_t>(width) * height * 3);
  for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
    for (size_t c = 0; c < 3; ++c) {
      uint32_t sample = bytes[at + i * channels + (channels == 3 ? c : 0)];
      image->pixels[i * 3 + c] = static_cast<uint8_t>(sample * 255 / maxValue);
    }
  }
  return {};
}

std::string ReadPicture(const std::string& path, RgbImage* image) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return "cannot open picture file '" + path + "'";
  char magic[4] = {};
  file.read(magic, sizeof magic);
  if (file.gcount() == 4 && static_cast<uint8_t>(magic[0]) == 0x89 && magic[1] == 'P' &&
      magic[2] == 'N' && magic[3] == 'G') {
    return ReadPng(path, image);
  }
  return ReadNetpbm(path, image);
}

}  // namespace campattern
