// A driver started through its DriverEntry on an emulated camera, the camera object of the device
// reached through the device's root, and the emulator's vendor requests as short texts:
//   "W 12=34"      one-byte register write
//   "W 20=01 02"   block write at one index
//   "R 12"         one-byte read;  "R8 12": eight-byte read
//   "F 00FC:64"    firmware chunk (load address, length)
// with " !" appended to a request that the device refused.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "client_device.h"
#include "emulated_camera.h"
#include "host_control.h"

class CameraOnEmulator : public testing::Test {
 protected:
  void TearDown() override;

  // Starts the device on an emulated camera, then sets these knobs; the request log then starts
  // empty. Call it through ASSERT_NO_FATAL_FAILURE.
  void Start(const std::vector<std::string>& knobs = {});

  // The vendor requests since the last call (or the start).
  std::vector<std::string> TakeRequests();

  std::u16string driverKeyName_;  // the device's driver key, holding the default model
  std::unique_ptr<host::DriverImage> image_;
  std::unique_ptr<host::ScopedVerifierCapture> verifier_;
  std::shared_ptr<camemu::EmulatedCamera> emulator_;
  std::unique_ptr<host::ClientDevice> device_;
  DeviceContext* context_ = nullptr;
  Camera* camera_ = nullptr;           // the device's camera, through its interfaces below
  IRegisterAccess* access_ = nullptr;  // one reference, released at the end
  ICamera* raw_ = nullptr;             // one reference, released at the end
};
