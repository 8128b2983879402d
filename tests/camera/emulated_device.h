// An emulated camera plugged into a driver image. Its shared pointers live only in
// emulated_device.cpp, which is built with type information: the tests that use it are built
// without, as the driver classes they reach carry none, and the sanitizer build checks a shared
// pointer's control block by its type.
#pragma once

#include <string>
#include <vector>

#include "client_device.h"
#include "emulated_camera.h"

struct EmulatedDevice;

// Creates the camera with the knobs and opens it on the image with that driver key; null with
// *error when the knobs are refused. The device is there whatever *status says.
EmulatedDevice* OpenEmulatedDevice(host::DriverImage& image, const std::vector<std::string>& knobs,
                                   const std::u16string& driverKeyName, NTSTATUS* status,
                                   std::string* error);
camemu::EmulatedCamera* EmulatorOf(EmulatedDevice* device);
host::ClientDevice* ClientOf(EmulatedDevice* device);
void CloseEmulatedDevice(EmulatedDevice* device);
