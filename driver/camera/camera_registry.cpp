// The camera's registry slots: every object of the driver reads and writes the registry through
// them, with the camera's pool for scratch blocks and its cached device key.
#include "camera/camera.h"

NTSTATUS Camera::QueryValue(HANDLE key, PCWSTR name, ULONG nameLength, PVOID data,
                            PULONG dataLength) {
  return registry::QueryValue(bufferPool, key, name, nameLength, data, dataLength);
}
NTSTATUS Camera::SetValue(HANDLE key, PCWSTR name, ULONG type, PVOID data, ULONG size) {
  return registry::SetValue(key, name, type, data, size);
}
NTSTATUS Camera::EnumerateValueName(HANDLE key, ULONG index, PWSTR name, ULONG size) {
  return registry::EnumerateValueName(bufferPool, key, index, name, size);
}
NTSTATUS Camera::EnumerateSubkeyName(HANDLE key, ULONG index, PWSTR name, ULONG size) {
  return registry::EnumerateSubkeyName(bufferPool, key, index, name, size);
}
NTSTATUS Camera::OpenKey(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key) {
  return registry::OpenKey(parent, access, path, key);
}
NTSTATUS Camera::CreateKeyPath(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key) {
  return registry::CreateKeyPath(parent, access, path, key);
}
NTSTATUS Camera::OpenDeviceKey(PHANDLE key) {
  return registry::OpenDeviceKey(&deviceKey, interfaceDevice, physicalDevice, key);
}
NTSTATUS Camera::DeleteKey(HANDLE key) { return registry::DeleteKey(key); }
NTSTATUS Camera::CloseKey(HANDLE handle) { return registry::CloseKey(&deviceKey, handle); }
NTSTATUS Camera::CreateKey(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key) {
  return registry::CreateKey(parent, access, path, key);
}
