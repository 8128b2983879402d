// The image processor as the framework and the device use it: raw frames by format and quality
// level, the snapshot button's capture request and the last still, the still-mode change deferred
// while a still is read, and its custom properties. The neighbours are small fakes: the owner
// (answering the pool and the event notifier) and the stream's format and mode objects.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "core/buffer_pool.h"
#include "core/event_notifier_interface.h"
#include "host_control.h"
#include "image/color_formats.h"
#include "image/image_processor.h"
#include "stream/stream_interfaces.h"
#include "variant.h"

namespace {

class FakeNotifier : public IEventNotifier {
 public:
  NTSTATUS QueryInterface(REFGUID, void**) override { return STATUS_INVALID_PARAMETER; }
  LONG AddRef() override { return 1; }
  LONG Release() override { return 1; }
  NTSTATUS AccessEventHandle(DeviceContext*, ULONG, ULONG, ULONG*, UCHAR) override {
    return STATUS_SUCCESS;
  }
  void FillEventInfo(PHW_STREAM_REQUEST_BLOCK) override {}
  void SignalLaunch(DeviceContext*) override { ++launches; }
  void SignalAutoClose(DeviceContext*) override { ++autoCloses; }
  void SignalStillFrame(DeviceContext*) override { ++stills; }
  void SignalDeviceRemoved(DeviceContext*) override {}
  void StopButtonPolling(DeviceContext*) override {}
  void StartButtonPolling(DeviceContext*) override {}
  std::atomic<int> launches{0}, autoCloses{0}, stills{0};
};

// The camera as the processor sees it: the device's pool and the notifier; nothing else.
class FakeOwner : public IUnknown {
 public:
  explicit FakeOwner(IBufferPool* pool) : pool_(pool) {}
  NTSTATUS QueryInterface(REFGUID iid, void** result) override {
    if (IsEqualGuid(iid, IID_IBufferPool)) {
      *result = pool_;
      pool_->AddRef();
      return STATUS_SUCCESS;
    }
    if (IsEqualGuid(iid, IID_IEventNotifier)) {
      *result = static_cast<IEventNotifier*>(&notifier);
      return STATUS_SUCCESS;
    }
    *result = nullptr;
    return STATUS_INVALID_PARAMETER;
  }
  LONG AddRef() override { return 1; }
  LONG Release() override { return 1; }
  FakeNotifier notifier;

