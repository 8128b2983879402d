// IPropertySetList: the device's property sets, a child of the camera. The camera hands it the
// device property requests under its property lock, asks it for the set table, and has it save
// and restore every control around power changes; formats tell it when the format changed.
#pragma once

#include "core/buffer_pool.h"
#include "core/component.h"
#include "stream_class.h"

struct ChangeNotice;

class IPropertySetList : public IUnknown {
 public:
  virtual NTSTATUS HandleGetRequest(PHW_STREAM_REQUEST_BLOCK request) = 0;
  virtual NTSTATUS HandleSetRequest(PHW_STREAM_REQUEST_BLOCK request) = 0;
  // Stores the table pointer and returns the number of sets.
  virtual ULONG GetSetTable(KSPROPERTY_SET** table) = 0;
  virtual NTSTATUS SaveAll() = 0;
  virtual NTSTATUS RestoreAll() = 0;
  virtual NTSTATUS NotifyChange(ChangeNotice* notice) = 0;
  virtual NTSTATUS BuildSets() = 0;

 protected:
  ~IPropertySetList() = default;
};

class ICaptureControl;

// The one property-set list of a device, aggregated under the device root. It answers the device
// property requests as a list without sets does: until the property sets are built from the
// model's "DeviceProperties" key, no set claims a request, the set table is empty, and saving,
// restoring and change notices have nothing to visit.
class PropertySetList final : public Delegating<IPropertySetList, PropertySetList>,
                              public UnknownPart<PropertySetList> {
 public:
  // path: the "DeviceProperties" key below the device key; owner: the camera, uncounted.
  PropertySetList(PCWSTR path, ICaptureControl* owner, IUnknown* outerUnknown);
  ~PropertySetList() = default;

  NTSTATUS QueryClassInterface(REFGUID iid, void** result);

  // IPropertySetList
  NTSTATUS HandleGetRequest(PHW_STREAM_REQUEST_BLOCK request) override;
  NTSTATUS HandleSetRequest(PHW_STREAM_REQUEST_BLOCK request) override;
  ULONG GetSetTable(KSPROPERTY_SET** table) override;
  NTSTATUS SaveAll() override;
  NTSTATUS RestoreAll() override;
  NTSTATUS NotifyChange(ChangeNotice* notice) override;
  NTSTATUS BuildSets() override;

  ULONG setCount = 0;
  KSPROPERTY_SET* setTable = nullptr;  // setCount entries, or null
  WCHAR keyPath[260];
  ICaptureControl* owner;   // no reference
  IBufferPool* bufferPool;  // no reference
};
