// The emulated camera as the framework sees it on the bus: descriptors, alternate settings and
// bandwidth, vendor request 1 on the bridge registers, the sensor's serial bus, firmware loads and
// the knobs.
#include <gtest/gtest.h>

#include <ostream>
#include <thread>

#include "device_test_support.h"
#include "host_control.h"

namespace camemu {
namespace {

using host::UsbResult;

TEST(UsbDescriptors, DeviceDescriptorCarriesConfiguredIds) {
  auto camera = MakeCamera({"vendor_id=0x1234", "product_id=0xABCD"});
  std::vector<uint8_t> device = camera->DeviceDescriptor();
  ASSERT_EQ(device.size(), 18u);
  EXPECT_EQ(device[0], 18);
  EXPECT_EQ(device[1], 1);
  EXPECT_EQ(device[8] | device[9] << 8, 0x1234);
  EXPECT_EQ(device[10] | device[11] << 8, 0xABCD);
  EXPECT_EQ(device[17], 1);  // one configuration
}

TEST(UsbDescriptors, ConfigurationListsEveryAlternateSettingWithItsPipes) {
  auto camera = MakeCamera({"pipes=3", "alt_sizes=0,128,256,512,1024,1536,2048,3072"});
  std::vector<uint8_t> config = camera->ConfigurationDescriptor();
  ASSERT_GE(config.size(), 9u);
  EXPECT_EQ(config[2] | config[3] << 8, static_cast<int>(config.size()));
  // Walk the descriptors: eight interface descriptors, each followed by three endpoints.
  int interfaces = 0, endpoints = 0;
  for (size_t at = 9; at < config.size(); at += config[at]) {
    ASSERT_GT(config[at], 0);
    if (config[at + 1] == 4) {
      EXPECT_EQ(config[at + 3], interfaces);  // bAlternateSetting
      EXPECT_EQ(config[at + 4], 3);
      ++interfaces;
    }
    if (config[at + 1] == 5) ++endpoints;
  }
  EXPECT_EQ(interfaces, 8);
  EXPECT_EQ(endpoints, 24);
  EXPECT_EQ(camera->AlternateSettingCount(), 8);
  std::vector<host::UsbPipeInfo> pipes = camera->Pipes(6);
  ASSERT_EQ(pipes.size(), 3u);
  EXPECT_EQ(pipes[0].type, host::UsbPipeType::Isochronous);
  EXPECT_EQ(pipes[0].maxPacketSize, 2048);
  EXPECT_EQ(pipes[1].type, host::UsbPipeType::Interrupt);
  EXPECT_EQ(camera->Pipes(0)[0].maxPacketSize, 0);
  EXPECT_EQ(MakeCamera({"pipes=1"})->Pipes(7).size(), 1u);
}

TEST(Bandwidth, AlternateSettingsBeyondTheBudgetAreRefused) {
  struct Case {
    const char* speed;
    const char* budget;
    uint8_t alt;
    UsbResult expected;
  } cases[] = {
      {"speed=high", "bandwidth=0", 7, UsbResult::Ok},           // 1536 fits the 1536 default
      {"speed=full", "bandwidth=0", 7, UsbResult::NoBandwidth},  // 1023 at full speed
      {"speed=full", "bandwidth=0", 2, UsbResult::Ok},           // 512 fits
      {"speed=high", "bandwidth=1024", 5, UsbResult::NoBandwidth},
      {"speed=high", "bandwidth=1024", 4, UsbResult::Ok},
      {"speed=high", "bandwidth=1", 0, UsbResult::Ok},     // setting 0 needs nothing
      {"speed=high", "bandwidth=0", 8, UsbResult::Stall},  // no such setting
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.speed) + " " + c.budget + " alt " + std::to_string(c.alt));
    auto camera = MakeCamera({c.speed, c.budget});
    EXPECT_EQ(camera->SelectAlternateSetting(c.alt), c.expected);
    EXPECT_EQ(camera->CurrentAlternateSetting(), c.expected == UsbResult::Ok ? c.alt : 0);
  }
}

TEST(Bandwidth, RefusalFaultIsOneShotAndCounted) {
  auto camera = MakeCamera({"refuse_alt=1"});
  EXPECT_EQ(camera->SelectAlternateSetting(0), UsbResult::Ok);  // does not spend the fault
  EXPECT_EQ(camera->SelectAlternateSetting(7), UsbResult::NoBandwidth);
  EXPECT_EQ(camera->SelectAlternateSetting(7), UsbResult::Ok);
  EXPECT_EQ(camera->Statistics().altSettingsRefused, 1u);
  EXPECT_EQ(camera->FaultsFired(Fault::RefuseAltSetting), 1u);
}

