// The kernel's registry routines over the in-memory hive. Answers follow the information classes
// byte for byte, with the size rules of the target: a buffer that cannot hold the fixed part gets
// nothing, one that holds it but not the rest gets the fixed part and STATUS_BUFFER_OVERFLOW.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "kernel.h"
#include "kernel_registry.h"
#include "object_handles.h"
#include "registry_hive.h"

namespace {

using host::RegistryValue;
using host::internal::HandleKind;
using host::internal::HiveLock;
using host::internal::KeyNode;
using host::internal::KeyRef;

// The key behind a handle, or the status that refuses it.
NTSTATUS KeyFromHandle(HANDLE handle, KeyRef* key) {
  *key = host::internal::ReferenceHandleAs<KeyNode>(handle, HandleKind::RegistryKey);
  if (!*key) return STATUS_INVALID_HANDLE;
  if ((*key)->deleted) return STATUS_KEY_DELETED;
  return STATUS_SUCCESS;
}

NTSTATUS NameOf(PCUNICODE_STRING name, std::u16string_view* view) {
  if (name == nullptr || name->Length == 0) {
    *view = {};
    return STATUS_SUCCESS;
  }
  if (name->Buffer == nullptr || (name->Length & 1) != 0) return STATUS_INVALID_PARAMETER;
  *view = std::u16string_view(name->Buffer, name->Length / sizeof(WCHAR));
  return STATUS_SUCCESS;
}

// Where a create or open starts and the path it follows from there.
NTSTATUS Locate(POBJECT_ATTRIBUTES attributes, KeyRef* start, std::u16string_view* path) {
  if (attributes == nullptr || attributes->ObjectName == nullptr) return STATUS_INVALID_PARAMETER;
  NTSTATUS status = NameOf(attributes->ObjectName, path);
  if (!NT_SUCCESS(status)) return status;
  bool absolute = !path->empty() && path->front() == u'\\';
  if (attributes->RootDirectory == nullptr) {
    return absolute ? STATUS_SUCCESS : STATUS_OBJECT_NAME_INVALID;
  }
  if (absolute) return STATUS_OBJECT_NAME_INVALID;
  *start = host::internal::ReferenceHandleAs<KeyNode>(attributes->RootDirectory,
                                                      HandleKind::RegistryKey);
  return *start ? STATUS_SUCCESS : STATUS_INVALID_HANDLE;
}

NTSTATUS OpenOrCreate(PHANDLE keyHandle, POBJECT_ATTRIBUTES attributes, bool create,
                      PULONG disposition) {
  if (keyHandle == nullptr) return STATUS_INVALID_PARAMETER;
  KeyRef start;
  std::u16string_view path;
  NTSTATUS status = Locate(attributes, &start, &path);
  if (!NT_SUCCESS(status)) return status;
  KeyRef key;
  bool created = false;
  {
    std::lock_guard<std::mutex> guard(HiveLock());
    status = host::internal::ResolveKey(start, path, create, &key, &created);
  }
  if (!NT_SUCCESS(status)) return status;
  *keyHandle = host::internal::InsertHandle(HandleKind::RegistryKey, key);
  if (disposition != nullptr)
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return STATUS_SUCCESS;
}

// Copies the fixed part of an answer, then as much of each variable part as fits.
class Answer {
 public:
  Answer(PVOID buffer, ULONG length) : buffer_(static_cast<uint8_t*>(buffer)), length_(length) {}

  void Put(size_t offset, const void* data, size_t size) {
    if (size == 0 || offset >= length_) return;
    size_t room = length_ - offset;
    memcpy(buffer_ + offset, data, size < room ? size : room);
  }
  void PutUlong(size_t offset, ULONG value) { Put(offset, &value, sizeof value); }

  // The status of an answer of total size required with a fixed part of fixedSize.
  NTSTATUS Finish(size_t fixedSize, size_t required, PULONG resultLength) const {
    *resultLength = static_cast<ULONG>(required);
    if (length_ < fixedSize) return STATUS_BUFFER_TOO_SMALL;
    return length_ < required ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
  }
  bool HoldsFixedPart(size_t fixedSize) const { return length_ >= fixedSize; }

