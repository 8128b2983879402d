#include "props/event_notifier.h"

#include <cstring>

#include "camera/camera.h"
#include "core/held_interface.h"

namespace {

// Kinds of AccessEventHandle: bit 31 says the value is an object pointer, not a handle.
constexpr ULONG kKindStill = 0;
constexpr ULONG kKindNotify = 1;
constexpr ULONG kKindObjectPointer = 0x80000000;
// The priority boost given to a waiter when the block's semaphore is released.
constexpr LONG kSemaphoreBoost = 16;

LONG volatile* FlagsOf(EventBlock* block) {
  return reinterpret_cast<LONG volatile*>(&block->flags);
}

// The flags word is shared by the timer's DPC, the poll's work item and whoever stops polling.
void SetFlags(EventBlock* block, ULONG bits) {
  LONG volatile* flags = FlagsOf(block);
  LONG seen = *flags;
  for (;;) {
    const LONG wanted = static_cast<LONG>(static_cast<ULONG>(seen) | bits);
    const LONG before = InterlockedCompareExchange(flags, wanted, seen);
    if (before == seen) return;
    seen = before;
  }
}

void ClearFlags(EventBlock* block, ULONG bits) {
  LONG volatile* flags = FlagsOf(block);
  LONG seen = *flags;
  for (;;) {
    const LONG wanted = static_cast<LONG>(static_cast<ULONG>(seen) & ~bits);
    const LONG before = InterlockedCompareExchange(flags, wanted, seen);
    if (before == seen) return;
    seen = before;
  }
}

bool FlagsSet(EventBlock* block, ULONG bits) {
  return (static_cast<ULONG>(InterlockedCompareExchange(FlagsOf(block), 0, 0)) & bits) != 0;
}

bool IsRemoved(DeviceContext* context) {
  return context->removed != 0 ||
         (context->eventBlock != nullptr && FlagsSet(context->eventBlock, kEventFlagRemoved));
}

// Cameras with an interrupt pipe report the button as interrupt data and need no timer.
bool PollsWithTimer(DeviceContext* context) { return context->pipeCount == 1; }

void NTAPI PollDpc(PKDPC, PVOID deferredContext, PVOID, PVOID);

void ArmPollTimer(DeviceContext* context) {
  EventBlock* block = context->eventBlock;
  KeInitializeTimerEx(&block->pollTimer, SynchronizationTimer);
  KeInitializeDpc(&block->pollDpc, PollDpc, context);
  LARGE_INTEGER due;
  due.QuadPart = kButtonPollInterval;
  KeSetTimer(&block->pollTimer, due, &block->pollDpc);
}

// One poll at PASSIVE_LEVEL, serialised against StopButtonPolling by the block's semaphore; the
// next one is 250 ms after this one ends.
void NTAPI PollWork(PVOID parameter) {
  auto* context = static_cast<DeviceContext*>(parameter);
  EventBlock* block = context->eventBlock;
  KeWaitForSingleObject(&block->semaphore, Executive, KernelMode, FALSE, nullptr);
  if (FlagsSet(block, kEventFlagPollingEnabled)) {
    {
      HeldInterface<ICaptureControl> control(context->device, IID_ICaptureControl);
      if (control) control->PollSnapButton(context);
    }
    if (FlagsSet(block, kEventFlagPollingEnabled)) ArmPollTimer(context);
  }
  ClearFlags(block, kEventFlagPollQueued);
  KeReleaseSemaphore(&block->semaphore, kSemaphoreBoost, 1, FALSE);
}

// The queued mark goes up before polling is checked, so that StopButtonPolling, which clears
// polling before it looks at the mark, either sees the mark and waits or makes this DPC stand down.
void NTAPI PollDpc(PKDPC, PVOID deferredContext, PVOID, PVOID) {
  auto* context = static_cast<DeviceContext*>(deferredContext);
  EventBlock* block = context->eventBlock;
  SetFlags(block, kEventFlagPollQueued);
  if (!FlagsSet(block, kEventFlagPollingEnabled)) {
    ClearFlags(block, kEventFlagPollQueued);
    return;
  }
  ExInitializeWorkItem(&block->pollWorkItem, PollWork, context);
  ExQueueWorkItem(&block->pollWorkItem, DelayedWorkQueue);
}

// The event-object slot of a (kind, index) pair; false for pairs that name none.
bool SlotOf(ULONG kind, ULONG index, EventSlot* slot) {
  switch (kind & ~kKindObjectPointer) {
    case kKindStill:
      if (index != 0) return false;
      *slot = kSlotStillFrame;
      return true;
    case kKindNotify:
      if (index == 0) *slot = kSlotLaunch;
      if (index == 1) *slot = kSlotDeviceRemoved;
      if (index == 2) *slot = kSlotAutoClose;
      return index <= 2;
    default:
      return false;
  }
}

void RaiseDeviceEvent(PVOID extension, const GUID& set, ULONG eventId) {
  StreamClassDeviceNotification(SignalMultipleDeviceEvents, extension, &set, eventId);
}

}  // namespace

