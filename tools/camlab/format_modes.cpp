#include "format_modes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kernel_registry.h"
#include "registry_control.h"

namespace camlab {
namespace {

// The driver's defaults for values a mode key leaves out.
constexpr uint32_t kDefaultAlternateSetting = 7;
constexpr uint32_t kDefaultQualityLevel = 2;

std::optional<uint32_t> Number(const std::u16string& key, std::u16string_view name) {
  std::optional<host::RegistryValue> value = host::ReadRegistryValue(key, name);
  if (!value || value->type != REG_DWORD || value->data.size() != sizeof(uint32_t))
    return std::nullopt;
  uint32_t number = 0;
  memcpy(&number, value->data.data(), sizeof number);
  return number;
}

struct FormatKey {
  uint32_t width = 0, height = 0, bitCount = 0, fourcc = 0;
  std::vector<ModeInfo> modes;

  bool Serves(const KS_DATARANGE_VIDEO& range) const {
    const KS_BITMAPINFOHEADER& bitmap = range.VideoInfoHeader.bmiHeader;
    return width == static_cast<uint32_t>(bitmap.biWidth) &&
           height == static_cast<uint32_t>(bitmap.biHeight) && bitCount == bitmap.biBitCount &&
           fourcc == bitmap.biCompression;
  }
};

// The formats of a stream key that have modes the driver offers (a mode needing a faster processor
// than the driver measured is not offered), each with its modes fastest first.
std::vector<FormatKey> StreamFormats(const std::u16string& streamKey, uint32_t defaultQuality) {
  std::vector<FormatKey> formats;
  for (const std::u16string& formatName : host::RegistrySubkeyNames(streamKey)) {
    const std::u16string formatKey = streamKey + u"\\" + formatName;
    auto width = Number(formatKey, u"Width"), height = Number(formatKey, u"Height");
    auto bitCount = Number(formatKey, u"BitCount"), fourcc = Number(formatKey, u"FourCC");
    if (!width || !height || !bitCount || !fourcc) continue;
    FormatKey format{*width, *height, *bitCount, *fourcc, {}};
    for (const std::u16string& modeName : host::RegistrySubkeyNames(formatKey)) {
      const std::u16string modeKey = formatKey + u"\\" + modeName;
      std::optional<uint32_t> measured = Number(modeKey, u"CpuSpeed");
      if (measured && Number(modeKey, u"MinCpuSpeed").value_or(0) > *measured) continue;
      format.modes.push_back(
          {Number(modeKey, u"FrameRate").value_or(0),
           Number(modeKey, u"AlternateSetting").value_or(kDefaultAlternateSetting),
           Number(modeKey, u"QualityLevel").value_or(defaultQuality)});
    }
    std::stable_sort(
        format.modes.begin(), format.modes.end(),
        [](const ModeInfo& a, const ModeInfo& b) { return a.frameRate > b.frameRate; });
    if (!format.modes.empty()) formats.push_back(format);
  }
  return formats;
}

}  // namespace

std::vector<std::vector<ModeInfo>> PinModes(const Session& session,
                                            const std::vector<KS_DATARANGE_VIDEO>& ranges) {
  const std::u16string& model = session.modelKey();
  const uint32_t defaultQuality =
      Number(session.deviceKey() + u"\\CameraSetting", u"DefaultQualityLevel")
          .value_or(kDefaultQualityLevel);
  // The pin shows the formats of one stream key: the full-speed one on a full-speed bus.
  std::vector<FormatKey> formats;
  for (const char16_t* stream : {u"\\VideoStreamFullSpeed", u"\\VideoStream"}) {
    formats = StreamFormats(model + stream, defaultQuality);
    const bool allServed = std::all_of(ranges.begin(), ranges.end(), [&](const auto& range) {
      return std::any_of(formats.begin(), formats.end(),
                         [&](const FormatKey& format) { return format.Serves(range); });
    });
    if (allServed && formats.size() == ranges.size()) break;
  }
  std::vector<std::vector<ModeInfo>> modes;
  for (const KS_DATARANGE_VIDEO& range : ranges) {
    auto format = std::find_if(formats.begin(), formats.end(),
                               [&](const FormatKey& candidate) { return candidate.Serves(range); });
    modes.push_back(format != formats.end() ? format->modes : std::vector<ModeInfo>());
  }
  return modes;
}

std::optional<ModeInfo> ChosenMode(const std::vector<ModeInfo>& modes, uint32_t alternateSetting,
                                   uint32_t frameRate) {
  std::optional<ModeInfo> slowest;
  for (const ModeInfo& mode : modes) {
    if (mode.alternateSetting != alternateSetting) continue;
    if (mode.frameRate <= frameRate) return mode;
    slowest = mode;
  }
  return slowest;
}

std::string ModeText(const ModeInfo& mode) {
  char text[64];
  snprintf(text, sizeof text, "%g fps @ %u q%u", mode.frameRate / 1000.0, mode.alternateSetting,
           mode.qualityLevel);
  return text;
}

std::string ModeJson(const ModeInfo& mode) {
  char text[96];
  snprintf(text, sizeof text, "{\"fps\": %.3f, \"alternateSetting\": %u, \"qualityLevel\": %u}",
           mode.frameRate / 1000.0, mode.alternateSetting, mode.qualityLevel);
  return text;
}

}  // namespace camlab
