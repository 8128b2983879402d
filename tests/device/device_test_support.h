// Helpers of the device suites: a camera from knobs, and a host that speaks the bridge's vendor
// requests the way the drivers do.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulated_camera.h"

namespace camemu {

inline std::unique_ptr<EmulatedCamera> MakeCamera(const std::vector<std::string>& knobs) {
  std::string error;
  auto camera = EmulatedCamera::Create(knobs, &error);
  EXPECT_NE(camera, nullptr) << error;
  return camera;
}

class Host {
 public:
  explicit Host(EmulatedCamera& camera) : camera_(camera) {}

  host::UsbResult Write(uint16_t index, std::vector<uint8_t> bytes) {
    uint32_t length = static_cast<uint32_t>(bytes.size());
    return camera_.ControlTransfer({0x40, 1, 0, index, static_cast<uint16_t>(length)}, bytes.data(),
                                   &length);
  }
  host::UsbResult ReadBlock(uint16_t index, uint16_t count, std::vector<uint8_t>* out) {
    out->assign(count, 0);
    uint32_t length = count;
    host::UsbResult result =
        camera_.ControlTransfer({0xC0, 1, 0, index, count}, out->data(), &length);
    out->resize(length);
    return result;
  }
  uint8_t Read(uint16_t index) {
    std::vector<uint8_t> byte;
    EXPECT_EQ(ReadBlock(index, 1, &byte), host::UsbResult::Ok);
    return byte.empty() ? 0 : byte[0];
  }
  host::UsbResult LoadFirmware(uint16_t address, std::vector<uint8_t> bytes) {
    uint32_t length = static_cast<uint32_t>(bytes.size());
    return camera_.ControlTransfer({0x40, 1, address, 0, static_cast<uint16_t>(length)},
                                   bytes.data(), &length);
  }
  // Reads the bus status up to `limit` times while it shows busy; returns the busy reads.
  int PollBusy(int limit) {
    int busy = 0;
    while (busy < limit && (Read(0xF6) & 1)) ++busy;
    return busy;
  }
  void WriteSensor(uint8_t id, uint8_t reg, uint8_t value) {
    Write(0xF1, {id});
    Write(0xF2, {reg});
    Write(0xF3, {value});
    Write(0xF5, {0x37});
    PollBusy(6);
  }
  uint8_t ReadSensor(uint8_t id, uint8_t reg) {
    Write(0xF1, {id});
    Write(0xF2, {reg});
    Write(0xF5, {0x33});
    PollBusy(6);
    Write(0xF5, {0xF9});
    PollBusy(6);
    return Read(0xF4);
  }

 private:
  EmulatedCamera& camera_;
};

}  // namespace camemu
