// Plug and Play's view of the registry: which driver key belongs to which device object, and the
// open of that key. The driver key lives below the class keys, as an installation leaves it.
#include <cstring>
#include <map>

#include "kernel_registry.h"
#include "object_handles.h"
#include "registry_hive.h"

namespace {

struct DeviceRegistration {
  std::u16string driverKeyName;
  bool refuseOpen = false;
};

// Guarded by the hive lock.
std::map<DEVICE_OBJECT*, DeviceRegistration>& Devices() {
  static auto* devices = new std::map<DEVICE_OBJECT*, DeviceRegistration>;
  return *devices;
}

}  // namespace

namespace host {

void SetDeviceDriverKeyName(DEVICE_OBJECT* device, std::u16string driverKeyName) {
  CreateRegistryKey(std::u16string(kDriverKeyRoot) + driverKeyName);
  std::lock_guard<std::mutex> guard(internal::HiveLock());
  Devices()[device].driverKeyName = std::move(driverKeyName);
}

void RefuseDeviceRegistryKeyOpen(DEVICE_OBJECT* device, bool refuse) {
  std::lock_guard<std::mutex> guard(internal::HiveLock());
  Devices()[device].refuseOpen = refuse;
}

void ForgetDevice(DEVICE_OBJECT* device) {
  std::lock_guard<std::mutex> guard(internal::HiveLock());
  Devices().erase(device);
}

namespace internal {
void ForgetAllDevices() { Devices().clear(); }
}  // namespace internal

}  // namespace host

extern "C" {

NTSTATUS NTAPI IoOpenDeviceRegistryKey(DEVICE_OBJECT* deviceObject, ULONG devInstKeyType,
                                       ACCESS_MASK, PHANDLE devInstRegKey) {
  host::internal::RequirePassiveLevel("IoOpenDeviceRegistryKey");
  if (devInstRegKey == nullptr || devInstKeyType != PLUGPLAY_REGKEY_DRIVER) {
    return STATUS_INVALID_PARAMETER;
  }
  host::internal::KeyRef key;
  {
    std::lock_guard<std::mutex> guard(host::internal::HiveLock());
    auto found = Devices().find(deviceObject);
    if (found == Devices().end() || found->second.driverKeyName.empty()) {
      return STATUS_INVALID_PARAMETER;  // not a device that Plug and Play knows
    }
    if (found->second.refuseOpen) return STATUS_ACCESS_DENIED;
    NTSTATUS status = host::internal::ResolveAbsolute(
        std::u16string(host::kDriverKeyRoot) + found->second.driverKeyName, false, &key);
    if (!NT_SUCCESS(status)) return status;
  }
  *devInstRegKey = host::internal::InsertHandle(host::internal::HandleKind::RegistryKey, key);
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI IoGetDeviceProperty(DEVICE_OBJECT* deviceObject,
                                   DEVICE_REGISTRY_PROPERTY deviceProperty, ULONG bufferLength,
                                   PVOID propertyBuffer, PULONG resultLength) {
  host::internal::RequirePassiveLevel("IoGetDeviceProperty");
  if (resultLength == nullptr || (propertyBuffer == nullptr && bufferLength != 0)) {
    return STATUS_INVALID_PARAMETER;
  }
  if (deviceProperty != DevicePropertyDriverKeyName) return STATUS_INVALID_PARAMETER;
  std::u16string name;
  {
    std::lock_guard<std::mutex> guard(host::internal::HiveLock());
    auto found = Devices().find(deviceObject);
    if (found == Devices().end() || found->second.driverKeyName.empty()) {
      return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    name = found->second.driverKeyName;
  }
  ULONG needed = static_cast<ULONG>((name.size() + 1) * sizeof(WCHAR));
  *resultLength = needed;
  if (bufferLength < needed) return STATUS_BUFFER_TOO_SMALL;
  memcpy(propertyBuffer, name.c_str(), needed);
  return STATUS_SUCCESS;
}

}  // extern "C"
