// What the embedding program can see of the camera framework stand-in for one device: the
// callbacks it has made, in order, the control flags the driver gave it, and the interrupt-pipe
// wait that the driver armed.
#pragma once

#include <cstdint>
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

struct IsochronousRun {
  uint64_t packets = 0;              // packets handed to the packet callback
  uint64_t frames = 0;               // complete frames handed to the raw-frame callback
  uint64_t droppedFrames = 0;        // frames the packet callback asked to drop
  NTSTATUS status = STATUS_SUCCESS;  // the bus's answer when it stopped the run early
};

// Runs the isochronous data pipe of the device's running stream for the given number of bus frames
// (1 ms each): the new-frame callback at the start of each frame, the packet callback at
// DISPATCH_LEVEL for every packet, and the raw-frame callback at PASSIVE_LEVEL for every frame the
// packet callback completes. Nothing happens without a running stream.
IsochronousRun RunIsochronous(DEVICE_OBJECT* classDevice, uint32_t busFrames);

}  // namespace host
