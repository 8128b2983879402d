// Compressed frames: the colour bars through JPEG 4:2:2 and 4:2:0 (decoded back with the reference
// decoder), the quantisation registers reaching the frame, restart markers, and damaged data.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

#include "camjpeg.h"
#include "device_test_support.h"
#include "test_pattern.h"

namespace camemu {
namespace {

constexpr uint32_t kWidth = 160, kHeight = 120;

std::vector<uint8_t> CaptureJpeg(const std::vector<std::string>& knobs, uint8_t format,
                                 uint8_t options, size_t frames = 1,
                                 DeviceStatistics* statistics = nullptr,
                                 std::vector<std::vector<uint8_t>>* all = nullptr) {
  auto camera = MakeCamera(knobs);
  Host host(*camera);
  host.Write(0x10, {format, options});
  host.Write(0x14, {kWidth, 0, kHeight, 0});
  camera->SelectAlternateSetting(7);
  FrameCollector collector;
  Stream(*camera, collector, frames);
  EXPECT_EQ(collector.frames().size(), frames);
  if (statistics) *statistics = camera->Statistics();
  if (all) *all = collector.frames();
  return collector.frames().empty() ? std::vector<uint8_t>{} : collector.frames()[0];
}

size_t CountMarker(const std::vector<uint8_t>& frame, uint8_t low, uint8_t high) {
  size_t count = 0;
  for (size_t i = 0; i + 1 < frame.size(); ++i) {
    if (frame[i] == 0xFF && frame[i + 1] >= low && frame[i + 1] <= high) ++count;
  }
  return count;
}

struct JpegCase {
  const char* name;
  uint8_t format;
  camjpeg::ChromaSampling sampling;
};
// Test names show the case, not its bytes.
void PrintTo(const JpegCase& value, std::ostream* os) { *os << value.name; }

class JpegBars : public testing::TestWithParam<JpegCase> {};

TEST_P(JpegBars, DecodeBackToTheBars) {
  std::vector<uint8_t> frame = CaptureJpeg({}, GetParam().format, 0);
  uint32_t width = 0, height = 0;
  camjpeg::ChromaSampling sampling;
  std::string error;
  std::vector<uint8_t> planes =
      camjpeg::DecodePlanes(frame.data(), frame.size(), &width, &height, &sampling, &error);
  ASSERT_FALSE(planes.empty()) << error;
  EXPECT_EQ(width, kWidth);
  EXPECT_EQ(height, kHeight);
  EXPECT_EQ(sampling, GetParam().sampling);
  camjpeg::PlaneSizes sizes = camjpeg::PlaneSizesFor(width, height, sampling);
  const uint8_t* cb = planes.data() + sizes.LumaBytes();
  const uint8_t* cr = cb + sizes.ChromaBytes();
  uint32_t chromaRowStep = sampling == camjpeg::ChromaSampling::k420 ? 2 : 1;
  for (uint32_t bar = 0; bar < 8; ++bar) {
    uint32_t x = bar * kWidth / 8 + kWidth / 16, y = kHeight / 2;
    int luma = planes[y * width + x];
    size_t c = (y / chromaRowStep) * sizes.chromaWidth + x / 2;
    int u = cb[c] - 128, v = cr[c] - 128;
    int rgb[3] = {luma + 1402 * v / 1000, luma - (344 * u + 714 * v) / 1000,
                  luma + 1772 * u / 1000};
    for (int ch = 0; ch < 3; ++ch) {
      EXPECT_NEAR(std::clamp(rgb[ch], 0, 255), campattern::kColourBars[bar][ch], 8)
          << "bar " << bar << " channel " << ch;
    }
  }
  EXPECT_EQ(CountMarker(frame, 0xD0, 0xD7), 0u);  // no restart markers unless asked
  EXPECT_GE(CountMarker(frame, 0xDB, 0xDB), 1u);  // the tables travel with the frame
}

INSTANTIATE_TEST_SUITE_P(Sampling, JpegBars,
                         testing::Values(JpegCase{"Jpeg422", 5, camjpeg::ChromaSampling::k422},
                                         JpegCase{"Jpeg420", 6, camjpeg::ChromaSampling::k420}),
                         [](const testing::TestParamInfo<JpegCase>& info) {
                           return info.param.name;
                         });

TEST(JpegFrames, RestartMarkersWhenTheOptionIsSet) {
  // 160 x 120 at 4:2:2 is 10 x 15 MCUs: one restart interval per MCU row by default.
  std::vector<uint8_t> frame = CaptureJpeg({}, 5, 0x02);
  EXPECT_EQ(CountMarker(frame, 0xD0, 0xD7), 14u);
  EXPECT_EQ(CountMarker(frame, 0xDD, 0xDD), 1u);  // DRI
}

TEST(JpegFrames, CoarserQuantisationRegistersMakeSmallerFrames) {
  std::vector<uint8_t> fine = CaptureJpeg({}, 5, 0);
  auto coarseCamera = MakeCamera({});
  Host host(*coarseCamera);
  host.Write(0x10, {5, 0});
  host.Write(0x14, {kWidth, 0, kHeight, 0});
  for (uint8_t reg = 0x80; reg < 0xC0; reg += 8) host.Write(reg, std::vector<uint8_t>(8, 0x77));
  coarseCamera->SelectAlternateSetting(7);
  FrameCollector collector;
  Stream(*coarseCamera, collector, 1);
  ASSERT_EQ(collector.frames().size(), 1u);
  EXPECT_LT(collector.frames()[0].size(), fine.size());
}

TEST(JpegFrames, CorruptionDamagesScanDataButKeepsTheMarkers) {
  DeviceStatistics statistics;
  std::vector<std::vector<uint8_t>> frames;
  CaptureJpeg({"corrupt_frame=1"}, 5, 0x02, 2, &statistics, &frames);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(statistics.framesCorrupted, 1u);
  // Same picture, same length and markers; different bytes.
  EXPECT_EQ(frames[0].size(), frames[1].size());
  EXPECT_NE(frames[0], frames[1]);
  EXPECT_EQ(CountMarker(frames[0], 0xC0, 0xFE), CountMarker(frames[1], 0xC0, 0xFE));
}

}  // namespace
}  // namespace camemu
