// Register lists run through IRegisterAccess, one locked access per register, so that another
// object's access may fall between two entries but never inside one.
#include "config/register_lists.h"

#include <cstring>

#include "camera/camera.h"
#include "config/registry_access.h"

namespace registers {

NTSTATUS RunRegisterList(IRegisterAccess* access, const RegisterListEntry* list, ULONG count,
                         BOOLEAN toBridge) {
  if (list == nullptr) return STATUS_SUCCESS;
  NTSTATUS status = STATUS_SUCCESS;
  for (ULONG index = 0; index < count; ++index) {
    const RegisterListEntry& entry = list[index];
    UCHAR value = entry.value & entry.mask;
    if (entry.mask != kWholeRegister) {
      UCHAR old = 0;  // a failed read merges nothing of the register's old bits
      if (toBridge) {
        access->ReadBridge(entry.registerIndex, &old, nullptr);
      } else {
        access->ReadSensor(entry.registerIndex, &old);
      }
      value |= old & static_cast<UCHAR>(~entry.mask);
    }
    status = toBridge ? access->WriteBridge(entry.registerIndex, value)
                      : access->WriteSensor(entry.registerIndex, value);
  }
  return status;
}

NTSTATUS RunBridgeList(IRegisterAccess* access, const RegisterListEntry* list, ULONG count) {
  return RunRegisterList(access, list, count, TRUE);
}

NTSTATUS ReadRegisterList(IBufferPool* pool, HANDLE key, PCWSTR name, ULONG nameLength,
                          RegisterListEntry** list, ULONG* count) {
  FreeRegisterList(pool, list, count);
  UCHAR value[kMaxRegisterListBytes];
  ULONG length = sizeof value;
  NTSTATUS status = registry::QueryValue(pool, key, name, nameLength, value, &length);
  if (!NT_SUCCESS(status)) return status;
  ULONG entries = length / sizeof(RegisterListEntry);
  if (entries == 0) return status;
  // Only whole entries are kept: a trailing byte or two would be read by nobody.
  ULONG bytes = entries * sizeof(RegisterListEntry);
  auto* copy =
      static_cast<RegisterListEntry*>(pool->Allocate(NonPagedPool, bytes, kBufferPersistent));
  if (copy == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  memcpy(copy, value, bytes);
  *list = copy;
  *count = entries;
  return status;
}

void FreeRegisterList(IBufferPool* pool, RegisterListEntry** list, ULONG* count) {
  if (*list != nullptr) pool->Free(*list);
  *list = nullptr;
  *count = 0;
}

}  // namespace registers
