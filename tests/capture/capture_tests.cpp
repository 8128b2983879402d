// Frames from the emulated camera through the driver's frame building and conversion to files, for
// each driver variant: 24-bit RGB pictures show the eight colour bars, the frame counter moves on,
// no frame is lost, and the planar and packed YUV outputs carry the camera's own samples.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The camera's bars, left to right, as red, green, blue.
constexpr std::array<std::array<int, 3>, 8> kBars = {{{140, 140, 140},
                                                      {140, 140, 0},
                                                      {0, 140, 140},
                                                      {0, 140, 0},
                                                      {140, 0, 140},
                                                      {140, 0, 0},
                                                      {0, 0, 140},
                                                      {0, 0, 0}}};

// The camera's own YUV of a bar: luma by the 0.299/0.587/0.114 weights, plain colour differences.
struct Yuv {
  int y, u, v;
};
Yuv BarYuv(int bar) {
  const auto& [r, g, b] = kBars[bar];
  int y = static_cast<int>(std::lround(0.299 * r + 0.587 * g + 0.114 * b));
  return {y, b - y + 128, r - y + 128};
}

struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // top-down rows of red, green, blue
  const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

bool ReadPng(const fs::path& path, Picture* picture) {
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  picture->width = static_cast<int>(image.width);
  picture->height = static_cast<int>(image.height);
  picture->rgb.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr) != 0;
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct ToolRun {
  int exit = -1;
  std::string output;
};

class Capture : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("camlab-capture-" + std::to_string(getpid()) + "-" +
               std::to_string(testing::UnitTest::GetInstance()->random_seed()) + "-" +
               testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  ToolRun Camlab(const std::string& arguments) const {
    std::string command = "cd '" + folder_.string() + "' && '" CAMLAB_BINARY "' --model " +
                          GetParam() + " " + arguments + " 2>&1";
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    std::array<char, 512> chunk;
    while (fgets(chunk.data(), chunk.size(), pipe) != nullptr) run.output += chunk.data();
    int status = pclose(pipe);
    run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  // The model's video formats as the tool lists them ("640 x 480 YUY2" lines), or empty.
  bool Offers(const std::string& fourcc) const {
    ToolRun formats = Camlab("formats");
    return formats.exit == 0 && formats.output.find("640 x 480 " + fourcc) != std::string::npos;
  }

  // Skips the test while the driver below the tool offers no video format to capture.
  bool StackReady() {
    ToolRun formats = Camlab("formats");
    return formats.exit == 0 && formats.output.find(" x ") != std::string::npos;
  }

  fs::path folder_;
};

TEST_P(Capture, RgbPicturesShowTheBarsAndEveryFrameArrives) {
  if (!StackReady()) GTEST_SKIP() << "the driver offers no video format yet";
  ToolRun run =
      Camlab("--json capture --device counter=on --frames 3 --format 640x480 --output rgb/");
  ASSERT_EQ(run.exit, 0) << run.output;
  EXPECT_NE(run.output.find("\"framesDelivered\": 3"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\"framesDropped\": 0"), std::string::npos) << run.output;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder_ / "rgb")) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 3u);
  std::vector<Picture> pictures(files.size());
  for (size_t i = 0; i < files.size(); ++i)
    ASSERT_TRUE(ReadPng(files[i], &pictures[i])) << files[i];
  const Picture& first = pictures[0];
  ASSERT_EQ(first.width, 640);
  ASSERT_EQ(first.height, 480);
  // Below the counter, at the middle of each bar, every channel is within a few levels.
  for (int bar = 0; bar < 8; ++bar) {
    const uint8_t* pixel = first.At(bar * 80 + 40, 360);
    for (int channel = 0; channel < 3; ++channel) {
      EXPECT_NEAR(pixel[channel], kBars[bar][channel], 6)
          << "bar " << bar << " channel " << channel;
    }
  }
  // The frame counter at the top left moves on from frame to frame.
  auto corner = [](const Picture& picture) {
    std::vector<uint8_t> bytes;
    for (int y = 0; y < 24; ++y)
      bytes.insert(bytes.end(), picture.At(0, y), picture.At(0, y) + 96 * 3);
    return bytes;
  };
  EXPECT_NE(corner(pictures[0]), corner(pictures[1]));
  EXPECT_NE(corner(pictures[1]), corner(pictures[2]));
}

// The packed and planar YUV outputs against the camera's own samples of each bar.
TEST_P(Capture, YuvOutputsCarryTheCamerasSamples) {
  if (!StackReady()) GTEST_SKIP() << "the driver offers no video format yet";
  constexpr int kWidth = 640, kHeight = 480;
  const struct {
    const char* fourcc;
    size_t size;
  } outputs[] = {
      {"YUY2", kWidth * kHeight * 2},
      {"I420", kWidth * kHeight * 3 / 2},
      {"YVU9", kWidth * kHeight + 2 * (kWidth / 4) * (kHeight / 4)},
  };
  int checked = 0;
  for (const auto& output : outputs) {
    if (!Offers(output.fourcc)) continue;
    ++checked;
    SCOPED_TRACE(output.fourcc);
    std::string name = std::string(output.fourcc) + ".raw";
    ToolRun run = Camlab("capture --frames 1 --format 640x480:" + std::string(output.fourcc) +
                         " --output " + name);
    ASSERT_EQ(run.exit, 0) << run.output;
    std::vector<uint8_t> frame = ReadBytes(folder_ / name);
    ASSERT_EQ(frame.size(), output.size);
    const int row = kHeight / 2;
    for (int bar = 0; bar < 8; ++bar) {
      const Yuv expected = BarYuv(bar);
      const int x = bar * 80 + 40;
      int y = 0, u = 0, v = 0;
      if (std::string(output.fourcc) == "YUY2") {
        const uint8_t* pair = &frame[(static_cast<size_t>(row) * kWidth + x) * 2];
        y = pair[0], u = pair[1], v = pair[3];
      } else if (std::string(output.fourcc) == "I420") {
        const size_t chroma = static_cast<size_t>(row / 2) * (kWidth / 2) + x / 2;
        y = frame[static_cast<size_t>(row) * kWidth + x];
        u = frame[kWidth * kHeight + chroma];
        v = frame[kWidth * kHeight * 5 / 4 + chroma];
      } else {
        const size_t chroma = static_cast<size_t>(row / 4) * (kWidth / 4) + x / 4;
        y = frame[static_cast<size_t>(row) * kWidth + x];
        v = frame[kWidth * kHeight + chroma];
        u = frame[kWidth * kHeight + (kWidth / 4) * (kHeight / 4) + chroma];
      }
      EXPECT_NEAR(y, expected.y, 3) << "bar " << bar;
      EXPECT_NEAR(u, expected.u, 3) << "bar " << bar;
      EXPECT_NEAR(v, expected.v, 3) << "bar " << bar;
    }
  }
  if (checked == 0) GTEST_SKIP() << GetParam() << " offers none of YUY2, I420, YVU9";
}

INSTANTIATE_TEST_SUITE_P(Variants, Capture, testing::Values("Lynx640", "Ibex640"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace
