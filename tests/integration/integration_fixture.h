// A driver started through its DriverEntry, devices opened on it through the client API on fresh
// emulated cameras, and the formats an application builds from the pins' data ranges. The verifier
// capture fails the test on any request completed twice or never.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "client_device.h"
#include "emulated_camera.h"
#include "host_control.h"

class IntegrationTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts a device on a new emulated camera with the knobs, on the driver key (an installed
  // model); the camera stays in camera_. Null when the knobs are refused.
  std::unique_ptr<host::ClientDevice> Open(const std::u16string& driverKeyName,
                                           const std::vector<std::string>& knobs = {});

  std::unique_ptr<host::DriverImage> image_;
  std::unique_ptr<host::ScopedVerifierCapture> verifier_;
  std::shared_ptr<camemu::EmulatedCamera> camera_;
};

const KS_DATARANGE_VIDEO& AsRange(const std::vector<uint8_t>& bytes);
const KS_DATAFORMAT_VIDEOINFOHEADER& AsFormat(const std::vector<uint8_t>& bytes);

// The pin's data range of that picture, or empty.
std::vector<uint8_t> RangeOf(const host::ClientDevice& device, ULONG pin, LONG width, LONG height,
                             USHORT bitCount);
// The format the data intersection makes of the range, asking for the frame interval given (100 ns
// units; 0 keeps the range's own); empty when the intersection fails.
std::vector<uint8_t> FormatFor(host::ClientDevice& device, ULONG pin, std::vector<uint8_t> range,
                               LONGLONG frameInterval = 0);
