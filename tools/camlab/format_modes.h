// The transfer modes behind a pin's video formats, as the model key in the registry holds them:
// which frame rates a format can be had at, in which alternate setting and at which quality level,
// and which of them the driver chose for a capture.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "session.h"

namespace camlab {

struct ModeInfo {
  uint32_t frameRate = 0;  // thousandths of a frame per second
  uint32_t alternateSetting = 0;
  uint32_t qualityLevel = 0;
};

// Each range's modes in the order the driver tries them (fastest first), or empty when the model
// key holds no format for it. The stream key is the one whose formats are the pin's.
std::vector<std::vector<ModeInfo>> PinModes(const Session& session,
                                            const std::vector<KS_DATARANGE_VIDEO>& ranges);

// The mode the driver takes for a frame rate (thousandths) once it holds the alternate setting:
// the fastest at or below the rate in that setting, else the slowest in it.
std::optional<ModeInfo> ChosenMode(const std::vector<ModeInfo>& modes, uint32_t alternateSetting,
                                   uint32_t frameRate);

// "30 fps @ 7 q1", and the JSON object {"fps": 30.000, "alternateSetting": 7, "qualityLevel": 1}.
std::string ModeText(const ModeInfo& mode);
std::string ModeJson(const ModeInfo& mode);

}  // namespace camlab
