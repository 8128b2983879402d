// Everything the camera does to the hardware around capture: named register lists run at fixed
// moments (power up and down, bandwidth, capture start and stop, low power), the alternate
// setting of the interface, and the snapshot-button poll of cameras without an interrupt pipe.
#include "camera/camera.h"
#include "camera/camera_values.h"
#include "core/camera_device.h"
#include "core/event_notifier_interface.h"
#include "core/image_processor_interface.h"
#include "usbcamd.h"

using camera_values::Wait;

// ---- List runners
// ---------------------------------------------------------------------------------
#define CAMERA_BRIDGE_LIST_RUNNER(runner, list) \
  NTSTATUS Camera::runner() { return registers::RunBridgeList(this, list.entries, list.count); }
CAMERA_BRIDGE_LIST_RUNNER(RunClearSnapButton, clearSnapButton)
CAMERA_BRIDGE_LIST_RUNNER(RunEnableSsuspend, enableSsuspend)
CAMERA_BRIDGE_LIST_RUNNER(RunDisableSsuspend, disableSsuspend)
CAMERA_BRIDGE_LIST_RUNNER(RunTurnOnLed, turnOnLed)
CAMERA_BRIDGE_LIST_RUNNER(RunTurnOffLed, turnOffLed)
CAMERA_BRIDGE_LIST_RUNNER(RunEnableSystem, enableSystem)
CAMERA_BRIDGE_LIST_RUNNER(RunDisableSystem, disableSystem)
CAMERA_BRIDGE_LIST_RUNNER(RunPowerOnCamera, powerOnCamera)
CAMERA_BRIDGE_LIST_RUNNER(RunPowerDownCamera, powerDownCamera)
CAMERA_BRIDGE_LIST_RUNNER(RunSetUsbWork, setUsbWork)
CAMERA_BRIDGE_LIST_RUNNER(RunSetUsbInit, setUsbInit)
CAMERA_BRIDGE_LIST_RUNNER(RunBlockStream, blockStream)
CAMERA_BRIDGE_LIST_RUNNER(RunStartStream, startStream)
#undef CAMERA_BRIDGE_LIST_RUNNER

// The reset list goes to the sensor as plain writes: its mask bytes are not used.
NTSTATUS Camera::RunResetCamera() {
  NTSTATUS status = STATUS_SUCCESS;
  for (ULONG index = 0; index < resetCamera.count; ++index) {
    status =
        WriteSensor(resetCamera.entries[index].registerIndex, resetCamera.entries[index].value);
  }
  return status;
}

// Resetting the bridge's USB side loses the sensor selection and the camera's programming.
NTSTATUS Camera::RunResetUsb() {
  registerState.sensorIdProgrammed = 0;
  poweredUp = 0;
  return registers::RunBridgeList(this, resetUsb.entries, resetUsb.count);
}

NTSTATUS Camera::RunEnableAutoLaunch(DeviceContext* context) {
  if (context != nullptr && eventNotifier != nullptr) eventNotifier->StartButtonPolling(context);
  return registers::RunBridgeList(this, enableAutoLaunch.entries, enableAutoLaunch.count);
}

NTSTATUS Camera::RunDisableAutoLaunch(DeviceContext* context) {
  if (context != nullptr && eventNotifier != nullptr) eventNotifier->StopButtonPolling(context);
  return registers::RunBridgeList(this, disableAutoLaunch.entries, disableAutoLaunch.count);
}

// ---- Capture lists of the model
// ------------------------------------------------------------------- At full speed a model may
// carry its own start and stop lists in "FullSpeed"; when that key exists all four come from it,
// even those it lacks.
static void LoadCaptureLists(Camera* camera, PCWSTR whole, ULONG wholeBytes,
                             CameraRegisterList* list, PCWSTR start, ULONG startBytes,
                             CameraRegisterList* startList, PCWSTR stop, ULONG stopBytes,
                             CameraRegisterList* stopList) {
  HANDLE deviceKeyHandle = nullptr;
  if (!NT_SUCCESS(registry::OpenDeviceKey(&camera->deviceKey, camera->interfaceDevice,
                                          camera->physicalDevice, &deviceKeyHandle))) {
    return;
  }
  HANDLE model = nullptr;
  if (NT_SUCCESS(registry::OpenKey(deviceKeyHandle, KEY_READ, camera->cameraKeyPath, &model))) {
    IBufferPool* pool = camera->bufferPool;
    registers::ReadRegisterList(pool, model, whole, wholeBytes, &list->entries, &list->count);
    HANDLE fullSpeed = nullptr;
    HANDLE source = model;
    if (camera->highSpeed == 0 &&
        NT_SUCCESS(registry::OpenKey(model, KEY_READ, u"FullSpeed", &fullSpeed))) {
      source = fullSpeed;
    }
    registers::ReadRegisterList(pool, source, start, startBytes, &startList->entries,
                                &startList->count);
    registers::ReadRegisterList(pool, source, stop, stopBytes, &stopList->entries,
                                &stopList->count);
    if (fullSpeed != nullptr) registry::CloseKey(&camera->deviceKey, fullSpeed);
    registry::CloseKey(&camera->deviceKey, model);
  }
  registry::CloseKey(&camera->deviceKey, deviceKeyHandle);
}

