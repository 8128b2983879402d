// The host's table of kernel handles (registry keys and files). Handle values are never reused, so
// a stale handle, or one of another kind, is recognised and refused rather than reaching the wrong
// object.
#pragma once

#include <cstddef>
#include <memory>

#include "kernel_types.h"

namespace host::internal {

enum class HandleKind { RegistryKey, File };

HANDLE InsertHandle(HandleKind kind, std::shared_ptr<void> object);
// The object behind an open handle of the given kind, or null.
std::shared_ptr<void> ReferenceHandle(HANDLE handle, HandleKind kind);
template <class T>
std::shared_ptr<T> ReferenceHandleAs(HANDLE handle, HandleKind kind) {
  return std::static_pointer_cast<T>(ReferenceHandle(handle, kind));
}
// False when the handle is not open.
bool CloseHandle(HANDLE handle);
void CloseAllHandles(HandleKind kind);
size_t OpenHandleCount(HandleKind kind);

// Registry and file routines may only be called at PASSIVE_LEVEL; anything else is a verifier
// failure naming the routine.
void RequirePassiveLevel(const char* routine);

}  // namespace host::internal
