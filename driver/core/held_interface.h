// One interface of an object, queried for a single use and released when the holder goes out of
// scope; the way the device and the callbacks reach the camera's parts for the length of a call.
#pragma once

#include "core/component.h"

template <class Interface>
class HeldInterface {
 public:
  HeldInterface(IUnknown* source, REFGUID iid) : part_(nullptr), status_(STATUS_INVALID_PARAMETER) {
    if (source == nullptr) return;
    void* answer = nullptr;
    status_ = source->QueryInterface(iid, &answer);
    if (NT_SUCCESS(status_)) part_ = static_cast<Interface*>(answer);
  }
  ~HeldInterface() {
    if (part_ != nullptr) part_->Release();
  }
  HeldInterface(const HeldInterface&) = delete;
  HeldInterface& operator=(const HeldInterface&) = delete;

  Interface* operator->() const { return part_; }
  Interface* get() const { return part_; }
  explicit operator bool() const { return part_ != nullptr; }
  // The query's status: STATUS_INVALID_PARAMETER as well when there was nothing to ask.
  NTSTATUS status() const { return status_; }
  // Releases the interface now and returns what that release returned (0: the object went).
  LONG Release() {
    Interface* held = part_;
    part_ = nullptr;
    return held != nullptr ? held->Release() : 0;
  }

 private:
  Interface* part_;
  NTSTATUS status_;
};
