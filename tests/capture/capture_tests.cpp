// Frames from the emulated camera through the driver's frame building and conversion to files, for
// each driver variant: 24-bit RGB pictures show the eight colour bars the right way up, the frame
// counter moves on, no frame is lost, and every packed and planar YUV format the model offers
// carries the camera's own samples; the summary names the mode the driver chose.
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
#include <sstream>
#include <string>
#include <vector>

#include "support/colour_bars.h"

namespace {

namespace fs = std::filesystem;

using colour_bars::kBars;

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

  // The model's video formats as the tool lists them ("  3   640 x 480 YUY2   ..." lines).
  struct Listed {
    int index, width, height;
    std::string kind;
  };
  std::vector<Listed> VideoFormats() const {
    ToolRun formats = Camlab("formats");
    EXPECT_EQ(formats.exit, 0) << formats.output;
    std::vector<Listed> listed;
    std::istringstream lines(formats.output.substr(0, formats.output.find("still pin:")));
    for (std::string line; std::getline(lines, line);) {
      Listed format{};
      char kind[16] = {};
      if (sscanf(line.c_str(), " %d %d x %d %15s", &format.index, &format.width, &format.height,
                 kind) == 4) {
        format.kind = kind;
        listed.push_back(format);
      }
    }
    return listed;
  }

  fs::path folder_;
};

TEST_P(Capture, RgbPicturesShowTheBarsAndEveryFrameArrives) {
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

// Every video format the model offers, at every size (ibexcam's reduced from the full frame):
// 24-bit RGB pictures show the bars, the packed and planar YUV outputs the camera's own samples.
TEST_P(Capture, EveryOfferedFormatCarriesTheBars) {
  std::vector<Listed> formats = VideoFormats();
  ASSERT_FALSE(formats.empty());
  for (const Listed& format : formats) {
    const int width = format.width, height = format.height;
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height) + " " + format.kind);
    const bool rgb = format.kind == "RGB24";
    const std::string name = "frame-" + std::to_string(format.index) + (rgb ? ".png" : ".raw");
    ToolRun run =
        Camlab("capture --frames 1 --format " + std::to_string(format.index) + " --output " + name);
    ASSERT_EQ(run.exit, 0) << run.output;
    const int row = height / 2;
    auto barX = [&](int bar) { return bar * width / 8 + width / 16; };
    if (rgb) {
      Picture picture;
      ASSERT_TRUE(ReadPng(folder_ / name, &picture));
      ASSERT_EQ(picture.width, width);
      ASSERT_EQ(picture.height, height);
      for (int bar = 0; bar < 8; ++bar) {
        for (int channel = 0; channel < 3; ++channel) {
          EXPECT_NEAR(picture.At(barX(bar), row)[channel], kBars[bar][channel], 6)
              << "bar " << bar << " channel " << channel;
        }
      }
      continue;
    }
    const size_t luma = static_cast<size_t>(width) * height;
    const size_t quarter = static_cast<size_t>(width / 2) * (height / 2);
    const size_t sixteenth = static_cast<size_t>(width / 4) * (height / 4);
    const size_t expectedSize = format.kind == "YUY2"   ? 2 * luma
                                : format.kind == "I420" ? luma + 2 * quarter
                                                        : luma + 2 * sixteenth;
    ASSERT_TRUE(format.kind == "YUY2" || format.kind == "I420" || format.kind == "YVU9");
    std::vector<uint8_t> frame = ReadBytes(folder_ / name);
    ASSERT_EQ(frame.size(), expectedSize);
    for (int bar = 0; bar < 8; ++bar) {
      const Yuv expected = BarYuv(bar);
      const int x = barX(bar);
      const size_t at = static_cast<size_t>(row) * width + x;
      int y = frame[at], u = 0, v = 0;
      if (format.kind == "YUY2") {
        const uint8_t* pair = &frame[2 * (at & ~size_t{1})];
        y = pair[0], u = pair[1], v = pair[3];
      } else if (format.kind == "I420") {
        const size_t chroma = static_cast<size_t>(row / 2) * (width / 2) + x / 2;
        u = frame[luma + chroma];
        v = frame[luma + quarter + chroma];
      } else {
        const size_t chroma = static_cast<size_t>(row / 4) * (width / 4) + x / 4;
        v = frame[luma + chroma];
        u = frame[luma + sixteenth + chroma];
      }
      EXPECT_NEAR(y, expected.y, 3) << "bar " << bar;
      EXPECT_NEAR(u, expected.u, 3) << "bar " << bar;
      EXPECT_NEAR(v, expected.v, 3) << "bar " << bar;
    }
  }
}

