// The camera's device-wide configuration: the values and register lists of "CameraSetting" below
// the device key, with their defaults.
#include <cstring>

#include "camera/camera.h"
#include "camera/camera_values.h"
#include "stream/format_mode.h"

namespace {

using camera_values::ReadBytes;
using camera_values::ReadFlag;
using camera_values::ReadNumber;

}  // namespace

NTSTATUS Camera::LoadConfiguration() {
  // Compressed modes start from the built-in tables unless the model gives its own.
  memcpy(defaultYTable, kBuiltInYQuantTable, sizeof defaultYTable);
  memcpy(defaultUvTable, kBuiltInUvQuantTable, sizeof defaultUvTable);

  HANDLE deviceKeyHandle = nullptr;
  NTSTATUS status =
      registry::OpenDeviceKey(&deviceKey, interfaceDevice, physicalDevice, &deviceKeyHandle);
  if (!NT_SUCCESS(status)) return status;
  HANDLE key = nullptr;
  status = registry::OpenKey(deviceKeyHandle, KEY_READ, u"CameraSetting", &key);
  if (!NT_SUCCESS(status)) {
    registry::CloseKey(&deviceKey, deviceKeyHandle);
    return status;
  }

  WCHAR statusPath[kRegistryPathChars] = {};
  if (camera_values::ReadString(bufferPool, key, u"CameraStatusPath", statusPath)) {
    ULONG bytes = (camera_values::TextLength(statusPath) + 1) * sizeof(WCHAR);
    if (cameraStatusPath != nullptr) bufferPool->Free(cameraStatusPath);
    cameraStatusPath =
        static_cast<PWSTR>(bufferPool->Allocate(NonPagedPool, bytes, kBufferPersistent));
    if (cameraStatusPath != nullptr) memcpy(cameraStatusPath, statusPath, bytes);
  }
  ReadFlag(bufferPool, key, u"Status2HKR", &status2Hkr);
  ReadNumber(bufferPool, key, u"StillSupportType", &stillSupportType);
  ReadFlag(bufferPool, key, u"SupportStillPin", &supportStillPin);
  ReadNumber(bufferPool, key, u"BandwidthAllocateRule", &bandwidthAllocateRule);
  if (ReadFlag(bufferPool, key, u"IdleAltSetting", &idleAltSetting)) {
    // The interface is in its idle setting after configuration.
    savedAltSetting = idleAltSetting;
    currentAltSetting = idleAltSetting;
  }
  ReadFlag(bufferPool, key, u"SupportEvent", &supportEvent);
  ReadNumber(bufferPool, key, u"DefaultQualityLevel", &defaultQualityLevel);
  ReadFlag(bufferPool, key, u"EnableAutoClose", &enableAutoClose);
  ReadFlag(bufferPool, key, u"UseGpio0", &useGpio0);
  ReadFlag(bufferPool, key, u"AddSerialNumber", &addSerialNumber);
  ReadFlag(bufferPool, key, u"ShowCameraId", &showCameraId);
  ReadFlag(bufferPool, key, u"PowerControl", &powerControl);
  ReadBytes(bufferPool, key, u"DefaultYQuanTable", defaultYTable, sizeof defaultYTable);
  ReadBytes(bufferPool, key, u"DefaultUVQuanTable", defaultUvTable, sizeof defaultUvTable);

  struct NamedList {
    PCWSTR name;
    ULONG nameBytes;
    CameraRegisterList* list;
  };
#define CAMERA_LIST(text, field) \
  { text, sizeof(text), &field }
  const NamedList lists[] = {
      CAMERA_LIST(u"EnableSystem", enableSystem),
      CAMERA_LIST(u"DisableSystem", disableSystem),
      CAMERA_LIST(u"SetUsbWork", setUsbWork),
      CAMERA_LIST(u"SetUsbInit", setUsbInit),
      CAMERA_LIST(u"PowerDownCamera", powerDownCamera),
      CAMERA_LIST(u"PowerOnCamera", powerOnCamera),
      CAMERA_LIST(u"ResetUsb", resetUsb),
      CAMERA_LIST(u"ClearSnapButton", clearSnapButton),
      CAMERA_LIST(u"EnableAutoLaunch", enableAutoLaunch),
      CAMERA_LIST(u"DisableAutoLaunch", disableAutoLaunch),
      CAMERA_LIST(u"CheckAutoLaunch", checkAutoLaunch),
      CAMERA_LIST(u"EnableSsuspend", enableSsuspend),
      CAMERA_LIST(u"DisableSsuspend", disableSsuspend),
      CAMERA_LIST(u"TurnOnLed", turnOnLed),
      CAMERA_LIST(u"TurnOffLed", turnOffLed),
      CAMERA_LIST(u"BlockStream", blockStream),
      CAMERA_LIST(u"StartStream", startStream),
      CAMERA_LIST(u"CameraTimeout", cameraTimeout),
  };
#undef CAMERA_LIST
  for (const NamedList& named : lists) {
    registers::ReadRegisterList(bufferPool, key, named.name, named.nameBytes, &named.list->entries,
                                &named.list->count);
  }

  registry::CloseKey(&deviceKey, key);
  registry::CloseKey(&deviceKey, deviceKeyHandle);
  return status;
}

// Every register list and the kept status path go back to the pool (the camera's destructor).
void Camera::FreeConfiguration() {
  CameraRegisterList* lists[] = {&startStream,
                                 &blockStream,
                                 &setUsbWork,
                                 &setUsbInit,
                                 &resetUsb,
                                 &disableSystem,
                                 &enableSystem,
                                 &powerOnCamera,
                                 &powerDownCamera,
                                 &disableSsuspend,
                                 &enableSsuspend,
                                 &turnOnLed,
                                 &turnOffLed,
                                 &resetCamera,
                                 &enableAutoLaunch,
                                 &disableAutoLaunch,
                                 &clearSnapButton,
                                 &cameraSetting,
                                 &usbSetting,
                                 &startVidCapCameraSetting,
                                 &startVidCapUsbSetting,
                                 &stopVidCapCameraSetting,
                                 &stopVidCapUsbSetting,
                                 &cameraTimeout,
                                 &checkAutoLaunch};
  for (CameraRegisterList* list : lists) {
    registers::FreeRegisterList(bufferPool, &list->entries, &list->count);
  }
  if (cameraStatusPath != nullptr) bufferPool->Free(cameraStatusPath);
  cameraStatusPath = nullptr;
}

ULONG Camera::GetDefaultQualityLevel() { return defaultQualityLevel; }
void Camera::GetDefaultQuantTables(UCHAR* yTable, UCHAR* uvTable) {
  memcpy(yTable, defaultYTable, sizeof defaultYTable);
  memcpy(uvTable, defaultUvTable, sizeof defaultUvTable);
}
void Camera::GetSensorSize(ULONG* width, ULONG* height) {
  *width = sensorWidth;
  *height = sensorHeight;
}
PWSTR Camera::GetCameraKeyPath() { return cameraKeyPath; }
UCHAR Camera::IsHighSpeed() { return highSpeed; }