#define CAMERA_LIST_NAME(text) text, sizeof(text)
NTSTATUS Camera::LoadUsbCaptureLists() {
  LoadCaptureLists(this, CAMERA_LIST_NAME(u"UsbSetting"), &usbSetting,
                   CAMERA_LIST_NAME(u"StartVidCapUsbSetting"), &startVidCapUsbSetting,
                   CAMERA_LIST_NAME(u"StopVidCapUsbSetting"), &stopVidCapUsbSetting);
  return STATUS_SUCCESS;
}

NTSTATUS Camera::LoadSensorCaptureLists() {
  LoadCaptureLists(this, CAMERA_LIST_NAME(u"CameraSetting"), &cameraSetting,
                   CAMERA_LIST_NAME(u"StartVidCapCameraSetting"), &startVidCapCameraSetting,
                   CAMERA_LIST_NAME(u"StopVidCapCameraSetting"), &stopVidCapCameraSetting);
  return STATUS_SUCCESS;
}
#undef CAMERA_LIST_NAME

// ---- Alternate setting
// ----------------------------------------------------------------------------
NTSTATUS Camera::SelectAltSetting(UCHAR alternateSetting) {
  if ((usbcamdContext != nullptr && usbcamdContext->removed != 0) ||
      alternateSetting == currentAltSetting) {
    return STATUS_SUCCESS;
  }
  if (device == nullptr) return STATUS_INVALID_PARAMETER;
  PUSBD_INTERFACE_INFORMATION information = device->GetInterfaceInformation();
  if (information == nullptr) return STATUS_INVALID_PARAMETER;
  information->AlternateSetting = alternateSetting;
  NTSTATUS status = USBCAMD_SelectAlternateInterface(usbcamdContext, information);
  if (NT_SUCCESS(status)) currentAltSetting = alternateSetting;
  return status;
}

// ---- Power
// ----------------------------------------------------------------------------------------
NTSTATUS Camera::PowerUp() {
  pollingEnabled = 0;
  NTSTATUS status = RunEnableSystem();
  Wait(10);
  if (NT_SUCCESS(status)) {
    status = RunResetUsb();
    Wait(10);
  }
  RunPowerOnCamera();
  Wait(50);
  // In power-control mode an idle camera stays powered but unprogrammed until the next allocation.
  if (powerControl != 0 && powerUpInAllocate == 0 && !IsVideoStreamOpen()) return status;
  if (NT_SUCCESS(status)) {
    status = RunSetUsbInit();
    if (NT_SUCCESS(status)) RunResetCamera();
  }
  Wait(10);
  pollingEnabled = 0;
  RunDisableAutoLaunch(usbcamdContext);
  if (NT_SUCCESS(status) &&
      NT_SUCCESS(registers::RunBridgeList(this, usbSetting.entries, usbSetting.count)) &&
      NT_SUCCESS(
          registers::RunRegisterList(this, cameraSetting.entries, cameraSetting.count, FALSE))) {
    ReapplyVideoFormat();
  }
  RestorePropertyValues();
  if (HasStream(0) && !IsVideoStreamOpen()) {
    RunEnableAutoLaunch(usbcamdContext);
    pollingEnabled = 1;
  }
  // (Publishing the capture interface's names belongs here.)
  RunSetUsbWork();
  RunDisableSsuspend();
  status = RunTurnOffLed();
  poweredUp = 1;
  return status;
}

NTSTATUS Camera::Shutdown() {
  pollingEnabled = 0;
  RunDisableAutoLaunch(usbcamdContext);
  NTSTATUS status = STATUS_INVALID_PARAMETER;
  if (HasStream(0)) status = SaveVideoFormat();
  if (propertySetList != nullptr) status = ShutdownProperties();
  if (imageProcessor != nullptr) imageProcessor->OnCameraStop();
  RunPowerDownCamera();
  return status;
}

NTSTATUS Camera::SaveState(PDEVICE_OBJECT, DeviceContext*) {
  if (stateSaved != 0) return STATUS_SUCCESS;
  stateSaved = 1;
  RunEnableSsuspend();
  NTSTATUS status = Shutdown();
  savedAltSetting = currentAltSetting;
  if (savedAltSetting != idleAltSetting) SelectAltSetting(idleAltSetting);
  return status;
}

