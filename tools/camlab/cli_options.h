// The command line of camlab. Global options may stand before or after the command; where an option
// means what a v4l2-ctl or cam option means, it also answers to that name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace camlab {

enum class Command { Help, Models, Formats, Capture };

// A format asked for on the command line: a table index, or a size with an optional FourCC.
struct FormatRequest {
  std::optional<uint32_t> index;
  uint32_t width = 0;
  uint32_t height = 0;
  std::string fourcc;  // empty: any
};

struct Options {
  Command command = Command::Help;
  // Global.
  std::string stateDir;   // empty: the default
  std::string modelsDir;  // empty: the embedded models/ folder
  std::vector<std::string> deviceKnobs;
  bool json = false;
  // Command options.
  std::string model;
  std::optional<FormatRequest> format;
  std::optional<double> fps;
  uint32_t frames = 10;
  uint32_t skip = 0;
  std::string output;  // empty: the default folder
  bool realtime = false;
  bool perFrameLines = false;
  bool progress = true;
};

// Exit statuses: what failed.
enum ExitStatus : int {
  kExitOk = 0,
  kExitUsage = 2,     // bad command line
  kExitNotFound = 3,  // unknown model, format out of range
  kExitDevice = 4,    // the driver or the emulated device failed
  kExitOutput = 5,    // the output could not be written
};

// Parses argv (without argv[0]). On error returns false with a message naming the problem.
bool ParseCommandLine(const std::vector<std::string>& arguments, Options* options,
                      std::string* error);

std::string UsageText();

}  // namespace camlab
