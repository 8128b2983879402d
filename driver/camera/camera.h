// The Camera: the one object per device that knows the attached model and its configuration. The
// device object creates it at initialisation and routes hardware-related requests to it.
//
// Its five interfaces sit in their fixed base order. It detects the attached model from the
// registry, reads the model's configuration and register lists, makes the capture streams with
// their format tables, and runs the capture and power sequences over the bridge and sensor.
#pragma once

#include "config/command_block.h"
#include "config/register_access.h"
#include "config/register_lists.h"
#include "config/registry_access.h"
#include "config/setting_file_parser.h"
#include "core/buffer_pool.h"
#include "core/device_context.h"

class ICameraDevice;
class ICaptureStream;
class IEventNotifier;
class IImageProcessor;
class IPropertySetList;
class ILowLightControl;

// One register list held by the camera: entries from the persistent pool kind, or null and 0.
struct CameraRegisterList {
  RegisterListEntry* entries;
  ULONG count;
};

class ICamera : public IUnknown {
 public:
  // The registry operations that every object reads and writes the registry through.
  virtual NTSTATUS QueryValue(HANDLE key, PCWSTR name, ULONG nameLength, PVOID data,
                              PULONG dataLength) = 0;
  virtual NTSTATUS SetValue(HANDLE key, PCWSTR name, ULONG type, PVOID data, ULONG size) = 0;
  virtual NTSTATUS EnumerateValueName(HANDLE key, ULONG index, PWSTR name, ULONG size) = 0;
  virtual NTSTATUS EnumerateSubkeyName(HANDLE key, ULONG index, PWSTR name, ULONG size) = 0;
  virtual NTSTATUS OpenKey(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key) = 0;
  virtual NTSTATUS CreateKeyPath(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key) = 0;
  virtual NTSTATUS OpenDeviceKey(PHANDLE key) = 0;
  virtual NTSTATUS DeleteKey(HANDLE key) = 0;
  virtual NTSTATUS CloseKey(HANDLE handle) = 0;
  // Registers without the lock: used inside the locked operations and during detection.
  virtual NTSTATUS SelectSensor() = 0;
  virtual NTSTATUS ReadRegister(USHORT registerIndex, PUCHAR buffer, PULONG count) = 0;
  virtual NTSTATUS WriteRegister(USHORT registerIndex, UCHAR value) = 0;
  virtual NTSTATUS WriteRegisterBlock(USHORT registerIndex, PUCHAR buffer, PULONG count) = 0;
  virtual NTSTATUS ReadSensorRegister(UCHAR sensorRegister, PUCHAR value) = 0;
  virtual NTSTATUS WriteSensorRegister(UCHAR sensorRegister, UCHAR value) = 0;
  // Streams, capture lists and children, made while the camera is prepared.
  virtual NTSTATUS CreateStreams() = 0;
  virtual NTSTATUS LoadUsbCaptureLists() = 0;
  virtual NTSTATUS LoadSensorCaptureLists() = 0;
  virtual NTSTATUS CreatePropertySetList() = 0;
  virtual NTSTATUS CreateEventNotifier() = 0;
  virtual NTSTATUS CreateLowLightControl() = 0;
  virtual NTSTATUS CreateKey(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key) = 0;
  virtual NTSTATUS LoadConfiguration() = 0;
  // Setting files, applied at detection; the parser's steps over the file's text.
  virtual NTSTATUS LoadSettingFiles() = 0;
  virtual NTSTATUS ParseSettingFile(const char* text, ULONG length) = 0;
  virtual const char* ReadLine(const char* position, const char* end, char* line, PULONG size) = 0;
  virtual const char* SkipToLineEnd(const char* position, const char* end) = 0;
  virtual const char* SkipBlanks(const char* position, const char* end) = 0;
  virtual ULONG ReadSectionList(const char* position, const char* end, UCHAR** list,
                                PULONG listBytes) = 0;
  virtual const char* ReadToken(const char* position, const char* end, char* field, PULONG size,
                                char delimiter) = 0;
  virtual NTSTATUS ApplyAddRegLine(const char* line, ULONG length) = 0;
  virtual NTSTATUS LoadStrings(const char* position, const char* end) = 0;
  virtual void FreeStrings() = 0;
  virtual NTSTATUS ExpandToUnicode(char* field, PULONG length) = 0;
  virtual void ParseNumber(const char* text, ULONG base, PULONG value) = 0;

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
  // The context (or null) is the device whose button polling starts or stops with the list.
  virtual NTSTATUS RunEnableAutoLaunch(DeviceContext* context) = 0;
  virtual NTSTATUS RunDisableAutoLaunch(DeviceContext* context) = 0;
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
  // One poll of the snapshot button on behalf of the event notifier's polling of this device.
  virtual void PollSnapButton(DeviceContext* context) = 0;
  // Stores "UseGpio0" in *useGpio0 and answers "EnableAutoClose".
  virtual UCHAR GetAutoCloseSettings(UCHAR* useGpio0) = 0;
  virtual NTSTATUS WriteStatus(PCWSTR name, ULONG value) = 0;

