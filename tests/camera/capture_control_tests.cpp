// The register lists of power, bandwidth, capture and low power, in the order the camera runs
// them, and the snapshot-button poll.
#include <cstring>
#include <ostream>

#include "camera_fixture.h"
#include "core/event_notifier_interface.h"
#include "stream/stream_interfaces.h"

namespace {

// Every device list writes its own bridge register (0x30 up), every model list its own bridge or
// sensor register (0x40 up, sensor 0x50 up), so that the request log names the list.
std::string Lists(const std::string& extraSettings = "") {
  return R"([KEY\CameraSetting]
"EnableSystem"=hex:30,01,ff
"DisableSystem"=hex:31,01,ff
"SetUsbWork"=hex:32,01,ff
"SetUsbInit"=hex:33,01,ff
"PowerDownCamera"=hex:34,01,ff
"PowerOnCamera"=hex:35,01,ff
"ResetUsb"=hex:36,01,ff
"ClearSnapButton"=hex:20,02,ff
"EnableAutoLaunch"=hex:37,01,ff
"DisableAutoLaunch"=hex:38,01,ff
"CheckAutoLaunch"=hex:20,01,01
"EnableSsuspend"=hex:39,01,ff
"DisableSsuspend"=hex:3a,01,ff
"TurnOnLed"=hex:3b,01,ff
"TurnOffLed"=hex:3c,01,ff
"CameraTimeout"=hex:5f,01,ff
)" + extraSettings +
         R"(
[KEY\CameraSetting\SupportCamera\Model]
"VersionCheck"=hex:42,29,ff,03
"ResetCamera"=hex:50,01,ff
"UsbSetting"=hex:40,01,ff
"CameraSetting"=hex:51,01,ff
"StartVidCapUsbSetting"=hex:41,01,ff
"StartVidCapCameraSetting"=hex:52,01,ff
"StopVidCapUsbSetting"=hex:42,01,ff
"StopVidCapCameraSetting"=hex:53,01,ff
"CurrentFormat"=dword:1
[KEY\CameraSetting\SupportCamera\Model\DeviceProperties]
[KEY\CameraSetting\SupportCamera\Model\VideoStream]
"OpenStreamUsbSetting"=hex:44,01,ff
"OpenStreamCameraSetting"=hex:54,01,ff
"CloseStreamUsbSetting"=hex:45,01,ff
"CloseStreamCameraSetting"=hex:55,01,ff
[KEY\CameraSetting\SupportCamera\Model\VideoStream\Yuy2]
"Tag"=dword:1
"Width"=dword:140
"Height"=dword:f0
"SourceWidth"=dword:140
"SourceHeight"=dword:f0
"BitCount"=dword:10
"FourCC"=dword:32595559
"MaxFrameRate"=dword:7530
"MinFrameRate"=dword:1388
"UsbSetting"=hex:46,01,ff
"CameraSetting"=hex:56,01,ff
[KEY\CameraSetting\SupportCamera\Model\VideoStream\Yuy2\Mode]
"FrameRate"=dword:7530
"AlternateSetting"=dword:1
"UsbSetting"=hex:47,01,ff
"CameraSetting"=hex:57,01,ff
)";
}

// The model's one video format as an application asks for it.
KS_DATAFORMAT_VIDEOINFOHEADER VideoFormat(Camera* camera) {
  KS_DATAFORMAT_VIDEOINFOHEADER format = {};
  IVideoFormat* current = camera->GetVideoStream()->GetCurrentFormat(0);
  EXPECT_NE(current, nullptr);
  if (current == nullptr) return format;
  const KS_DATARANGE_VIDEO* range = current->GetDataRange();
  memcpy(&format.DataFormat, &range->DataRange, sizeof format.DataFormat);
  format.DataFormat.FormatSize = sizeof format;
  format.VideoInfoHeader = range->VideoInfoHeader;
  return format;
}

using Writes = std::vector<std::string>;

// The lists by their registers.
const std::string EnableSystem = "B 30", SetUsbWork = "B 32", SetUsbInit = "B 33",
                  PowerDown = "B 34", PowerOn = "B 35", ResetUsb = "B 36",
                  EnableAutoLaunch = "B 37", DisableAutoLaunch = "B 38", EnableSsuspend = "B 39",
                  DisableSsuspend = "B 3A", LedOn = "B 3B", LedOff = "B 3C", ResetCamera = "S 50",
                  UsbSetting = "B 40", CameraSetting = "S 51", StartUsb = "B 41",
                  StartSensor = "S 52", StopUsb = "B 42", StopSensor = "S 53",
                  CameraTimeout = "S 5F", OpenUsb = "B 44", OpenSensor = "S 54", CloseUsb = "B 45",
                  CloseSensor = "S 55", FormatUsb = "B 46", FormatSensor = "S 56", ModeUsb = "B 47",
                  ModeSensor = "S 57";

