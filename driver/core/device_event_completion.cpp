#include "core/event_notifier_interface.h"
#include "core/held_interface.h"
#include "core/image_processor_interface.h"

#include <cstring>

// Runs for every event the interrupt pipe delivers while the framework's looping wait is armed:
// the four bytes in the event block go to the image processor, which handles the button.
VOID NTAPI OnDeviceEventComplete(PVOID deviceContext, PVOID eventBlock, NTSTATUS status) {
  auto* context = static_cast<DeviceContext*>(deviceContext);
  if (!NT_SUCCESS(status) || context->removed != 0) return;
  HeldInterface<IImageProcessor> processor(context->device, IID_IImageProcessor);
  if (!processor) return;
  ULONG data = 0;
  memcpy(&data, static_cast<EventBlock*>(eventBlock)->eventBuffer, sizeof(data));
  processor->OnButtonEvent(context, data);
}
