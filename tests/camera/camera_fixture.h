// A driver started through its DriverEntry on an emulated camera whose driver key holds the
// registry text a test gives, the device's Camera reached through the device's root, and the
// emulator's vendor requests as the register writes they carry:
//   "B 31"   a bridge write of register 0x31 (the lists of these tests use 0x30 to 0x4F)
//   "S 51"   a sensor write of register 0x51 (a serial-bus write command)
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "emulated_device.h"
#include "host_control.h"

class CameraTest : public testing::Test {
 protected:
  void TearDown() override;

  // Installs the registry text (keys start with "[KEY", the driver key) and starts the device
  // (the driver image is loaded by the first start of a test); returns the start's status. The
  // camera is reached only when the start succeeded.
  NTSTATUS Start(const std::string& registryText, const std::vector<std::string>& knobs = {});
  // Uninitialises the device and releases everything the test held.
  void Stop();

  // The register writes since the last call (or the start).
  std::vector<std::string> TakeWrites();
  // A value of the driver key's subkey, or empty.
  std::vector<uint8_t> Value(const std::u16string& subkey, const std::u16string& name) const;
  std::u16string StringValue(const std::u16string& subkey, const std::u16string& name) const;

  std::unique_ptr<host::DriverImage> image_;
  std::unique_ptr<host::ScopedVerifierCapture> verifier_;
  EmulatedDevice* emulated_ = nullptr;
  camemu::EmulatedCamera* emulator_ = nullptr;  // of emulated_
  host::ClientDevice* device_ = nullptr;        // of emulated_
  std::u16string driverKeyName_;
  DeviceContext* context_ = nullptr;
  Camera* camera_ = nullptr;            // the device's camera
  ICaptureControl* control_ = nullptr;  // one reference, released by Stop
};
