// The children the camera makes while it is prepared, as the rest of the device reaches them:
// through the device root's query, answering as parts of one object, and told of the format.
#include "camera_fixture.h"
#include "core/held_interface.h"
#include "image/low_light_control.h"
#include "one_format_model.h"
#include "props/event_notifier.h"
#include "props/property_set_list.h"

namespace {

using CameraChildren = CameraTest;

// Every child answers through the root, and asking one of them for IUnknown gives the root: the
// device is one object. The notifier exists only where the camera supports events.
TEST_F(CameraChildren, TheRootAnswersForEveryChild) {
  for (bool supportEvent : {true, false}) {
    SCOPED_TRACE(supportEvent ? "SupportEvent 1" : "SupportEvent 0");
    ASSERT_EQ(Start(OneFormatModel(false, supportEvent ? "" : "\"SupportEvent\"=dword:0\n")),
              STATUS_SUCCESS);
    UnknownBase* root = context_->device;
    for (const GUID* iid : {&IID_IPropertySetList, &IID_IEventNotifier, &IID_ILowLightControl}) {
      HeldInterface<IUnknown> child(root, *iid);
      const bool expected = supportEvent || iid != &IID_IEventNotifier;
      ASSERT_EQ(child.status(), expected ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER);
      if (!child) continue;
      HeldInterface<IUnknown> identity(child.get(), IID_IUnknown);
      EXPECT_EQ(identity.get(), static_cast<IUnknown*>(root));
    }
    Stop();
  }
}

// A child that cannot be made fails the preparation with STATUS_INSUFFICIENT_RESOURCES, and the
// camera answers no query for it; the others are kept, and nothing is left allocated.
TEST_F(CameraChildren, AChildThatCannotBeMadeFailsThePreparation) {
  struct Child {
    const char* name;
    const GUID* iid;
    void (*drop)(Camera*);
  };
  const Child children[] = {
      {"property sets", &IID_IPropertySetList,
       [](Camera* camera) {
         camera->propertySetList = nullptr;
         ReleaseAndClear(&camera->propertySetListPart);
       }},
      {"event notifier", &IID_IEventNotifier,
       [](Camera* camera) {
         camera->eventNotifier = nullptr;
         ReleaseAndClear(&camera->eventNotifierPart);
       }},
      {"low-light control", &IID_ILowLightControl,
       [](Camera* camera) {
         camera->lowLightControl = nullptr;
         ReleaseAndClear(&camera->lowLightControlPart);
       }},
  };
  for (const Child& child : children) {
    SCOPED_TRACE(child.name);
    ASSERT_EQ(Start(OneFormatModel(false)), STATUS_SUCCESS);
    child.drop(camera_);
    host::FailAllocationsWithTag(kPoolTagDriver);
    EXPECT_EQ(camera_->Prepare(), STATUS_INSUFFICIENT_RESOURCES);
    host::ClearAllocationFaults();
    UnknownBase* root = context_->device;
    for (const GUID* iid : {&IID_IPropertySetList, &IID_IEventNotifier, &IID_ILowLightControl}) {
      HeldInterface<IUnknown> answer(root, *iid);
      EXPECT_EQ(answer.status(), iid == child.iid ? STATUS_INVALID_PARAMETER : STATUS_SUCCESS);
    }
    Stop();
  }
}

// Until the sets are built from "DeviceProperties", no set claims a request and there is nothing
// to save or restore.
TEST_F(CameraChildren, ThePropertySetListWithoutSetsClaimsNoRequest) {
  ASSERT_EQ(Start(OneFormatModel(false)), STATUS_SUCCESS);
  KSPROPERTY_SET* table = reinterpret_cast<KSPROPERTY_SET*>(this);
  EXPECT_EQ(camera_->GetDeviceProperties(&table), 0u);
  EXPECT_EQ(table, nullptr);
  KSPROPERTY property = {};
  property.Flags = KSPROPERTY_TYPE_GET;
  ULONG value = 0;
  ULONG returned = 1;
  EXPECT_EQ(
      camera_->PropertyRequest(FALSE, &property, sizeof property, &value, sizeof value, &returned),
      STATUS_NOT_SUPPORTED);
  EXPECT_EQ(returned, 0u);
  HeldInterface<IPropertySetList> sets(context_->device, IID_IPropertySetList);
  ASSERT_TRUE(sets);
  EXPECT_EQ(sets->SaveAll(), STATUS_SUCCESS);
  EXPECT_EQ(sets->RestoreAll(), STATUS_SUCCESS);
}

// The mode chosen when the video pin runs sizes the low-light window: 3 s of frames.
TEST_F(CameraChildren, TheRunningModesFrameRateSizesTheLowLightWindow) {
  ASSERT_EQ(Start(OneFormatModel(false)), STATUS_SUCCESS);
  HeldInterface<ILowLightControl> lowLight(context_->device, IID_ILowLightControl);
  ASSERT_TRUE(lowLight);
  auto* control = static_cast<LowLightControl*>(lowLight.get());
  control->windowFrames = 0;
  std::vector<host::PinDescription> pins = device_->Pins();
  ASSERT_FALSE(pins.empty());
  ASSERT_FALSE(pins[0].dataRanges.empty());
  host::ClientPin* pin = nullptr;
  ASSERT_EQ(device_->OpenPin(0, FormatOf(pins[0].dataRanges[0]), &pin), STATUS_SUCCESS);
  ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  EXPECT_EQ(control->windowFrames, 90u);
  EXPECT_EQ(control->downLimit, 75u * 90);
  EXPECT_EQ(control->upLimit, 100u * 90);
  EXPECT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
  EXPECT_EQ(device_->ClosePin(pin), STATUS_SUCCESS);
}

struct WindowCase {
  ULONG checkTime;  // tenths of a second
  ULONG frameRate;  // thousandths of a frame per second
  ULONG windowFrames;
};

// The ring holds 250 brightness values: a longer window is cut to it, so that the running sum
// never counts a value the ring no longer has.
TEST_F(CameraChildren, TheLowLightWindowIsTheCheckTimesFramesWithinTheRing) {
  ASSERT_EQ(Start(OneFormatModel(false)), STATUS_SUCCESS);
  HeldInterface<ILowLightControl> lowLight(context_->device, IID_ILowLightControl);
  ASSERT_TRUE(lowLight);
  auto* control = static_cast<LowLightControl*>(lowLight.get());
  const WindowCase cases[] = {
      {30, 15000, 45}, {30, 5000, 15}, {30, 0, 0}, {100, 30000, 250}, {0xFFFFFFFF, 30000, 250}};
  for (const WindowCase& test : cases) {
    control->checkTime = test.checkTime;
    control->count = 7;
    control->sum = 700;
    EXPECT_EQ(lowLight->SetFrameRate(test.frameRate), STATUS_SUCCESS);
    EXPECT_EQ(control->windowFrames, test.windowFrames) << test.checkTime << " " << test.frameRate;
    EXPECT_EQ(control->count + control->sum, 0u) << "the window starts empty";
    EXPECT_EQ(control->uvCountdown, kUvCheckInterval);
  }
}

}  // namespace
