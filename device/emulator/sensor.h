// The image sensor behind the bridge: a register file on the bridge's serial bus, at its own device
// id. Its registers change the picture the way their names say; the register numbers are the
// sensor's map in device/README.md.
#pragma once

#include <array>
#include <cstdint>

#include "config.h"

namespace camemu {

namespace sensor_reg {
constexpr uint8_t kGain = 0x00;            // global gain, 0x40 = 1.0
constexpr uint8_t kBlueGain = 0x01;        // 0x80 = 1.0
constexpr uint8_t kRedGain = 0x02;         // 0x80 = 1.0
constexpr uint8_t kBrightness = 0x06;      // signed offset added to every channel
constexpr uint8_t kExposure = 0x10;        // 0x40 = 1.0
constexpr uint8_t kClock = 0x11;           // bits 0-5: clock divider - 1
constexpr uint8_t kControl = 0x12;         // bit 2 chroma swap, bit 7 soft reset
constexpr uint8_t kAutoExposure = 0x13;    // bit 0: exposure follows the picture
constexpr uint8_t kExposureTarget = 0x14;  // mean luma auto exposure aims at
constexpr uint8_t kLightness = 0x30;       // read-only: mean luma of the last frame
}  // namespace sensor_reg

namespace sensor_bits {
constexpr uint8_t kChromaSwap = 0x04;
constexpr uint8_t kSoftReset = 0x80;
constexpr uint8_t kClockDividerMask = 0x3F;
constexpr uint8_t kAutoExposureOn = 0x01;
}  // namespace sensor_bits

// What the sensor's registers do to the picture, read once per frame.
struct SensorPicture {
  double scale[3];  // multiplier per channel, red, green, blue
  int offset;       // added after scaling
  bool chromaSwap;
  uint32_t clockDivider;  // 1 = full speed; frame rate divides by it
};

class Sensor {
 public:
  explicit Sensor(const EmulatorConfig& config);

  // Back to the reset values; the identification bytes come from the config.
  void Reset(const EmulatorConfig& config);
  uint8_t Read(uint8_t reg) const;
  // Writes of read-only registers are ignored; a soft reset clears the file.
  void Write(uint8_t reg, uint8_t value);

  SensorPicture Picture(uint32_t lightPercent) const;
  // The frame source reports each frame's mean luma: it is the lightness register, and auto
  // exposure moves the exposure register one step towards its target per frame.
  void EndFrame(uint8_t meanLuma);
  uint8_t deviceId() const { return deviceId_; }

 private:
  bool IsReadOnly(uint8_t reg) const;
  void LoadResetValues();

  std::array<uint8_t, 256> registers_{};
  uint8_t deviceId_ = 0;
  uint8_t versionRegister_ = 0;
  uint8_t version_ = 0;
  uint8_t minorRegister_ = 0;
  uint8_t minorVersion_ = 0;
};

}  // namespace camemu
