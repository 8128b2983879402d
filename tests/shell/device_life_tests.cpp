// A device's whole life through the client API: start, streams, power, device control codes,
// surprise removal and teardown, with every request block completed exactly once (the fixture's
// verifier capture) and nothing left in the pool (the test main).
#include <algorithm>
#include <ostream>

#include "core/camera_device.h"
#include "core/device_context.h"
#include "core/timing.h"
#include "io_manager.h"
#include "shell_fixture.h"
#include "support/camera_install.h"

namespace {

using Journal = std::vector<std::string>;

// Position of the first entry at or after `from`, or the journal's size.
size_t Find(const Journal& journal, const std::string& entry, size_t from = 0) {
  auto found = std::find(journal.begin() + static_cast<long>(from), journal.end(), entry);
  return static_cast<size_t>(found - journal.begin());
}

bool ImagingInterfaceEnabled() {
  for (const host::DeviceInterfaceRecord& record : host::DeviceInterfaces()) {
    if (IsEqualGuid(record.interfaceClass, kImagingDeviceClass) && record.enabled) return true;
  }
  return false;
}

class DeviceLife : public ShellTest {};

TEST_F(DeviceLife, StartConfiguresThenInitialisesAndTeardownUninitialises) {
  auto device = OpenCamera();
  ASSERT_TRUE(device->started());
  host::FrameworkState framework = device->Framework();
  EXPECT_EQ(framework.acceptedVersion, USBCAMD_VERSION_200);
  EXPECT_LT(Find(framework.journal, "CamConfigureEx"), Find(framework.journal, "CamInitialize"));
  EXPECT_LT(Find(framework.journal, "CamInitialize"), framework.journal.size());
  EXPECT_TRUE(ImagingInterfaceEnabled());
  EXPECT_EQ(device->ClassDeviceFlags() & DO_DEVICE_INITIALIZING, 0u);
  std::vector<host::PinDescription> pins = device->Pins();
  ASSERT_EQ(pins.size(), 2u);
  EXPECT_TRUE(IsEqualGuid(pins[0].name, PINNAME_VIDEO_CAPTURE));
  EXPECT_TRUE(IsEqualGuid(pins[1].name, PINNAME_VIDEO_STILL));

  EXPECT_EQ(device->Uninitialize(), STATUS_SUCCESS);
  EXPECT_FALSE(device->Framework().present);
  EXPECT_FALSE(ImagingInterfaceEnabled());
}

TEST_F(DeviceLife, RunningStreamGetsBandwidthAndCaptureAroundItsRun) {
  auto device = OpenCamera();
  host::ClientPin* pin = nullptr;
  ASSERT_EQ(device->OpenPin(0, FirstFormat(*device, 0), &pin), STATUS_SUCCESS);
  EXPECT_EQ(pin->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
  EXPECT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  EXPECT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
  Journal journal = device->Framework().journal;
  size_t allocate = Find(journal, "CamAllocateBandwidthEx");
  size_t start = Find(journal, "CamStartCaptureEx", allocate);
  size_t stop = Find(journal, "CamStopCaptureEx", start);
  size_t free = Find(journal, "CamFreeBandwidthEx", stop);
  EXPECT_LT(free, journal.size());
  EXPECT_EQ(device->ClosePin(pin), STATUS_SUCCESS);
  EXPECT_EQ(device->Uninitialize(), STATUS_SUCCESS);
}

TEST_F(DeviceLife, OnlyARunningStreamMovesPacketsThroughTheDriver) {
  auto device = OpenCamera();
  host::ClientPin* pin = nullptr;
  ASSERT_EQ(device->OpenPin(0, FirstFormat(*device, 0), &pin), STATUS_SUCCESS);
  EXPECT_EQ(device->RunIsochronous(8).packets, 0u);
  ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  host::IsochronousRun run = device->RunIsochronous(8);
  EXPECT_EQ(run.status, STATUS_SUCCESS);
  // The camera runs at high speed: a packet in each of a bus frame's eight microframes.
  EXPECT_EQ(run.packets, 8u * host::IsochronousPacketsPerBusFrame(host::UsbSpeed::High));
  // Eight bus frames carry a small part of a 640 x 480 picture: no frame is complete yet.
  EXPECT_EQ(run.frames, 0u);
  EXPECT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
}

// The interrupt pipe's event reaches the completion routine the driver armed, which keeps waiting.
TEST_F(DeviceLife, AButtonEventCompletesTheArmedWait) {
  camemu::EmulatorConfig config;
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  auto camera = MakeCamera(config);
  auto device =
      host::ClientDevice::Open(*image_, camera, &status, camera_install::InstallDefaultCamera());
  ASSERT_EQ(status, STATUS_SUCCESS);
  EXPECT_FALSE(device->DeliverDeviceEvent());
  camera->PressButton();
  EXPECT_TRUE(device->DeliverDeviceEvent());
  EXPECT_TRUE(device->Framework().eventWaitActive);
}

TEST_F(DeviceLife, ClosingARunningStreamStopsItFirst) {
  auto device = OpenCamera();
  host::ClientPin* pin = nullptr;
  ASSERT_EQ(device->OpenPin(0, FirstFormat(*device, 0), &pin), STATUS_SUCCESS);
  ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  EXPECT_EQ(device->ClosePin(pin), STATUS_SUCCESS);
  Journal journal = device->Framework().journal;
  EXPECT_LT(Find(journal, "CamFreeBandwidthEx", Find(journal, "SRB 0x102")), journal.size());
}

TEST_F(DeviceLife, SurpriseRemovalThenTeardown) {
  auto device = OpenCamera();
  host::ClientPin* pin = nullptr;
  ASSERT_EQ(device->OpenPin(0, FirstFormat(*device, 0), &pin), STATUS_SUCCESS);
  EXPECT_EQ(device->SurpriseRemove(), STATUS_SUCCESS);
  auto* context = ContextFromExtension(device->DeviceExtension());
  EXPECT_EQ(context->removed, 1);
  EXPECT_EQ(device->ClosePin(pin), STATUS_SUCCESS);
  EXPECT_EQ(device->Uninitialize(), STATUS_SUCCESS);
}

// Power D0 -> D3 -> D0: the framework's save and restore run around it, and a camera with an
// interrupt pipe has its event wait armed again; a single-pipe camera never has one.
struct PowerCase {
  uint8_t pipes;
  int waitsAfterStart;
  int waitsAfterResume;
};
// Test names show the case, not its bytes.
void PrintTo(const PowerCase& value, std::ostream* os) {
  *os << static_cast<int>(value.pipes) << " pipes";
}

class PowerCycle : public ShellTest, public testing::WithParamInterface<PowerCase> {};

TEST_P(PowerCycle, SaveAndRestoreAroundD3AndTheEventWaitByPipes) {
  const PowerCase& expected = GetParam();
  auto device = OpenCamera(expected.pipes);
  auto* context = ContextFromExtension(device->DeviceExtension());
  EXPECT_EQ(context->pipeCount, expected.pipes);
  EXPECT_EQ(device->Framework().eventWaitsArmed, expected.waitsAfterStart);

  EXPECT_EQ(device->SetPowerState(PowerDeviceD3), STATUS_SUCCESS);
  EXPECT_EQ(context->powered, 0);
  EXPECT_FALSE(device->Framework().eventWaitActive);
  EXPECT_EQ(device->SetPowerState(PowerDeviceD3), STATUS_SUCCESS);  // same state: passed on
  EXPECT_EQ(device->SetPowerState(PowerDeviceD0), STATUS_SUCCESS);
  host::FrameworkState framework = device->Framework();
  EXPECT_EQ(framework.eventWaitsArmed, expected.waitsAfterResume);
  EXPECT_EQ(framework.eventWaitActive, expected.waitsAfterResume > 0);
  EXPECT_EQ(device->Uninitialize(), STATUS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Pipes, PowerCycle,
                         testing::Values(PowerCase{1, 0, 0}, PowerCase{2, 1, 2},
                                         PowerCase{3, 1, 2}));

// Device control codes: the two private ones are the image processor's; every other goes to the
// framework, which supports none. Before any still was taken no pixels come back; a header buffer
// too small for the whole header is refused.
struct ControlCase {
  const char* name;
  ULONG code;
  ULONG outputSize;
  NTSTATUS status;
  ULONG_PTR information;
};
// Test names show the case, not its bytes.
void PrintTo(const ControlCase& value, std::ostream* os) { *os << value.name; }

class DeviceControlCodes : public ShellTest, public testing::WithParamInterface<ControlCase> {};

TEST_P(DeviceControlCodes, AnswerByCode) {
  auto device = OpenCamera();
  std::vector<uint8_t> output;
  ULONG_PTR information = 99;
  EXPECT_EQ(
      device->DeviceControl(GetParam().code, {}, GetParam().outputSize, &output, &information),
      GetParam().status);
  if (NT_SUCCESS(GetParam().status)) {
    EXPECT_EQ(information, GetParam().information);
  }
}

const ControlCase kControlCases[] = {
    {"HeaderWhole", kIoctlLastFrameHeader, 40, STATUS_SUCCESS, 40},
    {"HeaderShortBuffer", kIoctlLastFrameHeader, 8, STATUS_BUFFER_TOO_SMALL, 0},
    {"DataBeforeAnyStill", kIoctlLastFrameData, 4096, STATUS_SUCCESS, 0},
    {"DataWithoutBuffer", kIoctlLastFrameData, 0, STATUS_SUCCESS, 0},
    {"OtherCode", 0x2F2008, 16, STATUS_NOT_SUPPORTED, 0},
};

INSTANTIATE_TEST_SUITE_P(Codes, DeviceControlCodes, testing::ValuesIn(kControlCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeviceLife, MeasuredCpuSpeedIsTheConfiguredProcessorClock) {
  ULONG previous = host::ProcessorClockMhz();
  for (ULONG mhz : {233u, 733u, 2400u}) {
    host::SetProcessorClockMhz(mhz);
    EXPECT_EQ(MeasureCpuSpeed(), mhz);
  }
  host::SetProcessorClockMhz(1333);
  auto device = OpenCamera();
  EXPECT_EQ(ContextFromExtension(device->DeviceExtension())->cpuSpeed, 1333u);
  host::SetProcessorClockMhz(previous);
}

// Every allocation of the start in turn fails once: the start either absorbs it (the retry rule)
// or fails with nothing left allocated and the class device object released for teardown.
TEST_F(DeviceLife, AFailedAllocationAnywhereInTheStartFailsItCleanly) {
  int failedStarts = 0;
  for (uint64_t n = 1; n < 200; ++n) {
    size_t blocksBefore = host::PoolOutstandingBlocks();
    uint64_t allocationsBefore = host::AllocationCount();
    host::FailAllocationNumber(n);
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto device = OpenCamera(camemu::EmulatorConfig{}, &status);
    bool reached = host::AllocationCount() - allocationsBefore >= n;
    host::ClearAllocationFaults();
    if (!NT_SUCCESS(status)) {
      ++failedStarts;
      EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES) << "allocation " << n;
      EXPECT_NE(device->ClassDeviceFlags() & DO_DIRECT_IO, 0u) << "allocation " << n;
      EXPECT_EQ(device->ClassDeviceFlags() & DO_DEVICE_INITIALIZING, 0u) << "allocation " << n;
    }
    device.reset();
    EXPECT_EQ(host::PoolOutstandingBlocks(), blocksBefore) << "allocation " << n;
    if (!reached) break;
  }
  EXPECT_GT(failedStarts, 0);
}

}  // namespace
