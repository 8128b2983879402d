// A camera model for the suites of the camera's children: one packed YUV format of 320 x 240 with
// one 30 fps mode, and the snapshot button read by polling; and the format an application asks for
// with one of the pins' data ranges.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ks.h"

// The button is bit 0 of bridge register 0x20 (down now); its latch is cleared by writing 0x02
// there. extraSettings: more "CameraSetting" values, as .reg lines.
inline std::string OneFormatModel(bool autoClose, const std::string& extraSettings = "") {
  std::string text = R"([KEY\CameraSetting]
"CheckAutoLaunch"=hex:20,01,01
"ClearSnapButton"=hex:20,02,ff
)";
  if (autoClose) text += "\"EnableAutoClose\"=dword:1\n";
  return text + extraSettings + R"(
[KEY\CameraSetting\SupportCamera\Model]
"VersionCheck"=hex:42,29,ff,03
"ResetCamera"=hex:12,80,ff
"CurrentFormat"=dword:1
[KEY\CameraSetting\SupportCamera\Model\DeviceProperties]
[KEY\CameraSetting\SupportCamera\Model\VideoStream\Yuy2]
"Tag"=dword:1
"Width"=dword:140
"Height"=dword:f0
"SourceWidth"=dword:140
"SourceHeight"=dword:f0
"BitCount"=dword:10
"FourCC"=dword:32595559
"MaxFrameRate"=dword:7530
"MinFrameRate"=dword:1388
"TypFrameRate"=dword:7530
"UsbSetting"=hex:10,00,ff,14,40,ff,15,01,ff,16,f0,ff,17,00,ff
[KEY\CameraSetting\SupportCamera\Model\VideoStream\Yuy2\Fast]
"FrameRate"=dword:7530
"AlternateSetting"=dword:1
"RawFrameLength"=dword:25c00
"UsbSetting"=hex:18,1e,ff
)";
}

// The format an application asks for with a video range: its header and video info header.
inline std::vector<uint8_t> FormatOf(const std::vector<uint8_t>& rangeBytes) {
  KS_DATARANGE_VIDEO range = {};
  memcpy(&range, rangeBytes.data(), std::min(rangeBytes.size(), sizeof range));
  KS_DATAFORMAT_VIDEOINFOHEADER format = {};
  format.DataFormat = range.DataRange;
  format.DataFormat.FormatSize = sizeof format;
  format.VideoInfoHeader = range.VideoInfoHeader;
  const auto* bytes = reinterpret_cast<const uint8_t*>(&format);
  return std::vector<uint8_t>(bytes, bytes + sizeof format);
}
