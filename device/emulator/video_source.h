// The camera's video path, one isochronous service interval at a time: at every frame time of the
// programmed rate it takes a picture from the test pattern, lets the sensor's registers change it,
// encodes it in the output format the bridge registers choose and hands it to the packetizer, which
// cuts it into the isochronous packets of the current alternate setting. The packet-level faults
// (dropped, short and abandoning packets, damaged compressed data) are committed here, where they
// happen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bridge.h"
#include "config.h"
#include "fault_injector.h"
#include "frame_format.h"
#include "packetizer.h"
#include "statistics.h"
#include "test_pattern.h"

namespace camemu {

// Frames larger than this are refused whatever the size registers say.
constexpr uint32_t kMaxFrameDimension = 2048;

// The frame the bridge registers and the sensor ask for; an error text when they ask for one the
// bridge cannot make.
std::string FrameFormatFromRegisters(const Bridge& bridge, camencode::FrameFormat* format);

class VideoSource {
 public:
  explicit VideoSource(const EmulatorConfig& config);

  // Takes the picture and packet knobs; returns an error text (and keeps the old pattern) when
  // the pattern cannot be used, e.g. a picture file that does not load.
  std::string Configure(const EmulatorConfig& config);
  // A new alternate setting cuts off the frame in flight.
  void OnAlternateSetting(uint16_t packetSize, DeviceStatistics& statistics);
  // Fills the packet of service interval `interval` (a microframe at high speed, a bus frame at
  // full speed); returns its length (0: an empty packet).
  uint32_t NextPacket(uint64_t interval, Bridge& bridge, FaultInjector& faults,
                      DeviceStatistics& statistics, uint8_t* buffer, uint32_t capacity);

 private:
  bool StartFrame(Bridge& bridge, FaultInjector& faults, DeviceStatistics& statistics);
  void StopStream(DeviceStatistics& statistics);

  campattern::TestPattern pattern_;
  std::string patternText_;
  camencode::Packetizer packetizer_;
  campattern::RgbImage sensorImage_;
  uint32_t lightPercent_ = 100;
  uint16_t packetSize_ = 0;
  uint32_t intervalUs_ = 1000;   // length of one service interval
  bool scheduled_ = false;       // nextFrameDueUs_ holds the next frame time
  uint64_t nextFrameDueUs_ = 0;  // on the bus clock: service interval number x intervalUs_
  uint32_t frameCounter_ = 0;
  uint32_t packetsInFrame_ = 0;
  int64_t abandonAfterPackets_ = -1;  // an injected frame drop after this many packets
};

}  // namespace camemu
