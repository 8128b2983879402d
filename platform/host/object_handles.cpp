// Kernel handles: values that look like the target's (multiples of 4, kernel-handle bit set) and
// are handed out once each.
#include "object_handles.h"

#include <map>
#include <mutex>

#include "host_control.h"
#include "kernel.h"
#include "kernel_objects.h"

namespace host::internal {
namespace {

struct HandleEntry {
  HandleKind kind;
  std::shared_ptr<void> object;
};

struct HandleTable {
  std::mutex lock;
  std::map<uintptr_t, HandleEntry> entries;
  uintptr_t next = 0x80000004;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // never destroyed: handles may close during exit
  return *table;
}

}  // namespace

HANDLE InsertHandle(HandleKind kind, std::shared_ptr<void> object) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  uintptr_t value = table.next;
  table.next += 4;
  table.entries[value] = HandleEntry{kind, std::move(object)};
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<void> ReferenceHandle(HANDLE handle, HandleKind kind) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto found = table.entries.find(reinterpret_cast<uintptr_t>(handle));
  if (found == table.entries.end() || found->second.kind != kind) return nullptr;
  return found->second.object;
}

bool CloseHandle(HANDLE handle) {
  std::shared_ptr<void> object;  // released outside the lock: closing a file runs its destructor
  HandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto found = table.entries.find(reinterpret_cast<uintptr_t>(handle));
  if (found == table.entries.end()) return false;
  object = std::move(found->second.object);
  table.entries.erase(found);
  return true;
}

void CloseAllHandles(HandleKind kind) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  std::erase_if(table.entries, [kind](const auto& entry) { return entry.second.kind == kind; });
}

size_t OpenHandleCount(HandleKind kind) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  size_t count = 0;
  for (const auto& entry : table.entries) count += entry.second.kind == kind ? 1 : 0;
  return count;
}

void RequirePassiveLevel(const char* routine) {
  KIRQL irql = KeGetCurrentIrql();
  if (irql != PASSIVE_LEVEL) {
    host::VerifierFailure("%s called at IRQL %u; it runs only at PASSIVE_LEVEL", routine, irql);
  }
}

}  // namespace host::internal

extern "C" NTSTATUS NTAPI ZwClose(HANDLE handle) {
  host::internal::RequirePassiveLevel("ZwClose");
  return host::internal::CloseHandle(handle) ? STATUS_SUCCESS : STATUS_INVALID_HANDLE;
}
