// IEventNotifier: the device's hub of snapshot-button and removal notifications. The device shell
// stops its polling and signals removal through it; the notifier itself is a child of the camera.
#pragma once

#include "core/device_context.h"

class IEventNotifier : public IUnknown {
 public:
  virtual NTSTATUS AccessEventHandle(DeviceContext* context, ULONG kind, ULONG index, ULONG* value,
                                     UCHAR set) = 0;
  virtual void FillEventInfo(PHW_STREAM_REQUEST_BLOCK request) = 0;
  virtual void SignalLaunch(DeviceContext* context) = 0;
  virtual void SignalAutoClose(DeviceContext* context) = 0;
  virtual void SignalStillFrame(DeviceContext* context) = 0;
  virtual void SignalDeviceRemoved(DeviceContext* context) = 0;
  virtual void StopButtonPolling(DeviceContext* context) = 0;
  virtual void StartButtonPolling(DeviceContext* context) = 0;

 protected:
  ~IEventNotifier() = default;
};

// The completion routine of the framework's looping wait on the interrupt pipe; the event context
// is the device's EventBlock.
VOID NTAPI OnDeviceEventComplete(PVOID deviceContext, PVOID eventBlock, NTSTATUS status);
