// The host's USB bus: the narrow contract between the camera framework stand-in and a USB device
// plugged into it (the emulated camera in device/). The framework stand-in only ever talks to a
// device through this interface; the device knows nothing of drivers.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace host {

enum class UsbResult {
  Ok,
  Stall,         // the device refused the request (a failed vendor request, a bad setting)
  NoBandwidth,   // the bus cannot give the alternate setting's isochronous bandwidth
  NotConnected,  // the device has been unplugged
};

struct UsbSetupPacket {
  uint8_t requestType;  // bit 7: device to host; bits 6-5: 0 standard, 2 vendor
  uint8_t request;
  uint16_t value;
  uint16_t index;
  uint16_t length;
};

// The speed the device runs at decides how often its isochronous endpoints are served: at high
// speed in every 125 us microframe (8 per 1 ms bus frame, up to 3 transactions of 1024 bytes
// each), at full speed once per bus frame (at most 1023 bytes).
enum class UsbSpeed : uint8_t { Full, High };

constexpr uint32_t IsochronousPacketsPerBusFrame(UsbSpeed speed) {
  return speed == UsbSpeed::High ? 8u : 1u;
}

enum class UsbPipeType : uint8_t { Control = 0, Isochronous = 1, Bulk = 2, Interrupt = 3 };

struct UsbPipeInfo {
  uint8_t endpointAddress;  // bit 7 set for IN
  UsbPipeType type;
  uint16_t maxPacketSize;  // for isochronous pipes: bytes per service interval (all transactions)
  uint8_t interval;
};

class UsbDevice {
 public:
  virtual ~UsbDevice() = default;

  // The 18-byte device descriptor and the whole configuration descriptor.
  virtual std::vector<uint8_t> DeviceDescriptor() const = 0;
  virtual std::vector<uint8_t> ConfigurationDescriptor() const = 0;
  // Alternate settings of the one interface, and the pipes each offers.
  virtual uint8_t AlternateSettingCount() const = 0;
  virtual std::vector<UsbPipeInfo> Pipes(uint8_t alternateSetting) const = 0;

  // A transfer on the default control pipe. For device-to-host requests the device writes at most
  // *length bytes into data and stores the count; for host-to-device it reads *length bytes.
  virtual UsbResult ControlTransfer(const UsbSetupPacket& setup, uint8_t* data,
                                    uint32_t* length) = 0;
  virtual UsbResult SelectAlternateSetting(uint8_t alternateSetting) = 0;
  virtual uint8_t CurrentAlternateSetting() const = 0;

  // The speed the device was enumerated at; the bus serves its isochronous pipes accordingly.
  virtual UsbSpeed Speed() const { return UsbSpeed::Full; }

  // One service interval of the isochronous data pipe: the packet the device sends in it, at most
  // the current setting's packet size; *length 0 is an empty packet. `intervalNumber` counts
  // service intervals, so that the device paces its video by it: the microframe number (bus frame
  // x 8 + microframe) at high speed, the bus frame number at full speed.
  virtual UsbResult ReadIsochronousPacket(uint64_t intervalNumber, uint8_t* buffer,
                                          uint32_t capacity, uint32_t* length) = 0;
  // The interrupt pipe: Ok with data when the device has an event pending, Ok with *length 0
  // when it has none.
  virtual UsbResult ReadInterruptPacket(uint8_t* buffer, uint32_t capacity, uint32_t* length) = 0;

  virtual bool Connected() const = 0;
};

}  // namespace host
