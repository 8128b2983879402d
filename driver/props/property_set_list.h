// IPropertySetList: the device's property sets, a child of the camera. The camera hands it the
// device property requests under its property lock, asks it for the set table, and has it save
// and restore every control around power changes; formats tell it when the format changed.
#pragma once

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
