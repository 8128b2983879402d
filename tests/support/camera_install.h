// What an installation leaves in the registry for a camera on the emulator: a driver key with the
// device settings and one supported model that the emulated camera's default sensor answers to.
// Tests hand the key's name to host::ClientDevice::Open.
#pragma once

#include <atomic>
#include <string>

#include "registry_control.h"

namespace camera_install {

// A driver key name not used before in this process.
inline std::u16string FreshDriverKeyName() {
  static std::atomic<unsigned> next{0};
  std::string digits = std::to_string(next++);
  std::u16string name = u"{camlab-image}\\";
  for (char digit : digits) name += static_cast<char16_t>(digit);
  return name;
}

// The absolute path of a driver key.
inline std::u16string DriverKeyPath(const std::u16string& driverKeyName) {
  return std::u16string(host::kDriverKeyRoot) + driverKeyName;
}

inline std::string Narrow(const std::u16string& text) {
  std::string narrow;
  for (char16_t unit : text) narrow += static_cast<char>(unit);
  return narrow;
}

// The default model of the emulated camera: identified by the sensor's version register (0x29 of
// id 0x42 reads 0x03), reset by writing the sensor's control register.
inline constexpr const char* kDefaultModel = R"(
[KEY\CameraSetting]
"IdleAltSetting"=dword:00000000
"SupportStillPin"=dword:00000001

[KEY\CameraSetting\SupportCamera\EmulatedCamera]
"VersionCheck"=hex:42,29,ff,03
"ResetCamera"=hex:12,80,ff
"CameraName"="Emulated camera"
"SensorWidth"=dword:00000280
"SensorHeight"=dword:000001e0

[KEY\CameraSetting\SupportCamera\EmulatedCamera\DeviceProperties]
)";

// Imports .reg text whose keys start with KEY (the driver key). Returns an error message or "".
inline std::string ImportForDriverKey(const std::u16string& driverKeyName, std::string text) {
  std::string key = "HKEY_LOCAL_MACHINE" + Narrow(DriverKeyPath(driverKeyName)).substr(17);
  for (size_t at = text.find("[KEY"); at != std::string::npos; at = text.find("[KEY", at)) {
    text.replace(at + 1, 3, key);
  }
  std::string error;
  if (!host::ImportRegistryText("Windows Registry Editor Version 5.00\n" + text, "install",
                                &error)) {
    return error;
  }
  return {};
}

// A fresh driver key holding the default model; its name for host::ClientDevice::Open.
inline std::u16string InstallDefaultCamera() {
  std::u16string name = FreshDriverKeyName();
  ImportForDriverKey(name, kDefaultModel);
  return name;
}

// The default model with a version check that every sensor passes (mask 0), for tests that turn
// the emulated sensor's identification or serial bus knobs.
inline std::u16string InstallAnySensorCamera() {
  std::u16string name = FreshDriverKeyName();
  std::string model = kDefaultModel;
  model.replace(model.find("hex:42,29,ff,03"), 15, "hex:42,29,00,00");
  ImportForDriverKey(name, model);
  return name;
}

}  // namespace camera_install