TEST(VendorRequest, RegisterReadsAndWrites) {
  auto camera = MakeCamera({});
  Host host(*camera);
  // One-byte write and read back.
  ASSERT_EQ(host.Write(0x40, {0x5A}), UsbResult::Ok);
  EXPECT_EQ(host.Read(0x40), 0x5A);
  // A block write fills consecutive registers; an 8-byte read returns them in order.
  ASSERT_EQ(host.Write(0x48, {1, 2, 3, 4, 5, 6, 7, 8}), UsbResult::Ok);
  std::vector<uint8_t> eight;
  ASSERT_EQ(host.ReadBlock(0x48, 8, &eight), UsbResult::Ok);
  EXPECT_EQ(eight, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  // An 8-byte read near the end of the file: the registers past 0xFF read as 0.
  ASSERT_EQ(host.Write(0xFE, {0xAA, 0xBB}), UsbResult::Ok);
  ASSERT_EQ(host.ReadBlock(0xFE, 8, &eight), UsbResult::Ok);
  EXPECT_EQ(eight, (std::vector<uint8_t>{0xAA, 0xBB, 0, 0, 0, 0, 0, 0}));
  // Read-only registers keep their value.
  ASSERT_EQ(host.Write(0x00, {0x00}), UsbResult::Ok);
  EXPECT_EQ(host.Read(0x00), kChipIdValue);
  // High-speed bit of register 0x0F follows the bus speed.
  EXPECT_EQ(host.Read(0x0F) & 0x10, 0x10);
  auto fullSpeed = MakeCamera({"speed=full"});
  EXPECT_EQ(Host(*fullSpeed).Read(0x0F) & 0x10, 0);
}

TEST(VendorRequest, MalformedRequestsStallAndTouchNothing) {
  auto camera = MakeCamera({});
  Host host(*camera);
  struct Case {
    const char* what;
    host::UsbSetupPacket setup;
    uint32_t length;
  } cases[] = {
      {"unknown request code", {0xC0, 2, 0, 0x40, 1}, 1},
      {"read longer than 8", {0xC0, 1, 0, 0x40, 9}, 9},
      {"index above 0xFF", {0xC0, 1, 0, 0x100, 1}, 1},
      {"write past register 0xFF", {0x40, 1, 0, 0xFF, 2}, 2},
      {"write whose data disagrees with wLength", {0x40, 1, 0, 0x40, 2}, 1},
      {"empty register write", {0x40, 1, 0, 0x40, 0}, 0},
      {"firmware chunk past the code memory", {0x40, 1, 0xFFF0, 0, 32}, 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> data(std::max<uint32_t>(c.length, 1), 0xEE);
    uint32_t length = c.length;
    EXPECT_EQ(camera->ControlTransfer(c.setup, data.data(), &length), UsbResult::Stall);
    if (c.setup.requestType & 0x80) {
      EXPECT_EQ(length, 0u);
    }
  }
  EXPECT_EQ(host.Read(0x40), 0);
  EXPECT_EQ(host.Read(0xFF), 0);
  EXPECT_TRUE(camera->FirmwareChunks().empty());
}

TEST(VendorRequest, InjectedFailuresAreRecordedWithTheirResult) {
  auto camera = MakeCamera({"fail_request=1", "fail_register=0x41"});
  Host host(*camera);
  EXPECT_EQ(host.Write(0x40, {1}), UsbResult::Stall);  // the one-shot failure
  EXPECT_EQ(host.Write(0x40, {1}), UsbResult::Ok);
  EXPECT_EQ(host.Write(0x41, {1}), UsbResult::Stall);  // always, at that register
  std::vector<RequestRecord> log = camera->Requests();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].result, UsbResult::Stall);
  EXPECT_EQ(log[1].result, UsbResult::Ok);
  EXPECT_EQ(log[1].setup.index, 0x40);
  EXPECT_EQ(log[1].data, std::vector<uint8_t>{1});
  EXPECT_EQ(camera->Statistics().requestsInjected, 2u);
}

TEST(VendorRequest, SlowRequestsTakeTheirTimeOnThePlatformClock) {
  auto camera = MakeCamera({"slow_request_ms=5"});
  int64_t before = host::Now100ns();
  Host(*camera).Write(0x40, {1});
  EXPECT_GE(host::Now100ns() - before, 5 * 10000);
}

