// camlab formats: the video and still pins' formats in table order.
#include <cstdio>
#include <string>

#include "format_modes.h"
#include "session.h"

namespace camlab {
namespace {

std::string Trimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

}  // namespace

int RunFormats(const Options& options) {
  std::string error;
  int exit = kExitOk;
  std::unique_ptr<Session> session = Session::Open(options, &error, &exit);
  if (!session) {
    fprintf(stderr, "camlab: %s\n", error.c_str());
    return exit;
  }
  const char* pinNames[] = {"video", "still"};
  if (options.json)
    printf("{\"model\": \"%s\", \"pins\": [", JsonEscape(session->model().name).c_str());
  for (ULONG pin = 0; pin < 2; ++pin) {
    std::vector<KS_DATARANGE_VIDEO> ranges = VideoRanges(session->device(), pin);
    // Still pictures are copies of single frames: only the video pin has modes.
    std::vector<std::vector<ModeInfo>> modes =
        pin == 0 ? PinModes(*session, ranges) : std::vector<std::vector<ModeInfo>>(ranges.size());
    if (options.json) {
      printf("%s{\"pin\": \"%s\", \"formats\": [", pin ? ", " : "", pinNames[pin]);
    } else {
      printf("%s pin:\n", pinNames[pin]);
      char heading[160];
      snprintf(heading, sizeof heading, "  %-3s %-17s %-15s %s", "#", "format", "frame rate",
               pin == 0 ? "modes (fps @ alternate setting, quality level)" : "");
      if (!ranges.empty()) printf("%s\n", Trimmed(heading).c_str());
    }
    for (size_t index = 0; index < ranges.size(); ++index) {
      const KS_BITMAPINFOHEADER& bitmap = ranges[index].VideoInfoHeader.bmiHeader;
      const auto& caps = ranges[index].ConfigCaps;
      std::string kind = FormatKind(bitmap);
      double maxFps =
          caps.MinFrameInterval > 0 ? 1e7 / static_cast<double>(caps.MinFrameInterval) : 0;
      double minFps =
          caps.MaxFrameInterval > 0 ? 1e7 / static_cast<double>(caps.MaxFrameInterval) : 0;
      std::string modeList;
      for (const ModeInfo& mode : modes[index]) {
        if (!modeList.empty()) modeList += options.json ? ", " : "; ";
        modeList += options.json ? ModeJson(mode) : ModeText(mode);
      }
      if (options.json) {
        printf(
            "%s{\"index\": %zu, \"width\": %d, \"height\": %d, \"format\": \"%s\", "
            "\"minFps\": %.3f, \"maxFps\": %.3f, \"modes\": [%s]}",
            index ? ", " : "", index, bitmap.biWidth, bitmap.biHeight, JsonEscape(kind).c_str(),
            minFps, maxFps, modeList.c_str());
      } else {
        char size[48], rates[48];
        snprintf(size, sizeof size, "%d x %d %s", bitmap.biWidth, bitmap.biHeight, kind.c_str());
        snprintf(rates, sizeof rates, "%.3g to %.3g fps", minFps, maxFps);
        char line[512];
        snprintf(line, sizeof line, "  %-3zu %-17s %-15s %s", index, size, rates, modeList.c_str());
        printf("%s\n", Trimmed(line).c_str());
      }
    }
    if (options.json) printf("]}");
  }
  if (options.json) printf("]}\n");
  return kExitOk;
}

}  // namespace camlab
