// What the embedding program can see of the camera framework stand-in for one device: the
// callbacks it has made, in order, the control flags the driver gave it, and the interrupt-pipe
// wait that the driver armed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel_io.h"
#include "stream_class.h"

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
  uint64_t packets = 0;        // packets handed to the packet callback
  uint64_t frames = 0;         // complete frames
  uint64_t delivered = 0;      // of those, frames handed to a read through the raw-frame callback
  uint64_t framesUnread = 0;   // of those, frames that found no read pending
  uint64_t droppedFrames = 0;  // frames the packet callback asked to drop
  NTSTATUS status = STATUS_SUCCESS;  // the bus's answer when it stopped the run early
};

// A read that no frame reached within its limit.
constexpr NTSTATUS STATUS_IO_TIMEOUT = static_cast<NTSTATUS>(0xC00000B5);
// A read on a stream that is stopped, or a wait on one that does not run.
constexpr NTSTATUS STATUS_INVALID_DEVICE_STATE = static_cast<NTSTATUS>(0xC0000184);

// Runs the isochronous data pipe of the device's running stream for the given number of bus frames
// (1 ms each: 8 packets at high speed, one per microframe, 1 at full speed) on the caller's thread,
// without moving the clock: the packet callback at DISPATCH_LEVEL for every packet, the new-frame
// callback as each frame starts, and for every complete frame the raw-frame callback into the
// oldest pending read (a frame with no read pending is counted and dropped). Nothing happens
// without a running stream.
IsochronousRun RunIsochronous(DEVICE_OBJECT* classDevice, uint32_t busFrames);

// Runs the bus of the read's stream until that read (SRB_READ_DATA, queued earlier) completes, for
// at most busFrameLimit bus frames, after which it completes with STATUS_IO_TIMEOUT. In virtual
// time every bus frame moves the clock on by 1 ms and the bus runs only while the application
// waits, so no frame is lost to a slow application; in real time every bus frame that fell due
// runs, and frames that find no read pending are dropped. Returns the read's status, or
// STATUS_INVALID_DEVICE_STATE when the stream does not run and the read stays pending.
NTSTATUS RunUntilReadCompletes(DEVICE_OBJECT* classDevice, HW_STREAM_REQUEST_BLOCK* read,
                               uint32_t busFrameLimit);

// What the framework counted for an open stream since it first ran.
struct StreamCounts {
  int64_t framesEnded = 0;    // every frame that ended: the next picture number
  int64_t framesUnread = 0;   // complete frames dropped because no read was pending
  int64_t framesDropped = 0;  // frames the driver dropped (the camera abandoned them)
  size_t readsPending = 0;
  uint64_t busFrames = 0;  // bus frames of the current run
};
StreamCounts StreamCountsOf(DEVICE_OBJECT* classDevice, HW_STREAM_OBJECT* stream);

}  // namespace host
