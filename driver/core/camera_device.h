// The root object of one camera device. The adapter routine creates it at device initialisation
// and hands it every device request; the framework callbacks find it through the DeviceContext. It
// answers queries for every part of the device: itself, the buffer pool (created on the first
// query) and, through the camera, everything else.
#pragma once

#include "core/buffer_pool.h"
#include "core/device_context.h"
#include "usbcamd.h"

class ICameraDevice : public IUnknown {
 public:
  virtual PUSBD_INTERFACE_INFORMATION GetInterfaceInformation() = 0;
  virtual NTSTATUS Initialize(PHW_STREAM_REQUEST_BLOCK request, DeviceContext* context,
                              USBCAMD_DEVICE_DATA2* deviceData) = 0;
  virtual NTSTATUS StartDevice(PDEVICE_OBJECT busDevice, DeviceContext* context) = 0;
  virtual NTSTATUS StopDevice(PDEVICE_OBJECT busDevice, DeviceContext* context) = 0;
  virtual NTSTATUS Configure(PDEVICE_OBJECT busDevice, DeviceContext* context,
                             PUSBD_INTERFACE_INFORMATION interfaceInformation,
                             PUSB_CONFIGURATION_DESCRIPTOR configurationDescriptor, ULONG pipeCount,
                             PUSBCAMD_Pipe_Config_Descriptor pipeConfig,
                             PUSB_DEVICE_DESCRIPTOR deviceDescriptor) = 0;
  virtual void ReceivePacket(PHW_STREAM_REQUEST_BLOCK request) = 0;
  virtual void ReceiveDataPacket(PHW_STREAM_REQUEST_BLOCK request, DeviceContext* context,
                                 PBOOLEAN completed) = 0;
  virtual void ReceiveControlPacket(PHW_STREAM_REQUEST_BLOCK request, DeviceContext* context,
                                    PBOOLEAN completed) = 0;
  virtual UnknownBase* GetCamera() = 0;
  virtual NTSTATUS SetIsoPipeState(ULONG pipeStateFlags) = 0;
  virtual USB_DEVICE_DESCRIPTOR* GetDeviceDescriptor() = 0;
  virtual NTSTATUS QueryFrameworkInterface(PDEVICE_OBJECT target, PVOID buffer) = 0;
  virtual NTSTATUS InitializationComplete(PHW_STREAM_REQUEST_BLOCK request) = 0;
  virtual BOOLEAN InitializeNewInterface() = 0;
  virtual NTSTATUS GetStreamInfo(PHW_STREAM_REQUEST_BLOCK request) = 0;
  virtual NTSTATUS DeviceControl(PIRP irp) = 0;

 protected:
  ~ICameraDevice() = default;
};

// Private device control codes: the last still frame's bitmap information header and its pixels.
inline constexpr ULONG kIoctlLastFrameHeader = 0x2F2000;
inline constexpr ULONG kIoctlLastFrameData = 0x2F2004;
inline constexpr ULONG kBitmapInfoHeaderSize = 40;

// The imaging device class {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}.
inline constexpr GUID kImagingDeviceClass = {
    0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};

class CameraDevice final : public Delegating<ICameraDevice, CameraDevice>,
                           public UnknownPart<CameraDevice> {
 public:
  // Bridges of the same family with an earlier identifier pair start their proposed alternate
  // setting at 7 rather than 0.
  static constexpr USHORT kLegacyBridgeVendor = 0xFFF0;
  static constexpr USHORT kLegacyBridgeProduct = 0x0100;

  explicit CameraDevice(IUnknown* outerUnknown);
  ~CameraDevice();

  NTSTATUS QueryClassInterface(REFGUID iid, void** result);

  PUSBD_INTERFACE_INFORMATION GetInterfaceInformation() override;
  NTSTATUS Initialize(PHW_STREAM_REQUEST_BLOCK request, DeviceContext* context,
                      USBCAMD_DEVICE_DATA2* deviceData) override;
  NTSTATUS StartDevice(PDEVICE_OBJECT busDevice, DeviceContext* context) override;
  NTSTATUS StopDevice(PDEVICE_OBJECT busDevice, DeviceContext* context) override;
  NTSTATUS Configure(PDEVICE_OBJECT busDevice, DeviceContext* context,
                     PUSBD_INTERFACE_INFORMATION interfaceInformation,
                     PUSB_CONFIGURATION_DESCRIPTOR configurationDescriptor, ULONG pipeCount,
                     PUSBCAMD_Pipe_Config_Descriptor pipeConfig,
                     PUSB_DEVICE_DESCRIPTOR deviceDescriptor) override;
  void ReceivePacket(PHW_STREAM_REQUEST_BLOCK request) override;
  void ReceiveDataPacket(PHW_STREAM_REQUEST_BLOCK request, DeviceContext* context,
                         PBOOLEAN completed) override;
  void ReceiveControlPacket(PHW_STREAM_REQUEST_BLOCK request, DeviceContext* context,
                            PBOOLEAN completed) override;
  UnknownBase* GetCamera() override;
  NTSTATUS SetIsoPipeState(ULONG pipeStateFlags) override;
  USB_DEVICE_DESCRIPTOR* GetDeviceDescriptor() override;
  NTSTATUS QueryFrameworkInterface(PDEVICE_OBJECT target, PVOID buffer) override;
  NTSTATUS InitializationComplete(PHW_STREAM_REQUEST_BLOCK request) override;
  BOOLEAN InitializeNewInterface() override;
  NTSTATUS GetStreamInfo(PHW_STREAM_REQUEST_BLOCK request) override;
  NTSTATUS DeviceControl(PIRP irp) override;

  // Registers (enable) or withdraws the device interface of the given class (the imaging class
  // when null) on the given device object.
  NTSTATUS RegisterDeviceInterface(PDEVICE_OBJECT deviceObject, BOOLEAN enable,
                                   const GUID* classGuid);

  // Fields, in order.
  PUSBD_INTERFACE_INFORMATION interfaceInfo;  // persistent copy of the configured interface
  DeviceContext* context;
  USBCAMD_DEVICE_DATA2* deviceData;
  ULONG state;  // 0 initialised, 1 configured, 2 started
  PDEVICE_OBJECT classDevice;
  PDEVICE_OBJECT interfaceDevice;
  PDEVICE_OBJECT busDevice;
  USBCAMD_INTERFACE frameworkInterface;  // Interface.Version 0: not obtained
  UCHAR legacyBridge;
  UNICODE_STRING interfaceName;
  USB_DEVICE_DESCRIPTOR deviceDescriptor;
  DEVICE_POWER_STATE powerState;
  UnknownBase* camera;         // the Camera's UnknownBase, one reference
  UnknownBase* bufferPool;     // the BufferPool's UnknownBase, created on the first query
  IBufferPool* poolInterface;  // the pool's IBufferPool, no reference
  ULONG interfaceInfoLength;   // bytes of the interfaceInfo block

 private:
  void ChangePowerState(PHW_STREAM_REQUEST_BLOCK request);
  void ArmDeviceEventWait();
  void CloseStream(PHW_STREAM_REQUEST_BLOCK request);
  void WriteCameraStatus(ULONG value);
};

NTSTATUS CreateCameraDevice(UnknownBase** result, REFGUID clsid, IUnknown* outer,
                            POOL_TYPE poolType);

// Passes a request to the framework, which processes and completes it.
void ForwardToFramework(PHW_STREAM_REQUEST_BLOCK request);
// Completes a device request with the status already stored in it.
void CompleteDeviceRequest(PHW_STREAM_REQUEST_BLOCK request);
