// The hive: keys found and created by path with case-insensitive names, values kept in creation
// order, deletion that leaves open handles pointing at a key marked deleted. Also the host's
// access to keys and values by absolute path.
#include "registry_hive.h"

#include <algorithm>
#include <cstring>

#include "kernel.h"
#include "kernel_registry.h"
#include "kernel_strings.h"
#include "object_handles.h"

namespace host::internal {
namespace {

struct Hive {
  std::mutex lock;
  KeyRef root;
};

Hive& TheHive() {
  static Hive* hive = new Hive;  // never destroyed: handles may be closed during exit
  return *hive;
}

KeyRef NewKey(KeyNode* parent, std::u16string name) {
  auto key = std::make_shared<KeyNode>();
  key->name = std::move(name);
  key->parent = parent;
  TouchKey(*key);
  if (parent != nullptr) {
    parent->subkeys[UpcaseName(key->name)] = key;
    TouchKey(*parent);
  }
  return key;
}

KeyRef& Root() {
  Hive& hive = TheHive();
  if (!hive.root) {
    hive.root = NewKey(nullptr, u"REGISTRY");
    NewKey(hive.root.get(), u"MACHINE");
    NewKey(hive.root.get(), u"USER");
  }
  return hive.root;
}

void MarkDeleted(KeyNode& key) {
  for (auto& [name, subkey] : key.subkeys) MarkDeleted(*subkey);
  key.subkeys.clear();
  key.deleted = true;
  key.parent = nullptr;
}

bool IsProtected(const KeyNode& key) {
  return key.parent == nullptr || key.parent->parent == nullptr;  // the root, Machine, User
}

}  // namespace

std::mutex& HiveLock() { return TheHive().lock; }

KeyRef RegistryRoot() { return Root(); }

void ResetHive() {
  KeyRef& root = Root();
  MarkDeleted(*root);
  root.reset();
  Root();
}

std::u16string UpcaseName(std::u16string_view name) {
  std::u16string upper(name);
  for (char16_t& unit : upper) unit = RtlUpcaseUnicodeChar(unit);
  return upper;
}

NTSTATUS ResolveKey(const KeyRef& start, std::u16string_view path, bool create, KeyRef* result,
                    bool* created) {
  if (created != nullptr) *created = false;
  KeyRef key = start;
  if (!path.empty() && path.front() == u'\\') {
    // The object namespace: only "\Registry" and what lies below it is the registry.
    path.remove_prefix(1);
    size_t end = path.find(u'\\');
    if (UpcaseName(path.substr(0, end)) != u"REGISTRY") return STATUS_OBJECT_PATH_NOT_FOUND;
    path = end == std::u16string_view::npos ? std::u16string_view() : path.substr(end + 1);
    key = Root();
    if (end != std::u16string_view::npos && path.empty()) return STATUS_OBJECT_NAME_INVALID;
  }
  if (!key || key->deleted) return STATUS_KEY_DELETED;
  // The whole name is checked before any key is looked at.
  for (size_t begin = 0; begin < path.size();) {
    size_t end = std::min(path.find(u'\\', begin), path.size());
    if (end == begin || end - begin > kMaxKeyNameUnits || end + 1 == path.size()) {
      return STATUS_OBJECT_NAME_INVALID;
    }
    begin = end + 1;
  }
  while (!path.empty()) {
    size_t end = path.find(u'\\');
    std::u16string_view component = path.substr(0, end);
    bool last = end == std::u16string_view::npos;
    path = last ? std::u16string_view() : path.substr(end + 1);
    auto found = key->subkeys.find(UpcaseName(component));
    if (found != key->subkeys.end()) {
      key = found->second;
      continue;
    }
    if (!last || !create) return STATUS_OBJECT_NAME_NOT_FOUND;
    if (key->parent == nullptr) return STATUS_ACCESS_DENIED;  // no new roots beside Machine, User
    key = NewKey(key.get(), std::u16string(component));
    if (created != nullptr) *created = true;
  }
  *result = key;
  return STATUS_SUCCESS;
}

NTSTATUS ResolveAbsolute(std::u16string_view path, bool createAll, KeyRef* result) {
  if (path.empty() || path.front() != u'\\') return STATUS_OBJECT_PATH_NOT_FOUND;
  if (!createAll) return ResolveKey(nullptr, path, false, result);
  // Create level by level, as a path of nested ZwCreateKey calls would.
  size_t cut = path.find(u'\\', 1);
  while (cut != std::u16string_view::npos) {
    KeyRef level;
    NTSTATUS status = ResolveKey(nullptr, path.substr(0, cut), true, &level);
    if (!NT_SUCCESS(status)) return status;
    cut = path.find(u'\\', cut + 1);
  }
  return ResolveKey(nullptr, path, true, result);
}

RegistryValue* FindValue(KeyNode& key, std::u16string_view name) {
  std::u16string upper = UpcaseName(name);
  for (RegistryValue& value : key.values) {
    if (value.name.size() == name.size() && UpcaseName(value.name) == upper) return &value;
  }
  return nullptr;
}

void SetValue(KeyNode& key, std::u16string_view name, ULONG type, std::vector<uint8_t> data) {
  if (RegistryValue* value = FindValue(key, name)) {
    value->type = type;
    value->data = std::move(data);
  } else {
    key.values.push_back(RegistryValue{std::u16string(name), type, std::move(data)});
  }
  TouchKey(key);
}

bool DeleteValue(KeyNode& key, std::u16string_view name) {
  RegistryValue* value = FindValue(key, name);
  if (value == nullptr) return false;
  key.values.erase(key.values.begin() + (value - key.values.data()));
  TouchKey(key);
  return true;
}

NTSTATUS DeleteKey(KeyNode& key) {
  if (key.deleted) return STATUS_KEY_DELETED;
  if (IsProtected(key)) return STATUS_ACCESS_DENIED;
  if (!key.subkeys.empty()) return STATUS_CANNOT_DELETE;
  return DeleteTree(key);
}

NTSTATUS DeleteTree(KeyNode& key) {
  if (key.deleted) return STATUS_KEY_DELETED;
  if (IsProtected(key)) return STATUS_ACCESS_DENIED;
  KeyNode* parent = key.parent;
  KeyRef keepAlive = parent->subkeys[UpcaseName(key.name)];
  parent->subkeys.erase(UpcaseName(key.name));
  TouchKey(*parent);
  MarkDeleted(key);
  return STATUS_SUCCESS;
}

std::u16string KeyPath(const KeyNode& key) {
  if (key.parent == nullptr) return u"\\Registry";
  return KeyPath(*key.parent) + u"\\" + key.name;
}

void TouchKey(KeyNode& key) {
  LARGE_INTEGER now;
  KeQuerySystemTime(&now);
  key.lastWriteTime = now.QuadPart;
}

}  // namespace host::internal

