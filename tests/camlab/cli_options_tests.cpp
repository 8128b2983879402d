// The command line: camlab's own names, the v4l2-ctl and cam aliases, and clear errors.
#include <gtest/gtest.h>

#include "cli_options.h"

namespace camlab {
namespace {

Options Parse(const std::vector<std::string>& arguments) {
  Options options;
  std::string error;
  EXPECT_TRUE(ParseCommandLine(arguments, &options, &error)) << error;
  return options;
}

TEST(CommandLine, CaptureOptionsAndTheirAliasesMeanTheSame) {
  Options own = Parse({"--state", "s", "capture", "--model", "m", "--format", "640x480:YUY2",
                       "--fps", "15", "--frames", "3", "--skip", "2", "--output", "out/#.png",
                       "--device", "pattern=bars", "--json"});
  Options aliases = Parse({"capture", "--camera=m", "--format=640x480:YUY2", "-r", "15",
                           "--stream-count", "3", "--stream-skip=2", "--stream-to", "out/#.png",
                           "--state=s", "--device=pattern=bars", "--json"});
  for (const Options& options : {own, aliases}) {
    EXPECT_EQ(options.command, Command::Capture);
    EXPECT_EQ(options.stateDir, "s");
    EXPECT_EQ(options.model, "m");
    ASSERT_TRUE(options.format.has_value());
    EXPECT_EQ(options.format->width, 640u);
    EXPECT_EQ(options.format->height, 480u);
    EXPECT_EQ(options.format->fourcc, "YUY2");
    EXPECT_EQ(options.fps, 15.0);
    EXPECT_EQ(options.frames, 3u);
    EXPECT_EQ(options.skip, 2u);
    EXPECT_EQ(options.output, "out/#.png");
    EXPECT_EQ(options.deviceKnobs, std::vector<std::string>{"pattern=bars"});
    EXPECT_TRUE(options.json);
  }
  EXPECT_EQ(Parse({"--list-formats-ext", "--model", "x"}).command, Command::Formats);
  EXPECT_EQ(Parse({"capture", "--format", "3"}).format->index, 3u);
  // Uncompressed formats go by the name the listing gives them.
  EXPECT_EQ(Parse({"capture", "--format", "320x240:RGB24"}).format->fourcc, "RGB24");
  EXPECT_EQ(Parse({}).command, Command::Help);
}

TEST(CommandLine, BadInputNamesTheProblem) {
  const struct {
    std::vector<std::string> arguments;
    const char* mentions;
  } cases[] = {
      {{"snap"}, "unknown command 'snap'"},
      {{"capture", "--frobnicate"}, "unknown option '--frobnicate'"},
      {{"capture", "--frames"}, "needs a value"},
      {{"capture", "--frames", "-1"}, "whole number"},
      {{"capture", "--frames", "12x"}, "whole number"},
      {{"capture", "--format", "640by480"}, "WIDTHxHEIGHT"},
      {{"capture", "--format", "640x0"}, "WIDTHxHEIGHT"},
      {{"capture", "--format", "640x480:YUY"}, "WIDTHxHEIGHT"},
      {{"capture", "--format", "640x480:RGB"}, "WIDTHxHEIGHT"},
      {{"capture", "--fps", "0"}, "frame rate"},
      {{"capture", "--fps", "fast"}, "frame rate"},
      {{"--device", "novalue", "capture"}, "KEY=VALUE"},
      {{"capture", "extra"}, "unexpected argument 'extra'"},
      {{"models", "--list-formats-ext"}, "cannot be combined"},
  };
  for (const auto& test : cases) {
    Options options;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(test.arguments, &options, &error)) << test.mentions;
    EXPECT_NE(error.find(test.mentions), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace camlab
