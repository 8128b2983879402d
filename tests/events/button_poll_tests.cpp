// The snapshot-button poll as the device runs it: a client of the camera's event set starts a
// 250 ms timer whose work item reads the button, and the press, release and long press reach the
// client as events. The poll's decisions themselves are the capture-control suite's; here they
// come through the timer, the work item and the stream class.
#include <ostream>
#include <string>
#include <vector>

#include "camera_fixture.h"
#include "core/held_interface.h"
#include "one_format_model.h"
#include "props/event_notifier.h"

namespace {

constexpr LONGLONG kPollPeriod = -kButtonPollInterval;  // 250 ms in 100 ns units

class ButtonPoll : public CameraTest {
 protected:
  // One client enabling (or disabling) one of the two event sets, as the stream class does.
  NTSTATUS Enable(ULONG setIndex, bool enable) {
    HW_EVENT_DESCRIPTOR descriptor = {};
    descriptor.Enable = enable;
    descriptor.DeviceExtension = device_->DeviceExtension();
    descriptor.EnableEventSetIndex = setIndex;
    return OnEventEnable(&descriptor);
  }

  // The events raised since the last call: "L" launch, "R" removed, "A" auto close, "S" still
  // trigger, "." none.
  std::string Events() {
    std::string seen;
    for (const host::DeviceEventSignal& signal : device_->TakeEvents()) {
      if (IsEqualGuid(signal.eventSet, EVENTSETID_CameraNotify)) {
        seen += "LRA"[signal.eventId < 3 ? signal.eventId : 0];
      } else if (IsEqualGuid(signal.eventSet, KSEVENTSETID_VIDCAPTOSTI)) {
        seen += "S";
      }
    }
    return seen.empty() ? "." : seen;
  }

  // Moves the clock on by one poll period and returns what that poll raised.
  std::string Poll() {
    host::AdvanceVirtualTime(kPollPeriod);
    return Events();
  }
  std::string Polls(int count) {
    std::string seen;
    for (int poll = 0; poll < count; ++poll) seen += Poll();
    return seen;
  }