void StartPolling(DeviceContext* context) {
  EventBlock* block = context->eventBlock;
  if (block == nullptr || IsRemoved(context) || block->pollingActive != 0) return;
  SetFlags(block, kEventFlagPollingEnabled);
  if (PollsWithTimer(context)) ArmPollTimer(context);
  block->pollingActive = 1;
}

void StopPolling(DeviceContext* context) {
  EventBlock* block = context->eventBlock;
  if (block == nullptr || block->pollingActive == 0 || FlagsSet(block, kEventFlagRemoved)) return;
  ClearFlags(block, kEventFlagPollingEnabled);
  if (PollsWithTimer(context)) {
    KeCancelTimer(&block->pollTimer);
    KeRemoveQueueDpc(&block->pollDpc);
  }
  if (KeGetCurrentIrql() < DISPATCH_LEVEL) {
    // A poll already queued or running finishes before polling counts as stopped.
    while (FlagsSet(block, kEventFlagPollQueued)) {
      LARGE_INTEGER interval;
      interval.QuadPart = kButtonPollInterval;
      KeDelayExecutionThread(KernelMode, FALSE, &interval);
    }
    KeWaitForSingleObject(&block->semaphore, Executive, KernelMode, FALSE, nullptr);
    KeReleaseSemaphore(&block->semaphore, kSemaphoreBoost, 1, FALSE);
  }
  block->pollingActive = 0;
}

NTSTATUS NTAPI OnEventEnable(PHW_EVENT_DESCRIPTOR descriptor) {
  DeviceContext* context = ContextFromExtension(descriptor->DeviceExtension);
  EventBlock* block = context->eventBlock;
  if (block == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  if (descriptor->EnableEventSetIndex == kStillEventSetIndex) {
    if (descriptor->Enable) {
      // A byte, as the block keeps it: more clients than that are not counted.
      if (block->stillEnableCount < 0xFF) ++block->stillEnableCount;
      block->stillExtension = descriptor->DeviceExtension;
    } else if (block->stillEnableCount > 0) {
      --block->stillEnableCount;
    }
  } else if (descriptor->EnableEventSetIndex == kNotifyEventSetIndex) {
    if (descriptor->Enable) {
      block->notifyExtension = descriptor->DeviceExtension;
      if (block->notifyEnableCount == 0) StartPolling(context);
      if (block->notifyEnableCount < 0xFF) ++block->notifyEnableCount;
    } else if (block->notifyEnableCount > 0) {
      if (--block->notifyEnableCount == 0) StopPolling(context);
    }
  }
  return STATUS_SUCCESS;
}

EventNotifier::EventNotifier(ICaptureControl* ownerInterface, IUnknown* outerUnknown)
    : UnknownPart<EventNotifier>(outerUnknown), owner(ownerInterface) {
  BuildEventTables();
}

void EventNotifier::BuildEventTables() {
  memset(stillEvents, 0, sizeof stillEvents);
  memset(notifyEvents, 0, sizeof notifyEvents);
  stillEvents[0].EventId = KSEVENT_VIDCAPTOSTI_EXT_TRIGGER;
  for (ULONG id = 0; id < 3; ++id) notifyEvents[id].EventId = id;
  eventSets[kStillEventSetIndex] = {&KSEVENTSETID_VIDCAPTOSTI, 1, stillEvents};
  eventSets[kNotifyEventSetIndex] = {&EVENTSETID_CameraNotify, 3, notifyEvents};
}

NTSTATUS EventNotifier::QueryClassInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_IEventNotifier)) return AnswerInterface<IEventNotifier>(this, result);
  return UnknownBase::QueryInterface(iid, result);
}

