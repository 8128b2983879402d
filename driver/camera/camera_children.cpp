// The camera's children that serve properties, events and low-light control, made while the
// camera is prepared and released first when it goes.
#include <cstring>

#include "camera/camera.h"
#include "camera/camera_values.h"
#include "core/event_notifier_interface.h"
#include "core/image_processor_interface.h"
#include "image/low_light_control.h"
#include "props/event_notifier.h"
#include "props/property_set_list.h"

namespace {
// The bridge's bus status register; its bit 4 is set on a high-speed bus.
constexpr USHORT kBusStatusRegister = 0x0F;
constexpr UCHAR kBusHighSpeed = 0x10;
}  // namespace

// Once the model is known: the streams, the model's capture lists and the children.
NTSTATUS Camera::Prepare() {
  stateSaved = 0;
  UCHAR busStatus = 0;
  highSpeed = NT_SUCCESS(ReadBridge(kBusStatusRegister, &busStatus, nullptr)) &&
                      (busStatus & kBusHighSpeed) != 0
                  ? 1
                  : 0;
  NTSTATUS status = CreateStreams();
  if (!NT_SUCCESS(status)) return status;
  LoadUsbCaptureLists();
  LoadSensorCaptureLists();
  status = CreatePropertySetList();
  if (!NT_SUCCESS(status)) return status;
  if (supportEvent != 0) {
    status = CreateEventNotifier();
    if (!NT_SUCCESS(status)) return status;
  }
  status = CreateLowLightControl();
  if (!NT_SUCCESS(status)) return status;
  // The processor is made now, at passive level, so that a button event completing at raised IRQL
  // finds it; when it cannot be made, the next query at passive level tries again.
  EnsureImageProcessor();
  return STATUS_SUCCESS;
}

namespace {

// cameraKeyPath + "\" + name into path (kRegistryPathChars units); false when it does not fit.
bool ChildKeyPath(const WCHAR* cameraKeyPath, PCWSTR name, WCHAR* path) {
  memcpy(path, cameraKeyPath, kRegistryPathBytes);
  path[kRegistryPathChars - 1] = 0;
  return camera_values::AppendPath(path, name);
}

// A child aggregated under the camera's outer takes its first reference through its own unknown,
// which the camera keeps; the interface pointer is a view of the same object.
template <class Child, class Interface, class... Arguments>
NTSTATUS MakeChild(UnknownBase** part, Interface** view, Arguments&&... arguments) {
  Child* child = ConstructWithRetry<Child>(static_cast<Arguments&&>(arguments)...);
  if (child == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  UnknownBase* unknown = child;
  unknown->AddRef();
  *part = unknown;
  *view = child;
  return STATUS_SUCCESS;
}

}  // namespace

// Every model gets a property-set list; one without a "DeviceProperties" key simply has no sets.
NTSTATUS Camera::CreatePropertySetList() {
  if (propertySetListPart != nullptr) return STATUS_SUCCESS;
  WCHAR path[kRegistryPathChars];
  if (!ChildKeyPath(cameraKeyPath, u"DeviceProperties", path)) return STATUS_INVALID_PARAMETER;
  return MakeChild<PropertySetList>(&propertySetListPart, &propertySetList, path,
                                    static_cast<ICaptureControl*>(this), outer);
}

NTSTATUS Camera::CreateEventNotifier() {
  if (eventNotifierPart != nullptr) return STATUS_SUCCESS;
  return MakeChild<EventNotifier>(&eventNotifierPart, &eventNotifier,
                                  static_cast<ICaptureControl*>(this), outer);
}

NTSTATUS Camera::CreateLowLightControl() {
  if (lowLightControlPart != nullptr) return STATUS_SUCCESS;
  WCHAR path[kRegistryPathChars];
  if (!ChildKeyPath(cameraKeyPath, u"CamAdjust", path)) return STATUS_INVALID_PARAMETER;
  return MakeChild<LowLightControl>(&lowLightControlPart, &lowLightControl, path,
                                    static_cast<ICaptureControl*>(this), outer);
}

// The controls' last values go back to the camera after a power up, and are kept at shutdown.
void Camera::RestorePropertyValues() {
  if (propertySetList != nullptr) propertySetList->RestoreAll();
}
NTSTATUS Camera::ShutdownProperties() {
  return propertySetList != nullptr ? propertySetList->SaveAll() : STATUS_INVALID_PARAMETER;
}

void Camera::ReleaseChildren() {
  eventNotifier = nullptr;
  ReleaseAndClear(&eventNotifierPart);
  propertySetList = nullptr;
  ReleaseAndClear(&propertySetListPart);
  ReleaseStreams();
  imageProcessor = nullptr;
  ReleaseAndClear(&imageProcessorPart);
  lowLightControl = nullptr;
  ReleaseAndClear(&lowLightControlPart);
}
