// Where captured frames go: the pattern of `--output`/`--stream-to`, after the habits of `cam`.
// The first run of '#' becomes the zero-padded frame sequence number (a single '#' pads to six
// digits, a run of n to n digits); a printf-style integer conversion (%d, %06u, ...) works too. A
// pattern ending in '/' is a folder that gets the default name "frame-######" with the extension of
// the format. The extension chooses the file format: ".png" (24-bit RGB frames only), anything
// else is raw bytes.
#pragma once

#include <cstdint>
#include <string>

namespace camlab {

enum class FileFormat { Png, Raw };

struct OutputPattern {
  std::string folder;  // created before the first frame when not empty
  std::string prefix;
  std::string suffix;
  int digits = 0;  // 0: no sequence number in the name (every frame overwrites one file)
  FileFormat format = FileFormat::Raw;

  std::string PathFor(uint64_t sequence) const;
};

// Parses the pattern; `rgbFrames` says whether the stream delivers 24-bit RGB, which decides the
// default extension of a folder pattern. On error returns false with a message.
bool ParseOutputPattern(const std::string& text, bool rgbFrames, OutputPattern* pattern,
                        std::string* error);

}  // namespace camlab
