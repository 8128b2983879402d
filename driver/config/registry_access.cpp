// The registry operations of the camera over the kernel's registry routines. Every length that
// the registry answers with is checked against the block it landed in before anything is copied.
#include "config/registry_access.h"

#include <cstring>

#include "kernel_strings.h"

namespace registry {
namespace {

// Scratch blocks of the enumerations: the fixed part of the answer and a 520-byte name, with room
// to spare.
constexpr ULONG kValueNameScratchBytes = 536;
constexpr ULONG kSubkeyNameScratchBytes = 544;
// QueryValue's scratch is the data, the name and the fixed part of the answer with its alignment.
constexpr ULONG kQueryOverheadBytes = 24;

// The class keys that may hold the device key, by driver key name: the older location first.
constexpr WCHAR kServicesClassPath[] =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Class\\";
constexpr WCHAR kControlClassPath[] =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\";

// A counted string over a zero-terminated name; a name too long to count is refused rather than
// cut, which would name another key.
NTSTATUS CountedName(PCWSTR text, UNICODE_STRING* counted) {
  if (text == nullptr) return STATUS_INVALID_PARAMETER;
  ULONG units = 0;
  while (text[units] != 0) {
    if (++units > 0x7FFE) return STATUS_OBJECT_NAME_INVALID;
  }
  counted->Buffer = const_cast<PWSTR>(text);
  counted->Length = static_cast<USHORT>(units * sizeof(WCHAR));
  counted->MaximumLength = counted->Length;
  return STATUS_SUCCESS;
}

NTSTATUS OpenCounted(HANDLE parent, ACCESS_MASK access, UNICODE_STRING* path, bool create,
                     PHANDLE key) {
  if (key == nullptr) return STATUS_INVALID_PARAMETER;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, path, OBJ_CASE_INSENSITIVE, parent, nullptr);
  if (!create) return ZwOpenKey(key, access, &attributes);
  return ZwCreateKey(key, access, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE, nullptr);
}

NTSTATUS OpenByName(HANDLE parent, ACCESS_MASK access, PCWSTR path, bool create, PHANDLE key) {
  UNICODE_STRING counted;
  NTSTATUS status = CountedName(path, &counted);
  if (!NT_SUCCESS(status)) return status;
  return OpenCounted(parent, access, &counted, create, key);
}

// Hands an enumerated name to the caller: the buffer cleared, then the name copied when it fits
// with its terminator. nameBytes has been checked against the answer already.
NTSTATUS CopyName(const WCHAR* source, ULONG nameBytes, PWSTR name, ULONG size) {
  memset(name, 0, size);
  if (nameBytes > size || size - nameBytes < sizeof(WCHAR)) return STATUS_INSUFFICIENT_RESOURCES;
  memcpy(name, source, nameBytes);
  return STATUS_SUCCESS;
}

// Sets the cache's class key path to prefix + driver key name and opens it.
NTSTATUS OpenClassKey(DeviceKeyCache* cache, const WCHAR* prefix, const WCHAR* driverKeyName,
                      PHANDLE key) {
  UNICODE_STRING path{0, static_cast<USHORT>(sizeof cache->classKeyPath), cache->classKeyPath};
  memset(cache->classKeyPath, 0, sizeof cache->classKeyPath);
  NTSTATUS status = RtlAppendUnicodeToString(&path, prefix);
  if (NT_SUCCESS(status)) status = RtlAppendUnicodeToString(&path, driverKeyName);
  // The path must keep its terminator: a name that fills the buffer is one that does not fit.
  if (NT_SUCCESS(status) && path.Length >= path.MaximumLength) status = STATUS_BUFFER_TOO_SMALL;
  if (!NT_SUCCESS(status)) {
    cache->classKeyPath[0] = 0;
    return status;
  }
  return OpenCounted(nullptr, KEY_ALL_ACCESS, &path, false, key);
}

}  // namespace

