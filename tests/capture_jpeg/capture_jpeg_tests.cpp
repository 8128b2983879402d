// The compressed model through the whole stack: camlab captures each frame size of LynxJpeg in
// both samplings (the frame rate picks the mode), with and without restart markers, and the
// decoded 24-bit frames show the camera's colour bars; a frame whose data cannot be decoded
// arrives without a byte count and the frames after it decode again.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "support/colour_bars.h"

namespace {

namespace fs = std::filesystem;

using colour_bars::kBars;

// Near a bar edge the chroma is shared with the neighbouring bar (one chroma sample per two
// pixels, then the transform's ringing within the edge's block); elsewhere a channel stays
// within a few levels of the bar.
constexpr int kEdgeMargin = 8;
constexpr int kTolerance = 8;

struct Mode {
  const char* name;
  int width, height;
  int fps;  // 30 and 15: 4:2:2; 10 and 5: 4:2:0; 15 and 5 carry restart markers
};
// Test names show the case, not its bytes.
void PrintTo(const Mode& value, std::ostream* os) { *os << value.name; }

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The largest difference from the bars over every pixel of a bottom-up blue, green, red frame
// that is not within kEdgeMargin of a bar edge; the place of the worst one in *where.
int WorstBarDifference(const std::vector<uint8_t>& frame, int width, int height,
                       std::string* where) {
  int worst = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = &frame[static_cast<size_t>(height - 1 - y) * width * 3];
    for (int x = 0; x < width; ++x) {
      const int bar = x * 8 / width;
      const int left = bar * width / 8, right = (bar + 1) * width / 8;
      if ((bar > 0 && x - left < kEdgeMargin) || (bar < 7 && right - x <= kEdgeMargin)) continue;
      for (int channel = 0; channel < 3; ++channel) {
        const int difference = std::abs(row[x * 3 + 2 - channel] - kBars[bar][channel]);
        if (difference > worst) {
          worst = difference;
          *where = "x " + std::to_string(x) + " y " + std::to_string(y) + " channel " +
                   std::to_string(channel);
        }
      }
    }
  }
  return worst;
}

struct ToolRun {
  int exit = -1;
  std::string output;
};

class CompressedCapture : public testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("camlab-jpeg-" + std::to_string(getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Captures `frames` raw frames of the mode into f-N.raw; the tool's JSON summary in the output.
  ToolRun Capture(int frames, const std::string& knobs = "") const {
    const Mode& mode = GetParam();
    std::string command = "cd '" + folder_.string() +
                          "' && '" CAMLAB_BINARY "' --json capture --model LynxJpeg --format " +
                          std::to_string(mode.width) + "x" + std::to_string(mode.height) +
                          " --fps " + std::to_string(mode.fps) + " --frames " +
                          std::to_string(frames) + " --output f-#.raw " + knobs + " 2>&1";
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    std::array<char, 512> chunk;
    while (fgets(chunk.data(), chunk.size(), pipe) != nullptr) run.output += chunk.data();
    int status = pclose(pipe);
    run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  // The files the capture wrote, in frame order.
  std::vector<std::vector<uint8_t>> Frames() const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder_))
      if (entry.path().extension() == ".raw") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::vector<uint8_t>> frames;
    for (const fs::path& file : files) frames.push_back(ReadBytes(file));
    return frames;
  }

  size_t FrameBytes() const {
    return static_cast<size_t>(GetParam().width) * GetParam().height * 3;
  }

  fs::path folder_;
};

TEST_P(CompressedCapture, DecodedFramesShowTheBars) {
  ToolRun run = Capture(2);
  ASSERT_EQ(run.exit, 0) << run.output;
  EXPECT_NE(run.output.find("\"framesDelivered\": 2"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\"framesDropped\": 0"), std::string::npos) << run.output;
  std::vector<std::vector<uint8_t>> frames = Frames();
  ASSERT_EQ(frames.size(), 2u);
  for (size_t index = 0; index < frames.size(); ++index) {
    const std::vector<uint8_t>& frame = frames[index];
    ASSERT_EQ(frame.size(), FrameBytes()) << "frame " << index;
    std::string where;
    EXPECT_LE(WorstBarDifference(frame, GetParam().width, GetParam().height, &where), kTolerance)
        << "frame " << index << " at " << where;
  }
}

TEST_P(CompressedCapture, UndecodableFramesHaveNoBytesAndTheStreamGoesOn) {
  // The camera damages its first two compressed frames; the first may still be on its way while
  // the stream starts, so the capture opens with one or two frames of no bytes.
  ToolRun run = Capture(4, "--device corrupt_interval=2");
  ASSERT_EQ(run.exit, 0) << run.output;
  EXPECT_NE(run.output.find("\"framesDelivered\": 4"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\"framesDropped\": 0"), std::string::npos) << run.output;
  std::vector<std::vector<uint8_t>> frames = Frames();
  ASSERT_EQ(frames.size(), 4u);
  size_t empty = 0;
  while (empty < frames.size() && frames[empty].empty()) ++empty;
  EXPECT_GE(empty, 1u);
  EXPECT_LE(empty, 2u);
  for (size_t index = empty; index < frames.size(); ++index) {
    const std::vector<uint8_t>& frame = frames[index];
    ASSERT_EQ(frame.size(), FrameBytes()) << "frame " << index;
    std::string where;
    EXPECT_LE(WorstBarDifference(frame, GetParam().width, GetParam().height, &where), kTolerance)
        << "frame " << index << " at " << where;
  }
}

INSTANTIATE_TEST_SUITE_P(
    LynxJpeg, CompressedCapture,
    testing::Values(Mode{"Vga422", 640, 480, 30}, Mode{"Vga420", 640, 480, 10},
                    Mode{"Qvga422Restarts", 320, 240, 15}, Mode{"Qvga420Restarts", 320, 240, 5},
                    // Not a whole number of blocks wide or high in either sampling.
                    Mode{"Odd422", 200, 150, 30}, Mode{"Odd420Restarts", 200, 150, 5}),
    [](const testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });

}  // namespace
