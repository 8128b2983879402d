// Register access over the framework's vendor requests. Every bridge access goes through
// VendorRequest; every locked operation through UnderLock.
#include "config/register_access.h"

#include <cstring>

#include "camera/camera.h"
#include "core/framework_callbacks.h"
#include "kernel.h"
#include "usbcamd.h"

namespace registers {
namespace {

// The vendor request that carries every register access; its value field is 0 (a non-zero value
// is a firmware load address).
constexpr UCHAR kRegisterRequest = 1;

// The bridge registers of the sensor's serial bus.
constexpr USHORT kSensorDeviceId = 0xF1;
constexpr USHORT kSensorRegisterNumber = 0xF2;
constexpr USHORT kSensorWriteData = 0xF3;
constexpr USHORT kSensorReadData = 0xF4;
constexpr USHORT kSensorCommand = 0xF5;
constexpr USHORT kSensorStatus = 0xF6;
// Commands of kSensorCommand.
constexpr UCHAR kCommandWrite = 0x37;
constexpr UCHAR kCommandReadAddress = 0x33;
constexpr UCHAR kCommandReadData = 0xF9;
constexpr UCHAR kStatusBusy = 0x01;
// The bus finishes within a few status reads; the polls have no delay because lists of a few
// dozen sensor writes run at the start of capture.
constexpr int kBusyPolls = 6;
// Written after every sensor read in lynxcam, as its sensor expects.
constexpr UCHAR kSensorReadEndRegister = 0xFF;
// The pause between the phases of an id-carrying read: 1 ms, relative.
constexpr LONGLONG kIdReadPause100ns = -10000;

NTSTATUS VendorRequest(DeviceContext* context, USHORT registerIndex, PUCHAR buffer, PULONG length,
                       bool read) {
  return USBCAMD_ControlVendorCommand(context, kRegisterRequest, 0, registerIndex, buffer, length,
                                      read ? TRUE : FALSE, nullptr, nullptr);
}

// Reads the bus status until the busy bit clears, at most kBusyPolls times. The byte starts clear,
// so a removed device (whose reads leave it alone) ends the wait at once.
NTSTATUS WaitWhileBusy(DeviceContext* context) {
  for (int poll = 0; poll < kBusyPolls; ++poll) {
    UCHAR status = 0;
    NTSTATUS result = ReadRegister(context, kSensorStatus, &status, nullptr);
    if (!NT_SUCCESS(result)) return result;
    if ((status & kStatusBusy) == 0) return STATUS_SUCCESS;
  }
  return STATUS_IO_DEVICE_ERROR;
}

// The writes that put a register number and a command on the bus; the first failure ends them.
NTSTATUS AddressAndCommand(DeviceContext* context, UCHAR sensorRegister, const UCHAR* data,
                           UCHAR command) {
  NTSTATUS status = WriteRegister(context, kSensorRegisterNumber, sensorRegister);
  if (NT_SUCCESS(status) && data != nullptr)
    status = WriteRegister(context, kSensorWriteData, *data);
  if (NT_SUCCESS(status)) status = WriteRegister(context, kSensorCommand, command);
  return status;
}

// Runs one operation with registerLock held: a kernel wait without time-out, then a release of one.
template <class Operation>
NTSTATUS UnderLock(RegisterAccessState* state, Operation operation) {
  if (state == nullptr || state->registerLock == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  KeWaitForSingleObject(state->registerLock, Executive, KernelMode, FALSE, nullptr);
  NTSTATUS status = operation();
  KeReleaseSemaphore(state->registerLock, IO_NO_INCREMENT, 1, FALSE);
  return status;
}

// A register that the camera serves itself, as a custom property request with the register number
// as id. A get answers the byte in the reply's data field.
NTSTATUS CameraServedAccess(ICaptureControl* camera, USHORT registerIndex, UCHAR* value, bool set) {
  if (camera == nullptr) return STATUS_INVALID_PARAMETER;
  CustomPropertyRequestData request = {};
  request.property.Set = kCustomPropertySet;
  request.property.Id = 0;
  request.property.Flags = set ? KSPROPERTY_TYPE_SET : KSPROPERTY_TYPE_GET;
  request.data = set ? *value : 0;
  request.registerNumber = registerIndex;
  request.mode = kCustomRequestModeCamera;
  request.count = 1;
  CustomPropertyRequestData reply = request;
  NTSTATUS status = camera->CustomPropertyRequest(&request, &reply, sizeof reply, set);
  if (NT_SUCCESS(status) && !set) *value = static_cast<UCHAR>(reply.data);
  return status;
}

// Sensor ranges address byte registers; bridge ranges the 16-bit vendor index.
template <class Access>
NTSTATUS ForEachRegister(USHORT first, USHORT last, PUCHAR values, Access access) {
  if (first > last) return STATUS_SUCCESS;
  if (values == nullptr) return STATUS_INVALID_PARAMETER;
  NTSTATUS status = STATUS_SUCCESS;
  // A 32-bit counter: a range that ends at 0xFFFF must still end.
  for (ULONG registerIndex = first; registerIndex <= last; ++registerIndex) {
    status = access(static_cast<USHORT>(registerIndex), &values[registerIndex - first]);
    if (!NT_SUCCESS(status)) break;
  }
  return status;
}

constexpr USHORT kLastSensorRegister = 0xFF;

}  // namespace

// ---- Raw operations
// ------------------------------------------------------------------------------
NTSTATUS ReadRegister(DeviceContext* context, USHORT registerIndex, PUCHAR buffer, PULONG count) {
  if (context == nullptr) return STATUS_NO_SUCH_DEVICE;
  if (buffer == nullptr || (count != nullptr && *count > kMultiByteReadLength)) {
    return STATUS_INVALID_PARAMETER;
  }
  if (context->removed) return STATUS_SUCCESS;
  UCHAR answer[kMultiByteReadLength] = {};
  ULONG length = count != nullptr ? kMultiByteReadLength : 1;
  NTSTATUS status = VendorRequest(context, registerIndex, answer, &length, true);
  if (!NT_SUCCESS(status)) return status;
  ULONG wanted = count != nullptr ? *count : 1;
  if (length < wanted) return STATUS_DEVICE_DATA_ERROR;
  memcpy(buffer, answer, wanted);
  return STATUS_SUCCESS;
}

NTSTATUS WriteRegister(DeviceContext* context, USHORT registerIndex, UCHAR value) {
  ULONG length = 1;
  return WriteRegisterBlock(context, registerIndex, &value, &length);
}

NTSTATUS WriteRegisterBlock(DeviceContext* context, USHORT registerIndex, const UCHAR* buffer,
                            PULONG count) {
  if (context == nullptr) return STATUS_NO_SUCH_DEVICE;
  ULONG length = count != nullptr ? *count : 1;
  if ((buffer == nullptr && length != 0) || length > 0xFFFF) return STATUS_INVALID_PARAMETER;
  if (context->removed) return STATUS_SUCCESS;
  return VendorRequest(context, registerIndex, const_cast<PUCHAR>(buffer), &length, false);
}

NTSTATUS SelectSensor(DeviceContext* context, RegisterAccessState* state) {
  if (state->sensorIdProgrammed != 0) return STATUS_SUCCESS;
  NTSTATUS status = WriteRegister(context, kSensorDeviceId, state->sensorId);
  if (!NT_SUCCESS(status)) return status;
  state->sensorIdProgrammed = 1;
  return STATUS_SUCCESS;
}

NTSTATUS ReadSensorRegister(DeviceContext* context, UCHAR sensorRegister, PUCHAR value) {
  if (value == nullptr) return STATUS_INVALID_PARAMETER;
  // Addressing phase, then data phase; each command is followed by a wait for the bus.
  NTSTATUS status = AddressAndCommand(context, sensorRegister, nullptr, kCommandReadAddress);
  NTSTATUS bus = WaitWhileBusy(context);
  if (NT_SUCCESS(status)) status = bus;
  if (NT_SUCCESS(status)) status = WriteRegister(context, kSensorCommand, kCommandReadData);
  bus = WaitWhileBusy(context);
  if (NT_SUCCESS(status)) status = bus;
  // The byte is only taken from a completed transfer: F4 may hold an older answer.
  if (NT_SUCCESS(status)) status = ReadRegister(context, kSensorReadData, value, nullptr);
  if constexpr (kSensorReadEndsWithWrite) {
    WriteSensorRegister(context, kSensorReadEndRegister, 0x00);
  }
  return status;
}

NTSTATUS WriteSensorRegister(DeviceContext* context, UCHAR sensorRegister, UCHAR value) {
  NTSTATUS status = AddressAndCommand(context, sensorRegister, &value, kCommandWrite);
  NTSTATUS bus = WaitWhileBusy(context);
  return NT_SUCCESS(status) ? bus : status;
}

// ---- Locked operations
// ---------------------------------------------------------------------------
NTSTATUS CreateRegisterLock(IBufferPool* pool, RegisterAccessState* state) {
  if (state->registerLock != nullptr) return STATUS_SUCCESS;
  auto* lock = static_cast<PKSEMAPHORE>(
      pool != nullptr ? pool->Allocate(NonPagedPool, sizeof(KSEMAPHORE), kBufferPersistent)
                      : nullptr);
  if (lock == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  KeInitializeSemaphore(lock, 1, 1);
  state->registerLock = lock;
  return STATUS_SUCCESS;
}

void DestroyRegisterLock(IBufferPool* pool, RegisterAccessState* state) {
  if (state->registerLock == nullptr) return;
  // An operation still running on another thread finishes before the storage goes.
  if (KeGetCurrentIrql() == PASSIVE_LEVEL) {
    KeWaitForSingleObject(state->registerLock, Executive, KernelMode, FALSE, nullptr);
  }
  pool->Free(state->registerLock);
  state->registerLock = nullptr;
}

NTSTATUS ReadBridge(DeviceContext* context, RegisterAccessState* state, ICaptureControl* camera,
                    USHORT registerIndex, PUCHAR buffer, PULONG count) {
  if (ServedByCamera(registerIndex)) {
    if (buffer == nullptr) return STATUS_INVALID_PARAMETER;
    NTSTATUS status = CameraServedAccess(camera, registerIndex, buffer, false);
    if (count != nullptr) *count = 1;
    return status;
  }
  return UnderLock(state, [&] { return ReadRegister(context, registerIndex, buffer, count); });
}

NTSTATUS WriteBridge(DeviceContext* context, RegisterAccessState* state, ICaptureControl* camera,
                     USHORT registerIndex, UCHAR value) {
  if (registerIndex == kCameraServedRegister || ServedByCamera(registerIndex)) {
    return CameraServedAccess(camera, registerIndex, &value, true);
  }
  return UnderLock(state,
                   [&] { return WriteRegisterBlock(context, registerIndex, &value, nullptr); });
}

NTSTATUS WriteBridgeBlock(DeviceContext* context, RegisterAccessState* state, USHORT registerIndex,
                          const UCHAR* buffer, PULONG count) {
  return UnderLock(state,
                   [&] { return WriteRegisterBlock(context, registerIndex, buffer, count); });
}

NTSTATUS ReadSensor(DeviceContext* context, RegisterAccessState* state, UCHAR sensorRegister,
                    PUCHAR value) {
  return UnderLock(state, [&] {
    NTSTATUS status = SelectSensor(context, state);
    return NT_SUCCESS(status) ? ReadSensorRegister(context, sensorRegister, value) : status;
  });
}

NTSTATUS WriteSensor(DeviceContext* context, RegisterAccessState* state, UCHAR sensorRegister,
                     UCHAR value) {
  return UnderLock(state, [&] {
    NTSTATUS status = SelectSensor(context, state);
    return NT_SUCCESS(status) ? WriteSensorRegister(context, sensorRegister, value) : status;
  });
}

NTSTATUS ReadSensorWithId(DeviceContext* context, RegisterAccessState* state, UCHAR deviceId,
                          UCHAR sensorRegister, PUCHAR value) {
  if (value == nullptr) return STATUS_INVALID_PARAMETER;
  return UnderLock(state, [&] {
    WriteRegister(context, kSensorDeviceId, deviceId);
    NTSTATUS status = AddressAndCommand(context, sensorRegister, nullptr, kCommandReadAddress);
    if (KeGetCurrentIrql() == PASSIVE_LEVEL) {
      LARGE_INTEGER pause;
      pause.QuadPart = kIdReadPause100ns;
      KeDelayExecutionThread(KernelMode, FALSE, &pause);
    }
    if (NT_SUCCESS(status)) status = WriteRegister(context, kSensorCommand, kCommandReadData);
    if (NT_SUCCESS(status)) status = ReadRegister(context, kSensorReadData, value, nullptr);
    if (deviceId != state->sensorId) state->sensorIdProgrammed = 0;
    return status;
  });
}

NTSTATUS WriteSensorWithId(DeviceContext* context, RegisterAccessState* state, UCHAR deviceId,
                           UCHAR sensorRegister, UCHAR value) {
  return UnderLock(state, [&] {
    WriteRegister(context, kSensorDeviceId, deviceId);
    NTSTATUS status = AddressAndCommand(context, sensorRegister, &value, kCommandWrite);
    if (deviceId != state->sensorId) state->sensorIdProgrammed = 0;
    return status;
  });
}

// ---- Ranges
// ---------------------------------------------------------------------------------------
NTSTATUS WriteSensorRange(IRegisterAccess* access, USHORT first, USHORT last, PUCHAR values) {
  if (first <= last && last > kLastSensorRegister) return STATUS_INVALID_PARAMETER;
  return ForEachRegister(first, last, values, [&](USHORT index, PUCHAR value) {
    return access->WriteSensor(static_cast<UCHAR>(index), *value);
  });
}

NTSTATUS ReadSensorRange(IRegisterAccess* access, USHORT first, USHORT last, PUCHAR values) {
  if (first <= last && last > kLastSensorRegister) return STATUS_INVALID_PARAMETER;
  return ForEachRegister(first, last, values, [&](USHORT index, PUCHAR value) {
    return access->ReadSensor(static_cast<UCHAR>(index), value);
  });
}

NTSTATUS ReadBridgeRange(IRegisterAccess* access, USHORT first, USHORT last, PUCHAR values) {
  return ForEachRegister(first, last, values, [&](USHORT index, PUCHAR value) {
    return access->ReadBridge(index, value, nullptr);
  });
}

NTSTATUS WriteBridgeRange(IRegisterAccess* access, USHORT first, USHORT last, PUCHAR values) {
  return ForEachRegister(first, last, values, [&](USHORT index, PUCHAR value) {
    return access->WriteBridge(index, *value);
  });
}

}  // namespace registers
