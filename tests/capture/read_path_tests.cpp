// The framework's read path with a small stand-in minidriver in place of ours: reads queued on the
// video stream are filled by the isochronous run, frames that find no read are counted and lost,
// picture numbers, drop counts and presentation times reach the stream header, the driver's byte
// count never exceeds the buffer, the raw buffer is one per stream, and reads end when the stream
// stops. The camera is the emulator at a small frame size.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "client_device.h"
#include "emulated_camera.h"
#include "host_control.h"
#include "support/stand_in_minidriver.h"
#include "usbcamd.h"

namespace {

constexpr ULONG kFrameBytes = 64 * 48 * 2;  // packed YUV at the sensor size the test sets

using stand_in::Entry;
using stand_in::g_driver;
using stand_in::g_format;

class ReadPath : public testing::Test {
 protected:
  void SetUp() override {
    g_driver = {};
    g_driver.frameBytes = kFrameBytes;
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    image_ = host::DriverImage::FromEntryPoint(Entry, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    std::string error;
    camera_ = camemu::EmulatedCamera::Create({"sensor_width=64", "sensor_height=48"}, &error);
    ASSERT_TRUE(camera_) << error;
    device_ = host::ClientDevice::Open(*image_, camera_, &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    std::vector<uint8_t> format(reinterpret_cast<uint8_t*>(&g_format),
                                reinterpret_cast<uint8_t*>(&g_format) + sizeof(g_format));
    ASSERT_EQ(device_->OpenPin(0, format, &pin_), STATUS_SUCCESS);
  }
  void TearDown() override {
    device_.reset();
    image_.reset();
  }

  std::unique_ptr<host::DriverImage> image_;
  std::shared_ptr<camemu::EmulatedCamera> camera_;
  std::unique_ptr<host::ClientDevice> device_;
  host::ClientPin* pin_ = nullptr;
};

TEST_F(ReadPath, QueuedReadsGetWholeFramesInOrderWithTimesAndPictureNumbers) {
  ASSERT_EQ(pin_->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  std::vector<std::vector<uint8_t>> buffers(3, std::vector<uint8_t>(kFrameBytes + 64));
  for (auto& buffer : buffers) {
    EXPECT_EQ(pin_->QueueRead(buffer.data(), static_cast<ULONG>(buffer.size())), STATUS_PENDING);
  }
  LONGLONG previousTime = -1;
  int64_t previousSequence = -1;
  for (int frame = 0; frame < 6; ++frame) {
    host::FrameRead read;
    ASSERT_EQ(pin_->ReadFrame(&read), STATUS_SUCCESS);
    EXPECT_EQ(read.buffer, buffers[frame % 3].data());
    // The frame's data plus, at most, the packetizer's one pad byte.
    EXPECT_GE(read.bytes, kFrameBytes);
    EXPECT_LE(read.bytes, kFrameBytes + 1);
    EXPECT_GT(read.presentationTime, previousTime);
    EXPECT_EQ(read.presentationTime % 10000, 0);  // whole 1 ms bus frames of virtual time
    if (previousSequence >= 0) {
      EXPECT_EQ(read.sequence, previousSequence + 1);
    }
    EXPECT_EQ(read.dropCount, 0);
    EXPECT_NE(read.flags & KSSTREAM_HEADER_OPTIONSF_TIMEVALID, 0u);
    previousTime = read.presentationTime;
    previousSequence = read.sequence;
    pin_->QueueRead(read.buffer, kFrameBytes + 64);
  }
  // One raw buffer served every frame.
  ASSERT_FALSE(g_driver.rawBuffers.empty());
  for (const void* raw : g_driver.rawBuffers) EXPECT_EQ(raw, g_driver.rawBuffers.front());
}

TEST_F(ReadPath, FramesWithNoReadPendingAreCountedAndShowAsAGap) {
  ASSERT_EQ(pin_->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  // About four frame times at 30 frames a second with nobody reading.
  host::IsochronousRun run = device_->RunIsochronous(140);
  EXPECT_GE(run.framesUnread, 3u);
  EXPECT_EQ(run.delivered, 0u);
  EXPECT_TRUE(g_driver.rawBuffers.empty());  // a frame nobody reads is never converted
  std::vector<uint8_t> buffer(kFrameBytes + 64);
  pin_->QueueRead(buffer.data(), static_cast<ULONG>(buffer.size()));
  host::FrameRead read;
  ASSERT_EQ(pin_->ReadFrame(&read), STATUS_SUCCESS);
  EXPECT_EQ(read.dropCount, static_cast<int64_t>(run.framesUnread));
  EXPECT_EQ(read.sequence, pin_->Counts().framesEnded - 1);
  EXPECT_GE(read.sequence, static_cast<int64_t>(run.framesUnread));
}

TEST_F(ReadPath, TheDriversByteCountNeverExceedsTheBuffer) {
  g_driver.overclaim = 100000;
  ASSERT_EQ(pin_->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  std::vector<uint8_t> buffer(kFrameBytes + 64);
  pin_->QueueRead(buffer.data(), static_cast<ULONG>(buffer.size()));
  host::FrameRead read;
  ASSERT_EQ(pin_->ReadFrame(&read), STATUS_SUCCESS);
  EXPECT_EQ(read.bytes, buffer.size());
}

TEST_F(ReadPath, BadReadsAreRefusedAndStoppingEndsTheRest) {
  std::vector<uint8_t> buffer(kFrameBytes);
  host::FrameRead read;
  // A stopped stream takes no read; an empty buffer is refused.
  EXPECT_EQ(pin_->QueueRead(buffer.data(), static_cast<ULONG>(buffer.size())),
            host::STATUS_INVALID_DEVICE_STATE);
  EXPECT_EQ(pin_->ReadFrame(&read), host::STATUS_INVALID_DEVICE_STATE);
  ASSERT_EQ(pin_->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
  EXPECT_EQ(pin_->QueueRead(nullptr, 100), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(pin_->ReadFrame(&read), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(pin_->ReadFrame(&read), STATUS_NOT_FOUND);
  // A paused stream keeps its reads; waiting on one does not run the bus.
  EXPECT_EQ(pin_->QueueRead(buffer.data(), static_cast<ULONG>(buffer.size())), STATUS_PENDING);
  EXPECT_EQ(pin_->ReadFrame(&read), host::STATUS_INVALID_DEVICE_STATE);
  EXPECT_EQ(pin_->QueuedReads(), 1u);
  ASSERT_EQ(pin_->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  ASSERT_EQ(pin_->SetState(KSSTATE_STOP), STATUS_SUCCESS);
  EXPECT_EQ(pin_->ReadFrame(&read), STATUS_CANCELLED);
  // Reads still queued when the pin closes are answered by the framework, exactly once.
  ASSERT_EQ(pin_->SetState(KSSTATE_PAUSE), STATUS_SUCCESS);
  pin_->QueueRead(buffer.data(), static_cast<ULONG>(buffer.size()));
  EXPECT_EQ(device_->ClosePin(pin_), STATUS_SUCCESS);
}

TEST_F(ReadPath, AReadThatNoFrameReachesTimesOut) {
  ASSERT_EQ(camera_->SetKnob("drop_packet_rate=100"), "");  // every data packet lost
  ASSERT_EQ(pin_->SetState(KSSTATE_RUN), STATUS_SUCCESS);
  std::vector<uint8_t> buffer(kFrameBytes);
  pin_->QueueRead(buffer.data(), static_cast<ULONG>(buffer.size()));
  host::FrameRead read;
  EXPECT_EQ(pin_->ReadFrame(&read, 50), host::STATUS_IO_TIMEOUT);
}

}  // namespace
