// Both driver variants as loadable images in one process, each started through its DriverEntry and
// each running a device of its own.
#include <gtest/gtest.h>

#include "client_device.h"
#include "emulated_camera.h"
#include "host_control.h"
#include "support/camera_install.h"

namespace {

TEST(DriverImages, BothVariantsLoadSideBySideAndRunADeviceEach) {
  host::ScopedVerifierCapture verifier;
  std::string error;
  NTSTATUS lynxStatus = STATUS_UNSUCCESSFUL;
  NTSTATUS ibexStatus = STATUS_UNSUCCESSFUL;
  auto lynx = host::DriverImage::LoadModule(LYNXCAM_IMAGE, &lynxStatus, &error);
  ASSERT_NE(lynx, nullptr) << error;
  auto ibex = host::DriverImage::LoadModule(IBEXCAM_IMAGE, &ibexStatus, &error);
  ASSERT_NE(ibex, nullptr) << error;
  EXPECT_EQ(lynxStatus, STATUS_SUCCESS);
  EXPECT_EQ(ibexStatus, STATUS_SUCCESS);
  {
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    auto first = host::ClientDevice::Open(*lynx, std::make_shared<camemu::EmulatedCamera>(),
                                          &status, camera_install::InstallDefaultCamera());
    EXPECT_EQ(status, STATUS_SUCCESS);
    auto second = host::ClientDevice::Open(*ibex, std::make_shared<camemu::EmulatedCamera>(),
                                           &status, camera_install::InstallDefaultCamera());
    EXPECT_EQ(status, STATUS_SUCCESS);
    auto third = host::ClientDevice::Open(*lynx, std::make_shared<camemu::EmulatedCamera>(),
                                          &status, camera_install::InstallDefaultCamera());
    EXPECT_EQ(status, STATUS_SUCCESS);
    EXPECT_EQ(first->Pins().size(), 2u);
    EXPECT_EQ(second->Pins().size(), 2u);
    EXPECT_EQ(first->Uninitialize(), STATUS_SUCCESS);
    EXPECT_EQ(second->Uninitialize(), STATUS_SUCCESS);
  }
  EXPECT_TRUE(verifier.Messages().empty());
}

TEST(DriverImages, AMissingModuleIsReportedNotLoaded) {
  std::string error;
  NTSTATUS status = STATUS_SUCCESS;
  EXPECT_EQ(host::DriverImage::LoadModule("/nonexistent/driver.drv", &status, &error), nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
