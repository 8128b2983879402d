// The emulated USB camera: what the framework stand-in plugs into its bus (host::UsbDevice), and
// the control panel that tests and the tool use to set knobs, press the snapshot button, pull the
// plug and read what the device saw and did.
//
// One lock guards the whole device: the framework calls the control pipe from request threads and
// the isochronous pipe from its completion path, and tests call the panel from their own thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bridge.h"
#include "config.h"
#include "fault_injector.h"
#include "firmware_sink.h"
#include "request_log.h"
#include "statistics.h"
#include "usb_bus.h"
#include "video_source.h"

namespace camemu {

// Vendor request codes of the bridge.
constexpr uint8_t kRequestRegister = 1;  // value 0: registers at index; value != 0: firmware

class EmulatedCamera : public host::UsbDevice {
 public:
  explicit EmulatedCamera(const EmulatorConfig& config = {});
  // A camera with the knobs applied in order; null with the first knob's error otherwise.
  static std::unique_ptr<EmulatedCamera> Create(const std::vector<std::string>& knobs,
                                                std::string* error);

  // ---- host::UsbDevice ----
  std::vector<uint8_t> DeviceDescriptor() const override;
  std::vector<uint8_t> ConfigurationDescriptor() const override;
  uint8_t AlternateSettingCount() const override;
  std::vector<host::UsbPipeInfo> Pipes(uint8_t alternateSetting) const override;
  host::UsbResult ControlTransfer(const host::UsbSetupPacket& setup, uint8_t* data,
                                  uint32_t* length) override;
  host::UsbResult SelectAlternateSetting(uint8_t alternateSetting) override;
  uint8_t CurrentAlternateSetting() const override;
  host::UsbSpeed Speed() const override;
  host::UsbResult ReadIsochronousPacket(uint64_t intervalNumber, uint8_t* buffer, uint32_t capacity,
                                        uint32_t* length) override;
  host::UsbResult ReadInterruptPacket(uint8_t* buffer, uint32_t capacity,
                                      uint32_t* length) override;
  bool Connected() const override { return connected_.load(); }

  // ---- Control panel ----
  // Applies a KEY=VALUE knob at once; returns the error text, empty on success.
  std::string SetKnob(const std::string& knob);
  EmulatorConfig Config() const;

  void PressButton();
  void ReleaseButton();
  // Down now, up when the platform clock has moved on by the duration.
  void HoldButton(int64_t duration100ns);
  // Surprise removal: every pipe answers NotConnected from now on.
  void Unplug();

  uint8_t PeekRegister(uint8_t reg) const;
  uint8_t PeekSensorRegister(uint8_t reg) const;
  DeviceStatistics Statistics() const;
  Bridge::BusStatistics BusStatistics() const;
  uint64_t FaultsFired(Fault fault) const;
  std::vector<RequestRecord> Requests() const;
  void ClearRequests();
  void SetRequestLogEnabled(bool enabled);
  std::vector<FirmwareSink::Chunk> FirmwareChunks() const;
  std::vector<uint8_t> FirmwareMemory(uint16_t address, uint32_t length) const;

 private:
  host::UsbResult HandleStandard(const host::UsbSetupPacket& setup, uint8_t* data, uint32_t* length,
                                 int64_t now);
  host::UsbResult HandleVendor(const host::UsbSetupPacket& setup, uint8_t* data, uint32_t* length,
                               int64_t now);
  host::UsbResult SelectLocked(uint8_t alternateSetting);

  mutable std::mutex mutex_;
  EmulatorConfig config_;
  Bridge bridge_;
  FaultInjector faults_;
  FirmwareSink firmware_;
  RequestLog requests_;
  VideoSource video_;
  DeviceStatistics statistics_;
  uint8_t alternateSetting_ = 0;
  std::atomic<bool> connected_{true};
};

}  // namespace camemu
