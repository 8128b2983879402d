// Encoders from an RGB picture to the bytes of one raw frame in each output format of the camera.
// Each frame's layout is what the image pipeline of the drivers expects:
//   packed YUV 4:2:2  2 x w x h bytes: Y0 U Y1 V per pixel pair, U = B - Y and V = R - Y (means of
//                     the pair) offset by 128, Y = 0.299 R + 0.587 G + 0.114 B;
//   RGB 5:6:5         2 x w x h bytes: per pixel R7..R3 G7..G5, then G4..G2 B7..B3;
//   grey              w x h luma bytes;
//   Bayer             w x h samples of the B G / G R mosaic (blue at even rows and columns), in
//                     the two-line layout (per row pair 2j, 2j + 1 and column pair k the bytes
//                     G(2j+1, 2k) B(2j, 2k) G(2j, 2k+1) R(2j+1, 2k+1)) or row by row; 10-bit
//                     samples take two bytes: the top eight bits first, then the low two bits;
//   JPEG              a baseline JPEG file from SOI to EOI.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame_format.h"
#include "test_pattern.h"

namespace camencode {

// Y of a pixel, rounded.
uint8_t Luma(uint8_t red, uint8_t green, uint8_t blue);

// Encodes `image` (which must have the format's size) into `out`. Returns an error text, empty
// on success: a size the format cannot carry (odd or zero sizes), or JPEG without an encoder.
std::string EncodeFrame(const campattern::RgbImage& image, const FrameFormat& format,
                        std::vector<uint8_t>* out);

// The number of bytes an uncompressed frame of this format has (0 for JPEG).
uint64_t UncompressedFrameBytes(const FrameFormat& format);

}  // namespace camencode