// A format the model does not offer, or a bus that gives no mode its bandwidth, is named with its
// exit status, and no output folder is left behind.
TEST_P(Capture, FormatsTheModelLacksAreNamed) {
  const struct {
    const char* arguments;
    int exit;
    const char* message;
  } cases[] = {
      {"--format 99", 3, "format out of range"},
      {"--format 123x45", 3, "no video format 123 x 45"},
      {"--format 640x480:UYVY", 3, "no video format 640 x 480 UYVY"},
      {"--device bandwidth=100", 4, "the bus gave none of the format's modes its bandwidth"},
  };
  for (const auto& test : cases) {
    ToolRun run = Camlab(std::string("capture --output out/ ") + test.arguments);
    EXPECT_EQ(run.exit, test.exit) << run.output;
    EXPECT_NE(run.output.find(test.message), std::string::npos) << run.output;
  }
  EXPECT_FALSE(fs::exists(folder_ / "out"));
}

INSTANTIATE_TEST_SUITE_P(Variants, Capture, testing::Values("Lynx640", "Ibex640"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

}  // namespace

namespace {

// The default model's modes as the tool lists them, and the one the driver takes for the rate asked
// and the bandwidth the bus gives, as the capture summary names it.
class DefaultModel : public Capture {
 protected:
  static std::string ShippedModel() {
    std::ifstream in(fs::path(CAM_SOURCE_DIR) / "models" / "lynxcam.settings");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // A model file of the test's own, in its models/ folder (--models models).
  void WriteModel(const std::string& text) const {
    fs::create_directories(folder_ / "models");
    std::ofstream(folder_ / "models" / "lynxcam.settings") << text;
  }
};

TEST_P(DefaultModel, SummaryNamesTheModeTheDriverChose) {
  ToolRun formats = Camlab("formats");
  ASSERT_EQ(formats.exit, 0);
  EXPECT_NE(formats.output.find("640 x 480 RGB24   5 to 30 fps     30 fps @ 7 q1; 15 fps @ 4 q1; "
                                "5 fps @ 2 q1"),
            std::string::npos)
      << formats.output;
  // Stills are copies of video frames: the still pin offers the video formats.
  EXPECT_NE(formats.output.find("640 x 480 RGB24", formats.output.find("still pin:")),
            std::string::npos)
      << formats.output;
  const struct {
    const char* arguments;
    const char* size;
    const char* mode;
  } cases[] = {
      {"", "\"width\": 640", "{\"fps\": 30.000, \"alternateSetting\": 7, \"qualityLevel\": 1}"},
      {"--fps 20", "\"width\": 640",
       "{\"fps\": 15.000, \"alternateSetting\": 4, \"qualityLevel\": 1}"},
      // 1100 bytes a bus frame refuse setting 7's 1536-byte packets: the next slower mode.
      {"--device bandwidth=1100", "\"width\": 640",
       "{\"fps\": 15.000, \"alternateSetting\": 4, \"qualityLevel\": 1}"},
      // A full-speed bus: the full-speed stream key's formats and modes.
      {"--device speed=full", "\"width\": 320",
       "{\"fps\": 10.000, \"alternateSetting\": 2, \"qualityLevel\": 1}"},
  };
  for (const auto& test : cases) {
    ToolRun run =
        Camlab(std::string("--json capture --frames 1 --output shot.png ") + test.arguments);
    ASSERT_EQ(run.exit, 0) << test.arguments << "\n" << run.output;
    EXPECT_NE(run.output.find(test.size), std::string::npos) << test.arguments << run.output;
    EXPECT_NE(run.output.find(std::string("\"mode\": ") + test.mode), std::string::npos)
        << test.arguments << "\n"
        << run.output;
    EXPECT_NE(run.output.find("\"framesDelivered\": 1"), std::string::npos) << run.output;
  }
}

// One line per frame: its time, rate, sequence and bytes; with --json the lines join the summary
// as its "frames" so that the output stays one document. Files are named by sequence number.
TEST_P(DefaultModel, FrameLinesNameEachFrame) {
  ToolRun text = Camlab("capture --frames 2 --frame-lines --format 320x240:YUY2 --output f.raw");
  ASSERT_EQ(text.exit, 0) << text.output;
  EXPECT_NE(text.output.find("fps seq 1 153600 bytes\n"), std::string::npos) << text.output;
  ToolRun json =
      Camlab("--json capture --frames 2 --frame-lines --format 320x240:YUY2 --output f.raw");
  ASSERT_EQ(json.exit, 0) << json.output;
  EXPECT_EQ(json.output.front(), '{') << json.output;
  EXPECT_NE(json.output.find("\"sequence\": 1, \"bytes\": 153600}]}\n"), std::string::npos)
      << json.output;
  // Files take the frame's sequence number: after two skipped frames the first file is number 2.
  ToolRun skipped = Camlab("capture --skip 2 --frames 1 --format 320x240:YUY2 --output s/");
  ASSERT_EQ(skipped.exit, 0) << skipped.output;
  EXPECT_TRUE(fs::exists(folder_ / "s" / "frame-000002.raw"));
}

// The registry kept between runs does not outlive the model file it came from: a format taken out
// of the file is gone at the next run.
TEST_P(DefaultModel, EditedModelFileIsInstalledAfresh) {
  const std::string full = ShippedModel();
  WriteModel(full);
  ToolRun before = Camlab("--models models formats");
  ASSERT_NE(before.output.find("320 x 240 YUY2"), std::string::npos) << before.output;
  std::istringstream lines(full);
  std::string edited;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\\Yuy2_320x240") == std::string::npos) edited += line + "\n";
  }
  WriteModel(edited);
  ToolRun after = Camlab("--models models formats");
  EXPECT_EQ(after.exit, 0) << after.output;
  EXPECT_EQ(after.output.find("320 x 240 YUY2"), std::string::npos) << after.output;
  EXPECT_NE(after.output.find("320 x 240 I420"), std::string::npos) << after.output;
}

// A camera whose packets come in units of 256 bytes: the model's "HeaderPerSize" tells the driver,
// and the frames come out whole.
TEST_P(DefaultModel, FramesFollowTheModelsHeaderPacketSize) {
  std::string model = ShippedModel();
  model.insert(model.find("\n[Strings]"),
               "\nHKR, %Model%\\DataProcessing, HeaderPerSize, 0x10001, 256\n");
  WriteModel(model);
  ToolRun run = Camlab("--models models capture --device packet_unit=256 --frames 2 --output x/");
  ASSERT_EQ(run.exit, 0) << run.output;
  Picture picture;
  ASSERT_TRUE(ReadPng(folder_ / "x" / "frame-000001.png", &picture));
  for (int bar = 0; bar < 8; ++bar) {
    for (int channel = 0; channel < 3; ++channel)
      EXPECT_NEAR(picture.At(bar * 80 + 40, 240)[channel], kBars[bar][channel], 6) << bar;
  }
}

INSTANTIATE_TEST_SUITE_P(Lynx640, DefaultModel, testing::Values("Lynx640"));

}  // namespace
