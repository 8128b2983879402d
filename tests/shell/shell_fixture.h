// A driver image started through its DriverEntry, emulated cameras to plug into it, and a verifier
// capture that fails the test on any request completed twice or never.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "client_device.h"
#include "emulated_camera.h"
#include "host_control.h"

class ShellTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A started device on an emulated camera with the given number of pipes.
  std::unique_ptr<host::ClientDevice> OpenCamera(uint8_t pipeCount = 2);
  std::unique_ptr<host::ClientDevice> OpenCamera(const camemu::EmulatorConfig& config,
                                                 NTSTATUS* status);

  // Made here, where the shared pointer's control block gets the type information that the
  // driver's own code (built without it) cannot give it.
  static std::shared_ptr<camemu::EmulatedCamera> MakeCamera(
      const camemu::EmulatorConfig& config = {});

  // The format a pin offers first, as an application makes it from the pin's first data range
  // by a data intersection; empty when the pin has none.
  static std::vector<uint8_t> FirstFormat(host::ClientDevice& device, ULONG pin);

  std::unique_ptr<host::DriverImage> image_;
  std::unique_ptr<host::ScopedVerifierCapture> verifier_;
};
