#include "camera/camera.h"

#include <cstring>

#include "camera/camera_values.h"
#include "config/setting_files.h"
#include "core/image_processor_interface.h"
#include "image/image_processor.h"

NTSTATUS CreateCamera(UnknownBase** result, REFGUID, IUnknown* outer, POOL_TYPE poolType) {
  return CreateTopLevelObject<Camera>(result, outer, poolType);
}

Camera::Camera(IUnknown* outerUnknown)
    : UnknownPart<Camera>(outerUnknown),
      supportEvent(1),
      bandwidthAllocateRule(0),
      physicalDevice(nullptr),
      interfaceDevice(nullptr),
      classDevice(nullptr),
      usbcamdContext(nullptr),
      idleAltSetting(0),
      detected(0),
      streamInformation(nullptr),
      streamCount(0),
      stillSupportType(0),
      supportStillPin(0),
      device(nullptr),
      bufferPool(nullptr),
      registerState{nullptr, registers::kDefaultSensorId, 0},
      stringTable{nullptr, 0, 0} {}

// Children go first, while the registry and the register lock they may use still work.
Camera::~Camera() {
  if (propertyLockReady != 0) {
    // No property request may be running while the property sets go.
    KeWaitForSingleObject(&propertyLock, Executive, KernelMode, FALSE, nullptr);
    KeReleaseSemaphore(&propertyLock, 0, 1, FALSE);
  }
  ReleaseChildren();
  if (bufferPool == nullptr) return;  // never initialised
  // Only a camera that was attached is detached; a failed detection keeps its "Camera not support".
  if (detected != 0) WriteAttachedCamera(u"Camera DeAttached");
  if (streamInformation != nullptr) bufferPool->Free(streamInformation);
  registers::DestroyRegisterLock(bufferPool, &registerState);
  settings::FreeStrings(bufferPool, &stringTable);
  FreeConfiguration();
  registry::ReleaseDeviceKey(&deviceKey);
}

NTSTATUS Camera::QueryClassInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_ICamera)) return AnswerInterface<ICamera>(this, result);
  if (IsEqualGuid(iid, IID_IRegisterAccess)) return AnswerInterface<IRegisterAccess>(this, result);
  if (IsEqualGuid(iid, IID_ICameraInfo)) return AnswerInterface<ICameraInfo>(this, result);
  if (IsEqualGuid(iid, IID_ICaptureControl)) return AnswerInterface<ICaptureControl>(this, result);
  if (IsEqualGuid(iid, IID_IFileReader)) return AnswerInterface<IFileReader>(this, result);
  if (IsEqualGuid(iid, IID_IImageProcessor)) {
    if (!NT_SUCCESS(EnsureImageProcessor())) {
      *result = nullptr;
      return STATUS_INVALID_PARAMETER;
    }
    return imageProcessorPart->QueryInterface(iid, result);
  }
  UnknownBase* child = nullptr;
  if (IsEqualGuid(iid, IID_IPropertySetList)) child = propertySetListPart;
  if (IsEqualGuid(iid, IID_IEventNotifier)) child = eventNotifierPart;
  if (IsEqualGuid(iid, IID_ILowLightControl)) child = lowLightControlPart;
  if (child != nullptr) return child->QueryInterface(iid, result);
  return UnknownBase::QueryInterface(iid, result);
}

NTSTATUS Camera::EnsureImageProcessor() {
  if (imageProcessorPart != nullptr) return STATUS_SUCCESS;
  // Making the processor reads its registry settings, which only passive level allows; a query
  // at raised IRQL (the button event's completion) finds none rather than reading there.
  if (KeGetCurrentIrql() != PASSIVE_LEVEL) return STATUS_INVALID_PARAMETER;
  WCHAR path[kRegistryPathChars];
  memcpy(path, cameraKeyPath, sizeof path);
  if (!camera_values::AppendPath(path, u"DataProcessing")) return STATUS_INVALID_PARAMETER;
  UnknownBase* part = nullptr;
  NTSTATUS status = CreateImageProcessor(&part, CLSID_ImageProcessor, path,
                                         static_cast<ICaptureControl*>(this), outer, NonPagedPool);
  if (!NT_SUCCESS(status) || part == nullptr) return STATUS_INVALID_PARAMETER;
  void* processor = nullptr;
  if (!NT_SUCCESS(part->QueryInterface(IID_IImageProcessor, &processor))) {
    part->Release();
    return STATUS_INVALID_PARAMETER;
  }
  // The interface's reference went to the root, which the camera must not hold: the processor's
  // own unknown keeps it alive.
  static_cast<IUnknown*>(processor)->Release();
  imageProcessor = static_cast<IImageProcessor*>(processor);
  imageProcessorPart = part;
  return STATUS_SUCCESS;
}

