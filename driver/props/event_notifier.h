// The event notifier: the device's hub of snapshot-button and removal notifications. It gives the
// stream class the device's two event sets (the still-image trigger and the camera's own launch,
// removal and auto-close events), keeps count of the clients that enabled them, raises the events
// for the button and the still frame, and runs the snapshot-button poll of cameras without an
// interrupt pipe: a 250 ms timer whose DPC queues a work item that has the camera read the button
// at PASSIVE_LEVEL, re-arming the timer when the poll is done.
//
// One per camera, made while the camera is prepared when "SupportEvent" is set, aggregated under
// the device root. Its per-device state (enable counts, timer, DPC, work item, polling flags) lives
// in the device's EventBlock, so that the shell can stop polling even while the notifier goes.
#pragma once

#include "core/device_context.h"
#include "core/event_notifier_interface.h"
#include "ks.h"

class ICaptureControl;

// The still-image trigger set that still-image services enable, and the camera's own set.
inline constexpr GUID KSEVENTSETID_VIDCAPTOSTI = {
    0xDB47DE20, 0xF628, 0x11D1, {0xBA, 0x41, 0x00, 0xA0, 0xC9, 0x0D, 0x2B, 0x05}};
inline constexpr ULONG KSEVENT_VIDCAPTOSTI_EXT_TRIGGER = 0;
inline constexpr GUID EVENTSETID_CameraNotify = {
    0x72A95014, 0x5995, 0x412E, {0x8D, 0xE6, 0x4E, 0x65, 0xED, 0x9B, 0xAE, 0xA6}};
inline constexpr ULONG kCameraEventLaunch = 0;
inline constexpr ULONG kCameraEventDeviceRemoved = 1;
inline constexpr ULONG kCameraEventAutoClose = 2;

// Indexes of the two sets in the table the stream class gets.
inline constexpr ULONG kStillEventSetIndex = 0;
inline constexpr ULONG kNotifyEventSetIndex = 1;

// The poll period, as a relative due time in 100 ns units.
inline constexpr LONGLONG kButtonPollInterval = -2500000;

// Event-object slots, in their order: launch, device removed, still frame, auto close.
enum EventSlot : ULONG {
  kSlotLaunch = 0,
  kSlotDeviceRemoved = 1,
  kSlotStillFrame = 2,
  kSlotAutoClose = 3,
  kEventSlotCount = 4
};

class EventNotifier final : public UnknownPart<EventNotifier>,
                            public Delegating<IEventNotifier, EventNotifier> {
 public:
  // owner: the camera, uncounted.
  EventNotifier(ICaptureControl* owner, IUnknown* outerUnknown);
  ~EventNotifier() = default;

  NTSTATUS QueryClassInterface(REFGUID iid, void** result);
  // The slot after Destroy: fills the event tables the stream class is given.
  virtual void BuildEventTables();

  // IEventNotifier
  NTSTATUS AccessEventHandle(DeviceContext* context, ULONG kind, ULONG index, ULONG* value,
                             UCHAR set) override;
  void FillEventInfo(PHW_STREAM_REQUEST_BLOCK request) override;
  void SignalLaunch(DeviceContext* context) override;
  void SignalAutoClose(DeviceContext* context) override;
  void SignalStillFrame(DeviceContext* context) override;
  void SignalDeviceRemoved(DeviceContext* context) override;
  void StopButtonPolling(DeviceContext* context) override;
  void StartButtonPolling(DeviceContext* context) override;

  UCHAR pollStartedByHandle = 0;
  KSEVENT_SET eventSets[2];
  KSEVENT_ITEM stillEvents[1];
  KSEVENT_ITEM notifyEvents[3];
  PKEVENT eventObjects[kEventSlotCount] = {};  // referenced user event objects, or null
  ULONG eventHandles[kEventSlotCount] = {};    // as user mode gave them
  ICaptureControl* owner;                      // no reference

 private:
  // Raises one event of the camera's set for its clients, unless a user event object of that
  // slot takes the notification instead.
  void SignalCameraEvent(DeviceContext* context, EventSlot slot, ULONG eventId);
};

// Starts the button poll whatever enabled it; nothing once the device is removed, without an
// event block, or while polling is already active. Without an interrupt pipe it arms the timer.
void StartPolling(DeviceContext* context);

// Stops the button poll; below DISPATCH_LEVEL it returns only once a poll in progress has ended.
// Nothing without an event block, while polling is inactive, or once the device is removed.
void StopPolling(DeviceContext* context);

// The stream class's device event routine: counts the clients of each set, and starts the poll
// with the first client of the camera's set and stops it with the last.
NTSTATUS NTAPI OnEventEnable(PHW_EVENT_DESCRIPTOR descriptor);
