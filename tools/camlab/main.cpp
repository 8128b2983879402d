// camlab: captures pictures from the emulated camera through the whole driver stack.
#include <cstdio>

#include "cli_options.h"
#include "session.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  camlab::Options options;
  std::string error;
  if (!camlab::ParseCommandLine(arguments, &options, &error)) {
    fprintf(stderr, "camlab: %s\n", error.c_str());
    return camlab::kExitUsage;
  }
  switch (options.command) {
    case camlab::Command::Help:
      printf("%s", camlab::UsageText().c_str());
      return camlab::kExitOk;
    case camlab::Command::Models:
      return camlab::RunModels(options);
    case camlab::Command::Formats:
      return camlab::RunFormats(options);
    case camlab::Command::Capture:
      return camlab::RunCapture(options);
  }
  return camlab::kExitUsage;
}