// ---- ICameraInfo --------------------------------------------------------------------------------
ULONG Camera::GetBandwidthAllocateRule() { return bandwidthAllocateRule; }

NTSTATUS Camera::Initialize(ICameraDevice* owner, DeviceContext* context,
                            PDEVICE_OBJECT classDeviceObject, PDEVICE_OBJECT interfaceDeviceObject,
                            PDEVICE_OBJECT physicalDeviceObject) {
  // The pool is part of the same device: kept without a reference, like every owner pointer.
  void* pool = nullptr;
  NTSTATUS status = outer->QueryInterface(IID_IBufferPool, &pool);
  if (!NT_SUCCESS(status)) return status;
  bufferPool = static_cast<IBufferPool*>(pool);
  bufferPool->Release();
  registers::CreateRegisterLock(bufferPool, &registerState);
  device = owner;
  usbcamdContext = context;
  classDevice = classDeviceObject;
  interfaceDevice = interfaceDeviceObject;
  physicalDevice = physicalDeviceObject;
  stillSupportType = 0;
  supportEvent = 1;
  bandwidthAllocateRule = 0;
  longPressPolls = 10;
  KeInitializeSemaphore(&propertyLock, 1, 1);
  propertyLockReady = 1;
  return LoadConfiguration();
}

UCHAR Camera::GetIdleAltSetting() { return idleAltSetting; }
ULONG Camera::GetStillSupportType() { return stillSupportType; }
UCHAR Camera::GetSupportStillPin() { return supportStillPin; }
UCHAR Camera::GetSupportEvent() { return supportEvent; }
DeviceContext* Camera::GetUsbcamdContext() { return usbcamdContext; }

// ---- ICaptureControl ----------------------------------------------------------------------------
NTSTATUS Camera::CustomPropertyRequest(PVOID, PVOID, ULONG, BOOLEAN) {
  return STATUS_NOT_IMPLEMENTED;
}

ULONG Camera::GetStreamInformation(HW_STREAM_INFORMATION** table) {
  *table = streamInformation;
  return streamCount;
}

NTSTATUS Camera::WriteStatus(PCWSTR, ULONG) { return STATUS_SUCCESS; }

