// The registry hive in memory, shared by the kernel routines, the .reg import and export and the
// host controls. Every function here expects the hive lock to be held by its caller.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kernel_types.h"
#include "registry_control.h"

namespace host::internal {

struct KeyNode {
  std::u16string name;  // as created; lookups compare upper-cased names
  KeyNode* parent = nullptr;
  // By upper-cased name, which is the order in which subkeys enumerate.
  std::map<std::u16string, std::shared_ptr<KeyNode>> subkeys;
  std::vector<RegistryValue> values;  // in creation order
  LONGLONG lastWriteTime = 0;
  bool deleted = false;  // removed from the hive; handles to it stay open but refuse to work
};

using KeyRef = std::shared_ptr<KeyNode>;

std::mutex& HiveLock();
// "\Registry", with "Machine" and "User" below it.
KeyRef RegistryRoot();
void ResetHive();

std::u16string UpcaseName(std::u16string_view name);
// Key names are 1 to 255 characters without a backslash.
constexpr size_t kMaxKeyNameUnits = 255;
constexpr size_t kMaxValueNameUnits = 16383;

// Resolves path below start (relative), or from the registry root when the path begins with "\"
// (it must then begin with "\Registry"). An empty relative path is start itself. With create set
// the last component is created when missing (its parent must exist). created (optional) tells
// whether it was.
NTSTATUS ResolveKey(const KeyRef& start, std::u16string_view path, bool create, KeyRef* result,
                    bool* created = nullptr);
// Resolves an absolute path, creating every missing key on the way when create is set.
NTSTATUS ResolveAbsolute(std::u16string_view path, bool createAll, KeyRef* result);

RegistryValue* FindValue(KeyNode& key, std::u16string_view name);
void SetValue(KeyNode& key, std::u16string_view name, ULONG type, std::vector<uint8_t> data);
bool DeleteValue(KeyNode& key, std::u16string_view name);
// Deletes a key without subkeys (STATUS_CANNOT_DELETE otherwise); the registry root and its
// "Machine" and "User" keys cannot be deleted.
NTSTATUS DeleteKey(KeyNode& key);
// Deletes the key and everything below it.
NTSTATUS DeleteTree(KeyNode& key);
// The key's absolute path, "\Registry\Machine\...".
std::u16string KeyPath(const KeyNode& key);
void TouchKey(KeyNode& key);

// Forgets every device's driver key (a reset of the hive); in the Plug and Play part.
void ForgetAllDevices();

}  // namespace host::internal
