// Helpers of the device suites: a camera from knobs, and a host that speaks the bridge's vendor
// requests the way the drivers do.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulated_camera.h"
#include "packetizer.h"

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

// Builds frames from isochronous packets by their lengths alone, as the drivers' image processor
// does: 1, 2 or 3 units are frame data, 12 bytes drop the frame, any other length ends it, and
// every non-empty packet carries a 12-byte header.
class FrameCollector {
 public:
  explicit FrameCollector(uint32_t unit = 512) : unit_(unit) {}

  void Feed(const uint8_t* packet, uint32_t length) {
    if (length == 0) return;
    if (length == camencode::kPacketHeaderSize) {
      ++dropped_;
      current_.clear();
      inFrame_ = false;
      return;
    }
    const uint8_t* payload = packet + camencode::kPacketHeaderSize;
    bool data = length % unit_ == 0 && length / unit_ >= 1 && length / unit_ <= 3;
    if (data) {
      inFrame_ = true;
      current_.insert(current_.end(), payload, packet + length);
      return;
    }
    current_.insert(current_.end(), payload, packet + length);
    frames_.push_back(std::move(current_));
    current_.clear();
    inFrame_ = false;
  }

  const std::vector<std::vector<uint8_t>>& frames() const { return frames_; }
  int dropped() const { return dropped_; }

 private:
  uint32_t unit_;
  std::vector<uint8_t> current_;
  std::vector<std::vector<uint8_t>> frames_;
  int dropped_ = 0;
  bool inFrame_ = false;
};

// Service intervals of the isochronous pipe in 1 ms: the cameras run at high speed unless a test
// says otherwise, and are then served every 125 us microframe.
constexpr uint64_t kMicroframesPerMs = 8;

// Reads service intervals (microframes at high speed, bus frames at full speed) from
// `firstBusFrame` on until `frames` frames are complete or `limit` intervals have passed; returns
// the interval after the last one read.
inline uint64_t Stream(EmulatedCamera& camera, FrameCollector& collector, size_t frames,
                       uint64_t firstBusFrame = 0, uint64_t limit = 100000,
                       std::vector<uint32_t>* lengths = nullptr) {
  std::vector<uint8_t> packet(3072);
  uint64_t busFrame = firstBusFrame;
  for (; busFrame < firstBusFrame + limit && collector.frames().size() < frames; ++busFrame) {
    uint32_t length = 0;
    if (camera.ReadIsochronousPacket(busFrame, packet.data(), static_cast<uint32_t>(packet.size()),
                                     &length) != host::UsbResult::Ok) {
      break;
    }
    if (lengths) lengths->push_back(length);
    collector.Feed(packet.data(), length);
  }
  return busFrame;
}

}  // namespace camemu
