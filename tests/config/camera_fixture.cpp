#include "camera_fixture.h"

#include <cstdio>

#include "core/driver_entry.h"
#include "support/camera_install.h"

namespace {

std::string Describe(const camemu::RequestRecord& record) {
  char text[64];
  const host::UsbSetupPacket& setup = record.setup;
  const bool read = (setup.requestType & 0x80) != 0;
  std::string line;
  if (setup.value != 0) {
    snprintf(text, sizeof text, "F %04X:%u", setup.value, setup.length);
    line = text;
  } else if (read) {
    snprintf(text, sizeof text, "%s %02X", setup.length == 1 ? "R" : "R8", setup.index);
    line = text;
  } else {
    snprintf(text, sizeof text, "W %02X=", setup.index);
    line = text;
    for (size_t index = 0; index < record.data.size(); ++index) {
      snprintf(text, sizeof text, index == 0 ? "%02X" : " %02X", record.data[index]);
      line += text;
    }
  }
  if (record.result != host::UsbResult::Ok) line += " !";
  return line;
}

}  // namespace

void CameraOnEmulator::Start(const std::vector<std::string>& knobs) {
  verifier_ = std::make_unique<host::ScopedVerifierCapture>();
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  image_ = host::DriverImage::FromEntryPoint(DriverEntry, &status);
  ASSERT_EQ(status, STATUS_SUCCESS);
  std::string error;
  emulator_ = camemu::EmulatedCamera::Create({}, &error);
  ASSERT_NE(emulator_, nullptr) << error;
  driverKeyName_ = camera_install::InstallAnySensorCamera();
  device_ = host::ClientDevice::Open(*image_, emulator_, &status, driverKeyName_);
  ASSERT_EQ(status, STATUS_SUCCESS);
  context_ = ContextFromExtension(device_->DeviceExtension());
  ASSERT_NE(context_->device, nullptr);
  ASSERT_EQ(
      context_->device->QueryInterface(IID_IRegisterAccess, reinterpret_cast<void**>(&access_)),
      STATUS_SUCCESS);
  ASSERT_EQ(context_->device->QueryInterface(IID_ICamera, reinterpret_cast<void**>(&raw_)),
            STATUS_SUCCESS);
  camera_ = static_cast<Camera*>(access_);
  // Knobs that change what detection sees take effect once the model is found.
  for (const std::string& knob : knobs) ASSERT_EQ(emulator_->SetKnob(knob), "") << knob;
  emulator_->ClearRequests();
}

void CameraOnEmulator::TearDown() {
  if (access_ != nullptr) access_->Release();
  if (raw_ != nullptr) raw_->Release();
  access_ = nullptr;
  raw_ = nullptr;
  device_.reset();
  image_.reset();
  if (verifier_ != nullptr) {
    for (const std::string& message : verifier_->Messages())
      ADD_FAILURE() << "verifier: " << message;
  }
  verifier_.reset();
}

std::vector<std::string> CameraOnEmulator::TakeRequests() {
  std::vector<std::string> lines;
  for (const camemu::RequestRecord& record : emulator_->Requests()) {
    if ((record.setup.requestType & 0x60) == 0x40) lines.push_back(Describe(record));
  }
  emulator_->ClearRequests();
  return lines;
}
