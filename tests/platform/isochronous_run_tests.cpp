// The framework's isochronous run by bus speed, with a small stand-in minidriver in place of ours:
// a high-speed camera is served in every 125 us microframe, eight packets a 1 ms bus frame, a
// full-speed one once a bus frame, and the frames the framework hands to reads in one second of
// bus follow from that. The camera is the emulator.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client_device.h"
#include "emulated_camera.h"
#include "host_control.h"
#include "support/stand_in_minidriver.h"
#include "usbcamd.h"

namespace {

using stand_in::Entry;
using stand_in::g_driver;
using stand_in::g_format;

// One second of bus (1000 bus frames) with more reads queued than the mode's frame rate fills:
// the packets the framework moved per bus frame and the frames it delivered to reads. A frame is
// handed over when the next one begins, so the second's last frame goes out in the first bus frame
// of the next second, which the run includes.
TEST(IsochronousRun, PacketsPerBusFrameFollowTheSpeedAndFramesTheRate) {
  struct Case {
    const char* name;
    std::vector<std::string> knobs;
    uint32_t width, height;  // packed YUV 4:2:2 at 30 frames a second
    ULONG packetUnit;
    UCHAR alternateSetting;
    uint64_t packetsPerBusFrame;
    uint64_t framesDelivered;
  } cases[] = {
      // 3 x 1024 bytes a microframe carry a 614,400-byte frame in 25 ms.
      {"high speed, 640 x 480, 3 x 1024 bytes",
       {"packet_unit=1024", "alt_sizes=0,1024,1024,2048,2048,3072,3072,3072"},
       640,
       480,
       1024,
       7,
       8,
       30},
      // 3 x 512 bytes a microframe take 50.5 ms for it: the next frame starts late every time.
      {"high speed, 640 x 480, 3 x 512 bytes", {}, 640, 480, 512, 7, 8, 19},
      {"full speed, 64 x 48, 512 bytes", {"speed=full"}, 64, 48, 512, 2, 1, 30},
  };
  constexpr uint32_t kBusFramesPerSecond = 1000;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_driver = {};
    g_driver.packetUnit = c.packetUnit;
    g_driver.frameBytes = c.width * c.height * 2;
    g_driver.alternateSetting = c.alternateSetting;
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    std::unique_ptr<host::DriverImage> image = host::DriverImage::FromEntryPoint(Entry, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    std::vector<std::string> knobs = c.knobs;
    knobs.push_back("sensor_width=" + std::to_string(c.width));
    knobs.push_back("sensor_height=" + std::to_string(c.height));
    std::string error;
    std::shared_ptr<camemu::EmulatedCamera> camera = camemu::EmulatedCamera::Create(knobs, &error);
    ASSERT_TRUE(camera) << error;
    EXPECT_EQ(host::IsochronousPacketsPerBusFrame(camera->Speed()), c.packetsPerBusFrame);
    std::unique_ptr<host::ClientDevice> device = host::ClientDevice::Open(*image, camera, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    std::vector<uint8_t> format(reinterpret_cast<uint8_t*>(&g_format),
                                reinterpret_cast<uint8_t*>(&g_format) + sizeof(g_format));
    host::ClientPin* pin = nullptr;
    ASSERT_EQ(device->OpenPin(0, format, &pin), STATUS_SUCCESS);
    ASSERT_EQ(pin->SetState(KSSTATE_RUN), STATUS_SUCCESS);
    std::vector<std::vector<uint8_t>> buffers(c.framesDelivered + 2,
                                              std::vector<uint8_t>(g_driver.frameBytes + 64));
    for (auto& buffer : buffers) {
      ASSERT_EQ(pin->QueueRead(buffer.data(), static_cast<ULONG>(buffer.size())), STATUS_PENDING);
    }
    host::IsochronousRun run = device->RunIsochronous(kBusFramesPerSecond + 1);
    EXPECT_EQ(run.status, STATUS_SUCCESS);
    EXPECT_EQ(run.packets, (kBusFramesPerSecond + 1) * c.packetsPerBusFrame);
    EXPECT_EQ(run.delivered, c.framesDelivered);
    EXPECT_EQ(run.droppedFrames, 0u);
    EXPECT_EQ(pin->SetState(KSSTATE_STOP), STATUS_SUCCESS);
    device.reset();
    image.reset();
  }
}

}  // namespace
