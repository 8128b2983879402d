// Bridge and sensor registers. The bridge's registers are reached with vendor request 1 on the
// default pipe; the sensor's sit behind the bridge's serial bus (registers 0xF1 to 0xF6). Three
// layers, each built on the one before:
// - the raw operations: one vendor request each, or one serial-bus sequence; no lock. They run
//   inside the locked operations and during detection, before any other object exists;
// - the locked operations of IRegisterAccess: one raw operation under the camera's registerLock,
//   so that a serial-bus sequence is never interleaved with another object's access;
// - the registers that the camera serves itself rather than the device (bridge register 0xFF, and
//   in ibexcam 0x50 to 0x6F), turned into requests of the private custom property set.
#pragma once

#include "core/buffer_pool.h"
#include "core/device_context.h"
#include "ks.h"
#include "variant.h"

class ICaptureControl;
class IRegisterAccess;

// The camera's register state. Starts zeroed with the camera; sensorId is then set to
// kDefaultSensorId and the lock created by CreateRegisterLock.
struct RegisterAccessState {
  PKSEMAPHORE registerLock;  // count 1, limit 1, storage from the pool (persistent); null: none
  UCHAR sensorId;            // serial-bus id of the sensor
  UCHAR sensorIdProgrammed;  // 1 while bridge register 0xF1 is known to hold sensorId
};

// The 40-byte request of the private custom property set: the property header, a 32-bit data
// field, the register number (the request id), the mode and a count. A get answers in the data
// field of the reply, which has the same layout.
struct CustomPropertyRequestData {
  KSPROPERTY property;
  ULONG data;
  USHORT registerNumber;
  USHORT reserved;
  ULONG mode;
  ULONG count;
};
static_assert(sizeof(CustomPropertyRequestData) == 40);
static_assert(offsetof(CustomPropertyRequestData, data) == 24);
static_assert(offsetof(CustomPropertyRequestData, registerNumber) == 28);
static_assert(offsetof(CustomPropertyRequestData, mode) == 32);
static_assert(offsetof(CustomPropertyRequestData, count) == 36);

namespace registers {

inline constexpr UCHAR kDefaultSensorId = 0x42;
// The most bytes one multi-byte read returns.
inline constexpr ULONG kMultiByteReadLength = 8;
// A write of this bridge register is a custom property request to the camera, never a transfer.
inline constexpr USHORT kCameraServedRegister = 0xFF;
// Mode of the custom property requests that carry a register access: handled by the camera.
inline constexpr ULONG kCustomRequestModeCamera = 0x08;

// Where ibexcam differs: the camera itself serves bridge registers 0x50 to 0x6F (image settings
// and its firmware download), and its sensor needs no write of sensor register 0xFF to end a read.
inline constexpr bool kSensorReadEndsWithWrite = kIsLynxcam;
constexpr bool ServedByCamera(USHORT registerIndex) {
  return kIsIbexcam && registerIndex >= 0x50 && registerIndex <= 0x6F;
}

// ---- Raw operations
// ------------------------------------------------------------------------------ With the device
// removed the three bridge operations send nothing, leave the buffer alone and succeed, so that
// lists run to their end at once. A device that answers a read with fewer bytes than asked fails it
// with STATUS_DEVICE_DATA_ERROR, and the buffer is left alone.

// count null: one byte. Otherwise an 8-byte read whose first *count bytes (at most 8) are copied.
NTSTATUS ReadRegister(DeviceContext* context, USHORT registerIndex, PUCHAR buffer, PULONG count);
NTSTATUS WriteRegister(DeviceContext* context, USHORT registerIndex, UCHAR value);
// count null: one byte. All bytes go to the one index; the bridge decides what that means.
NTSTATUS WriteRegisterBlock(DeviceContext* context, USHORT registerIndex, const UCHAR* buffer,
                            PULONG count);
// Writes the sensor's id to bridge register 0xF1 unless it is known to be there.
NTSTATUS SelectSensor(DeviceContext* context, RegisterAccessState* state);
// The serial-bus sequences of the currently selected sensor. A sequence stops commanding the bus
// at its first failed write but still waits for the bus; the first failure is the result, and a
// bus that stays busy through every poll is STATUS_IO_DEVICE_ERROR.
NTSTATUS ReadSensorRegister(DeviceContext* context, UCHAR sensorRegister, PUCHAR value);
NTSTATUS WriteSensorRegister(DeviceContext* context, UCHAR sensorRegister, UCHAR value);

// ---- Locked operations
// --------------------------------------------------------------------------- Create the lock at
// camera initialisation, destroy it in the camera's destructor (which waits for a running operation
// first). Without a lock the locked operations fail with STATUS_INSUFFICIENT_RESOURCES.
NTSTATUS CreateRegisterLock(IBufferPool* pool, RegisterAccessState* state);
void DestroyRegisterLock(IBufferPool* pool, RegisterAccessState* state);

NTSTATUS ReadBridge(DeviceContext* context, RegisterAccessState* state, ICaptureControl* camera,
                    USHORT registerIndex, PUCHAR buffer, PULONG count);
NTSTATUS WriteBridge(DeviceContext* context, RegisterAccessState* state, ICaptureControl* camera,
                     USHORT registerIndex, UCHAR value);
NTSTATUS WriteBridgeBlock(DeviceContext* context, RegisterAccessState* state, USHORT registerIndex,
                          const UCHAR* buffer, PULONG count);
NTSTATUS ReadSensor(DeviceContext* context, RegisterAccessState* state, UCHAR sensorRegister,
                    PUCHAR value);
NTSTATUS WriteSensor(DeviceContext* context, RegisterAccessState* state, UCHAR sensorRegister,
                     UCHAR value);
// Talk to the sensor at another bus id (detection probes with these). No busy polling: a 1 ms
// pause between addressing and data at PASSIVE_LEVEL instead. Another id than sensorId means the
// next plain sensor access has to select the sensor again.
NTSTATUS ReadSensorWithId(DeviceContext* context, RegisterAccessState* state, UCHAR deviceId,
                          UCHAR sensorRegister, PUCHAR value);
NTSTATUS WriteSensorWithId(DeviceContext* context, RegisterAccessState* state, UCHAR deviceId,
                           UCHAR sensorRegister, UCHAR value);

// ---- Ranges
// --------------------------------------------------------------------------------------- One
// locked access per register from first to last inclusive, with the next byte of values; stops at
// the first failure and returns the last access's status (success for an empty range). Sensor
// registers are bytes: a sensor range past 0xFF is STATUS_INVALID_PARAMETER.
NTSTATUS WriteSensorRange(IRegisterAccess* access, USHORT first, USHORT last, PUCHAR values);
NTSTATUS ReadSensorRange(IRegisterAccess* access, USHORT first, USHORT last, PUCHAR values);
NTSTATUS ReadBridgeRange(IRegisterAccess* access, USHORT first, USHORT last, PUCHAR values);
NTSTATUS WriteBridgeRange(IRegisterAccess* access, USHORT first, USHORT last, PUCHAR values);

}  // namespace registers
