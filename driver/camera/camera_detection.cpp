// Which camera model is attached: every subkey of "CameraSetting\SupportCamera" describes one
// model and how to recognise it by a bridge register and the sensor's version registers. The first
// model that passes its checks is the camera; the others keep, in "ActReadVersion", what their
// version register read.
#include <cstring>

#include "camera/camera.h"
#include "camera/camera_values.h"

namespace {

using camera_values::ReadBytes;
using camera_values::ReadNumber;
using camera_values::Wait;

constexpr WCHAR kSupportCameraPath[] = u"CameraSetting\\SupportCamera";
constexpr WCHAR kDefaultCameraName[] = u"Default Rk4150BG";
// A bound on the subkey indices tried, so that a key whose enumeration keeps failing (other than
// by running out of entries) cannot hold detection forever.
constexpr ULONG kMaxModelKeys = 1024;

// The sensor identification. It carries over from one model key to the next: a model without its
// own "VersionCheck" is checked with the parameters that the models before it left.
struct SensorCheck {
  UCHAR sensorId;
  UCHAR sensorRegister;
  UCHAR mask;
  UCHAR expected;
};

NTSTATUS WriteString(HANDLE key, PCWSTR name, PCWSTR text) {
  ULONG bytes = (camera_values::TextLength(text) + 1) * sizeof(WCHAR);
  return registry::SetValue(key, name, REG_SZ, text, bytes);
}

}  // namespace

// Reads the sensor register twice, 5 ms apart: the first answer after a reset can be stale.
static NTSTATUS ReadSensorSettled(Camera* camera, UCHAR sensorId, UCHAR sensorRegister,
                                  UCHAR* value) {
  camera->ReadSensorWithId(sensorId, sensorRegister, value);
  Wait(5);
  return camera->ReadSensorWithId(sensorId, sensorRegister, value);
}

// Checks one model key; on acceptance the camera's name, key path and sensor size are set.
// *record tells whether a rejection is to be written as "ActReadVersion" with *lastRead.
static bool CheckModel(Camera* camera, HANDLE model, PCWSTR modelName, SensorCheck* check,
                       bool* record, UCHAR* lastRead) {
  IBufferPool* pool = camera->bufferPool;
  *record = true;
  *lastRead = 0;

  UCHAR oneChannel[3] = {};
  if (ReadBytes(pool, model, u"OneChannelCheck", oneChannel, sizeof oneChannel)) {
    check->sensorRegister = oneChannel[0];
    check->mask = oneChannel[2];
    UCHAR value = 0;
    NTSTATUS status = camera->ReadBridge(oneChannel[0], &value, nullptr);
    *lastRead = value;
    check->expected = oneChannel[1] & oneChannel[2];
    if (!NT_SUCCESS(status) || (value & oneChannel[2]) != check->expected) return false;
  }

  UCHAR version[4] = {};
  if (ReadBytes(pool, model, u"VersionCheck", version, sizeof version)) {
    *check = {version[0], version[1], version[2], version[3]};
  }

  if (!NT_SUCCESS(registers::ReadRegisterList(pool, model, u"ResetCamera", sizeof(u"ResetCamera"),
                                              &camera->resetCamera.entries,
                                              &camera->resetCamera.count))) {
    return false;
  }

  camera->registerState.sensorId = check->sensorId;
  camera->RunResetCamera();
  Wait(10);
  UCHAR value = 0;
  NTSTATUS status = ReadSensorSettled(camera, check->sensorId, check->sensorRegister, &value);
  *lastRead = value;
  if (!NT_SUCCESS(status) || (value & check->mask) != check->expected) return false;

  UCHAR minor[4] = {};
  if (ReadBytes(pool, model, u"MinorVersionCheck", minor, sizeof minor)) {
    status = ReadSensorSettled(camera, check->sensorId, minor[1], &value);
    if (!NT_SUCCESS(status) || (value & minor[2]) != minor[3]) {
      *record = false;
      return false;
    }
  }

  WCHAR keyPath[kRegistryPathChars] = {};
  memcpy(keyPath, kSupportCameraPath, sizeof kSupportCameraPath);
  if (!camera_values::AppendPath(keyPath, modelName)) {
    *record = false;  // a model key too long to be named again later cannot serve
    return false;
  }
  memcpy(camera->cameraKeyPath, keyPath, sizeof keyPath);
  memcpy(camera->cameraName, kDefaultCameraName, sizeof kDefaultCameraName);
  camera_values::ReadString(pool, model, u"CameraName", camera->cameraName);
  ReadNumber(pool, model, u"SensorWidth", &camera->sensorWidth);
  ReadNumber(pool, model, u"SensorHeight", &camera->sensorHeight);
  return true;
}

