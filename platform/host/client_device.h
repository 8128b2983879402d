// The client API: what a capture application does with a camera, standing where the application
// would. It opens a device on a driver image, lists pins and their data ranges, asks for data
// intersections, opens pins with a format and runs them, gets and sets properties, sends device
// control codes, and drives the device's power and removal. The tool and the integration tests use
// only this API.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "driver_loader.h"
#include "stream_class_device.h"
#include "usb_bus.h"
#include "usbcamd_control.h"

namespace host {

struct PinDescription {
  GUID category;
  GUID name;
  ULONG possibleInstances;
  std::vector<std::vector<uint8_t>> dataRanges;  // each a whole KSDATARANGE with its tail
};

// One completed read: a frame in the application's buffer.
struct FrameRead {
  uint8_t* buffer = nullptr;      // the buffer given to QueueRead
  ULONG bytes = 0;                // bytes of the frame in it
  int64_t sequence = 0;           // picture number: frames the stream ended before this one
  int64_t dropCount = 0;          // frames lost so far (abandoned by the camera or found no read)
  LONGLONG presentationTime = 0;  // 100 ns since the pin started running
  ULONG flags = 0;                // KSSTREAM_HEADER_OPTIONSF_*
};

class ClientPin {
 public:
  ~ClientPin();
  ClientPin(const ClientPin&) = delete;
  ClientPin& operator=(const ClientPin&) = delete;

  NTSTATUS SetState(KSSTATE state);
  // Queues a read (SRB_READ_DATA) into the caller's buffer, which must stay valid until the read
  // comes back from ReadFrame or the pin closes. STATUS_PENDING when queued; a read the framework
  // refuses (bad buffer, stopped pin) is answered at once and ReadFrame returns that answer.
  NTSTATUS QueueRead(uint8_t* buffer, ULONG size);
  // Waits for the oldest queued read, running the bus as the clock allows (at most busFrameLimit
  // 1 ms bus frames). The read leaves the queue unless STATUS_INVALID_DEVICE_STATE says the pin
  // does not run. STATUS_NOT_FOUND when nothing is queued.
  NTSTATUS ReadFrame(FrameRead* frame, uint32_t busFrameLimit = 5000);
  size_t QueuedReads() const { return reads_.size(); }
  StreamCounts Counts() const;
  NTSTATUS ProposeFormat(const std::vector<uint8_t>& format);
  NTSTATUS SetFormat(const std::vector<uint8_t>& format);
  NTSTATUS GetFormat();
  ULONG number() const { return stream_->number(); }

 private:
  friend class ClientDevice;
  ClientPin(StreamClassDevice* device, StreamClassStream* stream)
      : device_(device), stream_(stream) {}
  NTSTATUS FormatRequest(ULONG command, const std::vector<uint8_t>& format);
  // Ends every read (the framework has answered them all once the pin is closed).
  void EndReads();

  struct PendingRead {
    HW_STREAM_REQUEST_BLOCK request;
    KSSTREAM_HEADER header;
    KS_FRAME_INFO info;  // follows the header, as the stream header's Size says
  };
  StreamClassDevice* device_;
  StreamClassStream* stream_;
  std::deque<std::unique_ptr<PendingRead>> reads_;
};

class ClientDevice {
 public:
  // Plugs the USB device in and starts it on the driver. The device object is returned in every
  // case, so that a failed start can be examined; *status says whether it started.
  // A driverKeyName gives the device that driver key (below host::kDriverKeyRoot), as an
  // installation would, before the driver sees it; empty: the device has none.
  static std::unique_ptr<ClientDevice> Open(DriverImage& driver, std::shared_ptr<UsbDevice> usb,
                                            NTSTATUS* status,
                                            const std::u16string& driverKeyName = {});
  // Closes every open pin and uninitialises the device if that has not been done.
  ~ClientDevice();
  ClientDevice(const ClientDevice&) = delete;
  ClientDevice& operator=(const ClientDevice&) = delete;

  bool started() const { return started_; }
  std::vector<PinDescription> Pins() const;
  NTSTATUS DataIntersection(ULONG pin, const std::vector<uint8_t>& range, ULONG bufferSize,
                            std::vector<uint8_t>* format, ULONG* bytesTransferred);
  NTSTATUS OpenPin(ULONG pin, const std::vector<uint8_t>& format, ClientPin** opened);
  NTSTATUS ClosePin(ClientPin* pin);

  // Property requests: flags KSPROPERTY_TYPE_GET, _SET, _BASICSUPPORT or _DEFAULTVALUES.
  NTSTATUS Property(const GUID& set, ULONG id, ULONG flags, std::vector<uint8_t>* value,
                    ULONG* bytesReturned);
  NTSTATUS DeviceControl(ULONG code, const std::vector<uint8_t>& input, ULONG outputSize,
                         std::vector<uint8_t>* output, ULONG_PTR* information);

  NTSTATUS SetPowerState(DEVICE_POWER_STATE state);
  NTSTATUS SurpriseRemove();
  // Uninitialises the device; pins still open keep it until they are closed.
  NTSTATUS Uninitialize();

  std::vector<DeviceEventSignal> TakeEvents() { return stream_->TakeSignals(); }
  // Diagnostics of the layers below the driver.
  FrameworkState Framework() const { return FrameworkStateOf(stream_->classDevice()); }
  bool DeliverDeviceEvent() { return host::DeliverDeviceEvent(stream_->classDevice()); }
  IsochronousRun RunIsochronous(uint32_t busFrames) {
    return host::RunIsochronous(stream_->classDevice(), busFrames);
  }
  ULONG ClassDeviceFlags() const { return stream_->classDevice()->Flags; }
  PVOID DeviceExtension() const { return stream_->extension(); }

 private:
  ClientDevice() = default;

  DEVICE_OBJECT* physicalDevice_ = nullptr;
  std::unique_ptr<StreamClassDevice> stream_;
  std::vector<std::unique_ptr<ClientPin>> pins_;
  bool started_ = false;
  bool uninitialized_ = false;
};

}  // namespace host
