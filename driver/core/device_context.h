// The per-device state that the driver shares with the camera framework: the DeviceContext that
// the framework allocates for every device and hands back on every request, and the EventBlock
// that the adapter routine allocates for the event code.
#pragma once

#include "core/component.h"
#include "stream_class.h"

// The four bytes "VMRD" in memory order.
inline constexpr ULONG kDeviceContextSignature =
    'V' | ('M' << 8) | ('R' << 16) | (static_cast<ULONG>('D') << 24);

struct EventBlock;

struct DeviceContext {
  ULONG signature;         // kDeviceContextSignature
  ULONG size;              // sizeof(DeviceContext)
  UnknownBase* device;     // the CameraDevice's creation reference, or null
  EventBlock* eventBlock;  // or null
  UCHAR legacyBridge;      // copied from the CameraDevice when the framework starts the device
  UCHAR removed;           // 1 after surprise removal: no more hardware access or events
  UCHAR powered;           // 1 from initialisation, 0 after the framework saved the state
  UCHAR captureArmed;      // set by the start-capture and free-bandwidth callbacks
  HANDLE masterClock;      // given by SRB_INDICATE_MASTER_CLOCK
  PVOID deviceExtension;   // the stream class's device extension of this device
  ULONG pipeCount;         // pipes of the configured interface; above 1: an interrupt pipe
  ULONG cpuSpeed;          // processor clock in MHz, measured at initialisation
};
static_assert(sizeof(DeviceContext) == (sizeof(void*) == 4 ? 36 : 56));

// Bytes of the framework's per-frame context (the image processor's FrameContext).
inline constexpr ULONG kFrameContextSize = 40;

// Bits of EventBlock::flags.
inline constexpr ULONG kEventFlagPollingEnabled = 0x1;
inline constexpr ULONG kEventFlagRemoved = 0x2;
inline constexpr ULONG kEventFlagPollQueued = 0x4;

// Zero-filled non-paged block ("VMRI") that lives from initialisation until the device goes.
struct EventBlock {
  // The event notifier's members.
  PVOID stillExtension;   // device extension recorded by the still-image event enable
  PVOID notifyExtension;  // device extension recorded by the private notification enable
  UCHAR notifyEnableCount;
  UCHAR stillEnableCount;
  KTIMER pollTimer;
  KDPC pollDpc;
  WORK_QUEUE_ITEM pollWorkItem;
  // Serialises a button poll against stopping the polling.
  KSEMAPHORE semaphore;
  ULONG flags;  // kEventFlag*
  UCHAR pollingActive;
  UCHAR eventBuffer[4];  // what the interrupt pipe delivered for the last device event
};

// Address of the DeviceContext minus the address of the stream class's device extension, recorded
// at device initialisation; event routines get only the extension and reach the context with it.
extern LONG_PTR ContextOffset;

// The DeviceContext that belongs to a stream-class device extension.
inline DeviceContext* ContextFromExtension(PVOID deviceExtension) {
  return reinterpret_cast<DeviceContext*>(static_cast<UCHAR*>(deviceExtension) + ContextOffset);
}