// A power up while the video format is in force, and one that puts it back in force (the first
// after the start, or after a shutdown took it out).
const Writes kFullPowerUp = {EnableSystem,     ResetUsb,          PowerOn,         SetUsbInit,
                             ResetCamera,      DisableAutoLaunch, UsbSetting,      CameraSetting,
                             EnableAutoLaunch, SetUsbWork,        DisableSsuspend, LedOff};
const Writes kPowerUpWithFormat = {
    EnableSystem,     ResetUsb,      PowerOn,         SetUsbInit,   ResetCamera, DisableAutoLaunch,
    UsbSetting,       CameraSetting, FormatUsb,       FormatSensor, ModeUsb,     ModeSensor,
    EnableAutoLaunch, SetUsbWork,    DisableSsuspend, LedOff};

using CaptureControl = CameraTest;

TEST_F(CaptureControl, PowerUpRunsTheListsInOrderAndLeavesTheCameraPolling) {
  ASSERT_EQ(Start(Lists()), STATUS_SUCCESS);
  ASSERT_EQ(camera_->PowerUp(), STATUS_SUCCESS);
  EXPECT_EQ(TakeWrites(), kFullPowerUp);
  EXPECT_EQ(camera_->poweredUp, 1);
  EXPECT_EQ(camera_->pollingEnabled, 1);
}

TEST_F(CaptureControl, BandwidthAndCaptureOfTheVideoStream) {
  ASSERT_EQ(Start(Lists()), STATUS_SUCCESS);
  ULONG rawLength = 1;
  // Without a format nothing is opened and the button is watched again.
  EXPECT_EQ(camera_->AllocateBandwidth(nullptr, context_, &rawLength, nullptr, 0),
            STATUS_INVALID_PARAMETER);
  EXPECT_EQ(TakeWrites(), (Writes{DisableAutoLaunch, EnableAutoLaunch}));
  EXPECT_EQ(camera_->pollingEnabled, 1);
  KS_DATAFORMAT_VIDEOINFOHEADER format = VideoFormat(camera_);
  EXPECT_EQ(camera_->AllocateBandwidth(nullptr, context_, &rawLength, &format, 0), STATUS_SUCCESS);
  // The format is in force since the power up: only its mode is written again.
  EXPECT_EQ(TakeWrites(), (Writes{DisableAutoLaunch, OpenUsb, OpenSensor, ModeUsb, ModeSensor,
                                  SetUsbWork, LedOn}));
  // Neither the mode nor the model's sensor size gives a raw length: the format's own estimate.
  EXPECT_EQ(rawLength, (240u + 16) * 320 * 3 / 2 + 2048);
  EXPECT_EQ(emulator_->CurrentAlternateSetting(), 1);
  EXPECT_EQ(camera_->pollingEnabled, 0);
  EXPECT_EQ(camera_->StartCapture(nullptr, context_, 0), STATUS_SUCCESS);
  EXPECT_EQ(TakeWrites(), (Writes{SetUsbWork, LedOn, StartUsb, StartSensor}));
  EXPECT_EQ(camera_->StopCapture(nullptr, context_, 0), STATUS_SUCCESS);
  EXPECT_EQ(TakeWrites(), (Writes{StopUsb, StopSensor, SetUsbInit, LedOff, CameraTimeout}));
  EXPECT_EQ(camera_->FreeBandwidth(nullptr, context_, 0), STATUS_SUCCESS);
  EXPECT_EQ(TakeWrites(), (Writes{SetUsbInit, LedOff, CloseUsb, CloseSensor, EnableAutoLaunch}));
  EXPECT_EQ(emulator_->CurrentAlternateSetting(), 0);
  EXPECT_EQ(camera_->pollingEnabled, 1);
}

