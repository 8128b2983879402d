// The stream class stand-in's own guarantees, with a small adapter in place of a driver: every
// request block must be completed exactly once, and what a driver leaves out is caught.
#include <gtest/gtest.h>

#include "host_control.h"
#include "io_manager.h"
#include "stream_class_device.h"

namespace {

// Completes SRB_INITIALIZE_DEVICE once, SRB_CHANGE_POWER_STATE twice and nothing else.
VOID NTAPI CarelessAdapter(PHW_STREAM_REQUEST_BLOCK request) {
  request->Status = STATUS_SUCCESS;
  if (request->Command == SRB_INITIALIZE_DEVICE || request->Command == SRB_CHANGE_POWER_STATE) {
    StreamClassDeviceNotification(DeviceRequestComplete, request->HwDeviceExtension, request);
  }
  if (request->Command == SRB_CHANGE_POWER_STATE) {
    StreamClassDeviceNotification(DeviceRequestComplete, request->HwDeviceExtension, request);
  }
}

class StreamClassChecks : public testing::Test {
 protected:
  void SetUp() override {
    HW_INITIALIZATION_DATA data = {};
    data.HwInitializationDataSize = sizeof(data);
    data.HwReceivePacket = CarelessAdapter;
    data.DeviceExtensionSize = 64;
    ASSERT_EQ(StreamClassRegisterAdapter(&driver_, nullptr, &data), STATUS_SUCCESS);
    physical_ = host::CreatePhysicalDevice(nullptr);
    device_ = std::make_unique<host::StreamClassDevice>(&driver_, physical_);
  }
  void TearDown() override {
    device_.reset();
    host::DeleteDeviceObject(physical_);
  }

  DRIVER_OBJECT driver_ = {};
  DEVICE_OBJECT* physical_ = nullptr;
  std::unique_ptr<host::StreamClassDevice> device_;
};

TEST_F(StreamClassChecks, ARequestCompletedTwiceOrNeverIsAVerifierFailure) {
  host::ScopedVerifierCapture verifier;
  EXPECT_EQ(device_->SendDeviceRequest(SRB_INITIALIZE_DEVICE, nullptr), STATUS_SUCCESS);
  EXPECT_TRUE(verifier.Messages().empty());
  device_->ChangePowerState(PowerDeviceD3);
  device_->SendDeviceRequest(SRB_UNINITIALIZE_DEVICE, nullptr);
  std::vector<std::string> messages = verifier.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[0].find("0x108 completed twice"), std::string::npos) << messages[0];
  EXPECT_NE(messages[1].find("0x109 was never completed"), std::string::npos) << messages[1];
}

TEST_F(StreamClassChecks, ACompletionOfNoOutstandingRequestIsAVerifierFailure) {
  host::ScopedVerifierCapture verifier;
  HW_STREAM_REQUEST_BLOCK stray = {};
  StreamClassDeviceNotification(DeviceRequestComplete, device_->extension(), &stray);
  EXPECT_EQ(verifier.Messages().size(), 1u);
}

TEST_F(StreamClassChecks, PropertyRequestsWithoutTablesAreNotFound) {
  KSPROPERTY property = {};
  property.Flags = KSPROPERTY_TYPE_BASICSUPPORT;
  std::vector<uint8_t> value(64);
  ULONG returned = 7;
  EXPECT_EQ(device_->PropertyRequest(property, &value, &returned), STATUS_NOT_FOUND);
  EXPECT_EQ(returned, 0u);
}

}  // namespace
