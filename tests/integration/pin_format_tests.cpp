// What an application learns before it opens a pin: the pins' data ranges in the order the camera
// offers them, and the formats the data intersection makes of them.
#include <cstring>

#include "core/identifiers.h"
#include "integration_fixture.h"
#include "support/camera_install.h"

namespace {

using camera_install::FormatEntry;
using camera_install::kDefaultFormats;

const FormatEntry& FormatTagged(uint32_t tag) {
  for (const FormatEntry& format : kDefaultFormats) {
    if (format.tag == tag) return format;
  }
  ADD_FAILURE() << "no format tagged " << tag;
  return kDefaultFormats[0];
}

// The subformat of a FourCC: the FourCC in the first field of the media subtype base GUID.
GUID SubformatOf(uint32_t fourCC) {
  if (fourCC == 0) return KSDATAFORMAT_SUBTYPE_RGB24;
  return GUID{fourCC, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

using PinFormats = IntegrationTest;

// The current format (640 x 480 packed YUV) comes first, then the other format of its size, then
// the rest in the reverse of their keys' order.
TEST_F(PinFormats, VideoRangesStartWithTheCurrentFormatThenItsSizeThenTheRest) {
  auto device = Open(camera_install::InstallDefaultCamera());
  ASSERT_NE(device, nullptr);
  std::vector<host::PinDescription> pins = device->Pins();
  ASSERT_EQ(pins.size(), 2u);
  const uint32_t expectedTags[] = {1, 4, 2, 3};
  ASSERT_EQ(pins[0].dataRanges.size(), std::size(expectedTags));
  for (size_t at = 0; at < std::size(expectedTags); ++at) {
    SCOPED_TRACE("range " + std::to_string(at));
    const FormatEntry& expected = FormatTagged(expectedTags[at]);
    ASSERT_EQ(pins[0].dataRanges[at].size(), sizeof(KS_DATARANGE_VIDEO));
    const KS_DATARANGE_VIDEO& range = AsRange(pins[0].dataRanges[at]);
    const KS_BITMAPINFOHEADER& bitmap = range.VideoInfoHeader.bmiHeader;
    EXPECT_EQ(static_cast<uint32_t>(bitmap.biWidth), expected.width);
    EXPECT_EQ(static_cast<uint32_t>(bitmap.biHeight), expected.height);
    EXPECT_EQ(bitmap.biBitCount, expected.bitCount);
    EXPECT_EQ(bitmap.biCompression, expected.fourCC);
    EXPECT_TRUE(IsEqualGuid(range.DataRange.SubFormat, SubformatOf(expected.fourCC)));
    const uint64_t bits = uint64_t{expected.width} * expected.height * expected.bitCount;
    EXPECT_EQ(range.DataRange.SampleSize, bits / 8);
    EXPECT_EQ(range.StreamDescriptionFlags, 2u);
    // 30 to 5 frames a second
    EXPECT_EQ(range.ConfigCaps.MinFrameInterval, 333333);
    EXPECT_EQ(range.ConfigCaps.MaxFrameInterval, 2000000);
    EXPECT_EQ(static_cast<uint64_t>(range.ConfigCaps.MaxBitsPerSecond), bits * 30);
    EXPECT_EQ(static_cast<uint64_t>(range.ConfigCaps.MinBitsPerSecond), bits * 5);
    EXPECT_EQ(range.VideoInfoHeader.AvgTimePerFrame, 333333);
  }
  // The still pin: one picture at the sensor's size, 24-bit RGB.
  ASSERT_EQ(pins[1].dataRanges.size(), 1u);
  const KS_DATARANGE_VIDEO& still = AsRange(pins[1].dataRanges[0]);
  EXPECT_EQ(still.VideoInfoHeader.bmiHeader.biWidth, 640);
  EXPECT_EQ(still.VideoInfoHeader.bmiHeader.biHeight, 480);
  EXPECT_EQ(still.VideoInfoHeader.bmiHeader.biBitCount, 24);
  EXPECT_TRUE(IsEqualGuid(still.DataRange.SubFormat, KSDATAFORMAT_SUBTYPE_RGB24));
  EXPECT_EQ(still.StreamDescriptionFlags, 0x1000u);
}

TEST_F(PinFormats, DataIntersectionReportsItsSizeThenFillsTheFormat) {
  auto device = Open(camera_install::InstallDefaultCamera());
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> range = RangeOf(*device, 0, 320, 240, 24);
  ASSERT_FALSE(range.empty());
  const ULONG formatSize = sizeof(KS_DATAFORMAT_VIDEOINFOHEADER);
  std::vector<uint8_t> format;
  ULONG transferred = 0;
  // The size query, then the 4-byte form that carries the size.
  EXPECT_EQ(device->DataIntersection(0, range, 0, &format, &transferred), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(transferred, formatSize);
  ASSERT_EQ(device->DataIntersection(0, range, 4, &format, &transferred), STATUS_SUCCESS);
  ASSERT_EQ(transferred, 4u);
  ULONG reported = 0;
  memcpy(&reported, format.data(), sizeof reported);
  EXPECT_EQ(reported, formatSize);
  // The full reply.
  ASSERT_EQ(device->DataIntersection(0, range, formatSize, &format, &transferred), STATUS_SUCCESS);
  ASSERT_EQ(transferred, formatSize);
  const KS_DATAFORMAT_VIDEOINFOHEADER& reply = AsFormat(format);
  EXPECT_EQ(reply.DataFormat.FormatSize, formatSize);
  EXPECT_TRUE(IsEqualGuid(reply.DataFormat.MajorFormat, KSDATAFORMAT_TYPE_VIDEO));
  EXPECT_TRUE(IsEqualGuid(reply.DataFormat.SubFormat, KSDATAFORMAT_SUBTYPE_RGB24));
  EXPECT_TRUE(IsEqualGuid(reply.DataFormat.Specifier, KSDATAFORMAT_SPECIFIER_VIDEOINFO));
  EXPECT_EQ(reply.VideoInfoHeader.bmiHeader.biSize, 40u);
  EXPECT_EQ(reply.VideoInfoHeader.bmiHeader.biWidth, 320);
  EXPECT_EQ(reply.VideoInfoHeader.bmiHeader.biHeight, 240);
  EXPECT_EQ(reply.VideoInfoHeader.bmiHeader.biSizeImage, 230400u);
  EXPECT_EQ(reply.DataFormat.SampleSize, 230400u);
  EXPECT_EQ(reply.VideoInfoHeader.AvgTimePerFrame, 333333);
  // The still pin answers for its own range, and for no other stream.
  std::vector<uint8_t> stillRange = device->Pins()[1].dataRanges[0];
  EXPECT_EQ(device->DataIntersection(1, stillRange, formatSize, &format, &transferred),
            STATUS_SUCCESS);
  EXPECT_EQ(AsFormat(format).VideoInfoHeader.bmiHeader.biSizeImage, 640u * 480 * 3);
  EXPECT_EQ(device->DataIntersection(1, range, formatSize, &format, &transferred), STATUS_NO_MATCH);
}

// A range asking for a frame interval outside the format's gets the nearest limit and the bit rate
// that goes with it.
TEST_F(PinFormats, DataIntersectionClampsTheFrameIntervalIntoTheFormatsLimits) {
  auto device = Open(camera_install::InstallDefaultCamera());
  ASSERT_NE(device, nullptr);
  const std::vector<uint8_t> range = RangeOf(*device, 0, 640, 480, 16);
  ASSERT_FALSE(range.empty());
  const KS_VIDEO_STREAM_CONFIG_CAPS& caps = AsRange(range).ConfigCaps;
  struct Case {
    LONGLONG asked;
    LONGLONG interval;
    int64_t bitRate;
  };
  const Case cases[] = {{100000, caps.MinFrameInterval, caps.MaxBitsPerSecond},
                        {50000000, caps.MaxFrameInterval, caps.MinBitsPerSecond},
                        {1000000, 1000000, AsRange(range).VideoInfoHeader.dwBitRate}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.asked);
    std::vector<uint8_t> asked = range;
    reinterpret_cast<KS_DATARANGE_VIDEO*>(asked.data())->VideoInfoHeader.AvgTimePerFrame =
        test.asked;
    std::vector<uint8_t> format = FormatFor(*device, 0, asked);
    ASSERT_FALSE(format.empty());
    EXPECT_EQ(AsFormat(format).VideoInfoHeader.AvgTimePerFrame, test.interval);
    EXPECT_EQ(int64_t{AsFormat(format).VideoInfoHeader.dwBitRate}, test.bitRate);
  }
}

// Ranges and formats the driver did not offer, or whose sizes do not hold together, find no match
// and are never read past what they declare.
TEST_F(PinFormats, MalformedRangesAndFormatsAreRefused) {
  auto device = Open(camera_install::InstallDefaultCamera());
  ASSERT_NE(device, nullptr);
  const std::vector<uint8_t> range = RangeOf(*device, 0, 640, 480, 16);
  ASSERT_FALSE(range.empty());
  struct RangeCase {
    const char* name;
    void (*change)(KS_DATARANGE_VIDEO*);
  };
  const RangeCase rangeCases[] = {
      {"declared shorter than a video range",
       [](KS_DATARANGE_VIDEO* r) { r->DataRange.FormatSize = sizeof(KSDATARANGE); }},
      {"bitmap header past the range",
       [](KS_DATARANGE_VIDEO* r) { r->VideoInfoHeader.bmiHeader.biSize = 4096; }},
      {"bitmap header shorter than its fixed part",
       [](KS_DATARANGE_VIDEO* r) { r->VideoInfoHeader.bmiHeader.biSize = 8; }},
      {"another bit count",
       [](KS_DATARANGE_VIDEO* r) { r->VideoInfoHeader.bmiHeader.biBitCount = 24; }},
  };
  for (const RangeCase& test : rangeCases) {
    SCOPED_TRACE(test.name);
    std::vector<uint8_t> asked = range;
    test.change(reinterpret_cast<KS_DATARANGE_VIDEO*>(asked.data()));
    std::vector<uint8_t> format;
    ULONG transferred = 0;
    EXPECT_EQ(device->DataIntersection(0, asked, 1024, &format, &transferred), STATUS_NO_MATCH);
  }
  {
    // A range that claims more bytes than the caller passed never reaches the driver.
    std::vector<uint8_t> truncated(range.begin(), range.end() - 8);
    std::vector<uint8_t> format;
    ULONG transferred = 0;
    EXPECT_EQ(device->DataIntersection(0, truncated, 1024, &format, &transferred),
              STATUS_INVALID_BUFFER_SIZE);
  }
  const std::vector<uint8_t> good = FormatFor(*device, 0, range);
  ASSERT_FALSE(good.empty());
  host::ClientPin* pin = nullptr;
  // A bare data format header, and a picture of a size no format has.
  std::vector<uint8_t> bare(good.begin(), good.begin() + sizeof(KSDATAFORMAT));
  reinterpret_cast<KSDATAFORMAT*>(bare.data())->FormatSize = sizeof(KSDATAFORMAT);
  EXPECT_FALSE(NT_SUCCESS(device->OpenPin(0, bare, &pin)));
  std::vector<uint8_t> otherSize = good;
  reinterpret_cast<KS_DATAFORMAT_VIDEOINFOHEADER*>(otherSize.data())
      ->VideoInfoHeader.bmiHeader.biWidth = 800;
  EXPECT_FALSE(NT_SUCCESS(device->OpenPin(0, otherSize, &pin)));
  ASSERT_EQ(device->OpenPin(0, good, &pin), STATUS_SUCCESS);
  EXPECT_EQ(device->ClosePin(pin), STATUS_SUCCESS);
}

}  // namespace