NTSTATUS Camera::RestoreState(PDEVICE_OBJECT, DeviceContext*) {
  if (stateSaved == 0) return STATUS_SUCCESS;
  stateSaved = 0;
  PowerUp();
  NTSTATUS status = RunDisableSsuspend();
  if (imageProcessor != nullptr) imageProcessor->RestartUvTest();
  if (savedAltSetting != currentAltSetting) SelectAltSetting(savedAltSetting);
  return status;
}

// ---- Bandwidth and capture
// ------------------------------------------------------------------------
NTSTATUS Camera::AllocateBandwidth(PDEVICE_OBJECT, DeviceContext* context, PULONG rawFrameLength,
                                   PVOID format, ULONG streamNumber) {
  if (powerControl != 0 && poweredUp == 0) {
    powerUpInAllocate = 1;
    PowerUp();
    powerUpInAllocate = 0;
  }
  if (!HasStream(streamNumber)) return STATUS_INVALID_PARAMETER;
  if (streamNumber == 0) {
    pollingEnabled = 0;
    RunDisableAutoLaunch(context);
  }
  NTSTATUS status = OpenStreamFormat(streamNumber, format, rawFrameLength);
  if (!NT_SUCCESS(status)) {
    if (streamNumber == 0) {
      RunEnableAutoLaunch(context);
      pollingEnabled = 1;
    }
    return status;
  }
  if (streamNumber != 0) return status;
  RunSetUsbWork();
  return RunTurnOnLed();
}

NTSTATUS Camera::FreeBandwidth(PDEVICE_OBJECT, DeviceContext* context, ULONG streamNumber) {
  if (!HasStream(streamNumber)) return STATUS_INVALID_PARAMETER;
  if (streamNumber == 0) {
    RunSetUsbInit();
    RunTurnOffLed();
  }
  NTSTATUS status = CloseStreamFormat(streamNumber);
  if (streamNumber == 0) {
    RunEnableAutoLaunch(context);
    pollingEnabled = 1;
    if (powerControl != 0) {
      Shutdown();
      RunResetUsb();
    }
  }
  return status;
}

NTSTATUS Camera::StartCapture(PDEVICE_OBJECT, DeviceContext*, ULONG streamNumber) {
  NTSTATUS status = STATUS_SUCCESS;
  if (streamNumber == 0) {
    RunSetUsbWork();
    status = RunTurnOnLed();
  }
  registers::RunBridgeList(this, startVidCapUsbSetting.entries, startVidCapUsbSetting.count);
  registers::RunRegisterList(this, startVidCapCameraSetting.entries, startVidCapCameraSetting.count,
                             FALSE);
  return status;
}

NTSTATUS Camera::StopCapture(PDEVICE_OBJECT, DeviceContext*, ULONG streamNumber) {
  registers::RunBridgeList(this, stopVidCapUsbSetting.entries, stopVidCapUsbSetting.count);
  registers::RunRegisterList(this, stopVidCapCameraSetting.entries, stopVidCapCameraSetting.count,
                             FALSE);
  if (streamNumber == 0) {
    RunSetUsbInit();
    RunTurnOffLed();
    registers::RunRegisterList(this, cameraTimeout.entries, cameraTimeout.count, FALSE);
  }
  return STATUS_SUCCESS;
}

// ---- Snapshot button
// ------------------------------------------------------------------------------ Without auto close
// a press signals launch once, at the press. With auto close a short press signals launch at its
// release, and a hold of longPressPolls polls signals auto close once.
void Camera::PollSnapButton(DeviceContext* context) {
  if (pollingEnabled == 0 || checkAutoLaunch.count == 0) return;
  if (context != nullptr && context->eventBlock != nullptr &&
      (context->eventBlock->flags & kEventFlagPollingEnabled) == 0) {
    return;  // polling is being stopped
  }
  const RegisterListEntry& test = checkAutoLaunch.entries[0];
  UCHAR value = 0;
  if (!NT_SUCCESS(ReadBridge(test.registerIndex, &value, nullptr))) return;
  if ((value & test.mask) == (test.value & test.mask)) {
    RunClearSnapButton();
    RunEnableAutoLaunch(nullptr);
    if (enableAutoClose == 0) {
      if (buttonDown == 0 && eventNotifier != nullptr) eventNotifier->SignalLaunch(context);
    } else {
      ++pressCount;
      if (pressCount == longPressPolls && eventNotifier != nullptr) {
        eventNotifier->SignalAutoClose(context);
      }
    }
    buttonDown = 1;
  } else {
    if (enableAutoClose != 0 && buttonDown != 0 && pressCount < longPressPolls &&
        eventNotifier != nullptr) {
      eventNotifier->SignalLaunch(context);
    }
    pressCount = 0;
    buttonDown = 0;
  }
}

UCHAR Camera::GetAutoCloseSettings(UCHAR* gpio0) {
  *gpio0 = useGpio0;
  return enableAutoClose;
}