// ---- Registers ----------------------------------------------------------------------------------
NTSTATUS Camera::SelectSensor() { return registers::SelectSensor(usbcamdContext, &registerState); }
NTSTATUS Camera::ReadRegister(USHORT registerIndex, PUCHAR buffer, PULONG count) {
  return registers::ReadRegister(usbcamdContext, registerIndex, buffer, count);
}
NTSTATUS Camera::WriteRegister(USHORT registerIndex, UCHAR value) {
  return registers::WriteRegister(usbcamdContext, registerIndex, value);
}
NTSTATUS Camera::WriteRegisterBlock(USHORT registerIndex, PUCHAR buffer, PULONG count) {
  return registers::WriteRegisterBlock(usbcamdContext, registerIndex, buffer, count);
}
NTSTATUS Camera::ReadSensorRegister(UCHAR sensorRegister, PUCHAR value) {
  return registers::ReadSensorRegister(usbcamdContext, sensorRegister, value);
}
NTSTATUS Camera::WriteSensorRegister(UCHAR sensorRegister, UCHAR value) {
  return registers::WriteSensorRegister(usbcamdContext, sensorRegister, value);
}
NTSTATUS Camera::WriteSensorRange(USHORT first, USHORT last, PUCHAR values) {
  return registers::WriteSensorRange(this, first, last, values);
}
NTSTATUS Camera::ReadSensorRange(USHORT first, USHORT last, PUCHAR values) {
  return registers::ReadSensorRange(this, first, last, values);
}
NTSTATUS Camera::ReadBridgeRange(USHORT first, USHORT last, PUCHAR values) {
  return registers::ReadBridgeRange(this, first, last, values);
}
NTSTATUS Camera::WriteBridgeRange(USHORT first, USHORT last, PUCHAR values) {
  return registers::WriteBridgeRange(this, first, last, values);
}
NTSTATUS Camera::ReadBridge(USHORT registerIndex, PUCHAR buffer, PULONG count) {
  return registers::ReadBridge(usbcamdContext, &registerState, this, registerIndex, buffer, count);
}
NTSTATUS Camera::WriteBridge(USHORT registerIndex, UCHAR value) {
  return registers::WriteBridge(usbcamdContext, &registerState, this, registerIndex, value);
}
NTSTATUS Camera::WriteBridgeBlock(USHORT registerIndex, PUCHAR buffer, PULONG count) {
  return registers::WriteBridgeBlock(usbcamdContext, &registerState, registerIndex, buffer, count);
}
NTSTATUS Camera::ReadSensorWithId(UCHAR deviceId, UCHAR sensorRegister, PUCHAR value) {
  return registers::ReadSensorWithId(usbcamdContext, &registerState, deviceId, sensorRegister,
                                     value);
}
NTSTATUS Camera::ReadSensor(UCHAR sensorRegister, PUCHAR value) {
  return registers::ReadSensor(usbcamdContext, &registerState, sensorRegister, value);
}
NTSTATUS Camera::WriteSensorWithId(UCHAR deviceId, UCHAR sensorRegister, UCHAR value) {
  return registers::WriteSensorWithId(usbcamdContext, &registerState, deviceId, sensorRegister,
                                      value);
}
NTSTATUS Camera::WriteSensor(UCHAR sensorRegister, UCHAR value) {
  return registers::WriteSensor(usbcamdContext, &registerState, sensorRegister, value);
}
NTSTATUS Camera::RunCommandBlock(const CommandBlock* block) {
  return registers::RunCommandBlock(this, block);
}
NTSTATUS Camera::RunBridgeList(const RegisterListEntry* list, ULONG count) {
  return registers::RunBridgeList(this, list, count);
}
NTSTATUS Camera::RunRegisterList(const RegisterListEntry* list, ULONG count, BOOLEAN toBridge) {
  return registers::RunRegisterList(this, list, count, toBridge);
}
NTSTATUS Camera::ReadRegisterList(HANDLE key, PCWSTR name, ULONG nameLength,
                                  RegisterListEntry** list, ULONG* count) {
  return registers::ReadRegisterList(bufferPool, key, name, nameLength, list, count);
}

// ---- Setting files ------------------------------------------------------------------------------
NTSTATUS Camera::LoadSettingFiles() {
  return settings::LoadSettingFiles(this, bufferPool, &stringTable);
}
NTSTATUS Camera::ParseSettingFile(const char* text, ULONG length) {
  return settings::ParseSettingFile(this, bufferPool, &stringTable, text, length);
}
const char* Camera::ReadLine(const char* position, const char* end, char* line, PULONG size) {
  return settings::ReadLine(position, end, line, size);
}
const char* Camera::SkipToLineEnd(const char* position, const char* end) {
  return settings::SkipToLineEnd(position, end);
}
const char* Camera::SkipBlanks(const char* position, const char* end) {
  return settings::SkipBlanks(position, end);
}
ULONG Camera::ReadSectionList(const char* position, const char* end, UCHAR** list,
                              PULONG listBytes) {
  return settings::ReadSectionList(bufferPool, position, end, list, listBytes);
}
const char* Camera::ReadToken(const char* position, const char* end, char* field, PULONG size,
                              char delimiter) {
  return settings::ReadToken(position, end, field, size, delimiter);
}
NTSTATUS Camera::ApplyAddRegLine(const char* line, ULONG length) {
  return settings::ApplyAddRegLine(this, bufferPool, &stringTable, line, length);
}
NTSTATUS Camera::LoadStrings(const char* position, const char* end) {
  return settings::LoadStrings(bufferPool, &stringTable, position, end);
}
void Camera::FreeStrings() { settings::FreeStrings(bufferPool, &stringTable); }
NTSTATUS Camera::ExpandToUnicode(char* field, PULONG length) {
  return settings::ExpandToUnicode(bufferPool, &stringTable, field, length);
}
void Camera::ParseNumber(const char* text, ULONG base, PULONG value) {
  settings::ParseNumber(text, base, value);
}
NTSTATUS Camera::OpenFile(PCWSTR directory, ACCESS_MASK access, ULONG shareAccess,
                          ULONG createOptions, PCWSTR fileName, PHANDLE handle) {
  return settings::OpenFile(directory, access, shareAccess, createOptions, fileName, handle);
}
NTSTATUS Camera::ReadFile(HANDLE handle, PVOID buffer, ULONG length, PULONG bytesRead,
                          PLARGE_INTEGER byteOffset) {
  return settings::ReadFile(handle, buffer, length, bytesRead, byteOffset);
}
