// The Camera: the one object per device that knows the attached model and its configuration. The
// device object creates it at initialisation and routes hardware-related requests to it.
//
// This is the camera's first form: its five interfaces in their base order, the values the device
// object reads from it, one video and one still stream description and the format match over them,
// and the capture and power steps as successful no-ops. Operations that need the registry, the
// register lists and the streams' format tables answer STATUS_NOT_IMPLEMENTED until they arrive.
#pragma once

#include "config/command_block.h"
#include "config/register_access.h"
#include "config/register_lists.h"
#include "core/buffer_pool.h"
#include "core/device_context.h"

class ICameraDevice;
class ICaptureStream;

class ICamera : public IUnknown {
 public:
  // Registers without the lock: used inside the locked operations and during detection.
  virtual NTSTATUS SelectSensor() = 0;
  virtual NTSTATUS ReadRegister(USHORT registerIndex, PUCHAR buffer, PULONG count) = 0;
  virtual NTSTATUS WriteRegister(USHORT registerIndex, UCHAR value) = 0;
  virtual NTSTATUS WriteRegisterBlock(USHORT registerIndex, PUCHAR buffer, PULONG count) = 0;
  virtual NTSTATUS ReadSensorRegister(UCHAR sensorRegister, PUCHAR value) = 0;
  virtual NTSTATUS WriteSensorRegister(UCHAR sensorRegister, UCHAR value) = 0;

 protected:
  ~ICamera() = default;
};

// Every register access of the other objects: each operation holds registerLock for its duration.
class IRegisterAccess : public IUnknown {
 public:
  virtual NTSTATUS WriteSensorRange(USHORT first, USHORT last, PUCHAR values) = 0;
  virtual NTSTATUS ReadSensorRange(USHORT first, USHORT last, PUCHAR values) = 0;
  virtual NTSTATUS ReadBridgeRange(USHORT first, USHORT last, PUCHAR values) = 0;
  virtual NTSTATUS WriteBridgeRange(USHORT first, USHORT last, PUCHAR values) = 0;
  virtual NTSTATUS ReadBridge(USHORT registerIndex, PUCHAR buffer, PULONG count) = 0;
  virtual NTSTATUS WriteBridge(USHORT registerIndex, UCHAR value) = 0;
  virtual NTSTATUS WriteBridgeBlock(USHORT registerIndex, PUCHAR buffer, PULONG count) = 0;
  virtual NTSTATUS ReadSensorWithId(UCHAR deviceId, UCHAR sensorRegister, PUCHAR value) = 0;
  virtual NTSTATUS ReadSensor(UCHAR sensorRegister, PUCHAR value) = 0;
  virtual NTSTATUS WriteSensorWithId(UCHAR deviceId, UCHAR sensorRegister, UCHAR value) = 0;
  virtual NTSTATUS WriteSensor(UCHAR sensorRegister, UCHAR value) = 0;
  virtual NTSTATUS RunCommandBlock(const CommandBlock* block) = 0;

 protected:
  ~IRegisterAccess() = default;
};

class ICameraInfo : public IUnknown {
 public:
  virtual ULONG GetDefaultQualityLevel() = 0;
  virtual void GetDefaultQuantTables(UCHAR* yTable, UCHAR* uvTable) = 0;
  virtual void GetSensorSize(ULONG* width, ULONG* height) = 0;
  virtual ULONG GetBandwidthAllocateRule() = 0;
  virtual ICaptureStream* GetVideoStream() = 0;
  virtual ICaptureStream* GetStillStream() = 0;
  virtual PWSTR GetCameraKeyPath() = 0;
  virtual NTSTATUS Initialize(ICameraDevice* device, DeviceContext* context,
                              PDEVICE_OBJECT classDevice, PDEVICE_OBJECT interfaceDevice,
                              PDEVICE_OBJECT physicalDevice) = 0;
  virtual UCHAR GetIdleAltSetting() = 0;
  virtual ULONG GetStillSupportType() = 0;
  virtual UCHAR GetSupportStillPin() = 0;
  virtual NTSTATUS DetectCamera() = 0;
  virtual UCHAR GetSupportEvent() = 0;
  virtual UCHAR IsHighSpeed() = 0;
  virtual DeviceContext* GetUsbcamdContext() = 0;