TEST(VendorRequest, FirmwareChunksLandAtTheirLoadAddress) {
  auto camera = MakeCamera({});
  Host host(*camera);
  std::vector<uint8_t> first(64), second(10);
  for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<uint8_t>(i);
  for (size_t i = 0; i < second.size(); ++i) second[i] = static_cast<uint8_t>(0xA0 + i);
  ASSERT_EQ(host.LoadFirmware(0xFC, first), UsbResult::Ok);
  ASSERT_EQ(host.LoadFirmware(0xFC + 64, second), UsbResult::Ok);
  std::vector<uint8_t> expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(camera->FirmwareMemory(0xFC, 74), expected);
  ASSERT_EQ(camera->FirmwareChunks().size(), 2u);
  EXPECT_EQ(camera->FirmwareChunks()[1].address, 0xFC + 64);
  EXPECT_EQ(host.Read(0x0E) & 1, 1);  // the bridge reports loaded firmware
}

// The read and write sequences of the sensor's serial bus, with the polls of the busy bit.
struct BusCase {
  const char* what;
  std::vector<std::string> knobs;
  uint8_t deviceId;
  int expectedBusyPolls;  // per phase
  bool answers;
};
// Test names show the case, not its bytes.
void PrintTo(const BusCase& value, std::ostream* os) { *os << value.what; }

class SerialBus : public testing::TestWithParam<BusCase> {};

