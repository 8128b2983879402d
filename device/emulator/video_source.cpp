#include "video_source.h"

namespace camemu {

VideoSource::VideoSource(const EmulatorConfig& config) { Configure(config); }

std::string VideoSource::Configure(const EmulatorConfig&) { return {}; }

void VideoSource::OnAlternateSetting(uint16_t packetSize, DeviceStatistics&) {
  packetSize_ = packetSize;
}

uint32_t VideoSource::NextPacket(uint64_t, Bridge&, FaultInjector&, DeviceStatistics&, uint8_t*,
                                 uint32_t) {
  return 0;
}

}  // namespace camemu
