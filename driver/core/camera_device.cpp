#include "core/camera_device.h"

NTSTATUS CreateCameraDevice(UnknownBase** result, REFGUID, IUnknown* outer, POOL_TYPE poolType) {
  return CreateTopLevelObject<CameraDevice>(result, outer, poolType);
}

CameraDevice::CameraDevice(IUnknown* outerUnknown)
    : UnknownPart<CameraDevice>(outerUnknown), camera(nullptr), bufferPool(nullptr) {}

CameraDevice::~CameraDevice() {
  // The camera first: its parts return their buffers to the pool, which therefore goes last.
  ReleaseAndClear(&camera);
  ReleaseAndClear(&bufferPool);
}

NTSTATUS CameraDevice::QueryClassInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_IUnknown)) return UnknownBase::QueryInterface(iid, result);
  if (IsEqualGuid(iid, IID_ICameraDevice)) return AnswerInterface<ICameraDevice>(this, result);
  if (IsEqualGuid(iid, IID_IBufferPool)) {
    if (bufferPool == nullptr) {
      NTSTATUS status = CreateBufferPool(&bufferPool, CLSID_BufferPool,
                                         static_cast<UnknownBase*>(this), NonPagedPool);
      if (!NT_SUCCESS(status)) {
        *result = nullptr;
        return status;
      }
    }
    return bufferPool->QueryInterface(iid, result);
  }
  if (camera != nullptr) return camera->QueryInterface(iid, result);
  *result = nullptr;
  return STATUS_INVALID_PARAMETER;
}
