// The knobs of the emulated camera: everything a test or the camlab tool can choose about the
// device before or while it runs, set one at a time from KEY=VALUE text (`camlab --device
// KEY=VALUE`). The table of knobs, their ranges and their help texts is in config.cpp;
// device/README.md lists them for users.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace camemu {

// Faults the device can be told to commit. A count is a one-shot budget: the next N occasions
// fail. A rate is a percentage applied to every occasion once the one-shot budget is spent.
enum class Fault : uint8_t {
  RefuseAltSetting,  // SelectAlternateSetting answers NoBandwidth
  FailRequest,       // a vendor request stalls
  DropPacket,        // an isochronous data packet is lost on the bus
  ShortPacket,       // an isochronous data packet arrives cut short
  DropFrame,         // the bridge abandons a frame with a 12-byte packet
  CorruptFrame,      // compressed data of a frame is damaged
  CorruptInterval,   // one restart interval of a compressed frame is made undecodable
  Count,
};
constexpr size_t kFaultCount = static_cast<size_t>(Fault::Count);

struct FaultSettings {
  std::array<uint32_t, kFaultCount> oneShot{};  // occasions left that fail for sure
  std::array<uint32_t, kFaultCount> ratePercent{};
  int failRegister = -1;            // vendor requests at this bridge index fail (-1: none)
  uint32_t slowRequestMs = 0;       // every vendor request takes this long
  bool stuckBusy = false;           // the sensor bus busy bit never clears
  int64_t removeAfterPackets = -1;  // surprise removal after this many isochronous packets
  uint32_t seed = 1;                // of the random source behind the rates
};

struct EmulatorConfig {
  // USB identity and bus.
  uint16_t vendorId = 0xF0CA;
  uint16_t productId = 0x0001;
  uint16_t deviceRelease = 0x0100;
  bool highSpeed = true;
  // Bytes per service interval the bus can give the isochronous pipes; 0 = the speed's default
  // (3072 a microframe at high speed: 3 transactions of 1024; 1023 a bus frame at full speed).
  uint32_t bandwidthBudget = 0;
  // Isochronous data packet size of each alternate setting (bytes per service interval).
  std::array<uint16_t, 8> altPacketSizes{0, 512, 512, 1024, 1024, 1536, 1536, 1536};
  uint16_t packetUnit = 512;  // the header packet size: data packets are 1, 2 or 3 units
  uint8_t pipeCount = 2;      // 1 data; 2 data + interrupt; 3 data + interrupt + sync

  // Sensor.
  uint8_t sensorDeviceId = 0x42;
  uint8_t sensorVersionRegister = 0x29;
  uint8_t sensorVersion = 0x03;
  uint8_t sensorMinorRegister = 0x2A;
  uint8_t sensorMinorVersion = 0x00;
  uint16_t sensorWidth = 640;
  uint16_t sensorHeight = 480;
  uint32_t busyReads = 1;       // status reads that still show a sensor-bus transfer busy
  uint32_t lightPercent = 100;  // scene illumination

  // Picture source.
  std::string pattern = "bars";
  bool frameCounter = false;
  bool movingMarker = false;

  FaultSettings faults;

  uint32_t EffectiveBandwidth() const {
    return bandwidthBudget != 0 ? bandwidthBudget : (highSpeed ? 3072u : 1023u);
  }
  // Microseconds between the isochronous pipe's packets: a microframe at high speed, a bus frame
  // at full speed.
  uint32_t ServiceIntervalUs() const { return highSpeed ? 125u : 1000u; }
};

// Applies one "KEY=VALUE" knob. Returns an empty string on success, otherwise a message that says
// what was wrong (unknown key, malformed text, value out of range); the config is then unchanged.
std::string ApplyKnob(EmulatorConfig& config, const std::string& knob);

// One line per knob: "key=<values>  help", for the tool's help text.
std::vector<std::string> KnobHelp();

const char* FaultName(Fault fault);

}  // namespace camemu