TEST_F(CaptureControl, OtherStreamsRunOnlyTheirCaptureListsAndUnknownStreamsNone) {
  ASSERT_EQ(Start(Lists("\"SupportStillPin\"=dword:1\n")), STATUS_SUCCESS);
  EXPECT_EQ(camera_->StartCapture(nullptr, context_, 1), STATUS_SUCCESS);
  EXPECT_EQ(TakeWrites(), (Writes{StartUsb, StartSensor}));
  EXPECT_EQ(camera_->StopCapture(nullptr, context_, 1), STATUS_SUCCESS);
  EXPECT_EQ(TakeWrites(), (Writes{StopUsb, StopSensor}));
  ULONG rawLength = 0;
  EXPECT_EQ(camera_->AllocateBandwidth(nullptr, context_, &rawLength, nullptr, 2),
            STATUS_INVALID_PARAMETER);
  EXPECT_EQ(camera_->FreeBandwidth(nullptr, context_, 2), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(TakeWrites(), Writes{});
}

TEST_F(CaptureControl, PowerControlKeepsTheIdleCameraUnprogrammed) {
  ASSERT_EQ(Start(Lists("\"PowerControl\"=dword:1\n")), STATUS_SUCCESS);
  // At initialisation complete the camera was powered but not programmed.
  EXPECT_EQ(camera_->poweredUp, 0);
  ULONG rawLength = 0;
  KS_DATAFORMAT_VIDEOINFOHEADER format = VideoFormat(camera_);
  EXPECT_EQ(camera_->AllocateBandwidth(nullptr, context_, &rawLength, &format, 0), STATUS_SUCCESS);
  Writes allocate = kPowerUpWithFormat;
  allocate.insert(allocate.end(),
                  {DisableAutoLaunch, OpenUsb, OpenSensor, ModeUsb, ModeSensor, SetUsbWork, LedOn});
  EXPECT_EQ(TakeWrites(), allocate);
  EXPECT_EQ(camera_->poweredUp, 1);
  EXPECT_EQ(camera_->FreeBandwidth(nullptr, context_, 0), STATUS_SUCCESS);
  EXPECT_EQ(TakeWrites(), (Writes{SetUsbInit, LedOff, CloseUsb, CloseSensor, EnableAutoLaunch,
                                  DisableAutoLaunch, PowerDown, ResetUsb}));
  EXPECT_EQ(camera_->poweredUp, 0);
  EXPECT_EQ(camera_->PowerUp(), STATUS_SUCCESS);
  EXPECT_EQ(TakeWrites(), (Writes{EnableSystem, ResetUsb, PowerOn}));
  EXPECT_EQ(camera_->poweredUp, 0);
}

TEST_F(CaptureControl, SavedStateShutsDownOnceAndRestoresOnce) {
  ASSERT_EQ(Start(Lists()), STATUS_SUCCESS);
  EXPECT_EQ(camera_->RestoreState(nullptr, context_), STATUS_SUCCESS);
  EXPECT_EQ(TakeWrites(), Writes{}) << "nothing was saved";
  camera_->SaveState(nullptr, context_);
  camera_->SaveState(nullptr, context_);
  EXPECT_EQ(TakeWrites(), (Writes{EnableSsuspend, DisableAutoLaunch, PowerDown}));
  EXPECT_EQ(camera_->RestoreState(nullptr, context_), STATUS_SUCCESS);
  Writes restore = kPowerUpWithFormat;
  restore.push_back(DisableSsuspend);
  EXPECT_EQ(TakeWrites(), restore);
  EXPECT_EQ(camera_->RestoreState(nullptr, context_), STATUS_SUCCESS);
  EXPECT_EQ(TakeWrites(), Writes{});
}

// At full speed a model's "FullSpeed" key replaces all four capture lists, even those it lacks.
TEST_F(CaptureControl, FullSpeedKeyReplacesTheCaptureListsWhole) {
  const std::string fullSpeed = R"(
[KEY\CameraSetting\SupportCamera\Model\FullSpeed]
"StartVidCapUsbSetting"=hex:43,01,ff
)";
  ASSERT_EQ(Start(Lists() + fullSpeed, {"speed=full"}), STATUS_SUCCESS);
  EXPECT_EQ(camera_->IsHighSpeed(), 0);
  camera_->StartCapture(nullptr, context_, 1);
  EXPECT_EQ(TakeWrites(), Writes{"B 43"});
  camera_->StopCapture(nullptr, context_, 1);
  EXPECT_EQ(TakeWrites(), Writes{});
  // UsbSetting and CameraSetting still come from the model key.
  camera_->PowerUp();
  EXPECT_EQ(TakeWrites(), kFullPowerUp);
}

TEST_F(CaptureControl, HighSpeedKeepsTheModelsCaptureLists) {
  const std::string fullSpeed = R"(
[KEY\CameraSetting\SupportCamera\Model\FullSpeed]
"StartVidCapUsbSetting"=hex:43,01,ff
)";
  ASSERT_EQ(Start(Lists() + fullSpeed), STATUS_SUCCESS);
  EXPECT_EQ(camera_->IsHighSpeed(), 1);
  camera_->StartCapture(nullptr, context_, 1);
  EXPECT_EQ(TakeWrites(), (Writes{StartUsb, StartSensor}));
}