 private:
  IBufferPool* pool_;
};

class FakeMode : public IFormatMode {
 public:
  NTSTATUS QueryInterface(REFGUID, void**) override { return STATUS_INVALID_PARAMETER; }
  LONG AddRef() override { return 1; }
  LONG Release() override { return 1; }
  ULONG GetRawFrameLength() override { return 0; }
  NTSTATUS Apply() override { return STATUS_SUCCESS; }
  NTSTATUS ClearApplied() override { return STATUS_SUCCESS; }
  UCHAR IsApplied() override { return 1; }
  ULONG GetFrameRate() override { return 30000; }
  ULONG GetBitCount() override { return bitCount; }
  UCHAR GetAlternateSetting() override { return 1; }
  ULONG GetQualityLevel() override { return qualityLevel; }
  ULONG GetCameraDataType() override { return 0; }
  BOOLEAN GetQuantTables(UCHAR*, UCHAR*) override { return FALSE; }
  UCHAR GetRawDataFlags() override { return 0; }
  BOOLEAN IsSupported() override { return TRUE; }
  NTSTATUS Load() override { return STATUS_SUCCESS; }
  NTSTATUS LoadQuantTables() override { return STATUS_SUCCESS; }
  ULONG qualityLevel = 0;
  ULONG bitCount = 16;
};

class FakeFormat : public IVideoFormat {
 public:
  FakeFormat(ULONG width, ULONG height, ULONG compression) {
    range.VideoInfoHeader.bmiHeader.biWidth = static_cast<LONG>(width);
    range.VideoInfoHeader.bmiHeader.biHeight = static_cast<LONG>(height);
    range.VideoInfoHeader.bmiHeader.biCompression = compression;
    range.VideoInfoHeader.bmiHeader.biBitCount = compression == 0 ? 24 : 16;
  }
  NTSTATUS QueryInterface(REFGUID iid, void** result) override {
    *result = IsEqualGuid(iid, IID_IVideoFormat) ? static_cast<IVideoFormat*>(this) : nullptr;
    return *result != nullptr ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
  }
  LONG AddRef() override { return 1; }
  LONG Release() override { return 1; }
  UCHAR GetProgressive() override { return 1; }
#if defined(CAM_VARIANT_IBEXCAM)
  ULONG GetSourceWidth() override {
    return static_cast<ULONG>(range.VideoInfoHeader.bmiHeader.biWidth);
  }
  ULONG GetSourceHeight() override {
    return static_cast<ULONG>(range.VideoInfoHeader.bmiHeader.biHeight);
  }
#endif
  ULONG GetRawFrameLength() override { return 0; }
  NTSTATUS SaveCurrentFrameRate() override { return STATUS_SUCCESS; }
  NTSTATUS SelectFormat(PKS_DATAFORMAT_VIDEOINFOHEADER) override { return STATUS_SUCCESS; }
  NTSTATUS Activate() override { return STATUS_SUCCESS; }
  NTSTATUS Deactivate() override { return STATUS_SUCCESS; }
  UCHAR IsApplied() override { return 1; }
  PKS_DATARANGE_VIDEO GetDataRange() override { return &range; }
  IFormatMode* GetCurrentMode() override { return &mode; }
  BOOLEAN MatchDataRange(PKS_DATARANGE_VIDEO) override { return FALSE; }
  BOOLEAN MatchFormat(PKS_DATAFORMAT_VIDEOINFOHEADER) override { return FALSE; }
  ULONG GetTag() override { return 0; }
  PointerList* GetModes() override { return nullptr; }
  UCHAR GetBandwidthFailed() override { return 0; }
  BOOLEAN HasModes() override { return TRUE; }
  NTSTATUS SortModes(PointerList*) override { return STATUS_SUCCESS; }
  void LoadFormat() override {}
  NTSTATUS LoadModes() override { return STATUS_SUCCESS; }
  NTSTATUS ApplyRegisters() override { return STATUS_SUCCESS; }
  void BuildDataRange(ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG, ULONG) override {}
  KS_DATARANGE_VIDEO range{};
  FakeMode mode;
};

constexpr ULONG kWidth = 8, kHeight = 4, kPixels = kWidth * kHeight;

class ImageProcessorTest : public testing::Test {
 protected:
  void SetUp() override {
    UnknownBase* poolUnknown = nullptr;
    ASSERT_EQ(CreateBufferPool(&poolUnknown, CLSID_BufferPool, nullptr, NonPagedPool),
              STATUS_SUCCESS);
    poolUnknown_ = poolUnknown;
    void* pool = nullptr;
    ASSERT_EQ(poolUnknown->QueryInterface(IID_IBufferPool, &pool), STATUS_SUCCESS);
    pool_ = static_cast<IBufferPool*>(pool);
    owner_ = std::make_unique<FakeOwner>(pool_);
    UnknownBase* unknown = nullptr;
    ASSERT_EQ(CreateImageProcessor(&unknown, CLSID_ImageProcessor, u"Model\\DataProcessing",
                                   owner_.get(), nullptr, NonPagedPool),
              STATUS_SUCCESS);
    unknown_ = unknown;
    processor_ = static_cast<BridgeImageProcessor*>(unknown);
  }
  void TearDown() override {
    EXPECT_EQ(unknown_->Release(), 0);
    pool_->Release();
    poolUnknown_->Release();
  }
  void Open(FakeFormat* format) {
    processor_->OpenStream(owner_.get(), reinterpret_cast<PKSDATAFORMAT>(format), 0);
  }
  // One raw frame through the processor; bytes returned starts at a marker value.
  ULONG Frame(std::vector<UCHAR>& raw, std::vector<UCHAR>& frame, ULONG actual = ~0u) {
    ULONG returned = 0xDEAD;
    EXPECT_EQ(processor_->ProcessRawFrame(
                  nullptr, nullptr, nullptr, frame.data(), static_cast<ULONG>(frame.size()),
                  raw.data(), static_cast<ULONG>(raw.size()), 1, &returned,
                  actual == ~0u ? static_cast<ULONG>(raw.size()) : actual, 0),
              STATUS_SUCCESS);
    return returned;
  }
  void Press() {
    processor_->OnButtonEvent(nullptr, 0);
    processor_->OnButtonEvent(nullptr, 8);
  }
  // Grey packed YUV (Y0 U Y1 V) at one level: converts to three equal bytes of that level.
  static std::vector<UCHAR> GreyYuv(UCHAR level) {
    std::vector<UCHAR> raw(2 * kPixels);
    for (size_t i = 0; i < raw.size(); i += 4) {
      raw[i] = level;
      raw[i + 1] = 128;
      raw[i + 2] = level;
      raw[i + 3] = 128;
    }
    return raw;
  }

