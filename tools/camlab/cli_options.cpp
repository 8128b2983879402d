#include "cli_options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace camlab {
namespace {

bool ParseUnsigned(const std::string& text, uint64_t limit, uint64_t* value) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long parsed = strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed > limit) return false;
  *value = parsed;
  return true;
}

bool ParseFormat(const std::string& text, FormatRequest* request) {
  uint64_t index = 0;
  if (ParseUnsigned(text, 1000, &index)) {
    request->index = static_cast<uint32_t>(index);
    return true;
  }
  size_t x = text.find_first_of("xX");
  if (x == std::string::npos) return false;
  size_t colon = text.find(':', x);
  uint64_t width = 0, height = 0;
  std::string heightText =
      text.substr(x + 1, colon == std::string::npos ? std::string::npos : colon - x - 1);
  if (!ParseUnsigned(text.substr(0, x), 16384, &width) ||
      !ParseUnsigned(heightText, 16384, &height) || width == 0 || height == 0) {
    return false;
  }
  request->width = static_cast<uint32_t>(width);
  request->height = static_cast<uint32_t>(height);
  if (colon != std::string::npos) {
    // A FourCC, or RGB and a bit count as the format listing shows uncompressed formats.
    request->fourcc = text.substr(colon + 1);
    uint64_t bits = 0;
    const bool rgb = request->fourcc.rfind("RGB", 0) == 0 &&
                     ParseUnsigned(request->fourcc.substr(3), 32, &bits) && bits != 0;
    if (request->fourcc.size() != 4 && !rgb) return false;
  }
  return true;
}

struct OptionName {
  const char* name;
  const char* canonical;
};

// Aliases after the v4l2-ctl and cam habits, mapped to camlab's own names.
constexpr OptionName kAliases[] = {
    {"--stream-count", "--frames"},
    {"-C", "--frames"},
    {"--capture", "--frames"},
    {"--stream-skip", "--skip"},
    {"--stream-to", "--output"},
    {"-o", "--output"},
    {"--file", "--output"},
    {"-F", "--output"},
    {"-m", "--model"},
    {"--camera", "--model"},
    {"-r", "--fps"},
    {"--frame-rate", "--fps"},
};

std::string Canonical(const std::string& name) {
  for (const OptionName& alias : kAliases) {
    if (name == alias.name) return alias.canonical;
  }
  return name;
}

}  // namespace

std::string UsageText() {
  return R"(usage: camlab [global options] COMMAND [options]

Captures pictures from an emulated USB camera through the lynxcam or ibexcam driver.

commands:
  models                     list the camera models (name, driver, description)
  formats                    list the video and still formats of a model
                             (also: --list-formats-ext)
  capture                    stream frames from the video pin to files

global options:
  --state DIR                keep the registry hive here between runs (default: .camlab/)
  --models DIR               read camera model files from DIR instead of models/
  --device KEY=VALUE         set a knob of the emulated camera (repeatable; see device/README.md)
  --json                     print listings and summaries as one JSON document
  -h, --help                 this text

formats and capture options:
  --model NAME               the camera model (default: the default model)
capture options:
  --format INDEX|WxH[:FOURCC]  the format, by table index or size and FourCC or RGB24 (default:
                             the current format)
  --fps F                    the frame rate to ask for
  --frames N                 frames to write (also --stream-count, -C)
  --skip N                   frames to drop first (also --stream-skip)
  --output PATTERN           where to write (also --stream-to, -o): '#' runs or %d become the
                             frame's sequence number (gaps show lost frames), a trailing '/' is
                             a folder, .png writes PNG (24-bit RGB formats), anything else raw
                             bytes (default: captures/)
  --realtime                 pace the camera in real time instead of virtual time
  --frame-lines              print one line per frame (time, frame rate, sequence, bytes)
  --no-progress              no progress line on a terminal

exit status: 0 success, 2 bad command line, 3 unknown model or format, 4 device or driver failure,
5 output could not be written
)";
}