  EventBlock* Block() { return context_->eventBlock; }
};

struct HoldCase {
  const char* name;
  bool autoClose;
  int64_t holdPolls;  // how long the emulated button stays down, in poll periods (plus a little)
  std::string expected;
};
// Test names show the case, not its bytes.
void PrintTo(const HoldCase& value, std::ostream* os) { *os << value.name; }

class ButtonHold : public ButtonPoll, public testing::WithParamInterface<HoldCase> {};

// A press is seen from the first poll after it; the button comes up by itself after the hold.
const HoldCase kHoldCases[] = {
    {"PressWithoutAutoCloseLaunchesOnce", false, 12, "L..............."},
    {"ShortPressWithAutoCloseLaunchesAtTheRelease", true, 3, "...L............"},
    {"LongPressWithAutoCloseClosesOnceWhileHeld", true, 12, ".........A......"},
};

TEST_P(ButtonHold, TheTimedPollSignalsByHowLongTheButtonIsHeld) {
  const HoldCase& test = GetParam();
  ASSERT_EQ(Start(OneFormatModel(test.autoClose), {"pipes=1"}), STATUS_SUCCESS);
  ASSERT_EQ(Enable(kNotifyEventSetIndex, true), STATUS_SUCCESS);
  emulator_->HoldButton(test.holdPolls * kPollPeriod + kPollPeriod / 2);
  EXPECT_EQ(Polls(16), test.expected);
}

INSTANTIATE_TEST_SUITE_P(Holds, ButtonHold, testing::ValuesIn(kHoldCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ButtonPoll, PollsRunOnlyWhileSomeoneListens) {
  ASSERT_EQ(Start(OneFormatModel(false), {"pipes=1"}), STATUS_SUCCESS);
  emulator_->PressButton();
  EXPECT_EQ(Polls(2), "..") << "no client: no poll";
  EXPECT_EQ(host::QueuedTimerCount(), 0u);

  ASSERT_EQ(Enable(kNotifyEventSetIndex, true), STATUS_SUCCESS);
  ASSERT_EQ(Enable(kNotifyEventSetIndex, true), STATUS_SUCCESS);
  EXPECT_EQ(Polls(1), "L") << "the first client started the poll";
  EXPECT_EQ(host::QueuedTimerCount(), 1u) << "the second client started no second timer";
  emulator_->ReleaseButton();
  Polls(1);

  ASSERT_EQ(Enable(kNotifyEventSetIndex, false), STATUS_SUCCESS);
  emulator_->PressButton();
  EXPECT_EQ(Polls(1), "L") << "one client is left";
  emulator_->ReleaseButton();
  Polls(1);
  ASSERT_EQ(Enable(kNotifyEventSetIndex, false), STATUS_SUCCESS);
  EXPECT_EQ(host::QueuedTimerCount(), 0u);
  emulator_->PressButton();
  EXPECT_EQ(Polls(2), "..");
  EXPECT_EQ(Block()->pollingActive, 0);
}

TEST_F(ButtonPoll, ACameraWithAnInterruptPipeArmsNoTimer) {
  ASSERT_EQ(Start(OneFormatModel(false), {"pipes=2"}), STATUS_SUCCESS);
  ASSERT_EQ(Enable(kNotifyEventSetIndex, true), STATUS_SUCCESS);
  EXPECT_EQ(Block()->pollingActive, 1);
  EXPECT_NE(Block()->flags & kEventFlagPollingEnabled, 0u);
  EXPECT_EQ(host::QueuedTimerCount(), 0u);
}

TEST_F(ButtonPoll, PollingStopsWhileTheVideoPinRunsAndResumesAfter) {
  ASSERT_EQ(Start(OneFormatModel(false), {"pipes=1"}), STATUS_SUCCESS);
  ASSERT_EQ(Enable(kNotifyEventSetIndex, true), STATUS_SUCCESS);
  std::vector<host::PinDescription> pins = device_->Pins();
  ASSERT_FALSE(pins.empty());
  ASSERT_FALSE(pins[0].dataRanges.empty());
  host::ClientPin* pin = nullptr;
  ASSERT_EQ(device_->OpenPin(0, FormatOf(pins[0].dataRanges[0]), &pin), STATUS_SUCCESS);
  ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  EXPECT_EQ(host::QueuedTimerCount(), 0u) << "the bandwidth allocation stopped the poll";
  emulator_->PressButton();
  EXPECT_EQ(Polls(2), "..");

  ASSERT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
  EXPECT_EQ(Polls(1), "L") << "freeing the bandwidth resumed the poll";
  EXPECT_EQ(device_->ClosePin(pin), STATUS_SUCCESS);
}

TEST_F(ButtonPoll, EventsGoOnlyToTheClientsOfTheirSet) {
  ASSERT_EQ(Start(OneFormatModel(false), {"pipes=2"}), STATUS_SUCCESS);
  HeldInterface<IEventNotifier> notifier(context_->device, IID_IEventNotifier);
  ASSERT_TRUE(notifier);
  notifier->SignalLaunch(context_);
  notifier->SignalStillFrame(context_);
  EXPECT_EQ(Events(), ".") << "no client enabled anything";

  ASSERT_EQ(Enable(kStillEventSetIndex, true), STATUS_SUCCESS);
  notifier->SignalLaunch(context_);
  notifier->SignalStillFrame(context_);
  EXPECT_EQ(Events(), "S");

  ASSERT_EQ(Enable(kNotifyEventSetIndex, true), STATUS_SUCCESS);
  notifier->SignalLaunch(context_);
  notifier->SignalAutoClose(context_);
  EXPECT_EQ(Events(), "LA");
  ASSERT_EQ(Enable(kStillEventSetIndex, false), STATUS_SUCCESS);
  notifier->SignalStillFrame(context_);
  EXPECT_EQ(Events(), ".");
}

TEST_F(ButtonPoll, SurpriseRemovalStopsThePollAndTellsTheClients) {
  ASSERT_EQ(Start(OneFormatModel(false), {"pipes=1"}), STATUS_SUCCESS);
  ASSERT_EQ(Enable(kNotifyEventSetIndex, true), STATUS_SUCCESS);
  ASSERT_EQ(host::QueuedTimerCount(), 1u);
  device_->SurpriseRemove();
  EXPECT_EQ(Events(), "R");
  EXPECT_EQ(host::QueuedTimerCount(), 0u);
  // A client that comes after the removal starts nothing.
  ASSERT_EQ(Enable(kNotifyEventSetIndex, true), STATUS_SUCCESS);
  EXPECT_EQ(host::QueuedTimerCount(), 0u);
}

// Registering user event objects is not offered yet; the slot addressing already refuses pairs
// that name no slot.
TEST_F(ButtonPoll, EventHandleSlotsOutsideTheTableAreRefused) {
  ASSERT_EQ(Start(OneFormatModel(false), {"pipes=2"}), STATUS_SUCCESS);
  HeldInterface<IEventNotifier> notifier(context_->device, IID_IEventNotifier);
  ASSERT_TRUE(notifier);
  ULONG value = 0;
  EXPECT_EQ(notifier->AccessEventHandle(context_, 2, 0, &value, 1), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(notifier->AccessEventHandle(context_, 0, 1, &value, 1), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(notifier->AccessEventHandle(context_, 1, 3, &value, 0), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(notifier->AccessEventHandle(context_, 0x80000001, 2, &value, 1),
            STATUS_NOT_IMPLEMENTED);
}

}  // namespace