 protected:
  ~ICameraInfo() = default;
};

class ICaptureControl : public IUnknown {
 public:
  virtual NTSTATUS CustomPropertyRequest(PVOID request, PVOID reply, ULONG replySize,
                                         BOOLEAN set) = 0;
  virtual NTSTATUS WriteSupportCameraValue(PCWSTR name, ULONG* value) = 0;
  virtual NTSTATUS RunEnableAutoLaunch() = 0;
  virtual NTSTATUS RunDisableAutoLaunch() = 0;
  virtual NTSTATUS RunClearSnapButton() = 0;
  virtual NTSTATUS RunResetCamera() = 0;
  virtual NTSTATUS RunEnableSsuspend() = 0;
  virtual NTSTATUS RunDisableSsuspend() = 0;
  virtual NTSTATUS RunTurnOnLed() = 0;
  virtual NTSTATUS RunTurnOffLed() = 0;
  virtual NTSTATUS RunEnableSystem() = 0;
  virtual NTSTATUS RunDisableSystem() = 0;
  virtual NTSTATUS RunPowerOnCamera() = 0;
  virtual NTSTATUS RunPowerDownCamera() = 0;
  virtual NTSTATUS RunSetUsbWork() = 0;
  virtual NTSTATUS RunSetUsbInit() = 0;
  virtual NTSTATUS RunBlockStream() = 0;
  virtual NTSTATUS RunStartStream() = 0;
  virtual NTSTATUS RunResetUsb() = 0;
  virtual NTSTATUS SelectAltSetting(UCHAR alternateSetting) = 0;
  virtual NTSTATUS Prepare() = 0;
  virtual NTSTATUS PowerUp() = 0;
  virtual NTSTATUS Shutdown() = 0;
  // The stream information records and their count.
  virtual ULONG GetStreamInformation(HW_STREAM_INFORMATION** table) = 0;
  // The device's property sets and their count; 0 and null without any.
  virtual ULONG GetDeviceProperties(KSPROPERTY_SET** table) = 0;
  virtual NTSTATUS MatchStreamFormat(PKSDATAFORMAT format, ULONG streamNumber) = 0;
  virtual NTSTATUS DataIntersection(PHW_STREAM_REQUEST_BLOCK request) = 0;
  virtual NTSTATUS PropertyRequest(BOOLEAN set, PKSPROPERTY property, ULONG inputSize,
                                   PVOID propertyInfo, ULONG outputSize, PULONG returned) = 0;
  virtual NTSTATUS DevicePropertyRequest(BOOLEAN set, PHW_STREAM_REQUEST_BLOCK request) = 0;
  virtual NTSTATUS SaveState(PDEVICE_OBJECT busDevice, DeviceContext* context) = 0;
  virtual NTSTATUS RestoreState(PDEVICE_OBJECT busDevice, DeviceContext* context) = 0;
  virtual NTSTATUS StartCapture(PDEVICE_OBJECT busDevice, DeviceContext* context,
                                ULONG streamNumber) = 0;
  virtual NTSTATUS AllocateBandwidth(PDEVICE_OBJECT busDevice, DeviceContext* context,
                                     PULONG rawFrameLength, PVOID format, ULONG streamNumber) = 0;
  virtual NTSTATUS FreeBandwidth(PDEVICE_OBJECT busDevice, DeviceContext* context,
                                 ULONG streamNumber) = 0;
  virtual NTSTATUS StopCapture(PDEVICE_OBJECT busDevice, DeviceContext* context,
                               ULONG streamNumber) = 0;
  virtual NTSTATUS PollSnapButton() = 0;
  virtual NTSTATUS GetAutoCloseSettings(UCHAR* enabled, ULONG* longPressPolls) = 0;
  virtual NTSTATUS WriteStatus(PCWSTR name, ULONG value) = 0;

