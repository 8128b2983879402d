// What an installation leaves in the registry for a camera on the emulator: a driver key with the
// device settings and one supported model that the emulated camera's default sensor answers to.
// Tests hand the key's name to host::ClientDevice::Open.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
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

// The default model's video formats, in the order their keys enumerate (by name). The model's
// "CurrentFormat" is the packed YUV 640 x 480 one.
struct FormatEntry {
  const char* key;
  uint32_t tag;
  uint32_t width;
  uint32_t height;
  uint32_t bitCount;
  uint32_t fourCC;  // 0: uncompressed RGB
};
inline constexpr uint32_t kYuy2 = 0x32595559;
inline constexpr FormatEntry kDefaultFormats[] = {
    {"Rgb24_320x240", 3, 320, 240, 24, 0},
    {"Rgb24_640x480", 4, 640, 480, 24, 0},
    {"Yuy2_320x240", 2, 320, 240, 16, kYuy2},
    {"Yuy2_640x480", 1, 640, 480, 16, kYuy2},
};
inline constexpr uint32_t kDefaultCurrentFormat = 1;
// The frame rates every format allows, in thousandths of a frame per second.
inline constexpr uint32_t kMaxFrameRate = 30000;
inline constexpr uint32_t kMinFrameRate = 5000;

// Every format's modes: its frame rate and the alternate setting whose packet size carries it
// (the emulator's default packet sizes: 1 -> 512, 3 -> 1024, 5 -> 1536 bytes per bus frame).
struct ModeEntry {
  const char* key;
  uint32_t frameRate;
  uint8_t alternateSetting;
};
inline constexpr ModeEntry kDefaultModes[] = {
    {"Fast", 30000, 5}, {"Half", 15000, 3}, {"Slow", 5000, 1}};

// Raw bytes a mode asks the framework for: packed YUV 4:2:2 and room for the packetizer's pad.
inline constexpr uint32_t RawFrameLength(uint32_t width, uint32_t height) {
  return width * height * 2 + 1024;
}

inline std::string HexDword(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "dword:%08x", value);
  return text;
}
inline std::string HexByte(uint32_t value) {
  char text[8];
  snprintf(text, sizeof text, "%02x", value & 0xFF);
  return text;
}

// The bridge registers of a format: packed YUV 4:2:2 at its size (little-endian).
inline std::string FormatUsbSetting(uint32_t width, uint32_t height) {
  return "hex:10,00,ff,14," + HexByte(width) + ",ff,15," + HexByte(width >> 8) + ",ff,16," +
         HexByte(height) + ",ff,17," + HexByte(height >> 8) + ",ff";
}

// One .reg value line.
inline std::string Line(const std::string& name, const std::string& value) {
  return "\"" + name + "\"=" + value + "\n";
}

// The video stream key, its formats and their modes as .reg text below the model key `model`.
inline std::string VideoStreamText(const std::string& model) {
  const std::string stream = model + "\\VideoStream";
  std::string text = "\n[" + stream + "]\n" + Line("SaveFormat", HexDword(0));
  for (const FormatEntry& format : kDefaultFormats) {
    const std::string key = stream + "\\" + format.key;
    text += "\n[" + key + "]\n";
    text += Line("Tag", HexDword(format.tag)) + Line("Width", HexDword(format.width)) +
            Line("Height", HexDword(format.height)) + Line("SourceWidth", HexDword(format.width)) +
            Line("SourceHeight", HexDword(format.height)) +
            Line("BitCount", HexDword(format.bitCount)) + Line("FourCC", HexDword(format.fourCC)) +
            Line("MaxFrameRate", HexDword(kMaxFrameRate)) +
            Line("MinFrameRate", HexDword(kMinFrameRate)) +
            Line("TypFrameRate", HexDword(kMaxFrameRate)) +
            Line("UsbSetting", FormatUsbSetting(format.width, format.height));
    for (const ModeEntry& mode : kDefaultModes) {
      text += "\n[" + key + "\\" + mode.key + "]\n";
      text += Line("FrameRate", HexDword(mode.frameRate)) +
              Line("AlternateSetting", HexDword(mode.alternateSetting)) +
              // uncompressed frames (higher levels are compressed ones in lynxcam)
              Line("QualityLevel", HexDword(1)) +
              Line("RawFrameLength", HexDword(RawFrameLength(format.width, format.height))) +
              // the emulator's frame rate register, in frames per second
              Line("UsbSetting", "hex:18," + HexByte(mode.frameRate / 1000) + ",ff");
    }
  }
  return text;
}

// The default model of the emulated camera: identified by the sensor's version register (0x29 of
// id 0x42 reads 0x03), reset by writing the sensor's control register; a video stream with the
// formats above, a still pin with one picture at the sensor's size, capture lists that switch the
// bridge's video on and off, and a power down that resets the bridge.
inline std::string DefaultModelText() {
  return R"(
[KEY\CameraSetting]
"IdleAltSetting"=dword:00000000
"SupportStillPin"=dword:00000001
"StillSupportType"=dword:00000003
; the bridge forgets its registers when powered down, so what a power up writes shows
"PowerDownCamera"=hex:02,80,80

[KEY\CameraSetting\SupportCamera\EmulatedCamera]
"VersionCheck"=hex:42,29,ff,03
"ResetCamera"=hex:12,80,ff
"CameraName"="Emulated camera"
"SensorWidth"=dword:00000280
"SensorHeight"=dword:000001e0
; capture start and stop: the bridge's video enable
"StartVidCapUsbSetting"=hex:03,01,01
"StopVidCapUsbSetting"=hex:03,00,01
)" + Line("CurrentFormat", HexDword(kDefaultCurrentFormat)) +
         R"(
[KEY\CameraSetting\SupportCamera\EmulatedCamera\DeviceProperties]
)" + VideoStreamText("KEY\\CameraSetting\\SupportCamera\\EmulatedCamera");
}

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
  ImportForDriverKey(name, DefaultModelText());
  return name;
}

// The default model with a version check that every sensor passes (mask 0), for tests that turn
// the emulated sensor's identification or serial bus knobs.
inline std::u16string InstallAnySensorCamera() {
  std::u16string name = FreshDriverKeyName();
  std::string model = DefaultModelText();
  model.replace(model.find("hex:42,29,ff,03"), 15, "hex:42,29,00,00");
  ImportForDriverKey(name, model);
  return name;
}

}  // namespace camera_install