  UnknownBase* poolUnknown_ = nullptr;
  IBufferPool* pool_ = nullptr;
  std::unique_ptr<FakeOwner> owner_;
  UnknownBase* unknown_ = nullptr;
  BridgeImageProcessor* processor_ = nullptr;
};

TEST_F(ImageProcessorTest, AnswersItsInterfaceAndCountsOnItself) {
  void* answer = nullptr;
  ASSERT_EQ(unknown_->QueryInterface(IID_IImageProcessor, &answer), STATUS_SUCCESS);
  static_cast<IImageProcessor*>(answer)->Release();
  EXPECT_EQ(unknown_->QueryInterface(IID_ICamera, &answer), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(processor_->frameBuilder.headerPacketSize, 512u);
  EXPECT_EQ(processor_->longPressMs, 2500u);
}

TEST_F(ImageProcessorTest, ShortPressDropsOneFrameAndKeepsTheNextAsTheStill) {
  FakeFormat format(kWidth, kHeight, kCompressionRgb24);
  Open(&format);
  std::vector<UCHAR> frame(3 * kPixels);
  std::vector<UCHAR> raw = GreyYuv(90);
  processor_->stillMode = kStillFromVideo;
  processor_->pendingStillMode = kStillFromVideo;
  Press();
  EXPECT_EQ(Frame(raw, frame), 0u) << "the first frame after the press is dropped";
  EXPECT_EQ(owner_->notifier.stills, 0);
  raw = GreyYuv(100);
  EXPECT_EQ(Frame(raw, frame), 3 * kPixels);
  EXPECT_EQ(owner_->notifier.stills, 1);
  raw = GreyYuv(110);
  EXPECT_EQ(Frame(raw, frame), 3 * kPixels) << "later frames are delivered as usual";
  EXPECT_EQ(owner_->notifier.stills, 1);

  StillBitmapHeader header;
  ASSERT_EQ(processor_->GetLastFrameHeader(&header), STATUS_SUCCESS);
  EXPECT_EQ(header.width, static_cast<LONG>(kWidth));
  EXPECT_EQ(header.bitCount, 24);
  EXPECT_EQ(header.imageSize, 3 * kPixels);
  std::vector<UCHAR> still(3 * kPixels, 0);
  EXPECT_EQ(processor_->GetLastFrameData(still.data(), 3 * kPixels - 1), 0u);
  EXPECT_EQ(still, std::vector<UCHAR>(3 * kPixels, 0)) << "a short buffer gets nothing";
  EXPECT_EQ(processor_->GetLastFrameData(still.data(), 3 * kPixels), 3 * kPixels);
  EXPECT_EQ(still, std::vector<UCHAR>(3 * kPixels, 100)) << "the still is the frame after the drop";
}

TEST_F(ImageProcessorTest, PressWithoutVideoLaunchesAndLongPressClosesWhenEnabled) {
  Press();
  EXPECT_EQ(owner_->notifier.launches, 1);
  processor_->autoCloseEnabled = 1;
  processor_->OnButtonEvent(nullptr, 0);
  host::AdvanceVirtualTime(2500 * 10000LL);
  processor_->OnButtonEvent(nullptr, 8);
  EXPECT_EQ(owner_->notifier.autoCloses, 1);
  EXPECT_EQ(owner_->notifier.launches, 1);
}

TEST_F(ImageProcessorTest, ResetCancelsAPendingCapture) {
  FakeFormat format(kWidth, kHeight, kCompressionRgb24);
  Open(&format);
  std::vector<UCHAR> frame(3 * kPixels), raw = GreyYuv(50);
  Press();
  processor_->Reset(0);
  EXPECT_EQ(Frame(raw, frame), 3 * kPixels);
  EXPECT_EQ(owner_->notifier.stills, 0);
}

TEST_F(ImageProcessorTest, CompressedCopyIsCutToTwoBytesPerPixelAndReceivedBytes) {
  FakeFormat format(kWidth, kHeight, kFourCcMjpg);
  Open(&format);
  std::vector<UCHAR> raw(4 * kPixels, 0x11), frame(4 * kPixels, 0);
  EXPECT_EQ(Frame(raw, frame), 2 * kPixels);
  EXPECT_EQ(Frame(raw, frame, 20), 20u) << "bytes past what the camera sent are stale";
}

TEST_F(ImageProcessorTest, Rgb565AndGreyLevelsExpandToRgb) {
  if (!kIsLynxcam) GTEST_SKIP() << "ibexcam has no 16-bit RGB or grey modes";
  FakeFormat format(kWidth, kHeight, kCompressionRgb24);
  format.mode.qualityLevel = 4;
  Open(&format);
  std::vector<UCHAR> raw = {0xFF, 0xFF, 0xF8, 0x1F}, frame(3 * kPixels, 0);
  EXPECT_EQ(Frame(raw, frame), 6u);
  EXPECT_EQ(std::vector<UCHAR>(frame.begin(), frame.begin() + 6),
            (std::vector<UCHAR>{0xF8, 0xFC, 0xF8, 0xF8, 0x00, 0xF8}));
  format.mode.qualityLevel = 5;
  Open(&format);
  std::vector<UCHAR> grey(kPixels + 5, 7);
  EXPECT_EQ(Frame(grey, frame), 3 * kPixels) << "cut to the frame buffer";
}

TEST_F(ImageProcessorTest, UndecodableFrameGoesOutWithoutAByteCount) {
  if (!kHasDecoder) GTEST_SKIP() << "ibexcam has no compressed modes";
  FakeFormat format(kWidth, kHeight, kCompressionRgb24);
  format.mode.qualityLevel = 3;
  Open(&format);
  ASSERT_NE(processor_->decoder, nullptr);
  std::vector<UCHAR> raw(2 * kPixels, 0x5A), frame(3 * kPixels);
  EXPECT_EQ(Frame(raw, frame), 0xDEADu);
  EXPECT_EQ(Frame(raw, frame), 0xDEADu) << "the stream goes on";
  processor_->CloseStream(owner_.get(), nullptr, 0);
  EXPECT_EQ(processor_->decoder, nullptr);
}

TEST_F(ImageProcessorTest, ShortRawFrameIsNotConverted) {
  FakeFormat format(kWidth, kHeight, kCompressionRgb24);
  Open(&format);
  std::vector<UCHAR> raw(kPixels), frame(3 * kPixels);
  EXPECT_EQ(Frame(raw, frame), 0xDEADu);
}

TEST_F(ImageProcessorTest, CustomPropertiesThreeAndEight) {
  UCHAR request[40] = {}, reply[40];
  auto ask = [&](USHORT id, ULONG value, BOOLEAN set) {
    std::memcpy(request + 24, &value, 4);
    std::memcpy(request + 28, &id, 2);
    std::memset(reply, 0xEE, sizeof reply);
    return processor_->HandleCustomProperty(request, reply, sizeof reply, set);
  };
  auto answer = [&] {
    ULONG value, cleared;
    std::memcpy(&value, reply + 24, 4);
    std::memcpy(&cleared, reply + 28, 4);
    EXPECT_EQ(cleared, 0u);
    return value;
  };
  ASSERT_EQ(ask(3, 0, FALSE), STATUS_SUCCESS);
  EXPECT_EQ(answer(), 3u);
  processor_->translate = 0;
  ASSERT_EQ(ask(3, 0, FALSE), STATUS_SUCCESS);
  EXPECT_EQ(answer(), 2u);
  processor_->stillMode = kStillFromSensorRaw;
  processor_->rawProcessDisabled = 1;
  ASSERT_EQ(ask(3, 0, FALSE), STATUS_SUCCESS);
  EXPECT_EQ(answer(), 1u);
  ASSERT_EQ(ask(8, 4000, TRUE), STATUS_SUCCESS);
  ASSERT_EQ(ask(8, 0, FALSE), STATUS_SUCCESS);
  EXPECT_EQ(answer(), 4000u);
  EXPECT_EQ(processor_->HandleCustomProperty(request, reply, 31, FALSE), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(ask(50, 0, FALSE), kIsIbexcam ? STATUS_NOT_SUPPORTED : STATUS_SUCCESS);
}

// A still kept in still mode 2, ready to be read.
class StillModeTest : public ImageProcessorTest {
 protected:
  void SetUp() override {
    ImageProcessorTest::SetUp();
    processor_->stillMode = kStillFromVideo;
    processor_->pendingStillMode = kStillFromVideo;
    FakeFormat format(kWidth, kHeight, kCompressionRgb24);
    Open(&format);
    std::vector<UCHAR> frame(3 * kPixels), raw = GreyYuv(60);
    Press();
    Frame(raw, frame);
    Frame(raw, frame);
    processor_->stillMode = kStillFromVideo;
    processor_->pendingStillMode = kStillFromVideo;
  }
};

TEST_F(StillModeTest, ChangeWaitsForTheReadInProgress) {
  {
    LastFrameReadClaim read(&processor_->lastFrame);  // a read of the still, in progress
    EXPECT_EQ(processor_->SetStillMode(kStillFromSensorYuv, 1), kStillFromVideo);
    EXPECT_EQ(processor_->stillMode, kStillFromVideo);
  }
  // The next read to end takes the waiting mode.
  std::vector<UCHAR> still(3 * kPixels);
  EXPECT_EQ(processor_->GetLastFrameData(still.data(), 3 * kPixels), 3 * kPixels);
  EXPECT_EQ(processor_->stillMode, kStillFromSensorYuv);
  EXPECT_EQ(processor_->SetStillMode(kStillFromVideo, 0), kStillFromSensorYuv) << "apply 0";
  processor_->stillModeLocked = 1;
  EXPECT_EQ(processor_->SetStillMode(kStillFromVideo, 1), kStillFromSensorYuv) << "locked";
}

// Readers on one thread, mode changes on another: every change answers the old or the new mode,
// and once both stop the last asked mode is in force.
TEST_F(StillModeTest, ConcurrentReadsAndChangesSettleOnTheLastMode) {
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    std::vector<UCHAR> still(3 * kPixels);
    while (!stop) processor_->GetLastFrameData(still.data(), 3 * kPixels);
  });
  ULONG asked = kStillFromVideo;
  for (int round = 0; round < 2000; ++round) {
    const ULONG before = asked;
    asked = round % 2 == 0 ? kStillFromSensorYuv : kStillFromVideo;
    const ULONG answer = processor_->SetStillMode(asked, 1);
    EXPECT_TRUE(answer == asked || answer == before || answer == kStillFromVideo ||
                answer == kStillFromSensorYuv);
  }
  stop = true;
  reader.join();
  std::vector<UCHAR> still(3 * kPixels);
  processor_->GetLastFrameData(still.data(), 3 * kPixels);
  EXPECT_EQ(static_cast<ULONG>(processor_->stillMode), asked);
}

}  // namespace
