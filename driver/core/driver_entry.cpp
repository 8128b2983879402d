#include "core/driver_entry.h"

#include <cstring>

#include "core/camera_device.h"
#include "core/event_notifier_interface.h"
#include "core/framework_callbacks.h"
#include "core/held_interface.h"
#include "core/timing.h"

LONG_PTR ContextOffset = 0;

namespace {

void FreeEventBlock(DeviceContext* context) {
  if (context->eventBlock != nullptr) {
    ExFreePool(context->eventBlock);
    context->eventBlock = nullptr;
  }
}

// Drops the context's creation reference on the device and, with it, the event block.
void ReleaseDevice(DeviceContext* context) {
  UnknownBase* device = context->device;
  context->device = nullptr;
  if (device != nullptr) device->Release();
  FreeEventBlock(context);
}

// Hands a request to the device, or to the framework when there is none. The device is held for the
// call; when that hold was the last reference, the device has gone and the event block goes too.
void PassToDevice(PHW_STREAM_REQUEST_BLOCK request, DeviceContext* context) {
  HeldInterface<ICameraDevice> device(context->device, IID_ICameraDevice);
  if (!device) {
    ForwardToFramework(request);
    return;
  }
  device->ReceivePacket(request);
  if (device.Release() == 0) {
    context->device = nullptr;
    FreeEventBlock(context);
  }
}

void InitializeDevice(PHW_STREAM_REQUEST_BLOCK request, DeviceContext* context) {
  ContextOffset =
      reinterpret_cast<UCHAR*>(context) - static_cast<UCHAR*>(request->HwDeviceExtension);
  memset(context, 0, sizeof(DeviceContext));
  context->signature = kDeviceContextSignature;
  context->size = sizeof(DeviceContext);
  context->powered = 1;
  context->deviceExtension = request->HwDeviceExtension;
  context->cpuSpeed = MeasureCpuSpeed();

  NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
  context->eventBlock = static_cast<EventBlock*>(AllocateWithRetry(sizeof(EventBlock)));
  if (context->eventBlock != nullptr) {
    KeInitializeSemaphore(&context->eventBlock->semaphore, 1, 1);
    status = CreateCameraDevice(&context->device, CLSID_Camera, nullptr, NonPagedPool);
    if (NT_SUCCESS(status)) {
      HeldInterface<ICameraDevice> device(context->device, IID_ICameraDevice);
      status = device.status();
      if (device) {
        status = device->Initialize(request, context, &DeviceData);
        if (NT_SUCCESS(status)) {
          // The framework starts the device and completes the request.
          device->ReceivePacket(request);
          if (!NT_SUCCESS(request->Status)) {
            device.Release();
            ReleaseDevice(context);
          }
          return;
        }
      }
    }
  }
  // Let the stream class finish tearing the device down.
  PDEVICE_OBJECT classDevice = request->CommandData.ConfigInfo->ClassDeviceObject;
  classDevice->Flags |= DO_DIRECT_IO;
  classDevice->Flags &= ~DO_DEVICE_INITIALIZING;
  request->Status = status;
  ReleaseDevice(context);
  CompleteDeviceRequest(request);
}

void UninitializeDevice(PHW_STREAM_REQUEST_BLOCK request, DeviceContext* context) {
  if (context->device == nullptr) {
    ForwardToFramework(request);
    return;
  }
  {
    HeldInterface<ICameraDevice> device(context->device, IID_ICameraDevice);
    if (device) device->ReceivePacket(request);
  }
  // Open streams keep the device; the close that drops the last reference frees the rest.
  if (context->device->Release() == 0) {
    context->device = nullptr;
    FreeEventBlock(context);
  }
}

void SurpriseRemoval(PHW_STREAM_REQUEST_BLOCK request, DeviceContext* context) {
  bool notified = false;
  if (context->device != nullptr) {
    HeldInterface<IEventNotifier> notifier(context->device, IID_IEventNotifier);
    if (notifier) {
      // Polling stops before the removed flag is set: once it is set, stopping no longer acts.
      notifier->StopButtonPolling(context);
      if (context->eventBlock != nullptr) context->eventBlock->flags |= kEventFlagRemoved;
      notifier->SignalDeviceRemoved(context);
      notified = true;
    }
  }
  context->removed = 1;
  if (!notified) {
    ForwardToFramework(request);
    return;
  }
  PassToDevice(request, context);
}

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
  return static_cast<NTSTATUS>(USBCAMD_DriverEntry(
      driverObject, registryPath, sizeof(DeviceContext), kFrameContextSize, AdapterReceivePacket));
}

// Stream objects carry the stream class's routine types; the framework calls these with its own.
template <class Target, class Source>
Target AsStreamRoutine(Source routine) {
  return reinterpret_cast<Target>(reinterpret_cast<void (*)()>(routine));
}

VOID NTAPI AdapterReceivePacket(PHW_STREAM_REQUEST_BLOCK request) {
  auto* context =
      static_cast<DeviceContext*>(USBCAMD_AdapterReceivePacket(request, nullptr, nullptr, FALSE));
  switch (request->Command) {
    case SRB_INITIALIZE_DEVICE:
      InitializeDevice(request, context);
      return;
    case SRB_OPEN_STREAM:
      request->StreamObject->ReceiveDataPacket =
          AsStreamRoutine<PHW_RECEIVE_STREAM_DATA_SRB>(StreamReceiveDataPacket);
      request->StreamObject->ReceiveControlPacket =
          AsStreamRoutine<PHW_RECEIVE_STREAM_CONTROL_SRB>(StreamReceiveControlPacket);
      PassToDevice(request, context);
      return;
    case SRB_UNINITIALIZE_DEVICE:
      UninitializeDevice(request, context);
      return;
    case SRB_SURPRISE_REMOVAL:
      SurpriseRemoval(request, context);
      return;
    default:
      PassToDevice(request, context);
      return;
  }
}

VOID NTAPI StreamReceiveDataPacket(PHW_STREAM_REQUEST_BLOCK, PVOID, PBOOLEAN) {}

VOID NTAPI StreamReceiveControlPacket(PHW_STREAM_REQUEST_BLOCK request, PVOID deviceContext,
                                      PBOOLEAN completed) {
  request->Status = STATUS_SUCCESS;
  auto* context = static_cast<DeviceContext*>(deviceContext);
  HeldInterface<ICameraDevice> device(context->device, IID_ICameraDevice);
  if (device) {
    device->ReceiveControlPacket(request, context, completed);
  } else {
    *completed = FALSE;
  }
}