// A size given without a buffer to hold the answer is refused rather than written through.
TEST_F(CaptureControl, DataIntersectionWithoutABufferIsRefused) {
  ASSERT_EQ(Start(Lists()), STATUS_SUCCESS);
  KS_DATARANGE_VIDEO range = *camera_->GetVideoStream()->GetCurrentFormat(0)->GetDataRange();
  STREAM_DATA_INTERSECT_INFO info = {};
  info.StreamNumber = 0;
  info.DataRange = &range.DataRange;
  HW_STREAM_REQUEST_BLOCK request = {};
  request.CommandData.IntersectInfo = &info;
  for (ULONG size : {ULONG{sizeof(ULONG)}, ULONG{sizeof(KS_DATAFORMAT_VIDEOINFOHEADER)}}) {
    info.SizeOfDataFormatBuffer = size;
    EXPECT_EQ(camera_->DataIntersection(&request), STATUS_INVALID_PARAMETER);
  }
  ULONG answer = 0;
  info.DataFormatBuffer = &answer;
  info.SizeOfDataFormatBuffer = sizeof answer;
  EXPECT_EQ(camera_->DataIntersection(&request), STATUS_SUCCESS);
  EXPECT_EQ(answer, sizeof(KS_DATAFORMAT_VIDEOINFOHEADER));
}

// Counts the signals of the poll; the camera's notifier for the length of a test.
class SignalCounter : public IEventNotifier {
 public:
  NTSTATUS QueryInterface(REFGUID, void**) override { return STATUS_INVALID_PARAMETER; }
  LONG AddRef() override { return 1; }
  LONG Release() override { return 1; }
  NTSTATUS AccessEventHandle(DeviceContext*, ULONG, ULONG, ULONG*, UCHAR) override {
    return STATUS_SUCCESS;
  }
  void FillEventInfo(PHW_STREAM_REQUEST_BLOCK) override {}
  void SignalLaunch(DeviceContext*) override { signals += "L"; }
  void SignalAutoClose(DeviceContext*) override { signals += "A"; }
  void SignalStillFrame(DeviceContext*) override {}
  void SignalDeviceRemoved(DeviceContext*) override {}
  void StopButtonPolling(DeviceContext*) override {}
  void StartButtonPolling(DeviceContext*) override {}
  std::string signals;  // per poll: "L" launch, "A" auto close, "." nothing
};

struct PollCase {
  const char* name;
  bool autoClose;
  int pollsHeld;
  std::string expected;  // signals after each poll while held, then "|" and at the release
};
// Test names show the case, not its bytes.
void PrintTo(const PollCase& value, std::ostream* os) { *os << value.name; }

class SnapButton : public CameraTest, public testing::WithParamInterface<PollCase> {};

const PollCase kPollCases[] = {
    {"WithoutAutoCloseAPressLaunchesOnceAtThePress", false, 12, "L...........|."},
    {"WithAutoCloseAShortPressLaunchesAtTheRelease", true, 3, "...|L"},
    {"WithAutoCloseALongPressClosesOnceAtTheTenthPoll", true, 12, ".........A..|."},
};

TEST_P(SnapButton, SignalsByHowLongTheButtonIsHeld) {
  const PollCase& test = GetParam();
  ASSERT_EQ(Start(Lists(test.autoClose ? "\"EnableAutoClose\"=dword:1\n" : "")), STATUS_SUCCESS);
  SignalCounter counter;
  camera_->eventNotifier = &counter;
  context_->eventBlock->flags |= kEventFlagPollingEnabled;  // as the notifier's polling leaves it
  std::string seen;
  auto poll = [&] {
    size_t before = counter.signals.size();
    camera_->PollSnapButton(context_);
    seen += counter.signals.size() == before ? "." : counter.signals.substr(before);
  };
  emulator_->PressButton();
  for (int count = 0; count < test.pollsHeld; ++count) poll();
  emulator_->ReleaseButton();
  seen += "|";
  poll();
  camera_->eventNotifier = nullptr;
  EXPECT_EQ(seen, test.expected);
}

INSTANTIATE_TEST_SUITE_P(Polls, SnapButton, testing::ValuesIn(kPollCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CaptureControl, PollingStopsWhileTheVideoStreamHasBandwidth) {
  ASSERT_EQ(Start(Lists()), STATUS_SUCCESS);
  SignalCounter counter;
  camera_->eventNotifier = &counter;
  context_->eventBlock->flags |= kEventFlagPollingEnabled;  // as the notifier's polling leaves it
  ULONG rawLength = 0;
  KS_DATAFORMAT_VIDEOINFOHEADER format = VideoFormat(camera_);
  ASSERT_EQ(camera_->AllocateBandwidth(nullptr, context_, &rawLength, &format, 0), STATUS_SUCCESS);
  emulator_->PressButton();
  camera_->PollSnapButton(context_);
  EXPECT_EQ(counter.signals, "");
  camera_->FreeBandwidth(nullptr, context_, 0);
  camera_->PollSnapButton(context_);
  EXPECT_EQ(counter.signals, "L");
  camera_->eventNotifier = nullptr;
}

}  // namespace
