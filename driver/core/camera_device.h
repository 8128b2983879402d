// The root object of one camera device. It answers queries for every part of the device: itself,
// the buffer pool (created on the first query) and, through the camera, everything else.
#pragma once

#include "core/buffer_pool.h"

class ICameraDevice : public IUnknown {
 public:
 protected:
  ~ICameraDevice() = default;
};

class CameraDevice final : public Delegating<ICameraDevice, CameraDevice>,
                           public UnknownPart<CameraDevice> {
 public:
  explicit CameraDevice(IUnknown* outerUnknown);
  ~CameraDevice();

  NTSTATUS QueryClassInterface(REFGUID iid, void** result);

  UnknownBase* camera;      // the Camera's UnknownBase, one reference
  UnknownBase* bufferPool;  // created on the first IBufferPool query, one reference
};

NTSTATUS CreateCameraDevice(UnknownBase** result, REFGUID clsid, IUnknown* outer, POOL_TYPE poolType);