 protected:
  ~ICaptureControl() = default;
};

class IFileReader : public IUnknown {
 protected:
  ~IFileReader() = default;
};

class Camera : public Delegating<ICamera, Camera>,
               public Delegating<IRegisterAccess, Camera>,
               public Delegating<ICameraInfo, Camera>,
               public Delegating<ICaptureControl, Camera>,
               public Delegating<IFileReader, Camera>,
               public UnknownPart<Camera> {
 public:
  explicit Camera(IUnknown* outerUnknown);
  ~Camera();

  NTSTATUS QueryClassInterface(REFGUID iid, void** result);

  // ICamera: registers without the lock
  NTSTATUS SelectSensor() override;
  NTSTATUS ReadRegister(USHORT registerIndex, PUCHAR buffer, PULONG count) override;
  NTSTATUS WriteRegister(USHORT registerIndex, UCHAR value) override;
  NTSTATUS WriteRegisterBlock(USHORT registerIndex, PUCHAR buffer, PULONG count) override;
  NTSTATUS ReadSensorRegister(UCHAR sensorRegister, PUCHAR value) override;
  NTSTATUS WriteSensorRegister(UCHAR sensorRegister, UCHAR value) override;

  // IRegisterAccess
  NTSTATUS WriteSensorRange(USHORT first, USHORT last, PUCHAR values) override;
  NTSTATUS ReadSensorRange(USHORT first, USHORT last, PUCHAR values) override;
  NTSTATUS ReadBridgeRange(USHORT first, USHORT last, PUCHAR values) override;
  NTSTATUS WriteBridgeRange(USHORT first, USHORT last, PUCHAR values) override;
  NTSTATUS ReadBridge(USHORT registerIndex, PUCHAR buffer, PULONG count) override;
  NTSTATUS WriteBridge(USHORT registerIndex, UCHAR value) override;
  NTSTATUS WriteBridgeBlock(USHORT registerIndex, PUCHAR buffer, PULONG count) override;
  NTSTATUS ReadSensorWithId(UCHAR deviceId, UCHAR sensorRegister, PUCHAR value) override;
  NTSTATUS ReadSensor(UCHAR sensorRegister, PUCHAR value) override;
  NTSTATUS WriteSensorWithId(UCHAR deviceId, UCHAR sensorRegister, UCHAR value) override;
  NTSTATUS WriteSensor(UCHAR sensorRegister, UCHAR value) override;
  NTSTATUS RunCommandBlock(const CommandBlock* block) override;

  // Register lists, for the camera's owners of lists.
  NTSTATUS RunBridgeList(const RegisterListEntry* list, ULONG count);
  NTSTATUS RunRegisterList(const RegisterListEntry* list, ULONG count, BOOLEAN toBridge);
  NTSTATUS ReadRegisterList(HANDLE key, PCWSTR name, ULONG nameLength, RegisterListEntry** list,
                            ULONG* count);

  // ICameraInfo
  ULONG GetDefaultQualityLevel() override;
  void GetDefaultQuantTables(UCHAR* yTable, UCHAR* uvTable) override;
  void GetSensorSize(ULONG* width, ULONG* height) override;
  ULONG GetBandwidthAllocateRule() override;
  ICaptureStream* GetVideoStream() override;
  ICaptureStream* GetStillStream() override;
  PWSTR GetCameraKeyPath() override;
  NTSTATUS Initialize(ICameraDevice* device, DeviceContext* context, PDEVICE_OBJECT classDevice,
                      PDEVICE_OBJECT interfaceDevice, PDEVICE_OBJECT physicalDevice) override;
  UCHAR GetIdleAltSetting() override;
  ULONG GetStillSupportType() override;
  UCHAR GetSupportStillPin() override;
  NTSTATUS DetectCamera() override;
  UCHAR GetSupportEvent() override;
  UCHAR IsHighSpeed() override;
  DeviceContext* GetUsbcamdContext() override;

  // ICaptureControl
  NTSTATUS CustomPropertyRequest(PVOID request, PVOID reply, ULONG replySize, BOOLEAN set) override;
  NTSTATUS WriteSupportCameraValue(PCWSTR name, ULONG* value) override;
  NTSTATUS RunEnableAutoLaunch() override;
  NTSTATUS RunDisableAutoLaunch() override;
  NTSTATUS RunClearSnapButton() override;
  NTSTATUS RunResetCamera() override;
  NTSTATUS RunEnableSsuspend() override;
  NTSTATUS RunDisableSsuspend() override;
  NTSTATUS RunTurnOnLed() override;
  NTSTATUS RunTurnOffLed() override;
  NTSTATUS RunEnableSystem() override;
  NTSTATUS RunDisableSystem() override;
  NTSTATUS RunPowerOnCamera() override;
  NTSTATUS RunPowerDownCamera() override;
  NTSTATUS RunSetUsbWork() override;
  NTSTATUS RunSetUsbInit() override;
  NTSTATUS RunBlockStream() override;
  NTSTATUS RunStartStream() override;
  NTSTATUS RunResetUsb() override;
  NTSTATUS SelectAltSetting(UCHAR alternateSetting) override;
  NTSTATUS Prepare() override;
  NTSTATUS PowerUp() override;
  NTSTATUS Shutdown() override;
  ULONG GetStreamInformation(HW_STREAM_INFORMATION** table) override;
  ULONG GetDeviceProperties(KSPROPERTY_SET** table) override;
  NTSTATUS MatchStreamFormat(PKSDATAFORMAT format, ULONG streamNumber) override;
  NTSTATUS DataIntersection(PHW_STREAM_REQUEST_BLOCK request) override;
  NTSTATUS PropertyRequest(BOOLEAN set, PKSPROPERTY property, ULONG inputSize, PVOID propertyInfo,
                           ULONG outputSize, PULONG returned) override;
  NTSTATUS DevicePropertyRequest(BOOLEAN set, PHW_STREAM_REQUEST_BLOCK request) override;
  NTSTATUS SaveState(PDEVICE_OBJECT busDevice, DeviceContext* context) override;
  NTSTATUS RestoreState(PDEVICE_OBJECT busDevice, DeviceContext* context) override;
  NTSTATUS StartCapture(PDEVICE_OBJECT busDevice, DeviceContext* context,
                        ULONG streamNumber) override;
  NTSTATUS AllocateBandwidth(PDEVICE_OBJECT busDevice, DeviceContext* context,
                             PULONG rawFrameLength, PVOID format, ULONG streamNumber) override;
  NTSTATUS FreeBandwidth(PDEVICE_OBJECT busDevice, DeviceContext* context,
                         ULONG streamNumber) override;
  NTSTATUS StopCapture(PDEVICE_OBJECT busDevice, DeviceContext* context,
                       ULONG streamNumber) override;
  NTSTATUS PollSnapButton() override;
  NTSTATUS GetAutoCloseSettings(UCHAR* enabled, ULONG* longPressPolls) override;
  NTSTATUS WriteStatus(PCWSTR name, ULONG value) override;

  // Fields.
  UCHAR supportEvent;
  ULONG bandwidthAllocateRule;
  PDEVICE_OBJECT physicalDevice;
  PDEVICE_OBJECT interfaceDevice;
  PDEVICE_OBJECT classDevice;
  DeviceContext* usbcamdContext;
  UCHAR idleAltSetting;
  UCHAR detected;
  HW_STREAM_INFORMATION* streamInformation;  // streamCount records, persistent pool kind
  ULONG streamCount;
  ULONG stillSupportType;
  UCHAR supportStillPin;
  ICameraDevice* device;              // the owning device, no reference
  IBufferPool* bufferPool;            // no reference
  RegisterAccessState registerState;  // registerLock, sensorId, sensorIdProgrammed
};

NTSTATUS CreateCamera(UnknownBase** result, REFGUID clsid, IUnknown* outer, POOL_TYPE poolType);
