#include "camera/camera.h"

#include <cstring>

namespace {

// The one format each stream offers until the format tables are read from the registry.
KSDATARANGE gBasicVideoRange = {sizeof(KSDATARANGE),
                                0,
                                0,
                                0,
                                KSDATAFORMAT_TYPE_VIDEO,
                                KSDATAFORMAT_SUBTYPE_RGB24,
                                KSDATAFORMAT_SPECIFIER_VIDEOINFO};
PKSDATAFORMAT gBasicFormats[] = {&gBasicVideoRange};
const KSPIN_MEDIUM gStandardMedium = {KSMEDIUMSETID_Standard, 0, 0};

bool SameGuid(const GUID& first, const GUID& second) { return IsEqualGuid(first, second); }

bool RangeAccepts(const KSDATARANGE& range, const KSDATAFORMAT& format) {
  return format.FormatSize >= sizeof(KSDATAFORMAT) &&
         SameGuid(format.MajorFormat, range.MajorFormat) &&
         SameGuid(format.SubFormat, range.SubFormat) && SameGuid(format.Specifier, range.Specifier);
}

}  // namespace

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
      supportStillPin(1),
      device(nullptr),
      bufferPool(nullptr),
      registerState{nullptr, registers::kDefaultSensorId, 0} {}

Camera::~Camera() {
  if (streamInformation != nullptr) bufferPool->Free(streamInformation);
  registers::DestroyRegisterLock(bufferPool, &registerState);
}

NTSTATUS Camera::QueryClassInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_ICamera)) return AnswerInterface<ICamera>(this, result);
  if (IsEqualGuid(iid, IID_IRegisterAccess)) return AnswerInterface<IRegisterAccess>(this, result);
  if (IsEqualGuid(iid, IID_ICameraInfo)) return AnswerInterface<ICameraInfo>(this, result);
  if (IsEqualGuid(iid, IID_ICaptureControl)) return AnswerInterface<ICaptureControl>(this, result);
  if (IsEqualGuid(iid, IID_IFileReader)) return AnswerInterface<IFileReader>(this, result);
  return UnknownBase::QueryInterface(iid, result);
}

// ---- ICameraInfo --------------------------------------------------------------------------------
ULONG Camera::GetDefaultQualityLevel() { return 2; }
void Camera::GetDefaultQuantTables(UCHAR* yTable, UCHAR* uvTable) {
  memset(yTable, 0, 64);
  memset(uvTable, 0, 64);
}
void Camera::GetSensorSize(ULONG* width, ULONG* height) {
  *width = 0;
  *height = 0;
}
ULONG Camera::GetBandwidthAllocateRule() { return bandwidthAllocateRule; }
ICaptureStream* Camera::GetVideoStream() { return nullptr; }
ICaptureStream* Camera::GetStillStream() { return nullptr; }
PWSTR Camera::GetCameraKeyPath() { return nullptr; }

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
  return STATUS_SUCCESS;
}

UCHAR Camera::GetIdleAltSetting() { return idleAltSetting; }
ULONG Camera::GetStillSupportType() { return stillSupportType; }
UCHAR Camera::GetSupportStillPin() { return supportStillPin; }
NTSTATUS Camera::DetectCamera() {
  detected = 1;
  return STATUS_SUCCESS;
}
UCHAR Camera::GetSupportEvent() { return supportEvent; }
UCHAR Camera::IsHighSpeed() { return 0; }
DeviceContext* Camera::GetUsbcamdContext() { return usbcamdContext; }

