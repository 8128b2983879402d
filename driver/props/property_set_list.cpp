#include "props/property_set_list.h"

#include <cstring>

#include "camera/camera.h"
#include "props/change_notice.h"

PropertySetList::PropertySetList(PCWSTR path, ICaptureControl* ownerInterface,
                                 IUnknown* outerUnknown)
    : UnknownPart<PropertySetList>(outerUnknown),
      keyPath{},
      owner(ownerInterface),
      bufferPool(nullptr) {
  // The pool lives as long as the device: kept without a reference.
  void* answer = nullptr;
  if (owner != nullptr && NT_SUCCESS(owner->QueryInterface(IID_IBufferPool, &answer))) {
    bufferPool = static_cast<IBufferPool*>(answer);
    bufferPool->Release();
  }
  if (path != nullptr) {
    ULONG length = 0;
    while (length + 1 < kRegistryPathChars && path[length] != 0) ++length;
    memcpy(keyPath, path, length * sizeof(WCHAR));
    keyPath[length] = 0;
  }
  BuildSets();
}

NTSTATUS PropertySetList::QueryClassInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_IPropertySetList))
    return AnswerInterface<IPropertySetList>(this, result);
  return UnknownBase::QueryInterface(iid, result);
}

// No set claims the request.
NTSTATUS PropertySetList::HandleGetRequest(PHW_STREAM_REQUEST_BLOCK request) {
  request->Status = STATUS_NOT_SUPPORTED;
  return request->Status;
}

// A set that no set claims did not succeed, so there is no property-change notice to send.
NTSTATUS PropertySetList::HandleSetRequest(PHW_STREAM_REQUEST_BLOCK request) {
  request->Status = STATUS_NOT_SUPPORTED;
  return request->Status;
}

ULONG PropertySetList::GetSetTable(KSPROPERTY_SET** table) {
  *table = setTable;
  return setCount;
}

NTSTATUS PropertySetList::SaveAll() { return STATUS_SUCCESS; }
NTSTATUS PropertySetList::RestoreAll() { return STATUS_SUCCESS; }

NTSTATUS PropertySetList::NotifyChange(ChangeNotice* notice) {
  if (notice == nullptr) return STATUS_INVALID_PARAMETER;
  return STATUS_SUCCESS;
}

// The sets are made from the subkeys of keyPath together with their property items; until then
// the list stays empty, which every request above allows for.
NTSTATUS PropertySetList::BuildSets() { return STATUS_SUCCESS; }
