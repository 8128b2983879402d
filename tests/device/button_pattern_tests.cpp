// The snapshot button as both kinds of camera report it (the polled register and the interrupt
// pipe's events), and the test-pattern library on its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#ifdef CAM_HAVE_PNG
#include <png.h>
#endif

#include "device_test_support.h"
#include "host_control.h"
#include "test_pattern.h"

namespace camemu {
namespace {

std::vector<uint8_t> NextEvent(EmulatedCamera& camera) {
  uint8_t buffer[8] = {};
  uint32_t length = 0;
  EXPECT_EQ(camera.ReadInterruptPacket(buffer, sizeof buffer, &length), host::UsbResult::Ok);
  return {buffer, buffer + length};
}

TEST(SnapshotButton, PressAndReleaseShowInTheRegisterAndOnTheInterruptPipe) {
  auto camera = MakeCamera({});
  Host host(*camera);
  EXPECT_TRUE(NextEvent(*camera).empty());
  camera->PressButton();
  EXPECT_EQ(host.Read(0x20), 0x03);  // down and latched
  camera->ReleaseButton();
  EXPECT_EQ(host.Read(0x20), 0x02);  // up, still latched for a poll that comes late
  host.Write(0x20, {0x02});          // the poll clears the latch
  EXPECT_EQ(host.Read(0x20), 0x00);
  std::vector<uint8_t> down = NextEvent(*camera), up = NextEvent(*camera);
  ASSERT_EQ(down.size(), 4u);
  ASSERT_EQ(up.size(), 4u);
  EXPECT_EQ(down[0] & 0x08, 0);                         // bit 3 clear: went down
  EXPECT_EQ(up[0] & 0x08, 0x08);                        // bit 3 set: came up
  EXPECT_EQ(up[1], static_cast<uint8_t>(down[1] + 1));  // numbered
  EXPECT_TRUE(NextEvent(*camera).empty());
  EXPECT_EQ(camera->Statistics().buttonEvents, 2u);
}

TEST(SnapshotButton, HeldButtonStaysLatchedAndReleasesOnTheClock) {
  auto camera = MakeCamera({});
  Host host(*camera);
  camera->HoldButton(3 * 10000000LL);  // 3 s
  host.Write(0x20, {0x02});            // a clear while held does not take
  EXPECT_EQ(host.Read(0x20), 0x03);
  EXPECT_EQ(NextEvent(*camera)[0] & 0x08, 0);
  host::AdvanceVirtualTime(2 * 10000000LL);
  EXPECT_TRUE(NextEvent(*camera).empty());
  EXPECT_EQ(host.Read(0x20) & 0x01, 0x01);
  host::AdvanceVirtualTime(1 * 10000000LL);
  EXPECT_EQ(host.Read(0x20) & 0x01, 0x00);
  EXPECT_EQ(NextEvent(*camera)[0] & 0x08, 0x08);
}

TEST(SnapshotButton, EventsOffAndNoInterruptPipe) {
  auto camera = MakeCamera({});
  Host host(*camera);
  host.Write(0x21, {0x00});  // interrupt events off: the register still shows the button
  camera->PressButton();
  EXPECT_TRUE(NextEvent(*camera).empty());
  EXPECT_EQ(host.Read(0x20) & 0x01, 0x01);

  auto polled = MakeCamera({"pipes=1"});
  polled->PressButton();
  uint8_t buffer[4];
  uint32_t length = 4;
  EXPECT_EQ(polled->ReadInterruptPacket(buffer, sizeof buffer, &length), host::UsbResult::Stall);
  // A buffer too small for an event gets none, and the event waits.
  camera->ReleaseButton();
  host.Write(0x21, {0x01});
  camera->PressButton();
  EXPECT_EQ(camera->ReadInterruptPacket(buffer, 3, &length), host::UsbResult::Stall);
  EXPECT_EQ(NextEvent(*camera).size(), 4u);
}

// ---- Test patterns ------------------------------------------------------------------------------

TEST(TestPattern, BarsSolidAndOverlays) {
  campattern::TestPattern pattern;
  pattern.SetSize(80, 4);
  const campattern::RgbImage& bars = pattern.Render(0);
  for (uint32_t x = 0; x < 80; ++x) {
    const uint8_t* pixel = bars.At(x, 2);
    const campattern::Rgb& bar = campattern::kColourBars[x / 10];
    EXPECT_EQ(pixel[0], bar[0]);
    EXPECT_EQ(pixel[1], bar[1]);
    EXPECT_EQ(pixel[2], bar[2]);
  }
  EXPECT_EQ(pattern.Select("solid:102030"), "");
  EXPECT_EQ(pattern.Render(0).At(5, 1)[2], 0x30);
  EXPECT_EQ(pattern.Select("solid:10203g"),
            "pattern 'solid:10203g' needs a colour as RRGGBB in hex");
  EXPECT_EQ(pattern.Select("plaid"), "unknown pattern 'plaid'");
  // The marker moves from frame to frame; the background it is drawn on does not change.
  pattern.SetSize(64, 64);
  pattern.Select("bars");
  pattern.SetMovingMarker(true);
  std::vector<uint8_t> first = pattern.Render(0).pixels, second = pattern.Render(1).pixels;
  EXPECT_NE(first, second);
  pattern.SetMovingMarker(false);
  EXPECT_EQ(pattern.Render(1).At(63, 32)[0], 0);  // black bar again
}

class PictureFile : public testing::Test {
 protected:
  void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  void TearDown() override { std::remove(path_.c_str()); }
  // One file per test: ctest runs the tests of this program in parallel processes.
  std::string path_ = testing::TempDir() + "camemu_picture_" +
                      testing::UnitTest::GetInstance()->current_test_info()->name() + ".ppm";
};

TEST_F(PictureFile, LoadsAndScalesAPpm) {
  // 2 x 1: a red pixel and a blue one, scaled to 4 x 2.
  Write(std::string("P6\n# two pixels\n2 1\n255\n") + std::string("\xFF\x00\x00\x00\x00\xFF", 6));
  campattern::TestPattern pattern;
  pattern.SetSize(4, 2);
  ASSERT_EQ(pattern.Select("image:" + path_), "");
  const campattern::RgbImage& image = pattern.Render(0);
  EXPECT_EQ(image.At(1, 1)[0], 0xFF);
  EXPECT_EQ(image.At(3, 0)[2], 0xFF);
  EXPECT_EQ(image.At(3, 0)[0], 0x00);
}

TEST_F(PictureFile, BadFilesAreRefusedWithAReason) {
  struct Case {
    std::string bytes;
    const char* reason;
  } cases[] = {
      {"P3\n1 1\n255\n1 2 3", "is not a binary PPM (P6) or PGM (P5) file"},
      {"P6\n2 2\n255\n\x01\x02", "is truncated"},
      {"P6\n0 2\n255\n", "has an unsupported size"},
      {"P6\n99999 99999\n255\n", "has an unsupported size"},
      {"P6\n1 1\n65535\n\x01\x02\x03\x04\x05\x06", "is not an 8-bit picture"},
      {"P6\n1 x\n255\n", "has a malformed header"},
  };
  for (const Case& c : cases) {
    Write(c.bytes);
    campattern::RgbImage image;
    std::string error = campattern::ReadNetpbm(path_, &image);
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  EXPECT_NE(campattern::ReadNetpbm(path_ + ".missing", nullptr).find("cannot open"),
            std::string::npos);
  // Through the camera's knob the error reaches the caller and the old pattern stays.
  auto camera = MakeCamera({});
  EXPECT_NE(camera->SetKnob("pattern=image:" + path_).find("malformed header"), std::string::npos);
  EXPECT_EQ(camera->Config().pattern, "bars");
}

#ifdef CAM_HAVE_PNG
TEST_F(PictureFile, LoadsAPngAndRefusesABrokenOne) {
  const uint8_t pixels[] = {0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF};  // red, blue
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = 2;
  png.height = 1;
  png.format = PNG_FORMAT_RGB;
  ASSERT_TRUE(png_image_write_to_file(&png, path_.c_str(), 0, pixels, 0, nullptr));
  campattern::TestPattern pattern;
  pattern.SetSize(4, 2);
  ASSERT_EQ(pattern.Select("image:" + path_), "");
  EXPECT_EQ(pattern.Render(0).At(0, 1)[0], 0xFF);
  EXPECT_EQ(pattern.Render(0).At(3, 0)[2], 0xFF);
  Write(std::string("\x89PNG\r\n\x1a\n", 8) + "not really");
  EXPECT_NE(pattern.Select("image:" + path_).find("cannot read PNG picture"), std::string::npos);
}
#endif

}  // namespace
}  // namespace camemu