 protected:
  ~ICaptureControl() = default;
};

class IFileReader : public IUnknown {
 public:
  virtual NTSTATUS OpenFile(PCWSTR directory, ACCESS_MASK access, ULONG shareAccess,
                            ULONG createOptions, PCWSTR fileName, PHANDLE handle) = 0;
  virtual NTSTATUS ReadFile(HANDLE handle, PVOID buffer, ULONG length, PULONG bytesRead,
                            PLARGE_INTEGER byteOffset) = 0;

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
  // Creates the image processor on its first query; STATUS_INVALID_PARAMETER when it cannot be.
  NTSTATUS EnsureImageProcessor();
  // Returns every register list and the status path copy to the pool.
  void FreeConfiguration();
  // Releases the children in their order of going: notifier, property sets, streams, image
  // processor, low-light control.
  void ReleaseChildren();
  void ReleaseStreams();
  // Writes "AttachedCamera" of "CameraSetting\SupportCamera" (REG_SZ).
  NTSTATUS WriteAttachedCamera(PCWSTR name);
  NTSTATUS WriteSupportCameraString(PCWSTR name, PCWSTR text);
  // The streams as capture control sees them (camera_streams.cpp).
  bool IsVideoStreamOpen();
  void ReapplyVideoFormat();
  NTSTATUS SaveVideoFormat();
  NTSTATUS OpenStreamFormat(ULONG streamNumber, PVOID format, PULONG rawFrameLength);
  NTSTATUS CloseStreamFormat(ULONG streamNumber);
  bool HasStream(ULONG streamNumber);
  // The stream of a stream number, or null.
  ICaptureStream* StreamOf(ULONG streamNumber);
  // The property sets as capture control sees them (camera_children.cpp).
  void RestorePropertyValues();
  NTSTATUS ShutdownProperties();

  // ICamera: registry (camera_registry.cpp)
  NTSTATUS QueryValue(HANDLE key, PCWSTR name, ULONG nameLength, PVOID data,
                      PULONG dataLength) override;
  NTSTATUS SetValue(HANDLE key, PCWSTR name, ULONG type, PVOID data, ULONG size) override;
  NTSTATUS EnumerateValueName(HANDLE key, ULONG index, PWSTR name, ULONG size) override;
  NTSTATUS EnumerateSubkeyName(HANDLE key, ULONG index, PWSTR name, ULONG size) override;
  NTSTATUS OpenKey(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key) override;
  NTSTATUS CreateKeyPath(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key) override;
  NTSTATUS OpenDeviceKey(PHANDLE key) override;
  NTSTATUS DeleteKey(HANDLE key) override;
  NTSTATUS CloseKey(HANDLE handle) override;
  NTSTATUS CreateKey(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key) override;

  // ICamera
  NTSTATUS CreateStreams() override;
  NTSTATUS LoadUsbCaptureLists() override;
  NTSTATUS LoadSensorCaptureLists() override;
  NTSTATUS CreatePropertySetList() override;
  NTSTATUS CreateEventNotifier() override;
  NTSTATUS CreateLowLightControl() override;
  NTSTATUS LoadConfiguration() override;

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

  // ICamera: setting files
  NTSTATUS LoadSettingFiles() override;
  NTSTATUS ParseSettingFile(const char* text, ULONG length) override;
  const char* ReadLine(const char* position, const char* end, char* line, PULONG size) override;
  const char* SkipToLineEnd(const char* position, const char* end) override;
  const char* SkipBlanks(const char* position, const char* end) override;
  ULONG ReadSectionList(const char* position, const char* end, UCHAR** list,
                        PULONG listBytes) override;
  const char* ReadToken(const char* position, const char* end, char* field, PULONG size,
                        char delimiter) override;
  NTSTATUS ApplyAddRegLine(const char* line, ULONG length) override;
  NTSTATUS LoadStrings(const char* position, const char* end) override;
  void FreeStrings() override;
  NTSTATUS ExpandToUnicode(char* field, PULONG length) override;
  void ParseNumber(const char* text, ULONG base, PULONG value) override;

