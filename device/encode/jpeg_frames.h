// Compressed frames. The camera's JPEG frames are baseline files with the example Huffman tables
// of T.81 Annex K, the frame's quantisation tables in a DQT segment and, when asked, restart
// markers; the encoding itself is done by the JPEG encoder library in device/jpeg when the build
// has it (CAM_HAVE_CAMJPEG).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame_format.h"
#include "test_pattern.h"

namespace camencode {

bool JpegEncoderAvailable();
std::string EncodeJpegFrame(const campattern::RgbImage& image, const FrameFormat& format,
                            std::vector<uint8_t>* out);

// Damages the entropy-coded data of a JPEG frame in place, the way a bad transfer would, without
// touching its markers: `count` bytes spread over the scan data are changed. Returns how many
// bytes were changed (0 when the frame has no scan data to damage).
uint32_t CorruptJpegScanData(std::vector<uint8_t>& frame, uint32_t count);

// Makes the middle restart interval of a JPEG frame (the whole scan when it has no restart
// markers) undecodable: its entropy-coded data becomes bits that no Huffman table of the frame
// decodes. A decoder that resynchronises picks up again at the next restart marker. False when the
// frame has no scan (or the build has no JPEG library).
bool CorruptJpegInterval(std::vector<uint8_t>& frame);

}  // namespace camencode
