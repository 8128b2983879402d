#include "emulated_camera.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "descriptors.h"
#include "host_control.h"

namespace camemu {
namespace {

constexpr uint8_t kDirectionIn = 0x80;
constexpr uint8_t kTypeStandard = 0;
constexpr uint8_t kTypeVendor = 2;
constexpr uint8_t kMaxRegisterRead = 8;

// Standard requests the device answers.
constexpr uint8_t kGetStatus = 0x00;
constexpr uint8_t kGetDescriptor = 0x06;
constexpr uint8_t kGetConfiguration = 0x08;
constexpr uint8_t kSetConfiguration = 0x09;
constexpr uint8_t kGetInterface = 0x0A;
constexpr uint8_t kSetInterface = 0x0B;

// Copies a reply into the host's buffer, cut to what the request and the buffer allow.
void Reply(const std::vector<uint8_t>& reply, const host::UsbSetupPacket& setup, uint8_t* data,
           uint32_t* length) {
  uint32_t count = std::min<uint32_t>({static_cast<uint32_t>(reply.size()), setup.length, *length});
  if (count != 0) std::memcpy(data, reply.data(), count);
  *length = count;
}

// A slow device keeps the caller waiting the way a delay on the platform clock would.
void Wait(uint32_t milliseconds) {
  if (milliseconds == 0) return;
  if (host::GetClockMode() == host::ClockMode::Virtual) {
    host::AdvanceVirtualTime(static_cast<LONGLONG>(milliseconds) * 10000);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}

}  // namespace

EmulatedCamera::EmulatedCamera(const EmulatorConfig& config)
    : config_(config), bridge_(config), faults_(config.faults), video_(config) {}

std::unique_ptr<EmulatedCamera> EmulatedCamera::Create(const std::vector<std::string>& knobs,
                                                       std::string* error) {
  EmulatorConfig config;
  for (const std::string& knob : knobs) {
    std::string message = ApplyKnob(config, knob);
    if (!message.empty()) {
      if (error) *error = message;
      return nullptr;
    }
  }
  auto camera = std::make_unique<EmulatedCamera>(config);
  // The pattern may name a file that only now turns out to be unreadable.
  std::string message = camera->video_.Configure(config);
  if (!message.empty()) {
    if (error) *error = message;
    return nullptr;
  }
  return camera;
}

std::vector<uint8_t> EmulatedCamera::DeviceDescriptor() const {
  std::lock_guard lock(mutex_);
  return BuildDeviceDescriptor(config_);
}

std::vector<uint8_t> EmulatedCamera::ConfigurationDescriptor() const {
  std::lock_guard lock(mutex_);
  return BuildConfigurationDescriptor(config_);
}

uint8_t EmulatedCamera::AlternateSettingCount() const { return kAlternateSettingCount; }

std::vector<host::UsbPipeInfo> EmulatedCamera::Pipes(uint8_t alternateSetting) const {
  std::lock_guard lock(mutex_);
  return PipesOf(config_, alternateSetting);
}

host::UsbResult EmulatedCamera::ControlTransfer(const host::UsbSetupPacket& setup, uint8_t* data,
                                                uint32_t* length) {
  uint32_t slowMs = 0;
  host::UsbResult result;
  {
    std::lock_guard lock(mutex_);
    int64_t now = host::Now100ns();
    uint32_t capacity = length ? *length : 0;
    bool in = (setup.requestType & kDirectionIn) != 0;
    uint8_t type = (setup.requestType >> 5) & 3;
    if (!connected_) {
      result = host::UsbResult::NotConnected;
    } else if (capacity != 0 && data == nullptr) {
      result = host::UsbResult::Stall;
    } else if (type == kTypeStandard) {
      result = HandleStandard(setup, data, &capacity, now);
    } else if (type == kTypeVendor) {
      result = HandleVendor(setup, data, &capacity, now);
      slowMs = faults_.settings().slowRequestMs;
    } else {
      result = host::UsbResult::Stall;
    }
    if (result != host::UsbResult::Ok && in) capacity = 0;
    if (length) *length = capacity;
    ++statistics_.requests;
    if (result != host::UsbResult::Ok) ++statistics_.requestsFailed;
    RequestRecord record{setup, {}, result, now};
    if (data != nullptr && capacity != 0 && (!in || result == host::UsbResult::Ok)) {
      record.data.assign(data, data + capacity);
    }
    requests_.Record(std::move(record));
  }
  // Outside the lock: the delay may run timers whose work calls back into the device.
  Wait(slowMs);
  return result;
}

host::UsbResult EmulatedCamera::HandleStandard(const host::UsbSetupPacket& setup, uint8_t* data,
                                               uint32_t* length, int64_t) {
  bool in = (setup.requestType & kDirectionIn) != 0;
  switch (setup.request) {
    case kGetDescriptor: {
      if (!in) return host::UsbResult::Stall;
      uint8_t kind = static_cast<uint8_t>(setup.value >> 8);
      std::vector<uint8_t> reply;
      if (kind == 1) reply = BuildDeviceDescriptor(config_);
      if (kind == 2) reply = BuildConfigurationDescriptor(config_);
      if (kind == 3) reply = BuildStringDescriptor(static_cast<uint8_t>(setup.value));
      if (reply.empty()) return host::UsbResult::Stall;
      Reply(reply, setup, data, length);
      return host::UsbResult::Ok;
    }
    case kGetStatus:
      if (!in) return host::UsbResult::Stall;
      Reply({0, 0}, setup, data, length);
      return host::UsbResult::Ok;
    case kGetConfiguration:
      if (!in) return host::UsbResult::Stall;
      Reply({1}, setup, data, length);
      return host::UsbResult::Ok;
    case kSetConfiguration:
      *length = 0;
      return setup.value <= 1 ? host::UsbResult::Ok : host::UsbResult::Stall;
    case kGetInterface:
      if (!in) return host::UsbResult::Stall;
      Reply({alternateSetting_}, setup, data, length);
      return host::UsbResult::Ok;
    case kSetInterface:
      *length = 0;
      if (setup.index != 0 || setup.value > 0xFF) return host::UsbResult::Stall;
      return SelectLocked(static_cast<uint8_t>(setup.value));
    default:
      return host::UsbResult::Stall;
  }
}

// Vendor request 1. Value 0 reaches the registers: a read returns 1 to 8 registers from the
// index on, a write stores its bytes at the index and the following registers. Any other value is
// a load address of the firmware code memory. A request that does not fit stalls whole.
host::UsbResult EmulatedCamera::HandleVendor(const host::UsbSetupPacket& setup, uint8_t* data,
                                             uint32_t* length, int64_t now) {
  bool in = (setup.requestType & kDirectionIn) != 0;
  if (setup.request != kRequestRegister) return host::UsbResult::Stall;
  if ((setup.value == 0 && static_cast<int>(setup.index) == faults_.settings().failRegister) ||
      faults_.Fire(Fault::FailRequest)) {
    ++statistics_.requestsInjected;
    return host::UsbResult::Stall;
  }
  uint32_t count = in ? std::min<uint32_t>(setup.length, *length) : *length;
  if (!in && count != setup.length) return host::UsbResult::Stall;

  if (setup.value != 0) {
    bool ok =
        in ? firmware_.Read(setup.value, data, count) : firmware_.Load(setup.value, data, count);
    if (!ok) return host::UsbResult::Stall;
    if (!in && count != 0) bridge_.MarkFirmwareLoaded();
    *length = count;
    return host::UsbResult::Ok;
  }

  if (count == 0 || setup.index > 0xFF) return host::UsbResult::Stall;
  if (in) {
    // The drivers read 8 bytes even when they need fewer, so a read may run past register 0xFF:
    // the missing registers read as 0.
    if (count > kMaxRegisterRead) return host::UsbResult::Stall;
    for (uint32_t i = 0; i < count; ++i) {
      data[i] =
          setup.index + i <= 0xFF ? bridge_.Read(static_cast<uint8_t>(setup.index + i), now) : 0;
    }
  } else {
    if (setup.index + count > 0x100) return host::UsbResult::Stall;
    for (uint32_t i = 0; i < count; ++i) {
      bridge_.Write(static_cast<uint8_t>(setup.index + i), data[i], now);
    }
  }
  *length = count;
  return host::UsbResult::Ok;
}

host::UsbResult EmulatedCamera::SelectAlternateSetting(uint8_t alternateSetting) {
  std::lock_guard lock(mutex_);
  if (!connected_) return host::UsbResult::NotConnected;
  return SelectLocked(alternateSetting);
}

host::UsbResult EmulatedCamera::SelectLocked(uint8_t alternateSetting) {
  if (alternateSetting >= kAlternateSettingCount) return host::UsbResult::Stall;
  uint16_t packetSize = config_.altPacketSizes[alternateSetting];
  // Setting 0 claims no bandwidth and is always granted.
  if (alternateSetting != 0 &&
      (faults_.Fire(Fault::RefuseAltSetting) || packetSize > config_.EffectiveBandwidth())) {
    ++statistics_.altSettingsRefused;
    return host::UsbResult::NoBandwidth;
  }
  if (alternateSetting != alternateSetting_) video_.OnAlternateSetting(packetSize, statistics_);
  alternateSetting_ = alternateSetting;
  return host::UsbResult::Ok;
}

uint8_t EmulatedCamera::CurrentAlternateSetting() const {
  std::lock_guard lock(mutex_);
  return alternateSetting_;
}

host::UsbSpeed EmulatedCamera::Speed() const {
  std::lock_guard lock(mutex_);
  return config_.highSpeed ? host::UsbSpeed::High : host::UsbSpeed::Full;
}

host::UsbResult EmulatedCamera::ReadIsochronousPacket(uint64_t intervalNumber, uint8_t* buffer,
                                                      uint32_t capacity, uint32_t* length) {
  std::lock_guard lock(mutex_);
  if (length) *length = 0;
  if (!connected_) return host::UsbResult::NotConnected;
  int64_t removeAfter = faults_.settings().removeAfterPackets;
  if (removeAfter >= 0 && statistics_.packets >= static_cast<uint64_t>(removeAfter)) {
    connected_ = false;
    return host::UsbResult::NotConnected;
  }
  if (length == nullptr || (buffer == nullptr && capacity != 0)) return host::UsbResult::Stall;
  ++statistics_.packets;
  *length = video_.NextPacket(intervalNumber, bridge_, faults_, statistics_, buffer, capacity);
  if (*length == 0) ++statistics_.emptyPackets;
  return host::UsbResult::Ok;
}

host::UsbResult EmulatedCamera::ReadInterruptPacket(uint8_t* buffer, uint32_t capacity,
                                                    uint32_t* length) {
  std::lock_guard lock(mutex_);
  if (length) *length = 0;
  if (!connected_) return host::UsbResult::NotConnected;
  if (config_.pipeCount < 2 || length == nullptr) return host::UsbResult::Stall;
  SnapshotButton& button = bridge_.button();
  button.Update(host::Now100ns());
  std::array<uint8_t, 4> event;
  // An event never goes into a buffer too small for it; it waits for a proper read.
  if (buffer == nullptr || capacity < event.size()) return host::UsbResult::Stall;
  if (button.PopEvent(&event)) {
    std::memcpy(buffer, event.data(), event.size());
    *length = static_cast<uint32_t>(event.size());
    ++statistics_.buttonEvents;
  }
  return host::UsbResult::Ok;
}

std::string EmulatedCamera::SetKnob(const std::string& knob) {
  std::lock_guard lock(mutex_);
  EmulatorConfig candidate = config_;
  candidate.faults = faults_.settings();  // one-shot budgets already spent stay spent
  std::string error = ApplyKnob(candidate, knob);
  if (!error.empty()) return error;
  error = video_.Configure(candidate);
  if (!error.empty()) return error;
  config_ = candidate;
  faults_.Configure(config_.faults);
  bridge_.Reconfigure(config_);
  return {};
}

EmulatorConfig EmulatedCamera::Config() const {
  std::lock_guard lock(mutex_);
  EmulatorConfig config = config_;
  config.faults = faults_.settings();
  return config;
}

void EmulatedCamera::PressButton() {
  std::lock_guard lock(mutex_);
  bridge_.button().Press(host::Now100ns());
}

void EmulatedCamera::ReleaseButton() {
  std::lock_guard lock(mutex_);
  bridge_.button().Release(host::Now100ns());
}

void EmulatedCamera::HoldButton(int64_t duration100ns) {
  std::lock_guard lock(mutex_);
  bridge_.button().Hold(host::Now100ns(), duration100ns);
}

void EmulatedCamera::Unplug() { connected_ = false; }

uint8_t EmulatedCamera::PeekRegister(uint8_t reg) const {
  std::lock_guard lock(mutex_);
  return bridge_.Peek(reg);
}

uint8_t EmulatedCamera::PeekSensorRegister(uint8_t reg) const {
  std::lock_guard lock(mutex_);
  return bridge_.sensor().Read(reg);
}

DeviceStatistics EmulatedCamera::Statistics() const {
  std::lock_guard lock(mutex_);
  return statistics_;
}

Bridge::BusStatistics EmulatedCamera::BusStatistics() const {
  std::lock_guard lock(mutex_);
  return bridge_.busStatistics();
}

uint64_t EmulatedCamera::FaultsFired(Fault fault) const {
  std::lock_guard lock(mutex_);
  return faults_.fired(fault);
}

std::vector<RequestRecord> EmulatedCamera::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_.Records();
}

void EmulatedCamera::ClearRequests() {
  std::lock_guard lock(mutex_);
  requests_.Clear();
}

void EmulatedCamera::SetRequestLogEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  requests_.SetEnabled(enabled);
}

std::vector<FirmwareSink::Chunk> EmulatedCamera::FirmwareChunks() const {
  std::lock_guard lock(mutex_);
  return firmware_.chunks();
}

std::vector<uint8_t> EmulatedCamera::FirmwareMemory(uint16_t address, uint32_t length) const {
  std::lock_guard lock(mutex_);
  std::vector<uint8_t> bytes(length);
  if (!firmware_.Read(address, bytes.data(), length)) bytes.clear();
  return bytes;
}

}  // namespace camemu