  // IFileReader
  NTSTATUS OpenFile(PCWSTR directory, ACCESS_MASK access, ULONG shareAccess, ULONG createOptions,
                    PCWSTR fileName, PHANDLE handle) override;
  NTSTATUS ReadFile(HANDLE handle, PVOID buffer, ULONG length, PULONG bytesRead,
                    PLARGE_INTEGER byteOffset) override;

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
  NTSTATUS RunEnableAutoLaunch(DeviceContext* context) override;
  NTSTATUS RunDisableAutoLaunch(DeviceContext* context) override;
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
  void PollSnapButton(DeviceContext* context) override;
  UCHAR GetAutoCloseSettings(UCHAR* useGpio0) override;
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
  StringTable stringTable;            // of the setting file being parsed

  // Register lists of the device ("CameraSetting") and of the attached model's key.
  CameraRegisterList startStream{}, blockStream{}, setUsbWork{}, setUsbInit{}, resetUsb{},
      disableSystem{}, enableSystem{}, powerOnCamera{}, powerDownCamera{}, disableSsuspend{},
      enableSsuspend{}, turnOnLed{}, turnOffLed{}, resetCamera{}, enableAutoLaunch{},
      disableAutoLaunch{}, clearSnapButton{}, cameraSetting{}, usbSetting{},
      startVidCapCameraSetting{}, startVidCapUsbSetting{}, stopVidCapCameraSetting{},
      stopVidCapUsbSetting{}, cameraTimeout{};
  CameraRegisterList checkAutoLaunch{};  // only the first entry is used, as a test
  DeviceKeyCache deviceKey{};            // deviceKeyHandle, classKeyPath
  WCHAR cameraName[kRegistryPathChars]{};
  WCHAR cameraKeyPath[kRegistryPathChars]{};  // the model key, relative to the device key
  // Children, one reference each.
  ICaptureStream* videoStream = nullptr;
  ICaptureStream* stillStream = nullptr;
  IImageProcessor* imageProcessor = nullptr;  // of imageProcessorPart, no reference of its own
  UnknownBase* imageProcessorPart = nullptr;  // the processor's own unknown, one reference
  IPropertySetList* propertySetList = nullptr;
  IEventNotifier* eventNotifier = nullptr;
  ILowLightControl* lowLightControl = nullptr;
  // The aggregated children's own unknowns hold their references (a reference taken through one
  // of their interfaces would land on the root); the three pointers above are views of them.
  UnknownBase* propertySetListPart = nullptr;
  UnknownBase* eventNotifierPart = nullptr;
  UnknownBase* lowLightControlPart = nullptr;
  UCHAR pollingEnabled = 0;
  UCHAR buttonDown = 0;
  ULONG sensorWidth = 0;
  ULONG sensorHeight = 0;
  ULONG defaultQualityLevel = 2;
  UCHAR defaultYTable[64]{};
  UCHAR defaultUvTable[64]{};
  UCHAR enableAutoClose = 0;
  ULONG pressCount = 0;
  UCHAR savedAltSetting = 0;
  UCHAR currentAltSetting = 0;
  UCHAR stateSaved = 0;
  UCHAR addSerialNumber = 0;
  UCHAR poweredUp = 0;
  UCHAR powerUpInAllocate = 0;
  UCHAR powerControl = 0;
  UCHAR useGpio0 = 0;
  UCHAR showCameraId = 0;
  ULONG longPressPolls = 10;
  KSEMAPHORE propertyLock{};
  UCHAR propertyLockReady = 0;  // 1 once propertyLock is initialised
  ULONG userSlots[16]{};
  PWSTR cameraStatusPath = nullptr;  // persistent copy of "CameraStatusPath", or null
  UCHAR status2Hkr = 0;
  UCHAR highSpeed = 0;
};

NTSTATUS CreateCamera(UnknownBase** result, REFGUID clsid, IUnknown* outer, POOL_TYPE poolType);