bool ParseCommandLine(const std::vector<std::string>& arguments, Options* options,
                      std::string* error) {
  Options result;
  bool commandSeen = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string argument = arguments[i];
    std::string value;
    bool hasInlineValue = false;
    if (argument.rfind("--", 0) == 0) {
      size_t equals = argument.find('=');
      if (equals != std::string::npos) {
        value = argument.substr(equals + 1);
        argument = argument.substr(0, equals);
        hasInlineValue = true;
      }
    }
    if (argument == "-h" || argument == "--help") {
      result.command = Command::Help;
      *options = result;
      return true;
    }
    if (argument == "--list-formats-ext" || argument == "--list-formats") {
      if (commandSeen && result.command != Command::Formats) {
        *error = "'" + argument + "' cannot be combined with another command";
        return false;
      }
      result.command = Command::Formats;
      commandSeen = true;
      continue;
    }
    std::string name = Canonical(argument);
    auto takeValue = [&](std::string* out) {
      if (hasInlineValue) {
        *out = value;
        return true;
      }
      if (i + 1 >= arguments.size()) {
        *error = "option '" + argument + "' needs a value";
        return false;
      }
      *out = arguments[++i];
      return true;
    };
    auto takeCount = [&](uint32_t* out) {
      std::string text;
      uint64_t parsed = 0;
      if (!takeValue(&text)) return false;
      if (!ParseUnsigned(text, 1000000, &parsed)) {
        *error =
            "option '" + argument + "' needs a whole number from 0 to 1000000, not '" + text + "'";
        return false;
      }
      *out = static_cast<uint32_t>(parsed);
      return true;
    };
    if (name == "--state") {
      if (!takeValue(&result.stateDir)) return false;
    } else if (name == "--models") {
      if (!takeValue(&result.modelsDir)) return false;
    } else if (name == "--device") {
      std::string knob;
      if (!takeValue(&knob)) return false;
      if (knob.find('=') == std::string::npos || knob.front() == '=') {
        *error = "--device needs KEY=VALUE, not '" + knob + "'";
        return false;
      }
      result.deviceKnobs.push_back(knob);
    } else if (name == "--json") {
      result.json = true;
    } else if (name == "--model") {
      if (!takeValue(&result.model)) return false;
    } else if (name == "--format") {
      std::string text;
      if (!takeValue(&text)) return false;
      FormatRequest request;
      if (!ParseFormat(text, &request)) {
        *error = "--format needs a table index or WIDTHxHEIGHT[:FOURCC], not '" + text + "'";
        return false;
      }
      result.format = request;
    } else if (name == "--fps") {
      std::string text;
      if (!takeValue(&text)) return false;
      char* end = nullptr;
      double fps = strtod(text.c_str(), &end);
      if (text.empty() || *end != '\0' || !(fps > 0.0 && fps <= 1000.0)) {
        *error = "--fps needs a frame rate above 0 and at most 1000, not '" + text + "'";
        return false;
      }
      result.fps = fps;
    } else if (name == "--frames") {
      if (!takeCount(&result.frames)) return false;
    } else if (name == "--skip") {
      if (!takeCount(&result.skip)) return false;
    } else if (name == "--output") {
      if (!takeValue(&result.output)) return false;
      if (result.output.empty()) {
        *error = "--output needs a pattern";
        return false;
      }
    } else if (name == "--realtime") {
      result.realtime = true;
    } else if (name == "--frame-lines") {
      result.perFrameLines = true;
    } else if (name == "--no-progress") {
      result.progress = false;
    } else if (!argument.empty() && argument[0] == '-') {
      *error = "unknown option '" + argument + "' (see camlab --help)";
      return false;
    } else if (!commandSeen) {
      commandSeen = true;
      if (argument == "models") {
        result.command = Command::Models;
      } else if (argument == "formats") {
        result.command = Command::Formats;
      } else if (argument == "capture") {
        result.command = Command::Capture;
      } else if (argument == "help") {
        result.command = Command::Help;
      } else {
        *error = "unknown command '" + argument + "' (commands: models, formats, capture)";
        return false;
      }
    } else {
      *error = "unexpected argument '" + argument + "'";
      return false;
    }
  }
  if (!commandSeen) result.command = Command::Help;
  *options = result;
  return true;
}

}  // namespace camlab
