// The video pin run from the client side on the emulated camera: the transfer mode and alternate
// setting chosen for a requested frame rate, the fall-back when the bus refuses bandwidth, capture
// start and stop, close, a power cycle, and the format kept from one run to the next.
#include <algorithm>
#include <filesystem>
#include <ostream>

#include "integration_fixture.h"
#include "registry_control.h"
#include "support/camera_install.h"

namespace {

// The emulated bridge's registers that the default model's lists write.
constexpr uint8_t kVideoRegister = 0x03;                // bit 0: video enable (capture lists)
constexpr uint8_t kWidthLow = 0x14, kHeightLow = 0x16;  // format lists
constexpr uint8_t kFrameRate = 0x18;                    // mode lists: frames per second

// 100 ns units per frame at a rate in frames per second.
constexpr LONGLONG Interval(double framesPerSecond) {
  return static_cast<LONGLONG>(10000000 / framesPerSecond);
}

bool Journaled(const host::ClientDevice& device, const std::string& entry) {
  std::vector<std::string> journal = device.Framework().journal;
  return std::find(journal.begin(), journal.end(), entry) != journal.end();
}

struct RateCase {
  const char* name;
  std::vector<std::string> knobs;
  LONGLONG frameInterval;
  uint8_t alternateSetting;  // chosen by the mode
  uint8_t framesPerSecond;   // the mode's frame rate register
  uint64_t refused;          // alternate settings the bus refused on the way
};
// Test names show the case, not its bytes.
void PrintTo(const RateCase& value, std::ostream* os) { *os << value.name; }

class ModeChoice : public IntegrationTest, public testing::WithParamInterface<RateCase> {};

TEST_P(ModeChoice, RunningTheVideoPinClaimsTheModesAlternateSetting) {
  const RateCase& test = GetParam();
  auto device = Open(camera_install::InstallDefaultCamera(), test.knobs);
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> format =
      FormatFor(*device, 0, RangeOf(*device, 0, 640, 480, 16), test.frameInterval);
  ASSERT_FALSE(format.empty());
  host::ClientPin* pin = nullptr;
  ASSERT_EQ(device->OpenPin(0, format, &pin), STATUS_SUCCESS);
  EXPECT_EQ(camera_->CurrentAlternateSetting(), 0) << "bandwidth is claimed only to run";
  ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  EXPECT_EQ(camera_->CurrentAlternateSetting(), test.alternateSetting);
  EXPECT_EQ(camera_->PeekRegister(kFrameRate), test.framesPerSecond);
  EXPECT_EQ(camera_->PeekRegister(kWidthLow), 640 & 0xFF);
  EXPECT_EQ(camera_->Statistics().altSettingsRefused, test.refused);
  EXPECT_EQ(device->ClosePin(pin), STATUS_SUCCESS);
  EXPECT_EQ(device->Uninitialize(), STATUS_SUCCESS);
}

// Modes at 30, 15 and 5 frames a second on alternate settings 5, 3 and 1. A request takes the
// fastest mode not faster than itself, within the format's 30 to 5; a refused alternate setting
// moves on to the next slower mode, and the slowest is tried once more before giving up.
const RateCase kRateCases[] = {
    {"ThirtyTakesTheFastMode", {}, Interval(30), 5, 30, 0},
    {"TwentyTakesTheFifteenMode", {}, Interval(20), 3, 15, 0},
    {"SixtyIsClampedToThirty", {}, Interval(60), 5, 30, 0},
    {"OneIsClampedToFive", {}, Interval(1), 1, 5, 0},
    {"TwentyOnABusyBusFallsBackToFive", {"bandwidth=512"}, Interval(20), 1, 5, 1},
    {"TwentyWithTwoRefusalsRetriesTheSlowestMode", {"refuse_alt=2"}, Interval(20), 1, 5, 2},
};

INSTANTIATE_TEST_SUITE_P(Rates, ModeChoice, testing::ValuesIn(kRateCases),
                         [](const auto& info) { return std::string(info.param.name); });

using VideoStream = IntegrationTest;

// Every alternate setting refused: the run fails, the bus stays idle, and once the bus has room
// again the same pin runs. The format in force is tried first and then again with the whole
// table, three alternate settings each time (15, 5 and 5 frames a second).
TEST_F(VideoStream, EveryAlternateSettingRefusedFailsTheRunAndLeavesTheBusIdle) {
  auto device = Open(camera_install::InstallDefaultCamera(), {"refuse_alt=6"});
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> format =
      FormatFor(*device, 0, RangeOf(*device, 0, 640, 480, 16), Interval(20));
  host::ClientPin* pin = nullptr;
  ASSERT_EQ(device->OpenPin(0, format, &pin), STATUS_SUCCESS);
  EXPECT_FALSE(NT_SUCCESS(pin->SetState(KSSTATE_RUN)));
  EXPECT_EQ(camera_->CurrentAlternateSetting(), 0);
  EXPECT_EQ(camera_->Statistics().altSettingsRefused, 6u);
  EXPECT_FALSE(Journaled(*device, "CamStartCaptureEx"));
  ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  EXPECT_EQ(camera_->CurrentAlternateSetting(), 3);
  EXPECT_EQ(device->ClosePin(pin), STATUS_SUCCESS);
}

TEST_F(VideoStream, CaptureStartsAndStopsAndCloseGivesTheBusBack) {
  auto device = Open(camera_install::InstallDefaultCamera());
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> format = FormatFor(*device, 0, RangeOf(*device, 0, 640, 480, 16));
  host::ClientPin* pin = nullptr;
  ASSERT_EQ(device->OpenPin(0, format, &pin), STATUS_SUCCESS);
  ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  EXPECT_TRUE(Journaled(*device, "CamStartCaptureEx"));
  EXPECT_EQ(camera_->PeekRegister(kVideoRegister) & 1, 1);
  EXPECT_EQ(camera_->CurrentAlternateSetting(), 5);
  // A whole packed YUV picture reaches the application.
  std::vector<uint8_t> picture(640 * 480 * 2);
  ASSERT_EQ(pin->QueueRead(picture.data(), static_cast<ULONG>(picture.size())), STATUS_PENDING);
  host::FrameRead frame;
  ASSERT_EQ(pin->ReadFrame(&frame), STATUS_SUCCESS);
  EXPECT_EQ(frame.bytes, picture.size());
  ASSERT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
  EXPECT_TRUE(Journaled(*device, "CamStopCaptureEx"));
  EXPECT_EQ(camera_->PeekRegister(kVideoRegister) & 1, 0);
  EXPECT_EQ(camera_->CurrentAlternateSetting(), 0);
  // Run again and close while running: stopped, bandwidth freed, the pin gone.
  ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  EXPECT_EQ(camera_->PeekRegister(kVideoRegister) & 1, 1);
  EXPECT_EQ(device->ClosePin(pin), STATUS_SUCCESS);
  EXPECT_EQ(camera_->PeekRegister(kVideoRegister) & 1, 0);
  EXPECT_EQ(camera_->CurrentAlternateSetting(), 0);
  EXPECT_EQ(device->Uninitialize(), STATUS_SUCCESS);
}

// Powered down while running, the camera forgets its registers (the model's power down resets the
// bridge) and gives the bus back; powered up, it has the same format, mode and bandwidth again.
TEST_F(VideoStream, PowerCycleBringsTheSameFormatBack) {
  auto device = Open(camera_install::InstallDefaultCamera());
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> format =
      FormatFor(*device, 0, RangeOf(*device, 0, 320, 240, 16), Interval(15));
  host::ClientPin* pin = nullptr;
  ASSERT_EQ(device->OpenPin(0, format, &pin), STATUS_SUCCESS);
  ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  EXPECT_EQ(camera_->PeekRegister(kWidthLow), 320 & 0xFF);
  EXPECT_EQ(camera_->PeekRegister(kFrameRate), 15);
  EXPECT_EQ(camera_->CurrentAlternateSetting(), 3);

  ASSERT_EQ(device->SetPowerState(PowerDeviceD3), STATUS_SUCCESS);
  EXPECT_EQ(camera_->CurrentAlternateSetting(), 0);
  EXPECT_EQ(camera_->PeekRegister(kWidthLow), 640 & 0xFF) << "the bridge's reset value";
  EXPECT_EQ(camera_->PeekRegister(kFrameRate), 30) << "the bridge's reset value";

  ASSERT_EQ(device->SetPowerState(PowerDeviceD0), STATUS_SUCCESS);
  EXPECT_EQ(camera_->PeekRegister(kWidthLow), 320 & 0xFF);
  EXPECT_EQ(camera_->PeekRegister(kHeightLow), 240);
  EXPECT_EQ(camera_->PeekRegister(kFrameRate), 15);
  EXPECT_EQ(camera_->CurrentAlternateSetting(), 3);
  EXPECT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
  EXPECT_EQ(device->ClosePin(pin), STATUS_SUCCESS);
  EXPECT_EQ(device->Uninitialize(), STATUS_SUCCESS);
}

// A format and frame rate chosen in one run, kept through the saved hive: with "SaveFormat" they
// are where the next run starts (the power up programs the current format and its current mode, and
// the pin offers that format first); without it the next run starts where the first did.
struct PersistenceCase {
  const char* name;
  bool saveFormat;
  LONG firstWidth;
  USHORT firstBitCount;
  uint8_t framesPerSecond;  // the current mode that the next power up writes
};
// Test names show the case, not its bytes.
void PrintTo(const PersistenceCase& value, std::ostream* os) { *os << value.name; }

class FormatPersistence : public IntegrationTest,
                          public testing::WithParamInterface<PersistenceCase> {};

TEST_P(FormatPersistence, TheNextRunStartsWithTheSavedFormat) {
  const PersistenceCase& test = GetParam();
  const std::u16string driverKey = camera_install::FreshDriverKeyName();
  std::string model = camera_install::DefaultModelText();
  if (test.saveFormat) {
    const std::string off = "\"SaveFormat\"=dword:00000000";
    model.replace(model.find(off), off.size(), "\"SaveFormat\"=dword:00000001");
  }
  ASSERT_EQ(camera_install::ImportForDriverKey(driverKey, model), "");
  {
    auto device = Open(driverKey);
    ASSERT_NE(device, nullptr);
    std::vector<uint8_t> format =
        FormatFor(*device, 0, RangeOf(*device, 0, 320, 240, 24), Interval(15));
    host::ClientPin* pin = nullptr;
    ASSERT_EQ(device->OpenPin(0, format, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
    ASSERT_EQ(device->ClosePin(pin), STATUS_SUCCESS);
    ASSERT_EQ(device->Uninitialize(), STATUS_SUCCESS);
  }
  // The driver key goes to a .reg file and comes back from it alone.
  const std::u16string keyPath = camera_install::DriverKeyPath(driverKey);
  const std::filesystem::path file =
      std::filesystem::path(testing::TempDir()) / (std::string("persist_") + test.name + ".reg");
  std::string error;
  ASSERT_TRUE(host::SaveRegistryFile(file, &error, host::RegFileEncoding::Utf16Le, keyPath))
      << error;
  ASSERT_TRUE(host::DeleteRegistryTree(keyPath));
  ASSERT_TRUE(host::LoadRegistryFile(file, &error)) << error;
  std::filesystem::remove(file);

  auto device = Open(driverKey);
  ASSERT_NE(device, nullptr);
  const std::vector<host::PinDescription> pins = device->Pins();
  const KS_BITMAPINFOHEADER& first = AsRange(pins[0].dataRanges[0]).VideoInfoHeader.bmiHeader;
  EXPECT_EQ(first.biWidth, test.firstWidth);
  EXPECT_EQ(first.biBitCount, test.firstBitCount);
  EXPECT_EQ(camera_->PeekRegister(kWidthLow), test.firstWidth & 0xFF);
  EXPECT_EQ(camera_->PeekRegister(kFrameRate), test.framesPerSecond);
  EXPECT_EQ(device->Uninitialize(), STATUS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    SaveFormat, FormatPersistence,
    testing::Values(PersistenceCase{"Saved", true, 320, 24, 15},
                    // the model's current format with the mode its keys list last
                    PersistenceCase{"NotSaved", false, 640, 16, 5}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
