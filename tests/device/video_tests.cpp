// The camera's video: the packet framing, the colour bars through every output format (decoded
// back as the drivers decode them), frame pacing, the sensor's effect on the picture, and the
// packet-level faults with their accounting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <ostream>

#include "device_test_support.h"
#include "frame_encoders.h"
#include "jpeg_frames.h"
#include "packetizer.h"
#include "test_pattern.h"

namespace camemu {
namespace {

using campattern::kColourBars;
using campattern::Rgb;

// ---- Packetizer framing ------------------------------------------------------------------------

struct FramingCase {
  uint32_t maxPacket;
  size_t frameBytes;
  const char* what;
};

TEST(Packetizer, FramesEndWithAnUnmistakableShortPacket) {
  const uint32_t unit = 512;
  const FramingCase cases[] = {
      {512, 5000, "one unit per packet"},
      {1024, 5000, "two units per packet"},
      {1536, 5000, "three units per packet"},
      {1536, 1524 * 3, "data fills its packets exactly: pad packet"},
      {1536, 1524 * 2 + 500, "tail would be one unit long: data packet, then pad"},
      {1536, 1524 + 1012, "tail would be two units long"},
      {512, 500, "a frame of one packet's data"},
      {1536, 1, "a one-byte frame"},
      {1536, 0, "an empty frame"},
  };
  for (const FramingCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> frame(c.frameBytes);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7 + 1);
    camencode::Packetizer packetizer(unit);
    packetizer.BeginFrame(frame, 5);
    FrameCollector collector(unit);
    std::vector<uint8_t> packet(3072);
    bool ended = false;
    int packets = 0;
    while (!ended && packets < 100) {
      uint32_t length = packetizer.NextPacket(packet.data(), 3072, c.maxPacket, 77, &ended);
      ASSERT_LE(length, c.maxPacket);
      ASSERT_GT(length, camencode::kPacketHeaderSize);
      EXPECT_EQ(packet[0], 12);
      EXPECT_EQ(packet[1] & camencode::header_flags::kFirst, packets == 0 ? 1 : 0);
      EXPECT_EQ((packet[1] & camencode::header_flags::kLast) != 0, ended);
      EXPECT_EQ(packet[4], 5);   // frame counter
      EXPECT_EQ(packet[8], 77);  // bus frame
      if (!ended) {
        EXPECT_EQ(length % unit, 0u);
      } else {
        EXPECT_NE(length % unit, 0u);
      }
      collector.Feed(packet.data(), length);
      ++packets;
    }
    ASSERT_EQ(collector.frames().size(), 1u);
    const std::vector<uint8_t>& got = collector.frames()[0];
    // The frame's bytes in order; at most one pad byte after them.
    ASSERT_GE(got.size(), frame.size());
    EXPECT_LE(got.size(), frame.size() + 1);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), got.begin()));
    EXPECT_FALSE(packetizer.busy());
  }
}

TEST(Packetizer, AbandonedFrameIsOneHeaderOnlyPacket) {
  camencode::Packetizer packetizer(512);
  packetizer.BeginFrame(std::vector<uint8_t>(4000), 1);
  std::vector<uint8_t> packet(1536);
  bool ended;
  packetizer.NextPacket(packet.data(), 1536, 1536, 0, &ended);
  EXPECT_EQ(packetizer.AbandonFrame(packet.data(), 1536, 1), 12u);
  EXPECT_NE(packet[1] & camencode::header_flags::kAbandoned, 0);
  EXPECT_FALSE(packetizer.busy());
}

// ---- Colour bars through every output format -----------------------------------------------

constexpr uint32_t kWidth = 160, kHeight = 120;

// Decoders as the drivers' image pipeline inverts each format: one RGB pixel at (x, y).
using Decoder = std::function<Rgb(const std::vector<uint8_t>&, uint32_t x, uint32_t y)>;

