// The driver's object model: reference-counted components reached only through interfaces, with
// aggregation under one root object per device.
//
// Every class derives from its interfaces (each a Delegating<> part whose QueryInterface, AddRef and
// Release forward to `outer`) and then from UnknownBase (through UnknownPart<>, which gives the
// class's own, non-delegating QueryInterface and Destroy). Keeping the two sets of slots in separate
// base parts is what lets one class hold both the delegating and the non-delegating versions of the
// same three operations.
#pragma once

#include <new>

#include "core/identifiers.h"
#include "kernel.h"

// Pool tags. Objects of the three top-level creators use "PcCr" (its bytes in memory read P c C r);
// every other allocation uses "VMRI", a four-character constant with V as its most significant byte.
inline constexpr ULONG kPoolTagCreator = 'P' | ('c' << 8) | ('C' << 16) | (static_cast<ULONG>('r') << 24);
inline constexpr ULONG kPoolTagDriver = (static_cast<ULONG>('V') << 24) | ('M' << 16) | ('R' << 8) | 'I';

class IUnknown {
 public:
  virtual NTSTATUS QueryInterface(REFGUID iid, void** result) = 0;
  virtual LONG AddRef() = 0;
  virtual LONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

// The non-delegating identity of one object. Slots: QueryInterface, AddRef, Release, Destroy.
class UnknownBase : public IUnknown {
 public:
  explicit UnknownBase(IUnknown* outerUnknown)
      : refCount(0), outer(outerUnknown != nullptr ? outerUnknown : this) {}
  UnknownBase(const UnknownBase&) = delete;
  UnknownBase& operator=(const UnknownBase&) = delete;

  // Answers IUnknown only, with this UnknownBase.
  NTSTATUS QueryInterface(REFGUID iid, void** result) override;
  LONG AddRef() override;
  // The release that reaches zero destroys the object; the count is parked at 1 first, so that
  // nothing done during destruction can start a second one.
  LONG Release() override;
  // Runs the class's destructor chain; bit 0 of flags also returns the object to the pool.
  virtual void Destroy(ULONG flags) = 0;

  LONG volatile refCount;
  IUnknown* outer;

 protected:
  ~UnknownBase() = default;
};

// The delegating IUnknown slots of one interface of class Derived.
template <class Interface, class Derived>
class Delegating : public Interface {
 public:
  NTSTATUS QueryInterface(REFGUID iid, void** result) final {
    return Outer()->QueryInterface(iid, result);
  }
  LONG AddRef() final { return Outer()->AddRef(); }
  LONG Release() final { return Outer()->Release(); }

 protected:
  ~Delegating() = default;

 private:
  IUnknown* Outer() { return static_cast<Derived*>(this)->outer; }
};

// The UnknownBase of class Derived: its QueryInterface asks Derived::QueryClassInterface, and its
// Destroy runs ~Derived and frees the start of the object.
template <class Derived>
class UnknownPart : public UnknownBase {
 public:
  explicit UnknownPart(IUnknown* outerUnknown) : UnknownBase(outerUnknown) {}

  NTSTATUS QueryInterface(REFGUID iid, void** result) final {
    return static_cast<Derived*>(this)->QueryClassInterface(iid, result);
  }
  void Destroy(ULONG flags) final {
    Derived* self = static_cast<Derived*>(this);
    self->~Derived();
    if ((flags & 1) != 0) ExFreePool(self);
  }

 protected:
  ~UnknownPart() = default;
};

// Stores the object's Interface pointer in result and counts a reference through it (which lands on
// the object's outer); the answer of a class QueryInterface on a match.
template <class Interface, class Object>
NTSTATUS AnswerInterface(Object* object, void** result) {
  Interface* answer = static_cast<Interface*>(object);
  *result = answer;
  answer->AddRef();
  return STATUS_SUCCESS;
}

// One ExAllocatePoolWithTag call; the block is zero-filled. Null on failure.
void* AllocateZeroed(SIZE_T size, POOL_TYPE poolType, ULONG tag);
// Up to 10 attempts; between attempts a 100 ms delay below DISPATCH_LEVEL, none at or above it.
void* AllocateUnderRetryRule(SIZE_T size, POOL_TYPE poolType, ULONG tag);
// Non-paged, tag "VMRI", with the retry rule, zero-filled.
void* AllocateWithRetry(SIZE_T size);

// Allocates a T with the retry rule and constructs it in place; null (nothing constructed) when no
// memory can be had.
template <class T, class... Arguments>
T* ConstructWithRetry(Arguments&&... arguments) {
  void* memory = AllocateWithRetry(sizeof(T));
  if (memory == nullptr) return nullptr;
  return new (memory) T(static_cast<Arguments&&>(arguments)...);
}

// The creator contract of the top-level classes: zero-filled "PcCr" allocation from the given pool
// type, construction with the given outer, the UnknownBase stored in result with one reference.
// On failure STATUS_INSUFFICIENT_RESOURCES and result untouched. The class identifier is not
// examined: each creator makes only its own class.
template <class T>
NTSTATUS CreateTopLevelObject(UnknownBase** result, IUnknown* outer, POOL_TYPE poolType) {
  void* memory = AllocateZeroed(sizeof(T), poolType, kPoolTagCreator);
  if (memory == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  UnknownBase* unknown = new (memory) T(outer);
  *result = unknown;
  unknown->AddRef();
  return STATUS_SUCCESS;
}

// Releases an interface (or UnknownBase) held in *slot and clears the slot.
template <class T>
void ReleaseAndClear(T** slot) {
  if (*slot != nullptr) {
    T* held = *slot;
    *slot = nullptr;
    held->Release();
  }
}
