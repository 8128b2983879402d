// IImageProcessor: builds frames from the framework's packets and converts them. The device calls
// it from the framework's frame callbacks and for the last-still device control codes.
#pragma once

#include "core/device_context.h"
#include "usbcamd.h"

class IImageProcessor : public IUnknown {
 public:
  virtual NTSTATUS HandleCustomProperty(PVOID request, PVOID reply, ULONG replySize,
                                        BOOLEAN set) = 0;
  virtual ULONG SetStillMode(ULONG mode, ULONG apply) = 0;
  // Copies the 40-byte bitmap information header of the last still frame.
  virtual NTSTATUS GetLastFrameHeader(PVOID destination) = 0;
  // Copies the last still frame's pixels; returns the bytes copied, 0 when none fit.
  virtual ULONG GetLastFrameData(PVOID destination, ULONG length) = 0;
  virtual NTSTATUS EnableLastFrame(ULONG flag) = 0;
  virtual NTSTATUS Reset(ULONG streamNumber) = 0;
  virtual NTSTATUS CloseStream(IUnknown* owner, PKSDATAFORMAT format, ULONG streamNumber) = 0;
  virtual NTSTATUS OpenStream(IUnknown* owner, PKSDATAFORMAT format, ULONG streamNumber) = 0;
  virtual void NewVideoFrame(DeviceContext* context, PVOID frameContext, ULONG streamNumber,
                             PULONG frameLength) = 0;
  virtual ULONG ProcessUsbPacket(PDEVICE_OBJECT busDeviceObject, DeviceContext* context,
                                 PVOID frameContext, PUSBD_ISO_PACKET_DESCRIPTOR syncPacket,
                                 PVOID syncBuffer, PUSBD_ISO_PACKET_DESCRIPTOR dataPacket,
                                 PVOID dataBuffer, PBOOLEAN frameComplete, PULONG packetFlag,
                                 PULONG validDataOffset) = 0;
  virtual NTSTATUS ProcessRawFrame(PDEVICE_OBJECT busDeviceObject, DeviceContext* context,
                                   PVOID frameContext, PVOID frameBuffer, ULONG frameLength,
                                   PVOID rawBuffer, ULONG rawLength, ULONG packetCount,
                                   PULONG bytesReturned, ULONG actualRawLength,
                                   ULONG streamNumber) = 0;
  virtual UCHAR IsUvTestActive() = 0;
  virtual void OnCameraStop() = 0;
  virtual NTSTATUS RestartUvTest() = 0;
  virtual void OnButtonEvent(DeviceContext* context, ULONG data) = 0;
  virtual NTSTATUS LoadSettings() = 0;
  virtual NTSTATUS ReloadModeSettings() = 0;

 protected:
  ~IImageProcessor() = default;
};
