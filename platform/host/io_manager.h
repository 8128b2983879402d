// The host's I/O manager: device objects and their stacks, IRPs, and device interfaces. Used by the
// stream class and framework stand-ins and by the programs that embed the platform.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kernel_io.h"
#include "usb_bus.h"

namespace host {

// A device object of the given driver with a zero-filled extension of the given size, flagged as
// initialising. The host owns it until DeleteDeviceObject.
DEVICE_OBJECT* CreateDeviceObject(DRIVER_OBJECT* driver, size_t extensionSize);
void DeleteDeviceObject(DEVICE_OBJECT* device);
// Puts `upper` on top of `lower`'s stack.
void AttachDevice(DEVICE_OBJECT* upper, DEVICE_OBJECT* lower);

// The bus's device object for a plugged-in USB device; the device lives as long as the object.
DEVICE_OBJECT* CreatePhysicalDevice(std::shared_ptr<UsbDevice> device);
UsbDevice* UsbDeviceOf(DEVICE_OBJECT* physicalDevice);

struct DeviceInterfaceRecord {
  std::u16string symbolicLink;
  GUID interfaceClass;
  DEVICE_OBJECT* device;
  bool enabled;
};
std::vector<DeviceInterfaceRecord> DeviceInterfaces();

}  // namespace host
