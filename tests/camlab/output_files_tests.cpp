// Output patterns and the files camlab writes: names, formats, and no partial file on failure.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "output_pattern.h"
#include "png_writer.h"

namespace camlab {
namespace {

TEST(OutputPattern, SequenceNumbersFollowTheHashRunOrThePrintfConversion) {
  const struct {
    const char* text;
    bool rgb;
    uint64_t sequence;
    const char* path;
    FileFormat format;
  } cases[] = {
      {"frame-#.png", true, 7, "frame-000007.png", FileFormat::Png},
      {"shots/f###.raw", false, 12, "shots/f012.raw", FileFormat::Raw},
      {"f##.bin", true, 1234, "f1234.bin", FileFormat::Raw},
      {"out/%04d.png", true, 5, "out/0005.png", FileFormat::Png},
      {"out/img%d.yuv", false, 42, "out/img42.yuv", FileFormat::Raw},
      {"out/", true, 3, "out/frame-000003.png", FileFormat::Png},
      {"out/", false, 3, "out/frame-000003.raw", FileFormat::Raw},
      {"single.PNG", true, 9, "single.PNG", FileFormat::Png},
  };
  for (const auto& test : cases) {
    OutputPattern pattern;
    std::string error;
    ASSERT_TRUE(ParseOutputPattern(test.text, test.rgb, &pattern, &error)) << test.text << error;
    EXPECT_EQ(pattern.PathFor(test.sequence), test.path) << test.text;
    EXPECT_EQ(pattern.format, test.format) << test.text;
  }
}

TEST(OutputPattern, RejectsWhatCannotBeWritten) {
  OutputPattern pattern;
  std::string error;
  EXPECT_FALSE(ParseOutputPattern("", true, &pattern, &error));
  EXPECT_FALSE(ParseOutputPattern("frames.png", false, &pattern, &error));
  EXPECT_NE(error.find("24-bit RGB"), std::string::npos);
  EXPECT_FALSE(ParseOutputPattern("f%s.raw", false, &pattern, &error));
}

std::vector<uint8_t> ReadPngRgb(const std::string& path, uint32_t* width, uint32_t* height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  EXPECT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  EXPECT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
  *width = image.width;
  *height = image.height;
  return pixels;
}

TEST(PngWriter, BottomUpBgrBecomesTopDownRgb) {
  std::string path = testing::TempDir() + "camlab_png_test.png";
  // 2 x 2: bottom row (first in memory) blue, green; top row red, white.
  const uint8_t frame[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
  std::string error;
  ASSERT_TRUE(WriteBottomUpBgrAsPng(path, frame, 2, 2, &error)) << error;
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb = ReadPngRgb(path, &width, &height);
  EXPECT_EQ(width, 2u);
  EXPECT_EQ(height, 2u);
  EXPECT_EQ(rgb, (std::vector<uint8_t>{255, 0, 0, 255, 255, 255, 0, 0, 255, 0, 255, 0}));
  std::remove(path.c_str());
}

TEST(PngWriter, UnwritableFolderFailsWithoutLeavingAFile) {
  std::string folder = testing::TempDir() + "camlab_missing_folder";
  std::filesystem::remove_all(folder);
  const uint8_t pixel[3] = {1, 2, 3};
  std::string error;
  EXPECT_FALSE(WriteBottomUpBgrAsPng(folder + "/x.png", pixel, 1, 1, &error));
  EXPECT_NE(error.find("cannot write"), std::string::npos);
  EXPECT_FALSE(WriteRawFile(folder + "/x.raw", pixel, 3, &error));
  EXPECT_FALSE(std::filesystem::exists(folder));
}

}  // namespace
}  // namespace camlab
