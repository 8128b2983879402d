#include "core/framework_callbacks.h"

#include <cstring>

#include "camera/camera.h"
#include "core/camera_device.h"
#include "core/held_interface.h"
#include "core/image_processor_interface.h"

namespace {

DeviceContext* AsContext(PVOID deviceContext) { return static_cast<DeviceContext*>(deviceContext); }

// The device of a context, held for the callback.
struct HeldDevice : HeldInterface<ICameraDevice> {
  explicit HeldDevice(PVOID deviceContext)
      : HeldInterface<ICameraDevice>(AsContext(deviceContext)->device, IID_ICameraDevice) {}
};

// A part of the device's camera, held for the callback.
template <class Interface>
struct HeldCameraPart : HeldInterface<Interface> {
  HeldCameraPart(const HeldDevice& device, REFGUID iid)
      : HeldInterface<Interface>(device ? device->GetCamera() : nullptr, iid) {}
};

NTSTATUS NTAPI CamInitialize(PDEVICE_OBJECT busDevice, PVOID deviceContext) {
  HeldDevice device(deviceContext);
  if (!device) return STATUS_SUCCESS;
  // This reference keeps the device for as long as the framework runs it.
  device->AddRef();
  NTSTATUS status = device->StartDevice(busDevice, AsContext(deviceContext));
  if (!NT_SUCCESS(status)) device->Release();
  return status;
}

NTSTATUS NTAPI CamUnInitialize(PDEVICE_OBJECT busDevice, PVOID deviceContext) {
  HeldDevice device(deviceContext);
  if (!device) return STATUS_SUCCESS;
  NTSTATUS status = device->StopDevice(busDevice, AsContext(deviceContext));
  device->Release();
  return status;
}

ULONG NTAPI CamProcessUSBPacketEx(PDEVICE_OBJECT busDevice, PVOID deviceContext, PVOID frameContext,
                                  PUSBD_ISO_PACKET_DESCRIPTOR syncPacket, PVOID syncBuffer,
                                  PUSBD_ISO_PACKET_DESCRIPTOR dataPacket, PVOID dataBuffer,
                                  PBOOLEAN frameComplete, PULONG packetFlag,
                                  PULONG validDataOffset) {
  HeldDevice device(deviceContext);
  HeldCameraPart<IImageProcessor> processor(device, IID_IImageProcessor);
  if (!processor) return 0;
  return processor->ProcessUsbPacket(busDevice, AsContext(deviceContext), frameContext, syncPacket,
                                     syncBuffer, dataPacket, dataBuffer, frameComplete, packetFlag,
                                     validDataOffset);
}

VOID NTAPI CamNewVideoFrameEx(PVOID deviceContext, PVOID frameContext, ULONG streamNumber,
                              PULONG frameLength) {
  HeldDevice device(deviceContext);
  HeldCameraPart<IImageProcessor> processor(device, IID_IImageProcessor);
  if (processor) {
    processor->NewVideoFrame(AsContext(deviceContext), frameContext, streamNumber, frameLength);
  }
}

NTSTATUS NTAPI CamProcessRawVideoFrameEx(PDEVICE_OBJECT busDevice, PVOID deviceContext,
                                         PVOID frameContext, PVOID frameBuffer, ULONG frameLength,
                                         PVOID rawBuffer, ULONG rawLength, ULONG packetCount,
                                         PULONG bytesReturned, ULONG actualRawLength,
                                         ULONG streamNumber) {
  HeldDevice device(deviceContext);
  HeldCameraPart<IImageProcessor> processor(device, IID_IImageProcessor);
  if (!processor) return processor.status();
  return processor->ProcessRawFrame(busDevice, AsContext(deviceContext), frameContext, frameBuffer,
                                    frameLength, rawBuffer, rawLength, packetCount, bytesReturned,
                                    actualRawLength, streamNumber);
}

NTSTATUS NTAPI CamStartCaptureEx(PDEVICE_OBJECT busDevice, PVOID deviceContext,
                                 ULONG streamNumber) {
  HeldDevice device(deviceContext);
  HeldCameraPart<ICaptureControl> control(device, IID_ICaptureControl);
  NTSTATUS status = control
                        ? control->StartCapture(busDevice, AsContext(deviceContext), streamNumber)
                        : control.status();
  AsContext(deviceContext)->captureArmed = 1;
  return status;
}

NTSTATUS NTAPI CamStopCaptureEx(PDEVICE_OBJECT busDevice, PVOID deviceContext, ULONG streamNumber) {
  HeldDevice device(deviceContext);
  HeldCameraPart<ICaptureControl> control(device, IID_ICaptureControl);
  return control ? control->StopCapture(busDevice, AsContext(deviceContext), streamNumber)
                 : control.status();
}

NTSTATUS NTAPI CamConfigureEx(PDEVICE_OBJECT busDevice, PVOID deviceContext,
                              PUSBD_INTERFACE_INFORMATION interfaceInformation,
                              PUSB_CONFIGURATION_DESCRIPTOR configurationDescriptor,
                              ULONG pipeConfigListSize, PUSBCAMD_Pipe_Config_Descriptor pipeConfig,
                              PUSB_DEVICE_DESCRIPTOR deviceDescriptor) {
  if (interfaceInformation == nullptr || pipeConfig == nullptr || deviceDescriptor == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  HeldDevice device(deviceContext);
  if (!device) return device.status();
  return device->Configure(busDevice, AsContext(deviceContext), interfaceInformation,
                           configurationDescriptor, pipeConfigListSize, pipeConfig,
                           deviceDescriptor);
}

NTSTATUS NTAPI CamSaveState(PDEVICE_OBJECT busDevice, PVOID deviceContext) {
  AsContext(deviceContext)->powered = 0;
  HeldDevice device(deviceContext);
  HeldCameraPart<ICaptureControl> control(device, IID_ICaptureControl);
  return control ? control->SaveState(busDevice, AsContext(deviceContext)) : control.status();
}

NTSTATUS NTAPI CamRestoreState(PDEVICE_OBJECT busDevice, PVOID deviceContext) {
  HeldDevice device(deviceContext);
  HeldCameraPart<ICaptureControl> control(device, IID_ICaptureControl);
  return control ? control->RestoreState(busDevice, AsContext(deviceContext)) : control.status();
}

// The custom property 2 as a 40-byte request: the property header, then its 16-byte value.
struct CustomPropertyRequestBlock {
  KSPROPERTY property;
  UCHAR value[16];
};
static_assert(sizeof(CustomPropertyRequestBlock) == 40);

NTSTATUS NTAPI CamAllocateBandwidthEx(PDEVICE_OBJECT busDevice, PVOID deviceContext,
                                      PULONG rawFrameLength, PVOID format, ULONG streamNumber) {
  HeldDevice device(deviceContext);
  HeldCameraPart<ICaptureControl> control(device, IID_ICaptureControl);
  if (!control) return control.status();
  NTSTATUS status = control->AllocateBandwidth(busDevice, AsContext(deviceContext), rawFrameLength,
                                               format, streamNumber);
  // The new mode reprograms the bridge; custom property 2 is written back as it was.
  CustomPropertyRequestBlock request = {};
  request.property.Set = kCustomPropertySet;
  request.property.Id = 2;
  request.property.Flags = KSPROPERTY_TYPE_GET;
  ULONG returned = 0;
  control->PropertyRequest(FALSE, &request.property, sizeof(request), request.value,
                           sizeof(request.value), &returned);
  request.property.Flags = KSPROPERTY_TYPE_SET;
  control->PropertyRequest(TRUE, &request.property, sizeof(request), request.value,
                           sizeof(request.value), &returned);
  return status;
}

NTSTATUS NTAPI CamFreeBandwidthEx(PDEVICE_OBJECT busDevice, PVOID deviceContext,
                                  ULONG streamNumber) {
  HeldDevice device(deviceContext);
  HeldCameraPart<ICaptureControl> control(device, IID_ICaptureControl);
  NTSTATUS status = control
                        ? control->FreeBandwidth(busDevice, AsContext(deviceContext), streamNumber)
                        : control.status();
  AsContext(deviceContext)->captureArmed = 1;
  return status;
}

}  // namespace

USBCAMD_DEVICE_DATA2 DeviceData = {
    kDeviceContextSignature, CamInitialize,
    CamUnInitialize,         CamProcessUSBPacketEx,
    CamNewVideoFrameEx,      CamProcessRawVideoFrameEx,
    CamStartCaptureEx,       CamStopCaptureEx,
    CamConfigureEx,          CamSaveState,
    CamRestoreState,         CamAllocateBandwidthEx,
    CamFreeBandwidthEx,
};