uint8_t Clamp(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

Rgb DecodeYuv(const std::vector<uint8_t>& f, uint32_t x, uint32_t y) {
  const uint8_t* pair = &f[(y * kWidth + (x & ~1u)) * 2];
  int luma = pair[(x & 1) ? 2 : 0], u = pair[1] - 128, v = pair[3] - 128;
  return {Clamp(luma + v), Clamp(luma - (186 * u + 508 * v) / 1000), Clamp(luma + u)};
}

Rgb DecodeRgb565(const std::vector<uint8_t>& f, uint32_t x, uint32_t y) {
  uint8_t b0 = f[(y * kWidth + x) * 2], b1 = f[(y * kWidth + x) * 2 + 1];
  return {static_cast<uint8_t>(b0 & 0xF8), static_cast<uint8_t>(((b0 & 7) << 5) | ((b1 >> 5) << 2)),
          static_cast<uint8_t>((b1 & 0x1F) << 3)};
}

Rgb DecodeGrey(const std::vector<uint8_t>& f, uint32_t x, uint32_t y) {
  uint8_t luma = f[y * kWidth + x];
  return {luma, luma, luma};
}

// One colour per 2 x 2 mosaic cell: blue at (even, even), red at (odd, odd), green elsewhere.
Rgb DecodeBayer(const std::vector<uint8_t>& f, uint32_t x, uint32_t y, bool oneLine, bool tenBit) {
  uint32_t cx = x & ~1u, cy = y & ~1u;
  uint32_t bytes = tenBit ? 2 : 1;
  auto sample = [&](uint32_t sx, uint32_t sy) -> uint8_t {
    size_t index;
    if (oneLine) {
      index = sy * kWidth + sx;
    } else {
      // Row pair j, column pair k: G(2j+1, 2k) B(2j, 2k) G(2j, 2k+1) R(2j+1, 2k+1).
      size_t group = (sy / 2) * (kWidth / 2) + sx / 2;
      int slot = (sy & 1) == 0 ? ((sx & 1) ? 2 : 1) : ((sx & 1) ? 3 : 0);
      index = group * 4 + slot;
    }
    uint8_t top = f[index * bytes];
    if (tenBit) {
      EXPECT_EQ(f[index * bytes + 1], top >> 6);
    }
    return top;
  };
  return {sample(cx + 1, cy + 1), sample(cx + 1, cy), sample(cx, cy)};
}

struct FormatCase {
  const char* name;
  uint8_t format;
  uint8_t options;
  Decoder decode;
  int tolerance;
  bool greyOnly;
};
// Test names show the case, not its bytes.
void PrintTo(const FormatCase& value, std::ostream* os) { *os << value.name; }

class ColourBars : public testing::TestWithParam<FormatCase> {};

void Program(Host& host, uint8_t format, uint8_t options, uint32_t width, uint32_t height) {
  host.Write(0x10, {format, options});
  host.Write(0x14, {static_cast<uint8_t>(width), static_cast<uint8_t>(width >> 8),
                    static_cast<uint8_t>(height), static_cast<uint8_t>(height >> 8)});
}

TEST_P(ColourBars, SurviveTheOutputFormat) {
  const FormatCase& c = GetParam();
  auto camera = MakeCamera({});
  Host host(*camera);
  Program(host, c.format, c.options, kWidth, kHeight);
  ASSERT_EQ(camera->SelectAlternateSetting(7), host::UsbResult::Ok);
  FrameCollector collector;
  Stream(*camera, collector, 1);
  ASSERT_EQ(collector.frames().size(), 1u);
  const std::vector<uint8_t>& frame = collector.frames()[0];
  camencode::FrameFormat format;
  format.format = static_cast<camencode::OutputFormat>(c.format);
  format.width = kWidth;
  format.height = kHeight;
  ASSERT_GE(frame.size(), camencode::UncompressedFrameBytes(format));
  for (uint32_t bar = 0; bar < 8; ++bar) {
    uint32_t x = bar * kWidth / 8 + kWidth / 16;
    for (uint32_t y : {0u, kHeight / 2, kHeight - 2}) {
      Rgb expected = kColourBars[bar];
      if (c.greyOnly) {
        uint8_t luma = camencode::Luma(expected[0], expected[1], expected[2]);
        expected = {luma, luma, luma};
      }
      Rgb got = c.decode(frame, x, y);
      for (int ch = 0; ch < 3; ++ch) {
        EXPECT_NEAR(got[ch], expected[ch], c.tolerance)
            << "bar " << bar << " row " << y << " channel " << ch;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, ColourBars,
                         testing::Values(FormatCase{"Yuv422", 0, 0, DecodeYuv, 3, false},
                                         FormatCase{"BayerTwoLine", 1, 0,
                                                    [](auto& f, uint32_t x, uint32_t y) {
                                                      return DecodeBayer(f, x, y, false, false);
                                                    },
                                                    0, false},
                                         FormatCase{"BayerOneLine", 1, 1,
                                                    [](auto& f, uint32_t x, uint32_t y) {
                                                      return DecodeBayer(f, x, y, true, false);
                                                    },
                                                    0, false},
                                         FormatCase{"Bayer10TwoLine", 2, 0,
                                                    [](auto& f, uint32_t x, uint32_t y) {
                                                      return DecodeBayer(f, x, y, false, true);
                                                    },
                                                    0, false},
                                         FormatCase{"Bayer10OneLine", 2, 1,
                                                    [](auto& f, uint32_t x, uint32_t y) {
                                                      return DecodeBayer(f, x, y, true, true);
                                                    },
                                                    0, false},
                                         FormatCase{"Rgb565", 3, 0, DecodeRgb565, 4, false},
                                         FormatCase{"Grey", 4, 0, DecodeGrey, 0, true}),
                         [](const testing::TestParamInfo<FormatCase>& info) {
                           return info.param.name;
                         });

// ---- Pacing ----------------------------------------------------------------------------------

// The bus serves the data pipe in every microframe at high speed and once a bus frame at full
// speed; frames start at the programmed rate on that clock. A 640 x 480 packed-YUV frame
// (614,400 bytes) needs 3 x 1024-byte packets in the microframes to keep up with 30 fps.
TEST(Pacing, FramesFollowTheProgrammedRateOnTheBusClock) {
  struct Case {
    const char* speed;
    std::vector<std::string> knobs;
    uint8_t format;  // output format register
    uint32_t width, height;
    uint8_t rate;
    uint8_t clock;          // sensor clock register: the divider is this + 1
    uint8_t setting;        // alternate setting
    uint32_t unit;          // packet unit
    size_t expectedFrames;  // in one second of the bus
  } cases[] = {
      {"high", {}, 4, 64, 48, 30, 0, 7, 512, 30},
      {"high", {}, 4, 64, 48, 15, 0, 7, 512, 15},
      {"high", {}, 4, 64, 48, 30, 1, 7, 512, 15},
      {"high", {}, 4, 64, 48, 5, 0, 7, 512, 5},
      {"full", {}, 4, 64, 48, 30, 0, 2, 512, 30},
      {"high",
       {"packet_unit=1024", "alt_sizes=0,1024,1024,2048,2048,3072,3072,3072"},
       0,
       640,
       480,
       30,
       0,
       7,
       1024,
       30},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.speed) + " speed, " + std::to_string(c.width) + " x " +
                 std::to_string(c.height) + ", rate " + std::to_string(c.rate) + " clock " +
                 std::to_string(c.clock));
    std::vector<std::string> knobs = c.knobs;
    knobs.push_back(std::string("speed=") + c.speed);
    auto camera = MakeCamera(knobs);
    const bool high = camera->Speed() == host::UsbSpeed::High;
    EXPECT_EQ(high, std::string(c.speed) == "high");
    const uint64_t intervalsPerSecond = 1000 * host::IsochronousPacketsPerBusFrame(camera->Speed());
    EXPECT_EQ(intervalsPerSecond, high ? 8000u : 1000u);
    Host host(*camera);
    Program(host, c.format, 0, c.width, c.height);
    host.Write(0x18, {c.rate});
    host.WriteSensor(0x42, 0x11, c.clock);
    ASSERT_EQ(camera->SelectAlternateSetting(c.setting), host::UsbResult::Ok);
    FrameCollector collector(c.unit);
    Stream(*camera, collector, 1000, 0, intervalsPerSecond);
    EXPECT_EQ(collector.frames().size(), c.expectedFrames);
    EXPECT_EQ(camera->Statistics().framesSkipped, 0u);
    for (const auto& frame : collector.frames()) EXPECT_GE(frame.size(), c.width * c.height);
  }
}

TEST(Pacing, FramesLargerThanTheBusAllowsSkipFrameTimes) {
  auto camera = MakeCamera({});
  Host host(*camera);
  Program(host, 0, 0, 640, 480);  // 614,400 bytes: about 1230 microframes (154 ms) at 512 bytes
  camera->SelectAlternateSetting(2);
  FrameCollector collector;
  Stream(*camera, collector, 2);
  ASSERT_EQ(collector.frames().size(), 2u);
  EXPECT_GT(camera->Statistics().framesSkipped, 0u);
}

TEST(Pacing, NoVideoWithoutBandwidthOrWithVideoOff) {
  auto camera = MakeCamera({});
  Host host(*camera);
  FrameCollector collector;
  Stream(*camera, collector, 1, 0, 100);  // alternate setting 0
  EXPECT_TRUE(collector.frames().empty());
  camera->SelectAlternateSetting(7);
  host.Write(0x03, {0x00});  // video enable off
  Stream(*camera, collector, 1, 100, 100);
  EXPECT_TRUE(collector.frames().empty());
  EXPECT_EQ(camera->Statistics().dataPackets, 0u);
  host.Write(0x03, {0x01});
  Stream(*camera, collector, 1, 200, 100000);
  EXPECT_EQ(collector.frames().size(), 1u);
}

// ---- Sensor ------------------------------------------------------------------------------------

// The white bar's level in a grey frame after the sensor settings `setup` ran.
uint8_t WhiteLevelAfter(const std::vector<std::string>& knobs,
                        const std::function<void(Host&)>& setup) {
  auto camera = MakeCamera(knobs);
  Host host(*camera);
  Program(host, 4, 0, 64, 48);
  setup(host);
  camera->SelectAlternateSetting(7);
  FrameCollector collector;
  Stream(*camera, collector, 1);
  EXPECT_EQ(collector.frames().size(), 1u);
  return collector.frames().empty() ? 0 : collector.frames()[0][24 * 64 + 4];
}

TEST(Sensor, ExposureGainBrightnessAndLightChangeThePicture) {
  auto none = [](Host&) {};
  EXPECT_EQ(WhiteLevelAfter({}, none), 140);
  EXPECT_EQ(WhiteLevelAfter({"light=50"}, none), 70);
  EXPECT_EQ(WhiteLevelAfter({}, [](Host& h) { h.WriteSensor(0x42, 0x10, 0x20); }), 70);  // exposure
  EXPECT_EQ(WhiteLevelAfter({}, [](Host& h) { h.WriteSensor(0x42, 0x00, 0x80); }), 255);  // gain
  EXPECT_EQ(WhiteLevelAfter({}, [](Host& h) { h.WriteSensor(0x42, 0x06, 0x0A); }), 150);  // offset
  EXPECT_EQ(WhiteLevelAfter({"light=50"}, [](Host& h) { h.WriteSensor(0x42, 0x11, 0x01); }), 140);
}

TEST(Sensor, ChromaSwapExchangesTheColourDifferencesAndLightnessFollowsTheFrame) {
  auto camera = MakeCamera({});
  Host host(*camera);
  Program(host, 0, 0, 64, 48);
  host.WriteSensor(0x42, 0x12, 0x04);
  camera->SelectAlternateSetting(7);
  FrameCollector collector;
  Stream(*camera, collector, 1);
  ASSERT_EQ(collector.frames().size(), 1u);
  // Blue bar (x 48..55): U would be far above 128 and V below; swapped they trade places.
  const uint8_t* pair = &collector.frames()[0][(24 * 64 + 50) * 2];
  EXPECT_LT(pair[1], 128);
  EXPECT_GT(pair[3], 128);
  // Mean luma of the bars: about (140 + 124 + 98 + 82 + 58 + 42 + 16 + 0) / 8.
  EXPECT_NEAR(host.ReadSensor(0x42, 0x30), 70, 3);
}

TEST(Sensor, AutoExposureBrightensADarkScene) {
  auto camera = MakeCamera({"light=25"});
  Host host(*camera);
  Program(host, 4, 0, 64, 48);
  host.Write(0x18, {0});  // frames back to back
  host.WriteSensor(0x42, 0x13, 0x01);
  camera->SelectAlternateSetting(7);
  FrameCollector collector;
  Stream(*camera, collector, 100);
  ASSERT_EQ(collector.frames().size(), 100u);
  // One exposure step per frame towards the target: from 0x40 up by about 100.
  EXPECT_GT(host.ReadSensor(0x42, 0x10), 0x40 + 90);
  EXPECT_GT(host.ReadSensor(0x42, 0x30), 2 * 70 / 4);  // brighter than the scene alone
}

// ---- Faults on the video path -----------------------------------------------------------------

struct VideoFaultCase {
  const char* knob;
  std::function<void(const DeviceStatistics&, const FrameCollector&)> check;
};

TEST(VideoFaults, EachFaultHitsItsPacketAndIsCounted) {
  const VideoFaultCase cases[] = {
      {"drop_frame=1",
       [](const DeviceStatistics& s, const FrameCollector& c) {
         EXPECT_EQ(s.framesDropped, 1u);
         EXPECT_EQ(c.dropped(), 1);
         EXPECT_EQ(c.frames().size(), 3u);  // the three frames after it are whole
         for (const auto& f : c.frames()) EXPECT_GE(f.size(), 64u * 48 * 2);
       }},
      {"drop_packet=1",
       [](const DeviceStatistics& s, const FrameCollector& c) {
         EXPECT_EQ(s.packetsDropped, 1u);
         EXPECT_EQ(c.frames()[0].size(), 64u * 48 * 2 - 1524);  // one packet's data missing
       }},
      {"short_packet=1",
       [](const DeviceStatistics& s, const FrameCollector& c) {
         EXPECT_EQ(s.packetsShortened, 1u);
         EXPECT_LT(c.frames()[0].size(), 64u * 48 * 2);  // the short packet ended it early
       }},
      {"drop_packet_rate=100",
       [](const DeviceStatistics& s, const FrameCollector& c) {
         EXPECT_TRUE(c.frames().empty());
         EXPECT_EQ(s.packetsDropped, s.dataPackets);
       }},
  };
  for (const VideoFaultCase& c : cases) {
    SCOPED_TRACE(c.knob);
    auto camera = MakeCamera({c.knob});
    Host host(*camera);
    Program(host, 0, 0, 64, 48);
    camera->SelectAlternateSetting(7);
    FrameCollector collector;
    Stream(*camera, collector, 3, 0, 200 * kMicroframesPerMs);
    c.check(camera->Statistics(), collector);
  }
}

TEST(VideoFaults, UnencodableFramesAreDroppedWithA12BytePacket) {
  auto camera = MakeCamera({});
  Host host(*camera);
  Program(host, 0, 0, 63, 48);  // odd width
  camera->SelectAlternateSetting(7);
  std::vector<uint32_t> lengths;
  FrameCollector collector;
  Stream(*camera, collector, 1, 0, 100 * kMicroframesPerMs, &lengths);
  EXPECT_TRUE(collector.frames().empty());
  EXPECT_EQ(std::count(lengths.begin(), lengths.end(), 12u), 3);  // one per frame time
  EXPECT_EQ(camera->Statistics().framesUnencodable, 3u);
  host.Write(0x14, {0x00, 0x10});  // 4096 wide: more than the bridge makes
  Stream(*camera, collector, 1, 100 * kMicroframesPerMs, 30 * kMicroframesPerMs);
  EXPECT_EQ(camera->Statistics().framesUnencodable, 4u);
}

TEST(VideoFaults, SurpriseRemovalAfterNPackets) {
  auto camera = MakeCamera({"remove_after=10"});
  camera->SelectAlternateSetting(7);
  FrameCollector collector;
  uint64_t stopped = Stream(*camera, collector, 100, 0, 1000);
  EXPECT_EQ(stopped, 10u);
  EXPECT_FALSE(camera->Connected());
  EXPECT_EQ(camera->Statistics().packets, 10u);
}

TEST(VideoFaults, AlternateSettingChangeCutsTheFrameInFlight) {
  auto camera = MakeCamera({});
  camera->SelectAlternateSetting(7);
  FrameCollector collector;
  Stream(*camera, collector, 1, 0, 5);  // a VGA frame is far from done after 5 packets
  camera->SelectAlternateSetting(1);
  EXPECT_EQ(camera->Statistics().framesInterrupted, 1u);
}

}  // namespace
}  // namespace camemu
