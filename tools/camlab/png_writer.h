// Writes 24-bit pictures as PNG files. Frames come from the driver as bottom-up rows of blue,
// green, red (the bitmap convention of the capture pin); PNG wants top-down red, green, blue.
#pragma once

#include <cstdint>
#include <string>

namespace camlab {

// Writes the frame to `path` through a temporary file in the same folder, so that a failure never
// leaves a partial file behind. Returns false with a message on error.
bool WriteBottomUpBgrAsPng(const std::string& path, const uint8_t* pixels, uint32_t width,
                           uint32_t height, std::string* error);

// Writes raw bytes the same way.
bool WriteRawFile(const std::string& path, const uint8_t* bytes, size_t length, std::string* error);

}  // namespace camlab