 private:
  uint8_t* buffer_;
  ULONG length_;
};

constexpr size_t AlignUp4(size_t offset) { return (offset + 3) & ~static_cast<size_t>(3); }

NTSTATUS AnswerValue(const RegistryValue& value, KEY_VALUE_INFORMATION_CLASS informationClass,
                     PVOID buffer, ULONG length, PULONG resultLength) {
  if (resultLength == nullptr || (buffer == nullptr && length != 0)) {
    return STATUS_INVALID_PARAMETER;
  }
  Answer answer(buffer, length);
  size_t nameBytes = value.name.size() * sizeof(WCHAR);
  ULONG dataBytes = static_cast<ULONG>(value.data.size());
  switch (informationClass) {
    case KeyValueBasicInformation: {
      size_t fixed = offsetof(KEY_VALUE_BASIC_INFORMATION, Name);
      if (answer.HoldsFixedPart(fixed)) {
        answer.PutUlong(offsetof(KEY_VALUE_BASIC_INFORMATION, TitleIndex), 0);
        answer.PutUlong(offsetof(KEY_VALUE_BASIC_INFORMATION, Type), value.type);
        answer.PutUlong(offsetof(KEY_VALUE_BASIC_INFORMATION, NameLength),
                        static_cast<ULONG>(nameBytes));
        answer.Put(fixed, value.name.data(), nameBytes);
      }
      return answer.Finish(fixed, fixed + nameBytes, resultLength);
    }
    case KeyValueFullInformation: {
      size_t fixed = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
      size_t dataOffset = AlignUp4(fixed + nameBytes);
      size_t required = dataOffset + dataBytes;
      if (answer.HoldsFixedPart(fixed)) {
        answer.PutUlong(offsetof(KEY_VALUE_FULL_INFORMATION, TitleIndex), 0);
        answer.PutUlong(offsetof(KEY_VALUE_FULL_INFORMATION, Type), value.type);
        answer.PutUlong(offsetof(KEY_VALUE_FULL_INFORMATION, DataOffset),
                        static_cast<ULONG>(dataOffset));
        answer.PutUlong(offsetof(KEY_VALUE_FULL_INFORMATION, DataLength), dataBytes);
        answer.PutUlong(offsetof(KEY_VALUE_FULL_INFORMATION, NameLength),
                        static_cast<ULONG>(nameBytes));
        answer.Put(fixed, value.name.data(), nameBytes);
        if (length >= required) answer.Put(dataOffset, value.data.data(), dataBytes);
      }
      return answer.Finish(fixed, required, resultLength);
    }
    case KeyValuePartialInformation: {
      size_t fixed = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
      if (answer.HoldsFixedPart(fixed)) {
        answer.PutUlong(offsetof(KEY_VALUE_PARTIAL_INFORMATION, TitleIndex), 0);
        answer.PutUlong(offsetof(KEY_VALUE_PARTIAL_INFORMATION, Type), value.type);
        answer.PutUlong(offsetof(KEY_VALUE_PARTIAL_INFORMATION, DataLength), dataBytes);
        if (length >= fixed + dataBytes) answer.Put(fixed, value.data.data(), dataBytes);
      }
      return answer.Finish(fixed, fixed + dataBytes, resultLength);
    }
  }
  return STATUS_INVALID_PARAMETER;
}

NTSTATUS AnswerKey(const KeyNode& key, KEY_INFORMATION_CLASS informationClass, PVOID buffer,
                   ULONG length, PULONG resultLength) {
  if (resultLength == nullptr || (buffer == nullptr && length != 0)) {
    return STATUS_INVALID_PARAMETER;
  }
  Answer answer(buffer, length);
  if (informationClass == KeyBasicInformation) {
    size_t fixed = offsetof(KEY_BASIC_INFORMATION, Name);
    size_t nameBytes = key.name.size() * sizeof(WCHAR);
    if (answer.HoldsFixedPart(fixed)) {
      answer.Put(offsetof(KEY_BASIC_INFORMATION, LastWriteTime), &key.lastWriteTime, 8);
      answer.PutUlong(offsetof(KEY_BASIC_INFORMATION, TitleIndex), 0);
      answer.PutUlong(offsetof(KEY_BASIC_INFORMATION, NameLength), static_cast<ULONG>(nameBytes));
      answer.Put(fixed, key.name.data(), nameBytes);
    }
    return answer.Finish(fixed, fixed + nameBytes, resultLength);
  }
  if (informationClass == KeyFullInformation) {
    size_t fixed = offsetof(KEY_FULL_INFORMATION, Class);
    if (answer.HoldsFixedPart(fixed)) {
      ULONG maxName = 0, maxValueName = 0, maxValueData = 0;
      for (const auto& [upper, subkey] : key.subkeys) {
        maxName = std::max<ULONG>(maxName, static_cast<ULONG>(subkey->name.size() * 2));
      }
      for (const RegistryValue& value : key.values) {
        maxValueName = std::max<ULONG>(maxValueName, static_cast<ULONG>(value.name.size() * 2));
        maxValueData = std::max<ULONG>(maxValueData, static_cast<ULONG>(value.data.size()));
      }
      answer.Put(offsetof(KEY_FULL_INFORMATION, LastWriteTime), &key.lastWriteTime, 8);
      answer.PutUlong(offsetof(KEY_FULL_INFORMATION, TitleIndex), 0);
      answer.PutUlong(offsetof(KEY_FULL_INFORMATION, ClassOffset), 0xFFFFFFFF);
      answer.PutUlong(offsetof(KEY_FULL_INFORMATION, ClassLength), 0);
      answer.PutUlong(offsetof(KEY_FULL_INFORMATION, SubKeys),
                      static_cast<ULONG>(key.subkeys.size()));
      answer.PutUlong(offsetof(KEY_FULL_INFORMATION, MaxNameLen), maxName);
      answer.PutUlong(offsetof(KEY_FULL_INFORMATION, MaxClassLen), 0);
      answer.PutUlong(offsetof(KEY_FULL_INFORMATION, Values),
                      static_cast<ULONG>(key.values.size()));
      answer.PutUlong(offsetof(KEY_FULL_INFORMATION, MaxValueNameLen), maxValueName);
      answer.PutUlong(offsetof(KEY_FULL_INFORMATION, MaxValueDataLen), maxValueData);
    }
    return answer.Finish(fixed, fixed, resultLength);
  }
  return STATUS_INVALID_PARAMETER;
}

// Runs action(key, valueName) under the hive lock after the checks every key routine makes: the
// caller at PASSIVE_LEVEL, a handle of an open key, a readable value name when one is given, and a
// key that has not been deleted since it was opened.
template <class Action>
NTSTATUS WithLiveKey(const char* routine, HANDLE keyHandle, PUNICODE_STRING valueName,
                     Action action) {
  host::internal::RequirePassiveLevel(routine);
  KeyRef key;
  NTSTATUS status = KeyFromHandle(keyHandle, &key);
  std::u16string_view name;
  if (NT_SUCCESS(status) && valueName != nullptr) status = NameOf(valueName, &name);
  if (!NT_SUCCESS(status)) return status;
  std::lock_guard<std::mutex> guard(HiveLock());
  if (key->deleted) return STATUS_KEY_DELETED;
  return action(*key, name);
}

}  // namespace

