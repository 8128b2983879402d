// camlab capture: streams frames from the video pin into files and sums the run up.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "format_modes.h"
#include "host_control.h"
#include "output_pattern.h"
#include "png_writer.h"
#include "session.h"

namespace camlab {

namespace {

const char* kDefaultOutput = "captures/";

// The output folder is made before the camera starts, so that an unwritable place fails at once;
// a folder made here that is still empty when the command ends goes again.
class OutputFolder {
 public:
  ~OutputFolder() {
    std::error_code code;
    if (!made_.empty() && std::filesystem::is_empty(made_, code))
      std::filesystem::remove(made_, code);
  }
  bool Make(const std::string& text, std::string* error);

 private:
  std::string made_;
};

bool OutputFolder::Make(const std::string& text, std::string* error) {
  OutputPattern pattern;
  // A bad pattern is named once the format is known.
  if (!ParseOutputPattern(text, true, &pattern, error)) return true;
  const std::string folder = pattern.folder.empty() ? "." : pattern.folder;
  std::error_code code;
  if (std::filesystem::is_directory(folder, code)) {
    if (access(folder.c_str(), W_OK) == 0) return true;
    *error = "cannot write into the output folder '" + folder + "'";
    return false;
  }
  std::filesystem::create_directories(pattern.folder, code);
  if (!code && std::filesystem::is_directory(pattern.folder)) {
    made_ = pattern.folder;
    return true;
  }
  *error = "cannot create the output folder '" + pattern.folder +
           "': " + (code ? code.message() : "a file of that name is in the way");
  return false;
}

// The rate (thousandths of a frame per second) the driver takes for a frame interval: clamped to
// the format's range.
uint32_t ClampedRate(LONGLONG interval, const KS_DATARANGE_VIDEO& range) {
  auto rate = [](LONGLONG time) {
    return time > 0 ? static_cast<uint32_t>(1e10 / static_cast<double>(time) + 0.5) : 0u;
  };
  const uint32_t highest = rate(range.ConfigCaps.MinFrameInterval);
  const uint32_t lowest = rate(range.ConfigCaps.MaxFrameInterval);
  return std::clamp(rate(interval), std::min(lowest, highest), highest);
}

}  // namespace

int RunCapture(const Options& options) {
  std::string error;
  int exit = kExitOk;
  const std::string output = options.output.empty() ? kDefaultOutput : options.output;
  OutputFolder folder;
  if (!folder.Make(output, &error)) {
    fprintf(stderr, "camlab: %s\n", error.c_str());
    return kExitOutput;
  }
  error.clear();
  if (options.realtime) host::SetClockMode(host::ClockMode::Real);
  std::unique_ptr<Session> session = Session::Open(options, &error, &exit);
  if (!session) {
    fprintf(stderr, "camlab: %s\n", error.c_str());
    return exit;
  }
  host::ClientDevice& device = session->device();
  std::vector<host::PinDescription> pins = device.Pins();
  std::vector<KS_DATARANGE_VIDEO> ranges = VideoRanges(device, 0);
  if (pins.empty() || ranges.empty()) {
    fprintf(stderr, "camlab: model %s offers no video format\n", session->model().name.c_str());
    return kExitDevice;
  }
  size_t chosen = 0;
  if (options.format) {
    const FormatRequest& request = *options.format;
    bool found = false;
    for (size_t i = 0; i < ranges.size() && !found; ++i) {
      const KS_BITMAPINFOHEADER& b = ranges[i].VideoInfoHeader.bmiHeader;
      found = request.index ? *request.index == i
                            : (static_cast<uint32_t>(b.biWidth) == request.width &&
                               static_cast<uint32_t>(b.biHeight) == request.height &&
                               (request.fourcc.empty() || request.fourcc == FormatKind(b)));
      if (found) chosen = i;
    }
    if (!found && request.index) {
      fprintf(stderr, "camlab: format out of range: model %s has %zu video formats (0 to %zu)\n",
              session->model().name.c_str(), ranges.size(), ranges.size() - 1);
      return kExitNotFound;
    }
    if (!found) {
      fprintf(stderr,
              "camlab: model %s has no video format %u x %u%s%s (camlab formats lists them)\n",
              session->model().name.c_str(), request.width, request.height,
              request.fourcc.empty() ? "" : " ", request.fourcc.c_str());
      return kExitNotFound;
    }
  }
  KS_DATARANGE_VIDEO range = ranges[chosen];
  if (options.fps)
    range.VideoInfoHeader.AvgTimePerFrame = static_cast<LONGLONG>(1e7 / *options.fps);
  std::vector<uint8_t> rangeBytes(reinterpret_cast<uint8_t*>(&range),
                                  reinterpret_cast<uint8_t*>(&range) + sizeof(range));
  std::vector<uint8_t> format;
  ULONG transferred = 0;
  NTSTATUS status =
      device.DataIntersection(0, pins[0].dataRanges[chosen], 4096, &format, &transferred);
  if (!NT_SUCCESS(status) || format.size() < sizeof(KS_DATAFORMAT_VIDEOINFOHEADER)) {
    fprintf(stderr, "camlab: the driver offered no format for video format %zu (status 0x%08X)\n",
            chosen, static_cast<unsigned>(status));
    return kExitDevice;
  }
  KS_DATAFORMAT_VIDEOINFOHEADER opened;
  memcpy(&opened, format.data(), sizeof(opened));
  if (options.fps) {
    opened.VideoInfoHeader.AvgTimePerFrame = static_cast<LONGLONG>(1e7 / *options.fps);
    memcpy(format.data(), &opened, sizeof(opened));
  }
  const KS_BITMAPINFOHEADER& bitmap = opened.VideoInfoHeader.bmiHeader;
  const bool rgb = bitmap.biCompression == 0 && bitmap.biBitCount == 24;
  OutputPattern pattern;
  if (!ParseOutputPattern(output, rgb, &pattern, &error)) {
    fprintf(stderr, "camlab: %s\n", error.c_str());
    return kExitUsage;
  }
  host::ClientPin* pin = nullptr;
  status = device.OpenPin(0, format, &pin);
  if (!NT_SUCCESS(status)) {
    fprintf(stderr, "camlab: the video pin did not open (status 0x%08X)\n",
            static_cast<unsigned>(status));
    return kExitDevice;
  }
  status = pin->SetState(KSSTATE_RUN);
  if (!NT_SUCCESS(status)) {
    // Every mode's alternate setting refused: say so rather than leave a bare status.
    const bool noBandwidth = session->camera().Statistics().altSettingsRefused != 0;
    fprintf(stderr, "camlab: the video pin did not run%s (status 0x%08X)\n",
            noBandwidth ? ": the bus gave none of the format's modes its bandwidth" : "",
            static_cast<unsigned>(status));
    return kExitDevice;
  }
  // The mode the driver chose: the alternate setting it holds now, and the clamped frame rate.
  const UCHAR alternateSetting = device.Framework().alternateSetting;
  const std::optional<ModeInfo> mode =
      ChosenMode(PinModes(*session, ranges)[chosen], alternateSetting,
                 ClampedRate(opened.VideoInfoHeader.AvgTimePerFrame, ranges[chosen]));
  const ULONG size = bitmap.biSizeImage != 0
                         ? bitmap.biSizeImage
                         : static_cast<ULONG>(bitmap.biWidth) * bitmap.biHeight * 4;
  std::vector<std::vector<uint8_t>> buffers(3, std::vector<uint8_t>(size));
  for (auto& buffer : buffers) pin->QueueRead(buffer.data(), size);
  // The progress line shows on a terminal once a capture has taken longer than a moment.
  const bool terminal = options.progress && isatty(STDERR_FILENO);
  const auto started = std::chrono::steady_clock::now();
  bool progressShown = false;
  uint64_t written = 0, bytes = 0, skipped = 0;
  int64_t firstSequence = -1, lastSequence = -1;
  LONGLONG firstTime = 0, lastTime = 0, previousTime = 0;
  std::string frameRecords;  // the per-frame lines as JSON objects, with --json
  int result = kExitOk;
  while (written < options.frames) {
    host::FrameRead frame;
    status = pin->ReadFrame(&frame);
    if (!NT_SUCCESS(status)) {
      fprintf(stderr, "%scamlab: no frame came from the camera (status 0x%08X)\n",
              progressShown ? "\n" : "", static_cast<unsigned>(status));
      result = kExitDevice;
      break;
    }
    if (skipped < options.skip) {
      ++skipped;
    } else {
      // Files are named by the frame's sequence number, so that frames lost show as gaps.
      std::string path = pattern.PathFor(static_cast<uint64_t>(frame.sequence));
      bool ok =
          pattern.format == FileFormat::Png && rgb
              ? WriteBottomUpBgrAsPng(path, frame.buffer, bitmap.biWidth, bitmap.biHeight, &error)
              : WriteRawFile(path, frame.buffer, frame.bytes, &error);
      if (!ok) {
        fprintf(stderr, "%scamlab: %s\n", progressShown ? "\n" : "", error.c_str());
        result = kExitOutput;
        break;
      }
      // Only frames written count, so that a failed write is not taken for a dropped frame.
      if (firstSequence < 0) {
        firstSequence = frame.sequence;
        firstTime = frame.presentationTime;
      }
      lastSequence = frame.sequence;
      lastTime = frame.presentationTime;
      ++written;
      bytes += frame.bytes;
      if (options.perFrameLines) {
        // The rate since the frame before, as the presentation times show it.
        const double seconds = frame.presentationTime / 1e7;
        const double fps = written > 1 && frame.presentationTime > previousTime
                               ? 1e7 / static_cast<double>(frame.presentationTime - previousTime)
                               : 0;
        char line[160];
        snprintf(line, sizeof line,
                 options.json ? "{\"time\": %.4f, \"fps\": %.3f, \"sequence\": %lld, \"bytes\": %u}"
                              : "%10.3f s %7.2f fps seq %lld %u bytes",
                 seconds, fps, static_cast<long long>(frame.sequence), frame.bytes);
        if (options.json)
          frameRecords += (frameRecords.empty() ? "" : ", ") + std::string(line);
        else
          printf("%s\n", line);
      } else if (terminal && (progressShown || std::chrono::steady_clock::now() - started >
                                                   std::chrono::milliseconds(500))) {
        progressShown = true;
        fprintf(stderr, "\rframe %llu of %u", static_cast<unsigned long long>(written),
                options.frames);
      }
      previousTime = frame.presentationTime;
    }
    pin->QueueRead(frame.buffer, size);
  }
  if (progressShown) fprintf(stderr, "\n");
  host::StreamCounts counts = pin->Counts();
  device.ClosePin(pin);
  const int64_t dropped = lastSequence >= firstSequence && firstSequence >= 0
                              ? (lastSequence - firstSequence + 1) - static_cast<int64_t>(written)
                              : 0;
  const double fps =
      written > 1 && lastTime > firstTime ? (written - 1) * 1e7 / (lastTime - firstTime) : 0;
  std::string kind = FormatKind(bitmap);
  const double askedFps = opened.VideoInfoHeader.AvgTimePerFrame > 0
                              ? 1e7 / static_cast<double>(opened.VideoInfoHeader.AvgTimePerFrame)
                              : 0;
  // A model whose mode keys cannot be read still names the setting and the rate asked for.
  const ModeInfo shown =
      mode.value_or(ModeInfo{static_cast<uint32_t>(askedFps * 1000 + 0.5), alternateSetting, 0});
  if (options.json) {
    printf(
        "{\"model\": \"%s\", \"format\": {\"index\": %zu, \"width\": %d, \"height\": %d, "
        "\"format\": \"%s\"}, \"mode\": %s, \"askedFps\": %.3f, "
        "\"framesDelivered\": %llu, \"framesDropped\": %lld, \"fps\": %.3f, \"bytes\": %llu, "
        "\"output\": \"%s\"%s%s%s}\n",
        JsonEscape(session->model().name).c_str(), chosen, bitmap.biWidth, bitmap.biHeight,
        kind.c_str(), ModeJson(shown).c_str(), askedFps, static_cast<unsigned long long>(written),
        static_cast<long long>(dropped), fps, static_cast<unsigned long long>(bytes),
        JsonEscape(pattern.PathFor(firstSequence > 0 ? firstSequence : 0)).c_str(),
        options.perFrameLines ? ", \"frames\": [" : "", frameRecords.c_str(),
        options.perFrameLines ? "]" : "");
  } else {
    printf("model %s (%s), format %zu: %d x %d %s\n", session->model().name.c_str(),
           session->model().variant.c_str(), chosen, bitmap.biWidth, bitmap.biHeight, kind.c_str());
    if (mode) {
      printf("mode: %g fps, alternate setting %u, quality level %u (%.3g fps asked)\n",
             mode->frameRate / 1000.0, mode->alternateSetting, mode->qualityLevel, askedFps);
    } else {
      printf("mode: %.3g fps asked, alternate setting %u\n", askedFps, alternateSetting);
    }
    printf(
        "frames delivered %llu, dropped %lld (%lld lost below the driver), %.2f fps achieved, %llu "
        "bytes\n",
        static_cast<unsigned long long>(written), static_cast<long long>(dropped),
        static_cast<long long>(counts.framesDropped), fps, static_cast<unsigned long long>(bytes));
  }
  return result;
}

}  // namespace camlab