namespace host {

using internal::HiveLock;
using internal::KeyRef;

void ResetRegistry() {
  internal::CloseAllHandles(internal::HandleKind::RegistryKey);
  std::lock_guard<std::mutex> guard(HiveLock());
  internal::ResetHive();
  internal::ForgetAllDevices();
}

bool RegistryKeyExists(std::u16string_view keyPath) {
  std::lock_guard<std::mutex> guard(HiveLock());
  KeyRef key;
  return NT_SUCCESS(internal::ResolveAbsolute(keyPath, false, &key));
}

bool CreateRegistryKey(std::u16string_view keyPath) {
  std::lock_guard<std::mutex> guard(HiveLock());
  KeyRef key;
  return NT_SUCCESS(internal::ResolveAbsolute(keyPath, true, &key));
}

bool DeleteRegistryTree(std::u16string_view keyPath) {
  std::lock_guard<std::mutex> guard(HiveLock());
  KeyRef key;
  if (!NT_SUCCESS(internal::ResolveAbsolute(keyPath, false, &key))) return false;
  return NT_SUCCESS(internal::DeleteTree(*key));
}

std::optional<RegistryValue> ReadRegistryValue(std::u16string_view keyPath,
                                               std::u16string_view valueName) {
  std::lock_guard<std::mutex> guard(HiveLock());
  KeyRef key;
  if (!NT_SUCCESS(internal::ResolveAbsolute(keyPath, false, &key))) return std::nullopt;
  RegistryValue* value = internal::FindValue(*key, valueName);
  if (value == nullptr) return std::nullopt;
  return *value;
}

bool WriteRegistryValue(std::u16string_view keyPath, std::u16string_view valueName, ULONG type,
                        const std::vector<uint8_t>& data) {
  std::lock_guard<std::mutex> guard(HiveLock());
  KeyRef key;
  if (!NT_SUCCESS(internal::ResolveAbsolute(keyPath, true, &key))) return false;
  internal::SetValue(*key, valueName, type, data);
  return true;
}

bool WriteRegistryString(std::u16string_view keyPath, std::u16string_view valueName,
                         std::u16string_view text) {
  std::vector<uint8_t> data((text.size() + 1) * sizeof(char16_t), 0);
  memcpy(data.data(), text.data(), text.size() * sizeof(char16_t));
  return WriteRegistryValue(keyPath, valueName, REG_SZ, data);
}

bool WriteRegistryDword(std::u16string_view keyPath, std::u16string_view valueName, ULONG value) {
  std::vector<uint8_t> data(4);
  memcpy(data.data(), &value, 4);
  return WriteRegistryValue(keyPath, valueName, REG_DWORD, data);
}

std::vector<std::u16string> RegistrySubkeyNames(std::u16string_view keyPath) {
  std::lock_guard<std::mutex> guard(HiveLock());
  std::vector<std::u16string> names;
  KeyRef key;
  if (NT_SUCCESS(internal::ResolveAbsolute(keyPath, false, &key))) {
    for (const auto& [upper, subkey] : key->subkeys) names.push_back(subkey->name);
  }
  return names;
}

std::vector<RegistryValue> RegistryValues(std::u16string_view keyPath) {
  std::lock_guard<std::mutex> guard(HiveLock());
  KeyRef key;
  if (!NT_SUCCESS(internal::ResolveAbsolute(keyPath, false, &key))) return {};
  return key->values;
}

HANDLE OpenRegistryKeyHandle(std::u16string_view keyPath, bool create) {
  KeyRef key;
  {
    std::lock_guard<std::mutex> guard(HiveLock());
    if (!NT_SUCCESS(internal::ResolveAbsolute(keyPath, create, &key))) return nullptr;
  }
  return internal::InsertHandle(internal::HandleKind::RegistryKey, key);
}

size_t OpenRegistryHandleCount() {
  return internal::OpenHandleCount(internal::HandleKind::RegistryKey);
}

}  // namespace host
