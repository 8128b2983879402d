// A format's data range as applications see it, the tests that decide whether a requested format
// or range is the format's own (with the frame interval pulled into its limits), and the tags that
// formats without a key take from the counter.
#include <cstring>

#include "stream_test_support.h"

namespace {

constexpr ULONG kYuy2 = 0x32595559;
constexpr ULONG kVraw = 'V' | ('R' << 8) | ('A' << 16) | (static_cast<ULONG>('W') << 24);

class FormatTest : public testing::Test {
 protected:
  StreamTestRoot root;
};

TEST_F(FormatTest, DataRangeCarriesSizeRatesAndBitRates) {
  struct Case {
    ULONG width, height, bits, fourCC, maxRate, minRate, typicalRate;
    LONGLONG minInterval, maxInterval, typicalInterval;
    ULONG imageSize;
    LONG minBitsPerSecond, maxBitsPerSecond;
  } cases[] = {
      {640, 480, 24, 0, 30000, 5000, 15000, 333333, 2000000, 666666, 921600, 36864000, 221184000},
      {320, 240, 24, 0, 30000, 30000, 30000, 333333, 333333, 333333, 230400, 55296000, 55296000},
      {176, 144, 16, kYuy2, 15000, 1, 1, 666666, 10000000000, 10000000000, 50688, 405, 6082560},
      // A rate of 0 counts as the slowest rate, never as a division by zero.
      {160, 120, 12, 0, 0, 0, 0, 10000000000, 10000000000, 10000000000, 28800, 0, 0},
  };
  for (const Case& c : cases) {
    ScopedFormat format(root, c.width, c.height, c.bits, c.fourCC, c.maxRate, c.minRate,
                        c.typicalRate);
    const KS_DATARANGE_VIDEO& range = *format->GetDataRange();
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.bits);
    EXPECT_EQ(range.DataRange.FormatSize, 296u);
    EXPECT_EQ(range.DataRange.SampleSize, c.imageSize);
    EXPECT_TRUE(IsEqualGuid(range.DataRange.MajorFormat, KSDATAFORMAT_TYPE_VIDEO));
    EXPECT_TRUE(IsEqualGuid(range.DataRange.Specifier, KSDATAFORMAT_SPECIFIER_VIDEOINFO));
    EXPECT_TRUE(IsEqualGuid(range.ConfigCaps.guid, KSDATAFORMAT_SPECIFIER_VIDEOINFO));
    EXPECT_EQ(range.StreamDescriptionFlags, KS_VIDEOSTREAM_CAPTURE);
    EXPECT_EQ(range.ConfigCaps.MinFrameInterval, c.minInterval);
    EXPECT_EQ(range.ConfigCaps.MaxFrameInterval, c.maxInterval);
    EXPECT_EQ(range.ConfigCaps.MinBitsPerSecond, c.minBitsPerSecond);
    EXPECT_EQ(range.ConfigCaps.MaxBitsPerSecond, c.maxBitsPerSecond);
    EXPECT_EQ(range.ConfigCaps.MaxOutputSize.cx, static_cast<LONG>(c.width));
    EXPECT_EQ(range.ConfigCaps.MaxOutputSize.cy, static_cast<LONG>(c.height));
    EXPECT_EQ(range.VideoInfoHeader.AvgTimePerFrame, c.typicalInterval);
    const KS_BITMAPINFOHEADER& header = range.VideoInfoHeader.bmiHeader;
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, static_cast<LONG>(c.width));
    EXPECT_EQ(header.biHeight, static_cast<LONG>(c.height));
    EXPECT_EQ(header.biBitCount, c.bits);
    EXPECT_EQ(header.biCompression, c.fourCC);
    EXPECT_EQ(header.biSizeImage, c.imageSize);
  }
}

TEST(Subformats, FollowTheFourCCAndForRgbTheBitCount) {
  struct Case {
    ULONG fourCC, bits;
    GUID subformat;
  } cases[] = {
      {0, 24, KSDATAFORMAT_SUBTYPE_RGB24},
      {0, 16, KSDATAFORMAT_SUBTYPE_RGB555},
      {0, 8, KSDATAFORMAT_SUBTYPE_RGB8},
      {0, 32, KSDATAFORMAT_SUBTYPE_RGB24},
      {kYuy2, 16, FourCCSubtype(kYuy2)},
      {0x30323449 /* I420 */, 12, FourCCSubtype(0x30323449)},
      {0x56555949 /* IYUV */, 12, FourCCSubtype(0x56555949)},
      {0x59565955 /* UYVY */, 16, FourCCSubtype(0x59565955)},
      {0x39555659 /* YVU9 */, 9, FourCCSubtype(0x39555659)},
      {kVraw, 8, FourCCSubtype(0x39555659)},
      {0xE436EB7B, 16, KSDATAFORMAT_SUBTYPE_RGB565},
      {0x47504A4D /* MJPG */, 24, KSDATAFORMAT_SUBTYPE_RGB24},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(IsEqualGuid(SubformatOf(c.fourCC, c.bits), c.subformat))
        << std::hex << c.fourCC << " " << std::dec << c.bits;
  }
}

