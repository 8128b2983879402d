// camjpeg: the camera's compressed frames, made with libjpeg-turbo.
//
// Frames are baseline JPEG with the example Huffman tables of ITU T.81 Annex K, three components
// (Y, Cb, Cr with identifiers 1, 2, 3; Y on quantisation table 0, Cb and Cr on table 1) in one
// interleaved scan, sampled 4:2:2 (Y 2x1) or 4:2:0 (Y 2x2). Options add restart markers, move the
// line count into a DNL segment, leave the table segments out, or damage one restart interval.
//
// Planes are laid out as the camera's decoder writes them: Y (width x height), then Cb, then Cr
// (each ceil(width / 2) x height for 4:2:2, ceil(width / 2) x ceil(height / 2) for 4:2:0), rows
// packed with no padding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camjpeg {

enum class ChromaSampling { k422, k420 };

struct PlaneSizes {
  uint32_t lumaWidth = 0, lumaHeight = 0;
  uint32_t chromaWidth = 0, chromaHeight = 0;
  size_t LumaBytes() const { return size_t{lumaWidth} * lumaHeight; }
  size_t ChromaBytes() const { return size_t{chromaWidth} * chromaHeight; }
  size_t TotalBytes() const { return LumaBytes() + 2 * ChromaBytes(); }
};
PlaneSizes PlaneSizesFor(uint32_t width, uint32_t height, ChromaSampling sampling);

struct EncodeOptions {
  ChromaSampling sampling = ChromaSampling::k422;
  // 1 to 100: the example quantisation tables of Annex K scaled as libjpeg scales them.
  int quality = 75;
  // When both are set: the quantisation tables (natural order) used as they stand; quality is
  // then ignored.
  const uint8_t* lumaQuantTable = nullptr;
  const uint8_t* chromaQuantTable = nullptr;
  // false: no DQT and DHT segments, so that the decoder's own tables apply (as the camera sends).
  bool writeTables = true;
  // MCUs per restart interval; 0 for none.
  uint32_t restartInterval = 0;
  // The frame header says 0 lines and a DNL segment after the scan gives the count.
  bool lineCountInDnl = false;
  // With restartInterval: the entropy-coded data of this interval (0 = the first) is replaced by
  // bytes that no Huffman table decodes, so that a decoder fails at its first block.
  int corruptInterval = -1;
};

// Encodes Y, Cb and Cr planes (back to back, sizes from PlaneSizesFor). Empty on failure, with the
// reason in *error when error is not null.
std::vector<uint8_t> EncodePlanes(const uint8_t* planes, uint32_t width, uint32_t height,
                                  const EncodeOptions& options, std::string* error = nullptr);
// Encodes a picture of 24-bit pixels in the order red, green, blue, rows top to bottom.
std::vector<uint8_t> EncodeRgb(const uint8_t* pixels, uint32_t width, uint32_t height,
                               const EncodeOptions& options, std::string* error = nullptr);

// Replaces the entropy-coded data of restart interval `interval` (0 = the first; a scan without
// restart markers is one interval) by bytes that no Annex K table decodes, so that a decoder fails
// at the interval's first block. False when the frame has no such interval.
bool CorruptRestartInterval(std::vector<uint8_t>& frame, int interval);
// The restart intervals of the frame's scan: 1 without restart markers, 0 without a scan.
int CountRestartIntervals(const std::vector<uint8_t>& frame);

// The reference decode: libjpeg-turbo's raw (planar) output of a frame of this library's form,
// laid out as above. Empty on failure; *width, *height and *sampling describe the frame.
std::vector<uint8_t> DecodePlanes(const uint8_t* frame, size_t length, uint32_t* width,
                                  uint32_t* height, ChromaSampling* sampling,
                                  std::string* error = nullptr);

}  // namespace camjpeg
