// Device property requests: every get and set of a control goes through the camera's property
// lock to the property sets, so that requests never interleave and none runs while the camera
// goes.
#include <cstring>

#include "camera/camera.h"
#include "props/property_set_list.h"

// A request of the driver's own objects, made into the stream class's form.
NTSTATUS Camera::PropertyRequest(BOOLEAN set, PKSPROPERTY property, ULONG inputSize,
                                 PVOID propertyInfo, ULONG outputSize, PULONG returned) {
  STREAM_PROPERTY_DESCRIPTOR descriptor = {property, 0, propertyInfo, inputSize, outputSize};
  HW_STREAM_REQUEST_BLOCK request;
  memset(&request, 0, sizeof request);
  request.Command = set ? SRB_SET_DEVICE_PROPERTY : SRB_GET_DEVICE_PROPERTY;
  request.CommandData.PropertyInfo = &descriptor;
  NTSTATUS status = DevicePropertyRequest(set, &request);
  if (returned != nullptr) *returned = request.ActualBytesTransferred;
  return status;
}

NTSTATUS Camera::DevicePropertyRequest(BOOLEAN set, PHW_STREAM_REQUEST_BLOCK request) {
  if (propertySetList == nullptr) return STATUS_SUCCESS;
  KeWaitForSingleObject(&propertyLock, Executive, KernelMode, FALSE, nullptr);
  NTSTATUS status =
      set ? propertySetList->HandleSetRequest(request) : propertySetList->HandleGetRequest(request);
  KeReleaseSemaphore(&propertyLock, 0, 1, FALSE);
  return status;
}

ULONG Camera::GetDeviceProperties(KSPROPERTY_SET** table) {
  *table = nullptr;
  return propertySetList != nullptr ? propertySetList->GetSetTable(table) : 0;
}