// ---- ICaptureControl ----------------------------------------------------------------------------
NTSTATUS Camera::CustomPropertyRequest(PVOID, PVOID, ULONG, BOOLEAN) {
  return STATUS_NOT_IMPLEMENTED;
}
NTSTATUS Camera::WriteSupportCameraValue(PCWSTR, ULONG*) { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunEnableAutoLaunch() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunDisableAutoLaunch() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunClearSnapButton() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunResetCamera() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunEnableSsuspend() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunDisableSsuspend() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunTurnOnLed() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunTurnOffLed() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunEnableSystem() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunDisableSystem() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunPowerOnCamera() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunPowerDownCamera() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunSetUsbWork() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunSetUsbInit() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunBlockStream() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunStartStream() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::RunResetUsb() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::SelectAltSetting(UCHAR) { return STATUS_NOT_IMPLEMENTED; }

// Describes the video stream and, with a still pin, the still stream.
NTSTATUS Camera::Prepare() {
  if (streamInformation != nullptr) return STATUS_SUCCESS;
  ULONG count = supportStillPin != 0 ? 2 : 1;
  auto* records = static_cast<HW_STREAM_INFORMATION*>(
      bufferPool->Allocate(NonPagedPool, count * sizeof(HW_STREAM_INFORMATION), kBufferPersistent));
  if (records == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  memset(records, 0, count * sizeof(HW_STREAM_INFORMATION));
  for (ULONG index = 0; index < count; ++index) {
    HW_STREAM_INFORMATION& record = records[index];
    record.NumberOfPossibleInstances = 1;
    record.DataFlow = KSPIN_DATAFLOW_OUT;
    record.DataAccessible = TRUE;
    record.NumberOfFormatArrayEntries = 1;
    record.StreamFormatsArray = gBasicFormats;
    record.Category = index == 0 ? &PINNAME_VIDEO_CAPTURE : &PINNAME_VIDEO_STILL;
    record.Name = record.Category;
    record.MediumsCount = 1;
    record.Mediums = &gStandardMedium;
  }
  streamInformation = records;
  streamCount = count;
  return STATUS_SUCCESS;
}

NTSTATUS Camera::PowerUp() { return STATUS_SUCCESS; }
NTSTATUS Camera::Shutdown() { return STATUS_SUCCESS; }

ULONG Camera::GetStreamInformation(HW_STREAM_INFORMATION** table) {
  *table = streamInformation;
  return streamCount;
}

ULONG Camera::GetDeviceProperties(KSPROPERTY_SET** table) {
  *table = nullptr;
  return 0;
}

NTSTATUS Camera::MatchStreamFormat(PKSDATAFORMAT format, ULONG streamNumber) {
  if (format == nullptr || streamNumber >= streamCount) return STATUS_NO_MATCH;
  const HW_STREAM_INFORMATION& record = streamInformation[streamNumber];
  for (ULONG index = 0; index < record.NumberOfFormatArrayEntries; ++index) {
    if (RangeAccepts(*record.StreamFormatsArray[index], *format)) return STATUS_SUCCESS;
  }
  return STATUS_NO_MATCH;
}

// Answers with the 64-byte format of the first range that accepts the asked range.
NTSTATUS Camera::DataIntersection(PHW_STREAM_REQUEST_BLOCK request) {
  STREAM_DATA_INTERSECT_INFO* info = request->CommandData.IntersectInfo;
  if (info == nullptr || info->DataRange == nullptr ||
      !NT_SUCCESS(MatchStreamFormat(info->DataRange, info->StreamNumber))) {
    return STATUS_NO_MATCH;
  }
  const ULONG size = sizeof(KSDATAFORMAT);
  if (info->SizeOfDataFormatBuffer == 0) {
    request->ActualBytesTransferred = size;
    return STATUS_BUFFER_OVERFLOW;
  }
  if (info->SizeOfDataFormatBuffer == sizeof(ULONG)) {
    memcpy(info->DataFormatBuffer, &size, sizeof(ULONG));
    request->ActualBytesTransferred = sizeof(ULONG);
    return STATUS_SUCCESS;
  }
  if (info->SizeOfDataFormatBuffer < size) return STATUS_BUFFER_TOO_SMALL;
  memcpy(info->DataFormatBuffer, streamInformation[info->StreamNumber].StreamFormatsArray[0], size);
  request->ActualBytesTransferred = size;
  return STATUS_SUCCESS;
}

NTSTATUS Camera::PropertyRequest(BOOLEAN, PKSPROPERTY, ULONG, PVOID, ULONG, PULONG returned) {
  if (returned != nullptr) *returned = 0;
  return STATUS_NOT_IMPLEMENTED;
}
NTSTATUS Camera::DevicePropertyRequest(BOOLEAN, PHW_STREAM_REQUEST_BLOCK) {
  return STATUS_NOT_IMPLEMENTED;
}
NTSTATUS Camera::SaveState(PDEVICE_OBJECT, DeviceContext*) { return STATUS_SUCCESS; }
NTSTATUS Camera::RestoreState(PDEVICE_OBJECT, DeviceContext*) { return STATUS_SUCCESS; }
NTSTATUS Camera::StartCapture(PDEVICE_OBJECT, DeviceContext*, ULONG) { return STATUS_SUCCESS; }
NTSTATUS Camera::AllocateBandwidth(PDEVICE_OBJECT, DeviceContext*, PULONG rawFrameLength, PVOID,
                                   ULONG) {
  if (rawFrameLength != nullptr) *rawFrameLength = 0;
  return STATUS_SUCCESS;
}
NTSTATUS Camera::FreeBandwidth(PDEVICE_OBJECT, DeviceContext*, ULONG) { return STATUS_SUCCESS; }
NTSTATUS Camera::StopCapture(PDEVICE_OBJECT, DeviceContext*, ULONG) { return STATUS_SUCCESS; }
NTSTATUS Camera::PollSnapButton() { return STATUS_NOT_IMPLEMENTED; }
NTSTATUS Camera::GetAutoCloseSettings(UCHAR* enabled, ULONG* longPressPolls) {
  *enabled = 0;
  *longPressPolls = 10;
  return STATUS_SUCCESS;
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