TEST_F(FormatTest, FormatWithoutATagTakesTheNextCounterValue) {
  VideoFormat* first = ConstructWithRetry<VideoFormat>(nullptr, root.owner(), nullptr, 1);
  VideoFormat* second = ConstructWithRetry<VideoFormat>(nullptr, root.owner(), nullptr, 1);
  IVideoFormat* formats[] = {first, second};
  for (IVideoFormat* format : formats) {
    format->AddRef();
    EXPECT_EQ(format->GetTag(), kUntaggedFormat);
    format->BuildDataRange(640, 480, 24, 0, 1, 1, 1, KS_VIDEOSTREAM_STILL);
  }
  EXPECT_GE(first->GetTag(), kFirstCounterTag);
  EXPECT_EQ(second->GetTag(), first->GetTag() + 1);
  // A tag once given stays when the range is built again.
  const ULONG tag = first->GetTag();
  formats[0]->BuildDataRange(320, 240, 24, 0, 1, 1, 1, KS_VIDEOSTREAM_STILL);
  EXPECT_EQ(first->GetTag(), tag);
  for (IVideoFormat* format : formats) format->Release();
}

TEST_F(FormatTest, MatchFormatAcceptsItsOwnFormatAndClampsTheInterval) {
  ScopedFormat format(root, 640, 480, 24, 0, 30000, 5000, 15000);
  const KS_DATARANGE_VIDEO& range = *format->GetDataRange();
  struct Case {
    const char* what;
    LONGLONG interval;
    BOOLEAN match;
    LONGLONG clampedInterval;
    ULONG bitRate;  // after the match
  } cases[] = {
      {"inside", 500000, TRUE, 500000, range.VideoInfoHeader.dwBitRate},
      {"too slow", 5000000, TRUE, 2000000, 36864000},
      {"too fast", 100000, TRUE, 333333, 221184000},
      {"interval 0", 0, TRUE, 333333, 221184000},
  };
  for (const Case& c : cases) {
    KS_DATAFORMAT_VIDEOINFOHEADER request = RequestFor(range, c.interval);
    EXPECT_EQ(format->MatchFormat(&request), c.match) << c.what;
    EXPECT_EQ(request.VideoInfoHeader.AvgTimePerFrame, c.clampedInterval) << c.what;
    EXPECT_EQ(request.VideoInfoHeader.dwBitRate, c.bitRate) << c.what;
  }

  KS_DATAFORMAT_VIDEOINFOHEADER other = RequestFor(range, 500000);
  other.VideoInfoHeader.bmiHeader.biWidth = 320;
  EXPECT_FALSE(format->MatchFormat(&other));
  other = RequestFor(range, 500000);
  other.DataFormat.SubFormat = KSDATAFORMAT_SUBTYPE_RGB555;
  EXPECT_FALSE(format->MatchFormat(&other));
  // An application's format shorter than a video-info format is never read past its end.
  other = RequestFor(range, 500000);
  other.DataFormat.FormatSize = sizeof(KSDATAFORMAT);
  EXPECT_FALSE(format->MatchFormat(&other));
  EXPECT_FALSE(format->MatchFormat(nullptr));
}

TEST_F(FormatTest, MatchDataRangeNeedsTheWholeConfigurationOfTheRange) {
  ScopedFormat format(root, 320, 240, 24, 0, 30000, 5000, 30000);
  KS_DATARANGE_VIDEO candidate = *format->GetDataRange();
  candidate.VideoInfoHeader.AvgTimePerFrame = 10000000;
  EXPECT_TRUE(format->MatchDataRange(&candidate));
  EXPECT_EQ(candidate.VideoInfoHeader.AvgTimePerFrame, 2000000);
  EXPECT_EQ(candidate.VideoInfoHeader.bmiHeader.biSizeImage, 230400u);

  for (size_t offset = 0; offset < sizeof candidate.ConfigCaps; offset += 37) {
    KS_DATARANGE_VIDEO changed = *format->GetDataRange();
    reinterpret_cast<UCHAR*>(&changed.ConfigCaps)[offset] ^= 1;
    EXPECT_FALSE(format->MatchDataRange(&changed)) << "byte " << offset;
  }
  KS_DATARANGE_VIDEO shortRange = *format->GetDataRange();
  shortRange.DataRange.FormatSize = sizeof(KSDATARANGE);
  EXPECT_FALSE(format->MatchDataRange(&shortRange));
}

TEST_F(FormatTest, RawFrameLengthWithoutAModeLeavesRoomForTheFrame) {
  ScopedFormat format(root, 640, 480, 24, 0, 30000, 5000, 30000);
  EXPECT_EQ(format->GetRawFrameLength(), (480u + 16) * 640 * 3 / 2 + 2048);
}

TEST(FrameRates, IntervalsAndRatesConvertBothWays) {
  EXPECT_EQ(FrameIntervalOfRate(30000), 333333);
  EXPECT_EQ(FrameIntervalOfRate(5000), 2000000);
  EXPECT_EQ(FrameRateOfInterval(333333), 30000u);
  EXPECT_EQ(FrameRateOfInterval(500000), 20000u);
  EXPECT_EQ(FrameRateOfInterval(0), 0u);
  EXPECT_EQ(FrameRateOfInterval(9), 0u);
}

}  // namespace
