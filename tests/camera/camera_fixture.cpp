#include "camera_fixture.h"

#include <cstdio>

#include "core/driver_entry.h"
#include "support/camera_install.h"

NTSTATUS CameraTest::Start(const std::string& registryText, const std::vector<std::string>& knobs) {
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  if (image_ == nullptr) {
    verifier_ = std::make_unique<host::ScopedVerifierCapture>();
    image_ = host::DriverImage::FromEntryPoint(DriverEntry, &status);
    EXPECT_EQ(status, STATUS_SUCCESS);
  }
  driverKeyName_ = camera_install::FreshDriverKeyName();
  std::string error = camera_install::ImportForDriverKey(driverKeyName_, registryText);
  EXPECT_EQ(error, "");
  emulated_ = OpenEmulatedDevice(*image_, knobs, driverKeyName_, &status, &error);
  EXPECT_NE(emulated_, nullptr) << error;
  if (emulated_ == nullptr) return STATUS_UNSUCCESSFUL;
  emulator_ = EmulatorOf(emulated_);
  device_ = ClientOf(emulated_);
  if (!NT_SUCCESS(status)) return status;
  context_ = ContextFromExtension(device_->DeviceExtension());
  EXPECT_NE(context_->device, nullptr);
  EXPECT_EQ(
      context_->device->QueryInterface(IID_ICaptureControl, reinterpret_cast<void**>(&control_)),
      STATUS_SUCCESS);
  camera_ = static_cast<Camera*>(control_);
  emulator_->ClearRequests();
  return status;
}

void CameraTest::Stop() {
  if (control_ != nullptr) control_->Release();
  control_ = nullptr;
  camera_ = nullptr;
  if (emulated_ != nullptr) CloseEmulatedDevice(emulated_);
  emulated_ = nullptr;
  emulator_ = nullptr;
  device_ = nullptr;
}

void CameraTest::TearDown() {
  Stop();
  image_.reset();
  if (verifier_ != nullptr) {
    for (const std::string& message : verifier_->Messages())
      ADD_FAILURE() << "verifier: " << message;
  }
  verifier_.reset();
}

std::vector<std::string> CameraTest::TakeWrites() {
  std::vector<std::string> writes;
  int sensorRegister = -1;
  char text[16];
  for (const camemu::RequestRecord& record : emulator_->Requests()) {
    const bool vendorWrite = (record.setup.requestType & 0xE0) == 0x40;
    if (!vendorWrite || record.data.size() != 1) continue;
    const int index = record.setup.index;
    const int value = record.data[0];
    if (index >= 0x30 && index <= 0x4F) {
      snprintf(text, sizeof text, "B %02X", index);
      writes.push_back(text);
    } else if (index == 0xF2) {
      sensorRegister = value;
    } else if (index == 0xF5 && value == 0x37) {
      snprintf(text, sizeof text, "S %02X", sensorRegister);
      writes.push_back(text);
    }
  }
  emulator_->ClearRequests();
  return writes;
}

std::vector<uint8_t> CameraTest::Value(const std::u16string& subkey,
                                       const std::u16string& name) const {
  auto value =
      host::ReadRegistryValue(camera_install::DriverKeyPath(driverKeyName_) + u"\\" + subkey, name);
  return value ? value->data : std::vector<uint8_t>{};
}

std::u16string CameraTest::StringValue(const std::u16string& subkey,
                                       const std::u16string& name) const {
  std::vector<uint8_t> data = Value(subkey, name);
  std::u16string text;
  for (size_t at = 0; at + 1 < data.size(); at += 2) {
    char16_t unit = static_cast<char16_t>(data[at] | (data[at + 1] << 8));
    if (unit == 0) break;
    text += unit;
  }
  return text;
}
