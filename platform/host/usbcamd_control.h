// What the embedding program can see of the camera framework stand-in for one device: the
// callbacks it has made, in order, the control flags the driver gave it, and the interrupt-pipe
// wait that the driver armed.
#pragma once

#include <string>
#include <vector>

#include "kernel_io.h"

namespace host {

struct FrameworkState {
  bool present = false;              // false once the device is gone
  std::vector<std::string> journal;  // callbacks and requests in the order they happened
  ULONG controlFlags = 0;
  ULONG acceptedVersion = 0;
  int eventWaitsArmed = 0;  // wait-on-device-event calls
  bool eventWaitActive = false;
  ULONG pipeCount = 0;
  UCHAR alternateSetting = 0;
};

FrameworkState FrameworkStateOf(DEVICE_OBJECT* classDevice);
// Reads the interrupt pipe once and, when it holds an event, completes the armed wait with it.
// Returns whether a completion ran.
bool DeliverDeviceEvent(DEVICE_OBJECT* classDevice);

}  // namespace host