// User-mode event objects are registered through the custom property requests, which the camera
// does not serve yet: every slot stays empty and no registration is taken.
NTSTATUS EventNotifier::AccessEventHandle(DeviceContext*, ULONG kind, ULONG index, ULONG*, UCHAR) {
  EventSlot slot;
  if (!SlotOf(kind, index, &slot)) return STATUS_INVALID_PARAMETER;
  return STATUS_NOT_IMPLEMENTED;
}

void EventNotifier::FillEventInfo(PHW_STREAM_REQUEST_BLOCK request) {
  HW_STREAM_HEADER& header = request->CommandData.StreamBuffer->StreamHeader;
  header.NumDevEventArrayEntries = 2;
  header.DeviceEventsArray = eventSets;
  header.DeviceEventRoutine = OnEventEnable;
}

void EventNotifier::SignalCameraEvent(DeviceContext* context, EventSlot slot, ULONG eventId) {
  if (eventObjects[slot] != nullptr) {
    KeSetEvent(eventObjects[slot], 0, FALSE);
    return;
  }
  EventBlock* block = context->eventBlock;
  if (block != nullptr && block->notifyEnableCount > 0) {
    RaiseDeviceEvent(block->notifyExtension, EVENTSETID_CameraNotify, eventId);
  }
}

void EventNotifier::SignalLaunch(DeviceContext* context) {
  SignalCameraEvent(context, kSlotLaunch, kCameraEventLaunch);
}

void EventNotifier::SignalDeviceRemoved(DeviceContext* context) {
  SignalCameraEvent(context, kSlotDeviceRemoved, kCameraEventDeviceRemoved);
}

// The camera's set has an auto-close event, so its clients hear of a long press as they hear of a
// launch, when no user event object takes it.
void EventNotifier::SignalAutoClose(DeviceContext* context) {
  SignalCameraEvent(context, kSlotAutoClose, kCameraEventAutoClose);
}

// Both the user event object and the still-image clients are told.
void EventNotifier::SignalStillFrame(DeviceContext* context) {
  if (eventObjects[kSlotStillFrame] != nullptr) KeSetEvent(eventObjects[kSlotStillFrame], 0, FALSE);
  EventBlock* block = context->eventBlock;
  if (block != nullptr && block->stillEnableCount > 0) {
    RaiseDeviceEvent(block->stillExtension, KSEVENTSETID_VIDCAPTOSTI,
                     KSEVENT_VIDCAPTOSTI_EXT_TRIGGER);
  }
}

// Polling resumes only for someone who listens: a client of the camera's events or a registered
// launch object.
void EventNotifier::StartButtonPolling(DeviceContext* context) {
  EventBlock* block = context->eventBlock;
  if (block == nullptr || IsRemoved(context)) return;
  if (block->notifyEnableCount > 0 || eventObjects[kSlotLaunch] != nullptr) StartPolling(context);
}

void EventNotifier::StopButtonPolling(DeviceContext* context) { StopPolling(context); }
