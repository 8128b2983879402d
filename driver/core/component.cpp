#include "core/component.h"

#include <cstring>

NTSTATUS UnknownBase::QueryInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_IUnknown)) {
    *result = static_cast<UnknownBase*>(this);
    AddRef();
    return STATUS_SUCCESS;
  }
  *result = nullptr;
  return STATUS_INVALID_PARAMETER;
}

LONG UnknownBase::AddRef() {
  InterlockedIncrement(&refCount);
  return refCount;
}

LONG UnknownBase::Release() {
  if (InterlockedDecrement(&refCount) != 0) return refCount;
  refCount = refCount + 1;
  Destroy(1);
  return 0;
}

void* AllocateZeroed(SIZE_T size, POOL_TYPE poolType, ULONG tag) {
  void* block = ExAllocatePoolWithTag(poolType, size, tag);
  if (block != nullptr) memset(block, 0, size);
  return block;
}

void* AllocateUnderRetryRule(SIZE_T size, POOL_TYPE poolType, ULONG tag) {
  constexpr int kAttempts = 10;
  for (int attempt = 1;; ++attempt) {
    void* block = ExAllocatePoolWithTag(poolType, size, tag);
    if (block != nullptr || attempt == kAttempts) return block;
    if (KeGetCurrentIrql() < DISPATCH_LEVEL) {
      LARGE_INTEGER interval;
      interval.QuadPart = -1000000;  // 100 ms, relative
      KeDelayExecutionThread(KernelMode, FALSE, &interval);
    }
  }
}

void* AllocateWithRetry(SIZE_T size) {
  void* block = AllocateUnderRetryRule(size, NonPagedPool, kPoolTagDriver);
  if (block != nullptr) memset(block, 0, size);
  return block;
}