NTSTATUS Camera::DetectCamera() {
  // Setting files may add or change model keys, so they go in before any model key is read.
  LoadSettingFiles();
  RunEnableSystem();
  Wait(100);
  RunSetUsbInit();
  RunPowerOnCamera();
  Wait(100);

  HANDLE deviceKeyHandle = nullptr;
  NTSTATUS status =
      registry::OpenDeviceKey(&deviceKey, interfaceDevice, physicalDevice, &deviceKeyHandle);
  if (!NT_SUCCESS(status)) return status;
  HANDLE supportKey = nullptr;
  status = registry::OpenKey(deviceKeyHandle, KEY_ALL_ACCESS, kSupportCameraPath, &supportKey);
  if (!NT_SUCCESS(status)) {
    registry::CloseKey(&deviceKey, deviceKeyHandle);
    return status;
  }

  SensorCheck check = {registers::kDefaultSensorId, 0x29, 0xFF, 0x03};
  bool accepted = false;
  for (ULONG index = 0; index < kMaxModelKeys && !accepted; ++index) {
    WCHAR modelName[kRegistryPathChars];
    NTSTATUS enumerated =
        registry::EnumerateSubkeyName(bufferPool, supportKey, index, modelName, sizeof modelName);
    if (enumerated == STATUS_NO_MORE_ENTRIES) break;
    if (!NT_SUCCESS(enumerated)) continue;
    HANDLE model = nullptr;
    if (!NT_SUCCESS(registry::OpenKey(supportKey, KEY_ALL_ACCESS, modelName, &model))) continue;
    bool record = false;
    UCHAR lastRead = 0;
    accepted = CheckModel(this, model, modelName, &check, &record, &lastRead);
    if (!accepted) {
      if (record) {
        ULONG actRead = lastRead;
        registry::SetValue(model, u"ActReadVersion", REG_DWORD, &actRead, sizeof actRead);
      }
      registerState.sensorIdProgrammed = 0;
      registers::FreeRegisterList(bufferPool, &resetCamera.entries, &resetCamera.count);
    }
    registry::CloseKey(&deviceKey, model);
  }

  if (accepted) {
    detected = 1;
    status = WriteString(supportKey, u"AttachedCamera", cameraName);
    registerState.sensorId = check.sensorId;
  } else {
    WriteString(supportKey, u"AttachedCamera", u"Camera not support");
    status = STATUS_NOT_SUPPORTED;
  }
  registry::CloseKey(&deviceKey, supportKey);
  registry::CloseKey(&deviceKey, deviceKeyHandle);
  return status;
}

NTSTATUS Camera::WriteAttachedCamera(PCWSTR name) {
  return WriteSupportCameraString(u"AttachedCamera", name);
}

// Opens "CameraSetting\SupportCamera" of the device key for one write.
template <class Write>
static NTSTATUS WithSupportCameraKey(Camera* camera, Write write) {
  HANDLE deviceKeyHandle = nullptr;
  NTSTATUS status = registry::OpenDeviceKey(&camera->deviceKey, camera->interfaceDevice,
                                            camera->physicalDevice, &deviceKeyHandle);
  if (!NT_SUCCESS(status)) return status;
  HANDLE supportKey = nullptr;
  status = registry::OpenKey(deviceKeyHandle, KEY_ALL_ACCESS, kSupportCameraPath, &supportKey);
  if (NT_SUCCESS(status)) {
    status = write(supportKey);
    registry::CloseKey(&camera->deviceKey, supportKey);
  }
  registry::CloseKey(&camera->deviceKey, deviceKeyHandle);
  return status;
}

NTSTATUS Camera::WriteSupportCameraString(PCWSTR name, PCWSTR text) {
  return WithSupportCameraKey(this, [&](HANDLE key) { return WriteString(key, name, text); });
}

NTSTATUS Camera::WriteSupportCameraValue(PCWSTR name, ULONG* value) {
  if (name == nullptr || value == nullptr) return STATUS_INVALID_PARAMETER;
  return WithSupportCameraKey(this, [&](HANDLE key) {
    return registry::SetValue(key, name, REG_DWORD, value, sizeof *value);
  });
}