extern "C" {

NTSTATUS NTAPI ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES objectAttributes) {
  host::internal::RequirePassiveLevel("ZwOpenKey");
  return OpenOrCreate(keyHandle, objectAttributes, false, nullptr);
}

NTSTATUS NTAPI ZwCreateKey(PHANDLE keyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES objectAttributes,
                           ULONG, PUNICODE_STRING, ULONG, PULONG disposition) {
  host::internal::RequirePassiveLevel("ZwCreateKey");
  return OpenOrCreate(keyHandle, objectAttributes, true, disposition);
}

NTSTATUS NTAPI ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                               KEY_VALUE_INFORMATION_CLASS informationClass,
                               PVOID keyValueInformation, ULONG length, PULONG resultLength) {
  return WithLiveKey(
      "ZwQueryValueKey", keyHandle, valueName, [&](KeyNode& key, std::u16string_view name) {
        const RegistryValue* value = host::internal::FindValue(key, name);
        if (value == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
        return AnswerValue(*value, informationClass, keyValueInformation, length, resultLength);
      });
}

NTSTATUS NTAPI ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, ULONG, ULONG type,
                             PVOID data, ULONG dataSize) {
  return WithLiveKey(
      "ZwSetValueKey", keyHandle, valueName, [&](KeyNode& key, std::u16string_view name) {
        if (name.size() > host::internal::kMaxValueNameUnits ||
            (data == nullptr && dataSize != 0)) {
          return STATUS_INVALID_PARAMETER;
        }
        const auto* bytes = static_cast<const uint8_t*>(data);
        host::internal::SetValue(key, name, type, std::vector<uint8_t>(bytes, bytes + dataSize));
        return STATUS_SUCCESS;
      });
}

