// Writes the decoder fuzzer's seed corpus: small frames of every shape the camera sends (4:2:2
// and 4:2:0, odd sizes, qualities, restart intervals, DNL line counts, frames without table
// segments) and a few damaged ones. Usage: decoder_corpus_maker DIRECTORY
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "camjpeg.h"

namespace {

std::vector<uint8_t> Picture(uint32_t width, uint32_t height, camjpeg::ChromaSampling sampling) {
  camjpeg::PlaneSizes sizes = camjpeg::PlaneSizesFor(width, height, sampling);
  std::vector<uint8_t> planes(sizes.TotalBytes());
  for (size_t i = 0; i < planes.size(); ++i) {
    planes[i] = static_cast<uint8_t>(128 + 100 * std::sin(i * 0.07) * std::cos(i * 0.013));
  }
  return planes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  struct Shape {
    uint32_t width, height;
    camjpeg::ChromaSampling sampling;
    int quality;
    uint32_t restartInterval;
    bool dnl, tables;
    int corruptInterval;
  };
  using camjpeg::ChromaSampling;
  const Shape shapes[] = {
      {16, 8, ChromaSampling::k422, 75, 0, false, true, -1},
      {16, 16, ChromaSampling::k420, 75, 0, false, true, -1},
      {1, 1, ChromaSampling::k422, 50, 0, false, true, -1},
      {33, 17, ChromaSampling::k422, 90, 0, false, true, -1},
      {33, 17, ChromaSampling::k420, 20, 0, false, true, -1},
      {64, 48, ChromaSampling::k422, 75, 4, false, true, -1},
      {64, 48, ChromaSampling::k420, 75, 4, false, true, -1},
      {64, 48, ChromaSampling::k422, 75, 4, false, true, 1},
      {64, 48, ChromaSampling::k420, 60, 2, false, true, 3},
      {48, 32, ChromaSampling::k422, 75, 0, true, true, -1},
      {40, 37, ChromaSampling::k420, 75, 0, true, true, -1},
      {48, 24, ChromaSampling::k422, 75, 3, true, true, -1},
      {64, 32, ChromaSampling::k422, 75, 0, false, false, -1},
      {64, 32, ChromaSampling::k420, 75, 1, false, false, -1},
      {97, 61, ChromaSampling::k422, 95, 0, false, true, -1},
      {97, 61, ChromaSampling::k420, 5, 7, false, true, -1},
      {160, 120, ChromaSampling::k422, 50, 0, false, true, -1},
      {160, 120, ChromaSampling::k420, 85, 10, false, true, -1},
      {8, 200, ChromaSampling::k420, 75, 0, false, true, -1},
      {200, 8, ChromaSampling::k422, 100, 0, false, true, -1},
      {24, 24, ChromaSampling::k420, 1, 0, false, true, -1},
      {32, 16, ChromaSampling::k422, 75, 1, false, true, 0},
  };
  int written = 0;
  for (const Shape& shape : shapes) {
    camjpeg::EncodeOptions options;
    options.sampling = shape.sampling;
    options.quality = shape.quality;
    options.restartInterval = shape.restartInterval;
    options.lineCountInDnl = shape.dnl;
    options.writeTables = shape.tables;
    options.corruptInterval = shape.corruptInterval;
    std::vector<uint8_t> picture = Picture(shape.width, shape.height, shape.sampling);
    std::string error;
    std::vector<uint8_t> frame =
        camjpeg::EncodePlanes(picture.data(), shape.width, shape.height, options, &error);
    if (frame.empty()) {
      fprintf(stderr, "%ux%u: %s\n", shape.width, shape.height, error.c_str());
      return 1;
    }
    std::vector<std::vector<uint8_t>> variants = {frame};
    if (written % 3 == 0) {
      // Cut short: without the end marker, and in the middle of the scan.
      variants.emplace_back(frame.begin(), frame.end() - 2);
      variants.emplace_back(frame.begin(),
                            frame.begin() + static_cast<ptrdiff_t>(frame.size() * 2 / 3));
    }
    for (const std::vector<uint8_t>& variant : variants) {
      char name[64];
      snprintf(name, sizeof(name), "/frame_%02d.jpg", written++);
      std::ofstream out(std::string(argv[1]) + name, std::ios::binary);
      out.write(reinterpret_cast<const char*>(variant.data()),
                static_cast<std::streamsize>(variant.size()));
    }
  }
  printf("%d files\n", written);
  return 0;
}