TEST_P(SerialBus, ReadAndWriteThroughTheBridge) {
  const BusCase& c = GetParam();
  auto camera = MakeCamera(c.knobs);
  Host host(*camera);
  host.Write(0xF1, {c.deviceId});
  // Write sensor register 0x06 (brightness) = 0x21, then poll.
  host.Write(0xF2, {0x06});
  host.Write(0xF3, {0x21});
  host.Write(0xF5, {0x37});
  EXPECT_EQ(host.PollBusy(6), c.expectedBusyPolls);
  // Read back: addressing phase, poll, data phase, poll, data.
  host.Write(0xF2, {0x06});
  host.Write(0xF5, {0x33});
  EXPECT_EQ(host.PollBusy(6), c.expectedBusyPolls);
  host.Write(0xF5, {0xF9});
  EXPECT_EQ(host.PollBusy(6), c.expectedBusyPolls);
  uint8_t value = host.Read(0xF4);
  if (c.answers) {
    EXPECT_EQ(value, 0x21);
    EXPECT_EQ(camera->PeekSensorRegister(0x06), 0x21);
  } else {
    EXPECT_NE(value, 0x21);
    EXPECT_EQ(camera->PeekSensorRegister(0x06), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, SerialBus,
    testing::Values(BusCase{"default: busy for one status read", {}, 0x42, 1, true},
                    BusCase{"busy for three reads", {"busy_reads=3"}, 0x42, 3, true},
                    BusCase{"never busy", {"busy_reads=0"}, 0x42, 0, true},
                    BusCase{"other sensor id", {"sensor_id=0x60"}, 0x60, 1, true},
                    BusCase{"wrong device id", {}, 0x43, 1, false},
                    BusCase{"stuck busy bit", {"stuck_busy=on"}, 0x42, 6, false}),
    [](const testing::TestParamInfo<BusCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST(Sensor, IdentificationBytesAreReadOnlyAndConfigurable) {
  auto camera = MakeCamera({"sensor_version_reg=0x0A", "sensor_version=0x76"});
  Host host(*camera);
  EXPECT_EQ(host.ReadSensor(0x42, 0x0A), 0x76);
  host.WriteSensor(0x42, 0x0A, 0x00);
  EXPECT_EQ(host.ReadSensor(0x42, 0x0A), 0x76);
  // The default sensor answers the driver's default check: id 0x42, register 0x29 = 0x03.
  auto standard = MakeCamera({});
  EXPECT_EQ(Host(*standard).ReadSensor(0x42, 0x29), 0x03);
}

TEST(Knobs, BadKnobsGiveClearErrors) {
  struct Case {
    const char* knob;
    const char* message;
  } cases[] = {
      {"nonsense", "malformed device knob 'nonsense': expected KEY=VALUE"},
      {"=3", "malformed device knob '=3': expected KEY=VALUE"},
      {"colour=red", "unknown device knob 'colour'"},
      {"vendor_id=0x10000", "device knob 'vendor_id' takes 0..65535, not '0x10000'"},
      {"pipes=4", "device knob 'pipes' takes 1..3, not '4'"},
      {"busy_reads=two", "device knob 'busy_reads' takes 0..1000, not 'two'"},
      {"drop_packet_rate=101", "device knob 'drop_packet_rate' takes 0..100, not '101'"},
      {"alt_sizes=0,1,2", "device knob 'alt_sizes' takes eight sizes a,b,..., not '0,1,2'"},
      {"speed=warp", "device knob 'speed' takes high|full, not 'warp'"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(EmulatedCamera::Create({c.knob}, &error), nullptr) << c.knob;
    EXPECT_EQ(error, c.message);
  }
  auto camera = MakeCamera({});
  EXPECT_EQ(camera->SetKnob("pipes=0"), "device knob 'pipes' takes 1..3, not '0'");
  EXPECT_EQ(camera->Config().pipeCount, 2);
  EXPECT_EQ(camera->SetKnob("pipes=1"), "");
  EXPECT_EQ(camera->Config().pipeCount, 1);
}

TEST(Knobs, KnobsSetWhileRunningTakeEffectAtOnce) {
  auto camera = MakeCamera({});
  Host host(*camera);
  EXPECT_EQ(camera->SetKnob("sensor_version=0x55"), "");
  EXPECT_EQ(host.ReadSensor(0x42, 0x29), 0x55);
  EXPECT_EQ(camera->SetKnob("stuck_busy=on"), "");
  host.Write(0xF5, {0x37});
  EXPECT_EQ(host.PollBusy(6), 6);
  EXPECT_EQ(camera->SetKnob("stuck_busy=off"), "");
  EXPECT_EQ(host.PollBusy(6), 0);
  EXPECT_EQ(camera->SetKnob("speed=full"), "");
  EXPECT_EQ(host.Read(0x0F) & 0x10, 0);
  EXPECT_EQ(camera->DeviceDescriptor()[3], 0x01);  // bcdUSB 1.10
  // A one-shot fault budget already spent stays spent when other knobs change.
  EXPECT_EQ(camera->SetKnob("refuse_alt=1"), "");
  EXPECT_EQ(camera->SelectAlternateSetting(2), host::UsbResult::NoBandwidth);
  EXPECT_EQ(camera->SetKnob("light=80"), "");
  EXPECT_EQ(camera->SelectAlternateSetting(2), host::UsbResult::Ok);
}

// The framework reads packets on its completion path while requests and the button arrive on
// other threads; the counts must add up whatever the interleaving.
TEST(Concurrency, PipesAndPanelFromSeveralThreads) {
  auto camera = MakeCamera({});
  Host host(*camera);
  host.Write(0x14, {64, 0, 48, 0});
  camera->SelectAlternateSetting(7);
  std::thread video([&] {
    FrameCollector collector;
    Stream(*camera, collector, 1000, 0, 2000);
  });
  std::thread button([&] {
    for (int i = 0; i < 200; ++i) {
      camera->PressButton();
      camera->ReleaseButton();
    }
  });
  for (int i = 0; i < 200; ++i) {
    host.Write(0x40, {static_cast<uint8_t>(i)});
    host.Read(0x40);
  }
  video.join();
  button.join();
  DeviceStatistics statistics = camera->Statistics();
  EXPECT_EQ(statistics.packets, 2000u);
  EXPECT_EQ(statistics.requests, 401u);
  // 2000 microframes are 250 ms: frames at 0, 33.3, ..., 233.3 ms.
  EXPECT_EQ(statistics.framesCompleted, 8u);
}

TEST(Removal, UnpluggedDeviceAnswersNothing) {
  auto camera = MakeCamera({});
  camera->Unplug();
  EXPECT_FALSE(camera->Connected());
  uint8_t byte = 0;
  uint32_t length = 1;
  EXPECT_EQ(camera->ControlTransfer({0xC0, 1, 0, 0, 1}, &byte, &length), UsbResult::NotConnected);
  EXPECT_EQ(camera->SelectAlternateSetting(1), UsbResult::NotConnected);
  uint8_t packet[16];
  EXPECT_EQ(camera->ReadIsochronousPacket(0, packet, sizeof packet, &length),
            UsbResult::NotConnected);
  EXPECT_EQ(camera->ReadInterruptPacket(packet, sizeof packet, &length), UsbResult::NotConnected);
}

}  // namespace
}  // namespace camemu