NTSTATUS NTAPI ZwDeleteValueKey(HANDLE keyHandle, PUNICODE_STRING valueName) {
  return WithLiveKey("ZwDeleteValueKey", keyHandle, valueName,
                     [&](KeyNode& key, std::u16string_view name) {
                       return host::internal::DeleteValue(key, name) ? STATUS_SUCCESS
                                                                     : STATUS_OBJECT_NAME_NOT_FOUND;
                     });
}

NTSTATUS NTAPI ZwEnumerateValueKey(HANDLE keyHandle, ULONG index,
                                   KEY_VALUE_INFORMATION_CLASS informationClass,
                                   PVOID keyValueInformation, ULONG length, PULONG resultLength) {
  return WithLiveKey("ZwEnumerateValueKey", keyHandle, nullptr,
                     [&](KeyNode& key, std::u16string_view) {
                       if (index >= key.values.size()) return STATUS_NO_MORE_ENTRIES;
                       return AnswerValue(key.values[index], informationClass, keyValueInformation,
                                          length, resultLength);
                     });
}

NTSTATUS NTAPI ZwEnumerateKey(HANDLE keyHandle, ULONG index, KEY_INFORMATION_CLASS informationClass,
                              PVOID keyInformation, ULONG length, PULONG resultLength) {
  return WithLiveKey("ZwEnumerateKey", keyHandle, nullptr, [&](KeyNode& key, std::u16string_view) {
    if (index >= key.subkeys.size()) return STATUS_NO_MORE_ENTRIES;
    auto subkey = key.subkeys.begin();
    std::advance(subkey, index);
    return AnswerKey(*subkey->second, informationClass, keyInformation, length, resultLength);
  });
}

NTSTATUS NTAPI ZwQueryKey(HANDLE keyHandle, KEY_INFORMATION_CLASS informationClass,
                          PVOID keyInformation, ULONG length, PULONG resultLength) {
  return WithLiveKey("ZwQueryKey", keyHandle, nullptr, [&](KeyNode& key, std::u16string_view) {
    return AnswerKey(key, informationClass, keyInformation, length, resultLength);
  });
}

NTSTATUS NTAPI ZwDeleteKey(HANDLE keyHandle) {
  host::internal::RequirePassiveLevel("ZwDeleteKey");
  KeyRef key;
  NTSTATUS status = KeyFromHandle(keyHandle, &key);
  if (!NT_SUCCESS(status)) return status;
  std::lock_guard<std::mutex> guard(HiveLock());
  return host::internal::DeleteKey(*key);
}

}  // extern "C"
