#include "bridge.h"

namespace camemu {

// The quantisation registers hold log2 of each quantiser: 0 is 1, 5 is 32.
const uint8_t kDefaultLumaQuantLog2[64] = {
    0, 1, 1, 2, 2, 3, 3, 4,  //
    1, 1, 1, 2, 2, 3, 4, 4,  //
    1, 1, 2, 2, 3, 4, 4, 4,  //
    2, 2, 2, 3, 4, 4, 4, 4,  //
    2, 2, 3, 4, 4, 5, 5, 5,  //
    3, 3, 4, 4, 5, 5, 5, 5,  //
    3, 4, 4, 4, 5, 5, 5, 5,  //
    4, 4, 4, 4, 5, 5, 5, 5,
};
const uint8_t kDefaultChromaQuantLog2[64] = {
    0, 2, 2, 3, 4, 4, 4, 4,  //
    2, 2, 2, 4, 4, 4, 4, 4,  //
    2, 2, 3, 4, 4, 4, 4, 4,  //
    3, 4, 4, 4, 4, 4, 4, 4,  //
    4, 4, 4, 4, 4, 4, 4, 4,  //
    4, 4, 4, 4, 4, 4, 4, 4,  //
    4, 4, 4, 4, 4, 4, 4, 4,  //
    4, 4, 4, 4, 4, 4, 4, 4,
};

Bridge::Bridge(const EmulatorConfig& config) : sensor_(config), resetConfig_(config) {
  Reset(config);
}

void Bridge::Reset(const EmulatorConfig& config) {
  resetConfig_ = config;
  sensor_.Reset(config);
  button_.Reset();
  busyReads_ = config.busyReads;
  stuckBusy_ = config.faults.stuckBusy;
  busyReadsLeft_ = 0;
  latchedSensorRegister_ = 0;
  LoadResetValues();
}

void Bridge::LoadResetValues() {
  registers_.fill(0);
  registers_[bridge_reg::kChipId] = kChipIdValue;
  registers_[bridge_reg::kChipRevision] = kChipRevisionValue;
  // Out of reset the camera is on and streams as soon as the host gives it bandwidth; the
  // register lists of a model may switch parts off.
  registers_[bridge_reg::kSystem] = bridge_bits::kSystemEnable | bridge_bits::kSensorPower;
  registers_[bridge_reg::kVideo] = bridge_bits::kVideoEnable;
  registers_[bridge_reg::kBusStatus] = resetConfig_.highSpeed ? bridge_bits::kHighSpeed : 0;
  registers_[bridge_reg::kWidthLow] = static_cast<uint8_t>(resetConfig_.sensorWidth);
  registers_[bridge_reg::kWidthHigh] = static_cast<uint8_t>(resetConfig_.sensorWidth >> 8);
  registers_[bridge_reg::kHeightLow] = static_cast<uint8_t>(resetConfig_.sensorHeight);
  registers_[bridge_reg::kHeightHigh] = static_cast<uint8_t>(resetConfig_.sensorHeight >> 8);
  registers_[bridge_reg::kFrameRate] = 30;
  registers_[bridge_reg::kButtonControl] = bridge_bits::kButtonEvents;
  button_.SetEventsEnabled(true);
  for (int i = 0; i < 32; ++i) {
    registers_[bridge_reg::kLumaQuant + i] =
        static_cast<uint8_t>(kDefaultLumaQuantLog2[2 * i] | kDefaultLumaQuantLog2[2 * i + 1] << 4);
    registers_[bridge_reg::kChromaQuant + i] = static_cast<uint8_t>(
        kDefaultChromaQuantLog2[2 * i] | kDefaultChromaQuantLog2[2 * i + 1] << 4);
  }
}

void Bridge::Reconfigure(const EmulatorConfig& config) {
  bool newSensor = config.sensorDeviceId != resetConfig_.sensorDeviceId ||
                   config.sensorVersionRegister != resetConfig_.sensorVersionRegister ||
                   config.sensorVersion != resetConfig_.sensorVersion ||
                   config.sensorMinorRegister != resetConfig_.sensorMinorRegister ||
                   config.sensorMinorVersion != resetConfig_.sensorMinorVersion;
  resetConfig_ = config;
  if (newSensor) sensor_.Reset(config);
  busyReads_ = config.busyReads;
  stuckBusy_ = config.faults.stuckBusy;
  if (config.highSpeed) {
    registers_[bridge_reg::kBusStatus] |= bridge_bits::kHighSpeed;
  } else {
    registers_[bridge_reg::kBusStatus] &= static_cast<uint8_t>(~bridge_bits::kHighSpeed);
  }
}

uint8_t Bridge::Read(uint8_t reg, int64_t now) {
  switch (reg) {
    case bridge_reg::kButton:
      button_.Update(now);
      return button_.RegisterValue();
    case bridge_reg::kSensorStatus:
      if (stuckBusy_ || busyReadsLeft_ > 0) {
        if (!stuckBusy_) --busyReadsLeft_;
        ++busStatistics_.busyPolls;
        return bridge_bits::kBusBusy;
      }
      return 0;
    default:
      return registers_[reg];
  }
}

void Bridge::Write(uint8_t reg, uint8_t value, int64_t now) {
  switch (reg) {
    case bridge_reg::kChipId:
    case bridge_reg::kChipRevision:
    case bridge_reg::kFirmware:
    case bridge_reg::kBusStatus:
    case bridge_reg::kSensorReadData:
    case bridge_reg::kSensorStatus:
      return;  // read-only
    case bridge_reg::kSystem:
      if (value & bridge_bits::kSoftReset) {
        uint8_t firmware = registers_[bridge_reg::kFirmware];
        LoadResetValues();
        registers_[bridge_reg::kFirmware] = firmware;
        return;
      }
      registers_[reg] = value;
      return;
    case bridge_reg::kButton:
      button_.Update(now);
      button_.WriteRegister(value);
      return;
    case bridge_reg::kButtonControl:
      registers_[reg] = value;
      button_.SetEventsEnabled((value & bridge_bits::kButtonEvents) != 0);
      return;
    case bridge_reg::kSensorCommand:
      registers_[reg] = value;
      RunBusCommand(value);
      return;
    default:
      registers_[reg] = value;
      return;
  }
}

// A transfer happens at once; the busy bit then shows for the configured number of status reads,
// as the slow serial bus would. A stuck bus takes no command at all.
void Bridge::RunBusCommand(uint8_t command) {
  if (command != bus_command::kWrite && command != bus_command::kAddress &&
      command != bus_command::kReadData) {
    return;
  }
  if (stuckBusy_) {
    ++busStatistics_.ignored;
    return;
  }
  ++busStatistics_.transfers;
  busyReadsLeft_ = busyReads_;
  bool answered = registers_[bridge_reg::kSensorId] == sensor_.deviceId();
  if (!answered) ++busStatistics_.wrongDevice;
  switch (command) {
    case bus_command::kWrite:
      if (answered) {
        sensor_.Write(registers_[bridge_reg::kSensorRegister],
                      registers_[bridge_reg::kSensorWriteData]);
      }
      break;
    case bus_command::kAddress:
      latchedSensorRegister_ = registers_[bridge_reg::kSensorRegister];
      break;
    case bus_command::kReadData:
      // Nobody drives the bus at an id no sensor has: the data line reads high.
      registers_[bridge_reg::kSensorReadData] =
          answered ? sensor_.Read(latchedSensorRegister_) : 0xFF;
      break;
  }
}

}  // namespace camemu
