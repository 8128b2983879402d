// camlab formats: the video and still pins' formats in table order.
#include <cstdio>

#include "session.h"

namespace camlab {

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
    if (options.json)
      printf("%s{\"pin\": \"%s\", \"formats\": [", pin ? ", " : "", pinNames[pin]);
    else
      printf("%s pin:\n", pinNames[pin]);
    for (size_t index = 0; index < ranges.size(); ++index) {
      const KS_BITMAPINFOHEADER& bitmap = ranges[index].VideoInfoHeader.bmiHeader;
      const auto& caps = ranges[index].ConfigCaps;
      std::string kind = bitmap.biCompression == 0 ? "RGB" + std::to_string(bitmap.biBitCount)
                                                   : FourCCText(bitmap.biCompression);
      double maxFps =
          caps.MinFrameInterval > 0 ? 1e7 / static_cast<double>(caps.MinFrameInterval) : 0;
      double minFps =
          caps.MaxFrameInterval > 0 ? 1e7 / static_cast<double>(caps.MaxFrameInterval) : 0;
      if (options.json) {
        printf(
            "%s{\"index\": %zu, \"width\": %d, \"height\": %d, \"format\": \"%s\", "
            "\"minFps\": %.3f, \"maxFps\": %.3f}",
            index ? ", " : "", index, bitmap.biWidth, bitmap.biHeight, JsonEscape(kind).c_str(),
            minFps, maxFps);
      } else {
        printf("  %zu: %d x %d %s, %.3g to %.3g fps\n", index, bitmap.biWidth, bitmap.biHeight,
               kind.c_str(), minFps, maxFps);
      }
    }
    if (options.json) printf("]}");
  }
  if (options.json) printf("]}\n");
  return kExitOk;
}

}  // namespace camlab
