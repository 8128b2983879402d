// The registry operations of the camera, which every object of the driver reads and writes the
// registry through: values queried, written and enumerated, keys opened, created (path by path),
// deleted and closed, and the device's own key found. The Camera's ICamera slots forward here with
// the pool and the device-key state that it keeps.
//
// Names and paths are zero-terminated UTF-16; a path without a parent handle is absolute
// ("\Registry\Machine\..."). Every routine runs at PASSIVE_LEVEL.
#pragma once

#include "core/buffer_pool.h"
#include "kernel_registry.h"

struct DEVICE_OBJECT;

// Registry paths and names throughout the driver fit buffers of 260 UTF-16 units (520 bytes).
inline constexpr ULONG kRegistryPathChars = 260;
inline constexpr ULONG kRegistryPathBytes = kRegistryPathChars * sizeof(WCHAR);

// How the Camera finds its device key again: the handle kept by OpenDeviceKey, and the absolute
// path of the device's class key once one has opened. Starts zeroed with the Camera.
struct DeviceKeyCache {
  HANDLE deviceKeyHandle;  // the device key kept by OpenDeviceKey, or null
  // How many OpenDeviceKey answers handed out deviceKeyHandle and are not yet closed. A caller
  // that opens the device key while an outer caller holds it gets the same handle; the handle is
  // closed only with the last of them, so the outer caller's handle stays good.
  ULONG deviceKeyUsers;
  WCHAR classKeyPath[kRegistryPathChars];
  UCHAR classKeyPathValid;  // 1 once classKeyPath has been opened
};

namespace registry {

// Copies the value's data into data and sets *dataLength to its length. A missing value is
// STATUS_OBJECT_NAME_NOT_FOUND and leaves data alone; data longer than *dataLength is
// STATUS_BUFFER_OVERFLOW, copies nothing and sets *dataLength to the length needed. The value type
// is not looked at. nameLength (bytes, with the terminator) only sizes the scratch block.
NTSTATUS QueryValue(IBufferPool* pool, HANDLE key, PCWSTR name, ULONG nameLength, PVOID data,
                    PULONG dataLength);
NTSTATUS SetValue(HANDLE key, PCWSTR name, ULONG type, const void* data, ULONG size);

// The name of the value or subkey at index, zero-terminated in a cleared buffer of size bytes.
// STATUS_NO_MORE_ENTRIES past the last one; a name that does not fit with its terminator is
// STATUS_INSUFFICIENT_RESOURCES (callers skip such an index and go on).
NTSTATUS EnumerateValueName(IBufferPool* pool, HANDLE key, ULONG index, PWSTR name, ULONG size);
NTSTATUS EnumerateSubkeyName(IBufferPool* pool, HANDLE key, ULONG index, PWSTR name, ULONG size);

NTSTATUS OpenKey(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key);
// Opens the key, creating it (non-volatile, no class) when missing; its parent must exist.
NTSTATUS CreateKey(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key);
// Creates every missing key along the path, then opens the last. Stops at the first level that
// cannot be created, with its status; the levels created before it stay.
NTSTATUS CreateKeyPath(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key);
// Deletes the key that the handle refers to (it must have no subkeys); the handle still needs its
// CloseKey.
NTSTATUS DeleteKey(HANDLE key);

// The device's software key: the cached handle, or the Plug and Play open of the real physical
// device object's driver key (then of the physical device object's), and until a class key path
// has opened once, the class key by absolute path, whose handle is then the answer. Fails while no
// class key path has ever opened, even when the Plug and Play open succeeded.
NTSTATUS OpenDeviceKey(DeviceKeyCache* cache, DEVICE_OBJECT* realPhysicalDeviceObject,
                       DEVICE_OBJECT* physicalDeviceObject, PHANDLE key);
// Closes a key or file handle; closing the cached device key ends the cache (with its last user).
// Always STATUS_SUCCESS.
NTSTATUS CloseKey(DeviceKeyCache* cache, HANDLE handle);
// Closes the cached device key, if any (the Camera's destructor).
void ReleaseDeviceKey(DeviceKeyCache* cache);

}  // namespace registry
