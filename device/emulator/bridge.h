// The USB bridge chip: a file of 256 byte registers reached by vendor request 1, with the sensor
// behind its serial bus (registers 0xF1 to 0xF6) and the snapshot button. Registers that choose the
// video output are plain storage here; the video source reads them at every frame start. The map is
// in device/README.md.
#pragma once

#include <array>
#include <cstdint>

#include "config.h"
#include "sensor.h"
#include "snapshot_button.h"

namespace camemu {

namespace bridge_reg {
constexpr uint8_t kChipId = 0x00;
constexpr uint8_t kChipRevision = 0x01;
constexpr uint8_t kSystem = 0x02;     // bit 0 enable, 1 sensor power, 2 LED, 3 suspend, 7 reset
constexpr uint8_t kVideo = 0x03;      // bit 0 video enable
constexpr uint8_t kFirmware = 0x0E;   // read-only: bit 0 firmware loaded
constexpr uint8_t kBusStatus = 0x0F;  // read-only: bit 4 high speed
constexpr uint8_t kOutputFormat = 0x10;
constexpr uint8_t kFormatOptions = 0x11;    // bit 0 one-line Bayer, bit 1 JPEG restart markers
constexpr uint8_t kRestartInterval = 0x12;  // MCUs between restart markers, 0: one MCU row
constexpr uint8_t kWidthLow = 0x14;
constexpr uint8_t kWidthHigh = 0x15;
constexpr uint8_t kHeightLow = 0x16;
constexpr uint8_t kHeightHigh = 0x17;
constexpr uint8_t kFrameRate = 0x18;  // frames per second
constexpr uint8_t kButton = 0x20;
constexpr uint8_t kButtonControl = 0x21;  // bit 0 interrupt events on
constexpr uint8_t kLumaQuant = 0x80;      // 0x80-0x9F: 64 four-bit entries, two per register
constexpr uint8_t kChromaQuant = 0xA0;    // 0xA0-0xBF
constexpr uint8_t kSensorId = 0xF1;
constexpr uint8_t kSensorRegister = 0xF2;
constexpr uint8_t kSensorWriteData = 0xF3;
constexpr uint8_t kSensorReadData = 0xF4;
constexpr uint8_t kSensorCommand = 0xF5;
constexpr uint8_t kSensorStatus = 0xF6;
}  // namespace bridge_reg

namespace bridge_bits {
constexpr uint8_t kSystemEnable = 0x01;
constexpr uint8_t kSensorPower = 0x02;
constexpr uint8_t kLed = 0x04;
constexpr uint8_t kSuspend = 0x08;
constexpr uint8_t kSoftReset = 0x80;
constexpr uint8_t kVideoEnable = 0x01;
constexpr uint8_t kHighSpeed = 0x10;
constexpr uint8_t kOneLineBayer = 0x01;
constexpr uint8_t kRestartMarkers = 0x02;
constexpr uint8_t kButtonEvents = 0x01;
constexpr uint8_t kBusBusy = 0x01;
}  // namespace bridge_bits

// Commands of the serial-bus command register.
namespace bus_command {
constexpr uint8_t kWrite = 0x37;
constexpr uint8_t kAddress = 0x33;   // addressing phase of a read
constexpr uint8_t kReadData = 0xF9;  // data phase of a read
}  // namespace bus_command

constexpr uint8_t kChipIdValue = 0x71;
constexpr uint8_t kChipRevisionValue = 0x02;

class Bridge {
 public:
  explicit Bridge(const EmulatorConfig& config);

  // Power-on state of the bridge, the sensor and the button register.
  void Reset(const EmulatorConfig& config);
  // A register access from the host, with the register's side effects. `now` is the platform
  // clock, for the button's timed holds.
  uint8_t Read(uint8_t reg, int64_t now);
  void Write(uint8_t reg, uint8_t value, int64_t now);
  // The stored value, without side effects (video source, tests, tool).
  uint8_t Peek(uint8_t reg) const { return registers_[reg]; }

  // Takes changed knobs while the camera runs: bus speed, busy-bit behaviour and the reset values
  // of the next soft reset at once; a new sensor identity resets the sensor.
  void Reconfigure(const EmulatorConfig& config);
  void MarkFirmwareLoaded() { registers_[bridge_reg::kFirmware] |= 0x01; }

  Sensor& sensor() { return sensor_; }
  const Sensor& sensor() const { return sensor_; }
  SnapshotButton& button() { return button_; }

  // Counters of the serial bus, for tests and the tool.
  struct BusStatistics {
    uint64_t transfers = 0;    // commands carried out
    uint64_t ignored = 0;      // commands dropped by a stuck bus
    uint64_t wrongDevice = 0;  // transfers to an id no sensor answers
    uint64_t busyPolls = 0;    // status reads that showed busy
  };
  const BusStatistics& busStatistics() const { return busStatistics_; }

 private:
  void LoadResetValues();
  void RunBusCommand(uint8_t command);

  std::array<uint8_t, 256> registers_{};
  Sensor sensor_;
  SnapshotButton button_;
  EmulatorConfig resetConfig_;
  uint32_t busyReads_ = 0;
  uint32_t busyReadsLeft_ = 0;
  bool stuckBusy_ = false;
  uint8_t latchedSensorRegister_ = 0;
  BusStatistics busStatistics_;
};

// Default luminance and chrominance tables of the quantisation registers: log2 of each quantiser,
// row by row.
extern const uint8_t kDefaultLumaQuantLog2[64];
extern const uint8_t kDefaultChromaQuantLog2[64];

}  // namespace camemu
