// The camera's children that serve properties, events and low-light control, made while the
// camera is prepared and released first when it goes.
#include "camera/camera.h"
#include "core/event_notifier_interface.h"
#include "core/image_processor_interface.h"
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

// The property sets, event notifier and low-light control are made here once their classes exist;
// until then the camera runs without them, which every caller allows for.
NTSTATUS Camera::CreatePropertySetList() { return STATUS_SUCCESS; }
NTSTATUS Camera::CreateEventNotifier() { return STATUS_SUCCESS; }
NTSTATUS Camera::CreateLowLightControl() { return STATUS_SUCCESS; }

// The controls' last values go back to the camera after a power up, and are kept at shutdown.
void Camera::RestorePropertyValues() {
  if (propertySetList != nullptr) propertySetList->RestoreAll();
}
NTSTATUS Camera::ShutdownProperties() {
  return propertySetList != nullptr ? propertySetList->SaveAll() : STATUS_INVALID_PARAMETER;
}

void Camera::ReleaseChildren() {
  ReleaseAndClear(&eventNotifier);
  ReleaseAndClear(&propertySetList);
  ReleaseStreams();
  imageProcessor = nullptr;
  ReleaseAndClear(&imageProcessorPart);
  ReleaseAndClear(reinterpret_cast<IUnknown**>(&lowLightControl));
}
