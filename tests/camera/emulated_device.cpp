#include "emulated_device.h"

#include <memory>

struct EmulatedDevice {
  std::shared_ptr<camemu::EmulatedCamera> camera;
  std::unique_ptr<host::ClientDevice> client;
};

EmulatedDevice* OpenEmulatedDevice(host::DriverImage& image, const std::vector<std::string>& knobs,
                                   const std::u16string& driverKeyName, NTSTATUS* status,
                                   std::string* error) {
  auto device = std::make_unique<EmulatedDevice>();
  device->camera = camemu::EmulatedCamera::Create(knobs, error);
  if (device->camera == nullptr) return nullptr;
  device->client = host::ClientDevice::Open(image, device->camera, status, driverKeyName);
  return device.release();
}

camemu::EmulatedCamera* EmulatorOf(EmulatedDevice* device) { return device->camera.get(); }
host::ClientDevice* ClientOf(EmulatedDevice* device) { return device->client.get(); }
void CloseEmulatedDevice(EmulatedDevice* device) { delete device; }
