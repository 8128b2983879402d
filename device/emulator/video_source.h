// The camera's video path, one bus frame at a time: at every frame time of the programmed rate it
// takes a picture from the test pattern, lets the sensor's registers change it, encodes it in the
// output format the bridge registers choose and hands it to the packetizer, which cuts it into the
// isochronous packets of the current alternate setting.
#pragma once

#include <cstdint>
#include <string>

#include "bridge.h"
#include "config.h"
#include "fault_injector.h"
#include "statistics.h"

namespace camemu {

class VideoSource {
 public:
  explicit VideoSource(const EmulatorConfig& config);

  // Takes the picture and packet knobs; returns an error text (and changes nothing) when the
  // pattern cannot be used, e.g. an image file that does not load.
  std::string Configure(const EmulatorConfig& config);
  // A new alternate setting cuts off the frame in flight.
  void OnAlternateSetting(uint16_t packetSize, DeviceStatistics& statistics);
  // Fills the packet of bus frame `busFrame`; returns its length (0: an empty packet).
  uint32_t NextPacket(uint64_t busFrame, Bridge& bridge, FaultInjector& faults,
                      DeviceStatistics& statistics, uint8_t* buffer, uint32_t capacity);

 private:
  uint16_t packetSize_ = 0;
};

}  // namespace camemu
