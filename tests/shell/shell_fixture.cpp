#include "shell_fixture.h"

#include "kernel_io.h"
#include "support/camera_install.h"

// The driver linked into this test program.
extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

void ShellTest::SetUp() {
  verifier_ = std::make_unique<host::ScopedVerifierCapture>();
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  image_ = host::DriverImage::FromEntryPoint(DriverEntry, &status);
  ASSERT_EQ(status, STATUS_SUCCESS);
}

void ShellTest::TearDown() {
  for (const std::string& message : verifier_->Messages()) ADD_FAILURE() << "verifier: " << message;
  verifier_.reset();
}

std::unique_ptr<host::ClientDevice> ShellTest::OpenCamera(const camemu::EmulatorConfig& config,
                                                          NTSTATUS* status) {
  return host::ClientDevice::Open(*image_, MakeCamera(config), status,
                                  camera_install::InstallDefaultCamera());
}

std::unique_ptr<host::ClientDevice> ShellTest::OpenCamera(uint8_t pipeCount) {
  camemu::EmulatorConfig config;
  config.pipeCount = pipeCount;
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  auto device = OpenCamera(config, &status);
  EXPECT_EQ(status, STATUS_SUCCESS);
  return device;
}

std::vector<uint8_t> ShellTest::FirstFormat(host::ClientDevice& device, ULONG pin) {
  std::vector<host::PinDescription> pins = device.Pins();
  if (pin >= pins.size() || pins[pin].dataRanges.empty()) return {};
  std::vector<uint8_t> format;
  ULONG transferred = 0;
  if (device.DataIntersection(pin, pins[pin].dataRanges[0], 1024, &format, &transferred) !=
      STATUS_SUCCESS) {
    return {};
  }
  return format;
}

std::shared_ptr<camemu::EmulatedCamera> ShellTest::MakeCamera(
    const camemu::EmulatorConfig& config) {
  return std::make_shared<camemu::EmulatedCamera>(config);
}
