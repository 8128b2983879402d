// The host's stream class: it owns the class device object and device extension of each device of
// a registered minidriver, turns the embedding program's requests into request blocks in the order
// the operating system sends them, checks that every block is completed exactly once, and answers
// basic-support and default-value property queries from the driver's tables.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "stream_class.h"

namespace host {

struct DeviceEventSignal {
  GUID eventSet;
  ULONG eventId;
};

class StreamClassDevice;

// One opened stream (pin instance).
class StreamClassStream {
 public:
  HW_STREAM_OBJECT* object() { return &object_; }
  ULONG number() const { return object_.StreamNumber; }

 private:
  friend class StreamClassDevice;
  HW_STREAM_OBJECT object_ = {};
  std::vector<uint8_t> format_;  // the format it was opened with
};

class StreamClassDevice {
 public:
  // A device of the driver (which must have registered with StreamClassRegisterAdapter) on the
  // given physical device object. Nothing is sent yet.
  StreamClassDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* physicalDevice);
  ~StreamClassDevice();
  StreamClassDevice(const StreamClassDevice&) = delete;
  StreamClassDevice& operator=(const StreamClassDevice&) = delete;

  // SRB_INITIALIZE_DEVICE, then on success SRB_GET_STREAM_INFO and SRB_INITIALIZATION_COMPLETE.
  NTSTATUS Start();
  NTSTATUS Uninitialize();
  NTSTATUS SurpriseRemoval();
  NTSTATUS ChangePowerState(DEVICE_POWER_STATE state);

  // Sends one device request; `prepare` fills the command-specific parts. Returns its status.
  NTSTATUS SendDeviceRequest(ULONG command,
                             const std::function<void(HW_STREAM_REQUEST_BLOCK&)>& prepare,
                             ULONG* bytesTransferred = nullptr);
  // Sends one request to an open stream's control routine.
  NTSTATUS SendStreamRequest(StreamClassStream* stream, ULONG command,
                             const std::function<void(HW_STREAM_REQUEST_BLOCK&)>& prepare);

  // Hands a data request (SRB_READ_DATA) to the stream's data routine and returns at once; the
  // request block and its buffers must live until the driver completes it, maybe much later.
  // EndDataRequest then checks that it was completed exactly once and stops tracking it.
  void BeginDataRequest(StreamClassStream* stream, HW_STREAM_REQUEST_BLOCK* request);
  void EndDataRequest(HW_STREAM_REQUEST_BLOCK* request);

  NTSTATUS OpenStream(ULONG streamNumber, const std::vector<uint8_t>& format,
                      StreamClassStream** stream);
  NTSTATUS CloseStream(StreamClassStream* stream);

  NTSTATUS DataIntersection(ULONG streamNumber, const std::vector<uint8_t>& range, ULONG bufferSize,
                            std::vector<uint8_t>* format, ULONG* bytesTransferred);
  // A device property request on the driver's tables: get, set, basic support or default values.
  NTSTATUS PropertyRequest(const KSPROPERTY& property, std::vector<uint8_t>* value,
                           ULONG* bytesReturned);
  // A device control request through the class device object.
  NTSTATUS DeviceControl(ULONG code, const std::vector<uint8_t>& input, ULONG outputSize,
                         std::vector<uint8_t>* output, ULONG_PTR* information);

  const std::vector<HW_STREAM_INFORMATION>& streams() const { return streams_; }
  const HW_STREAM_HEADER& header() const { return header_; }
  DEVICE_OBJECT* classDevice() const { return classDevice_; }
  DEVICE_OBJECT* physicalDevice() const { return physicalDevice_; }
  PVOID extension() const;
  bool initialized() const { return initialized_; }
  std::vector<DeviceEventSignal> TakeSignals();

  // Called by the notification routines.
  void NoteSignal(const GUID& set, ULONG id);

 private:
  void ReleaseIfDone();
  NTSTATUS DispatchIrp(PIRP irp);
  friend NTSTATUS NTAPI StreamClassDispatch(PDEVICE_OBJECT device, PIRP irp);

  DRIVER_OBJECT* driver_;
  DEVICE_OBJECT* physicalDevice_;
  DEVICE_OBJECT* classDevice_;
  PHW_RECEIVE_DEVICE_SRB receivePacket_;
  bool initialized_ = false;
  bool uninitialized_ = false;
  HW_STREAM_HEADER header_ = {};
  std::vector<HW_STREAM_INFORMATION> streams_;
  std::vector<std::unique_ptr<StreamClassStream>> open_;
  std::mutex signalsLock_;
  std::vector<DeviceEventSignal> signals_;
};

NTSTATUS NTAPI StreamClassDispatch(PDEVICE_OBJECT device, PIRP irp);

}  // namespace host
