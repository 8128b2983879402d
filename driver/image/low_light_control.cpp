#include "image/low_light_control.h"

#include <cstring>

#include "camera/camera.h"

LowLightControl::LowLightControl(PCWSTR keyPath, ICaptureControl* ownerInterface,
                                 IUnknown* outerUnknown)
    : UnknownPart<LowLightControl>(outerUnknown), owner(ownerInterface), pool(nullptr), path{} {
  // The pool lives as long as the device: kept without a reference.
  void* answer = nullptr;
  if (owner != nullptr && NT_SUCCESS(owner->QueryInterface(IID_IBufferPool, &answer))) {
    pool = static_cast<IBufferPool*>(answer);
    pool->Release();
  }
  if (keyPath != nullptr) {
    ULONG length = 0;
    while (length + 1 < kRegistryPathChars && keyPath[length] != 0) ++length;
    memcpy(path, keyPath, length * sizeof(WCHAR));
    path[length] = 0;
  }
}

NTSTATUS LowLightControl::QueryClassInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_ILowLightControl))
    return AnswerInterface<ILowLightControl>(this, result);
  return UnknownBase::QueryInterface(iid, result);
}

NTSTATUS LowLightControl::SetFrameRate(ULONG frameRate) {
  // The window is checkTime tenths of a second of frames; the ring holds no more than its size,
  // so a longer window would count values it no longer has.
  const ULONGLONG frames = static_cast<ULONGLONG>(checkTime) * frameRate / 10000;
  windowFrames = frames < kLowLightRingSize ? static_cast<ULONG>(frames) : kLowLightRingSize;
  upLimit = clockUpThreshold * windowFrames;
  downLimit = clockDownThreshold * windowFrames;
  oldest = newest = count = sum = 0;
  uvCountdown = kUvCheckInterval;
  return STATUS_SUCCESS;
}

NTSTATUS LowLightControl::BeginFrame() {
  newFrame = 1;
  return STATUS_SUCCESS;
}

// Both checks are off until their settings enable them, so a frame only ends the analysis.
NTSTATUS LowLightControl::AnalyseFrame(ULONG, ULONG, ULONG, const UCHAR*, ULONG) {
  newFrame = 0;
  return STATUS_SUCCESS;
}