NTSTATUS QueryValue(IBufferPool* pool, HANDLE key, PCWSTR name, ULONG nameLength, PVOID data,
                    PULONG dataLength) {
  UNICODE_STRING valueName;
  NTSTATUS status = CountedName(name, &valueName);
  if (!NT_SUCCESS(status)) return status;
  if (dataLength == nullptr || (data == nullptr && *dataLength != 0)) {
    return STATUS_INVALID_PARAMETER;
  }
  // Sized by the caller's name length, but never below what the name really takes: a caller's
  // short count must not turn a value that fits into a failure.
  ULONG nameBytes = valueName.Length + sizeof(WCHAR);
  if (nameLength > nameBytes) nameBytes = nameLength;
  uint64_t scratchBytes = uint64_t{*dataLength} + nameBytes + kQueryOverheadBytes;
  if (pool == nullptr || scratchBytes > 0x7FFFFFFF) return STATUS_INSUFFICIENT_RESOURCES;
  auto* answer = static_cast<UCHAR*>(
      pool->Allocate(NonPagedPool, static_cast<ULONG>(scratchBytes), kBufferScratch));
  if (answer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;

  ULONG resultLength = 0;
  status = ZwQueryValueKey(key, &valueName, KeyValueFullInformation, answer,
                           static_cast<ULONG>(scratchBytes), &resultLength);
  auto* full = reinterpret_cast<KEY_VALUE_FULL_INFORMATION*>(answer);
  if (status == STATUS_BUFFER_OVERFLOW) {
    *dataLength = full->DataLength;  // the fixed part is there: the scratch always holds it
  } else if (NT_SUCCESS(status)) {
    uint64_t dataEnd = uint64_t{full->DataOffset} + full->DataLength;
    if (full->DataOffset < offsetof(KEY_VALUE_FULL_INFORMATION, Name) || dataEnd > resultLength ||
        dataEnd > scratchBytes) {
      status = STATUS_INTERNAL_ERROR;  // an answer that contradicts itself is not copied
    } else if (full->DataLength > *dataLength) {
      *dataLength = full->DataLength;
      status = STATUS_BUFFER_OVERFLOW;
    } else {
      if (full->DataLength != 0) memcpy(data, answer + full->DataOffset, full->DataLength);
      *dataLength = full->DataLength;
    }
  }
  pool->Free(answer);
  return status;
}

NTSTATUS SetValue(HANDLE key, PCWSTR name, ULONG type, const void* data, ULONG size) {
  UNICODE_STRING valueName;
  NTSTATUS status = CountedName(name, &valueName);
  if (!NT_SUCCESS(status)) return status;
  return ZwSetValueKey(key, &valueName, 0, type, const_cast<void*>(data), size);
}

NTSTATUS EnumerateValueName(IBufferPool* pool, HANDLE key, ULONG index, PWSTR name, ULONG size) {
  if (name == nullptr) return STATUS_INVALID_PARAMETER;
  if (pool == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  auto* answer =
      static_cast<UCHAR*>(pool->Allocate(NonPagedPool, kValueNameScratchBytes, kBufferScratch));
  if (answer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  ULONG resultLength = 0;
  NTSTATUS status = ZwEnumerateValueKey(key, index, KeyValueBasicInformation, answer,
                                        kValueNameScratchBytes, &resultLength);
  if (NT_SUCCESS(status)) {
    auto* basic = reinterpret_cast<KEY_VALUE_BASIC_INFORMATION*>(answer);
    constexpr ULONG kFixed = offsetof(KEY_VALUE_BASIC_INFORMATION, Name);
    uint64_t answerEnd = uint64_t{kFixed} + basic->NameLength;
    if (answerEnd > kValueNameScratchBytes || answerEnd > resultLength) {
      status = STATUS_INTERNAL_ERROR;
    } else {
      status = CopyName(basic->Name, basic->NameLength, name, size);
    }
  }
  pool->Free(answer);
  return status;
}

NTSTATUS EnumerateSubkeyName(IBufferPool* pool, HANDLE key, ULONG index, PWSTR name, ULONG size) {
  if (name == nullptr) return STATUS_INVALID_PARAMETER;
  if (pool == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  auto* answer =
      static_cast<UCHAR*>(pool->Allocate(NonPagedPool, kSubkeyNameScratchBytes, kBufferScratch));
  if (answer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  ULONG resultLength = 0;
  NTSTATUS status = ZwEnumerateKey(key, index, KeyBasicInformation, answer, kSubkeyNameScratchBytes,
                                   &resultLength);
  if (NT_SUCCESS(status)) {
    auto* basic = reinterpret_cast<KEY_BASIC_INFORMATION*>(answer);
    constexpr ULONG kFixed = offsetof(KEY_BASIC_INFORMATION, Name);
    uint64_t answerEnd = uint64_t{kFixed} + basic->NameLength;
    if (answerEnd > kSubkeyNameScratchBytes || answerEnd > resultLength) {
      status = STATUS_INTERNAL_ERROR;
    } else {
      status = CopyName(basic->Name, basic->NameLength, name, size);
    }
  }
  pool->Free(answer);
  return status;
}

NTSTATUS OpenKey(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key) {
  return OpenByName(parent, access, path, false, key);
}

NTSTATUS CreateKey(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key) {
  return OpenByName(parent, access, path, true, key);
}

NTSTATUS CreateKeyPath(HANDLE parent, ACCESS_MASK access, PCWSTR path, PHANDLE key) {
  UNICODE_STRING whole;
  NTSTATUS status = CountedName(path, &whole);
  if (!NT_SUCCESS(status)) return status;
  // Every backslash after the first character ends one level; a leading one starts an absolute
  // path and is no level of its own.
  for (USHORT cut = 1; cut < whole.Length / sizeof(WCHAR); ++cut) {
    if (path[cut] != u'\\') continue;
    UNICODE_STRING prefix{static_cast<USHORT>(cut * sizeof(WCHAR)),
                          static_cast<USHORT>(cut * sizeof(WCHAR)), whole.Buffer};
    HANDLE level = nullptr;
    status = OpenCounted(parent, access, &prefix, true, &level);
    if (!NT_SUCCESS(status)) return status;
    ZwClose(level);
  }
  return OpenCounted(parent, access, &whole, true, key);
}

NTSTATUS DeleteKey(HANDLE key) { return ZwDeleteKey(key); }

NTSTATUS OpenDeviceKey(DeviceKeyCache* cache, DEVICE_OBJECT* realPhysicalDeviceObject,
                       DEVICE_OBJECT* physicalDeviceObject, PHANDLE key) {
  if (cache == nullptr || key == nullptr) return STATUS_INVALID_PARAMETER;
  NTSTATUS status = STATUS_SUCCESS;
  if (cache->deviceKeyHandle == nullptr) {
    HANDLE opened = nullptr;
    status = IoOpenDeviceRegistryKey(realPhysicalDeviceObject, PLUGPLAY_REGKEY_DRIVER,
                                     STANDARD_RIGHTS_ALL, &opened);
    if (!NT_SUCCESS(status)) {
      status = IoOpenDeviceRegistryKey(physicalDeviceObject, PLUGPLAY_REGKEY_DRIVER,
                                       STANDARD_RIGHTS_ALL, &opened);
    }
    if (NT_SUCCESS(status)) {
      cache->deviceKeyHandle = opened;
      cache->deviceKeyUsers = 0;
    }
  }

  if (cache->classKeyPathValid == 0) {
    WCHAR driverKeyName[kRegistryPathChars];
    ULONG resultLength = 0;
    NTSTATUS nameStatus = IoGetDeviceProperty(realPhysicalDeviceObject, DevicePropertyDriverKeyName,
                                              sizeof driverKeyName, driverKeyName, &resultLength);
    if (!NT_SUCCESS(nameStatus)) {
      status = nameStatus;
    } else {
      // The name ends where the answer says, whatever the buffer held beyond it.
      ULONG units = resultLength / sizeof(WCHAR);
      driverKeyName[units < kRegistryPathChars ? units : kRegistryPathChars - 1] = 0;
      HANDLE classKey = nullptr;
      NTSTATUS classStatus = OpenClassKey(cache, kServicesClassPath, driverKeyName, &classKey);
      if (!NT_SUCCESS(classStatus)) {
        classStatus = OpenClassKey(cache, kControlClassPath, driverKeyName, &classKey);
      }
      if (NT_SUCCESS(classStatus)) {
        // The class key is the answer; a key opened above stays cached for the next call.
        cache->classKeyPathValid = 1;
        *key = classKey;
        return STATUS_SUCCESS;
      }
      status = classStatus;
    }
  }

  if (NT_SUCCESS(status)) {
    *key = cache->deviceKeyHandle;
    ++cache->deviceKeyUsers;
    return status;
  }
  if (cache->classKeyPathValid == 1 && cache->deviceKeyHandle == nullptr) {
    HANDLE reopened = nullptr;
    status = OpenKey(nullptr, KEY_ALL_ACCESS, cache->classKeyPath, &reopened);
    if (NT_SUCCESS(status)) {
      cache->deviceKeyHandle = reopened;
      cache->deviceKeyUsers = 1;
      *key = reopened;
    }
  }
  return status;
}

NTSTATUS CloseKey(DeviceKeyCache* cache, HANDLE handle) {
  if (cache != nullptr && handle != nullptr && handle == cache->deviceKeyHandle) {
    if (cache->deviceKeyUsers > 1) {
      --cache->deviceKeyUsers;
      return STATUS_SUCCESS;
    }
    cache->deviceKeyHandle = nullptr;
    cache->deviceKeyUsers = 0;
  }
  ZwClose(handle);
  return STATUS_SUCCESS;
}

void ReleaseDeviceKey(DeviceKeyCache* cache) {
  if (cache->deviceKeyHandle != nullptr) ZwClose(cache->deviceKeyHandle);
  cache->deviceKeyHandle = nullptr;
  cache->deviceKeyUsers = 0;
}

}  // namespace registry
