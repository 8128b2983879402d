// The still pin: its formats by the camera's still-support type, and its open and close, which
// claim no bandwidth.
#include "stream/capture_stream.h"
#include "stream_test_support.h"

namespace {

class StillStream : public testing::Test {
 protected:
  ICaptureStream* Create(ULONG supportType) {
    root.camera().stillSupportType = supportType;
    root.camera().sensorWidth = 640;
    root.camera().sensorHeight = 480;
    ICaptureStream* stream = nullptr;
    EXPECT_EQ(CreateCaptureStream(root.owner(), nullptr, kStillStreamNumber, &stream),
              STATUS_SUCCESS);
    return stream;
  }

  StreamTestRoot root;
};

TEST_F(StillStream, SensorSizedStillForTypesThreeAndFourNoneOtherwise) {
  for (ULONG type : {0u, 1u, 2u, 3u, 4u, 5u}) {
    ICaptureStream* stream = Create(type);
    PKSDATAFORMAT* ranges = nullptr;
    const ULONG count = stream->GetDataRanges(&ranges);
    if (type == 3 || type == 4) {
      ASSERT_EQ(count, 1u) << type;
      const auto* range = reinterpret_cast<const KS_DATARANGE_VIDEO*>(ranges[0]);
      EXPECT_EQ(range->VideoInfoHeader.bmiHeader.biWidth, 640);
      EXPECT_EQ(range->VideoInfoHeader.bmiHeader.biHeight, 480);
      EXPECT_EQ(range->VideoInfoHeader.bmiHeader.biBitCount, 24);
      EXPECT_EQ(range->StreamDescriptionFlags, KS_VIDEOSTREAM_STILL);
      IVideoFormat* current = stream->GetCurrentFormat(kStillStreamNumber);
      ASSERT_NE(current, nullptr);
      EXPECT_EQ(reinterpret_cast<PKSDATAFORMAT>(current->GetDataRange()), ranges[0]);
      EXPECT_GE(current->GetTag(), kFirstCounterTag);
    } else {
      // With video stream 2 the stills copy the video formats; this camera has no video stream.
      EXPECT_EQ(count, 0u) << type;
      EXPECT_EQ(ranges, nullptr);
      EXPECT_EQ(stream->GetCurrentFormat(kStillStreamNumber), nullptr);
    }
    stream->Release();
  }
}

TEST_F(StillStream, OpensOnceClosesWithoutTouchingTheBandwidth) {
  ICaptureStream* stream = Create(3);
  IVideoFormat* still = stream->GetCurrentFormat(kStillStreamNumber);
  KS_DATAFORMAT_VIDEOINFOHEADER request = RequestFor(*still->GetDataRange(), 10000000);

  EXPECT_EQ(stream->Open(&request, kVideoStreamNumber), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(stream->Open(&request, kStillStreamNumber), STATUS_SUCCESS);
  EXPECT_EQ(stream->IsOpen(kStillStreamNumber), 1);
  EXPECT_EQ(stream->IsOpen(kVideoStreamNumber), 0);
  EXPECT_EQ(stream->IsActive(kStillStreamNumber), 1);
  EXPECT_EQ(stream->Open(&request, kStillStreamNumber), STATUS_INVALID_PARAMETER);

  EXPECT_EQ(stream->Close(kStillStreamNumber), STATUS_SUCCESS);
  EXPECT_EQ(stream->IsOpen(kStillStreamNumber), 0);
  EXPECT_TRUE(root.Asked().empty());
  ASSERT_EQ(root.processor.events.size(), 2u);
  EXPECT_TRUE(root.processor.events[0].open);
  EXPECT_FALSE(root.processor.events[1].open);
  for (const RecordingProcessor::Event& event : root.processor.events) {
    EXPECT_EQ(event.streamNumber, kStillStreamNumber);
    EXPECT_EQ(event.format, reinterpret_cast<PKSDATAFORMAT>(still));
  }
  // Only the video stream's format is remembered.
  EXPECT_EQ(stream->SaveFormat(kStillStreamNumber), STATUS_INVALID_PARAMETER);
  stream->Release();
}

TEST_F(StillStream, AFormatOfAnotherSizeOpensNothing) {
  ICaptureStream* stream = Create(4);
  KS_DATAFORMAT_VIDEOINFOHEADER request =
      RequestFor(*stream->GetCurrentFormat(kStillStreamNumber)->GetDataRange(), 10000000);
  request.VideoInfoHeader.bmiHeader.biWidth = 320;
  EXPECT_EQ(stream->Open(&request, kStillStreamNumber), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(stream->IsOpen(kStillStreamNumber), 0);
  EXPECT_EQ(stream->IsActive(kStillStreamNumber), 0);
  EXPECT_EQ(stream->GetCurrentFormat(kStillStreamNumber), nullptr);
  EXPECT_TRUE(root.processor.events.empty());
  stream->Release();
}

}  // namespace
