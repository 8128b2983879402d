#include "sensor.h"

namespace camemu {

Sensor::Sensor(const EmulatorConfig& config) { Reset(config); }

void Sensor::Reset(const EmulatorConfig& config) {
  deviceId_ = config.sensorDeviceId;
  versionRegister_ = config.sensorVersionRegister;
  version_ = config.sensorVersion;
  minorRegister_ = config.sensorMinorRegister;
  minorVersion_ = config.sensorMinorVersion;
  registers_[sensor_reg::kLightness] = 0;
  LoadResetValues();
}

void Sensor::LoadResetValues() {
  uint8_t lightness = registers_[sensor_reg::kLightness];
  registers_.fill(0);
  registers_[sensor_reg::kGain] = 0x40;
  registers_[sensor_reg::kBlueGain] = 0x80;
  registers_[sensor_reg::kRedGain] = 0x80;
  registers_[sensor_reg::kExposure] = 0x40;
  registers_[sensor_reg::kExposureTarget] = 70;  // the colour bars' mean at unity
  registers_[sensor_reg::kLightness] = lightness;
  // The identification bytes win over any other meaning of their register numbers.
  registers_[minorRegister_] = minorVersion_;
  registers_[versionRegister_] = version_;
}

bool Sensor::IsReadOnly(uint8_t reg) const {
  return reg == versionRegister_ || reg == minorRegister_ || reg == sensor_reg::kLightness;
}

uint8_t Sensor::Read(uint8_t reg) const { return registers_[reg]; }

void Sensor::Write(uint8_t reg, uint8_t value) {
  if (IsReadOnly(reg)) return;
  if (reg == sensor_reg::kControl && (value & sensor_bits::kSoftReset)) {
    LoadResetValues();
    return;
  }
  registers_[reg] = value;
}

void Sensor::EndFrame(uint8_t meanLuma) {
  registers_[sensor_reg::kLightness] = meanLuma;
  if (!(registers_[sensor_reg::kAutoExposure] & sensor_bits::kAutoExposureOn)) return;
  // A dead band keeps the exposure from hunting around its target.
  constexpr int kDeadBand = 8;
  int error = registers_[sensor_reg::kExposureTarget] - meanLuma;
  uint8_t& exposure = registers_[sensor_reg::kExposure];
  if (error > kDeadBand && exposure < 0xFF) ++exposure;
  if (error < -kDeadBand && exposure > 1) --exposure;
}

SensorPicture Sensor::Picture(uint32_t lightPercent) const {
  SensorPicture picture{};
  picture.clockDivider = 1u + (registers_[sensor_reg::kClock] & sensor_bits::kClockDividerMask);
  // A slower pixel clock lengthens the exposure by the same factor: that is what clocking down
  // in the dark is for.
  double common = (lightPercent / 100.0) * (registers_[sensor_reg::kGain] / 64.0) *
                  (registers_[sensor_reg::kExposure] / 64.0) * picture.clockDivider;
  picture.scale[0] = common * registers_[sensor_reg::kRedGain] / 128.0;
  picture.scale[1] = common;
  picture.scale[2] = common * registers_[sensor_reg::kBlueGain] / 128.0;
  picture.offset = static_cast<int8_t>(registers_[sensor_reg::kBrightness]);
  picture.chromaSwap = (registers_[sensor_reg::kControl] & sensor_bits::kChromaSwap) != 0;
  return picture;
}

}  // namespace camemu
