// The video pin built from the registry: its table order (the current format, then the formats of
// its size, then the rest), the processor-speed gate of the modes, what a mode reads from its key,
// and the current format and frame rate remembered through the registry from one use to the next.
#include <cstring>
#include <optional>
#include <vector>

#include "registry_control.h"
#include "stream/capture_stream.h"
#include "stream_test_support.h"

namespace {

struct FormatKey {
  const char16_t* name;
  ULONG tag, width, height;
  std::vector<ULONG> modeRates;        // one mode subkey per rate (at alternate setting 1 + index)
  std::vector<ULONG> modeMinCpu = {};  // "MinCpuSpeed" per mode, when given
};

class VideoStream : public testing::Test {
 protected:
  void TearDown() override {
    if (stream_ != nullptr) stream_->Release();
    EXPECT_EQ(host::OpenRegistryHandleCount(), 0u) << "the stream objects left key handles open";
    host::ResetRegistry();
  }

  // Writes the stream key with its formats and modes.
  void WriteFormats(const std::vector<FormatKey>& formats) {
    for (const FormatKey& format : formats) {
      const std::u16string key = streamKey_ + u"\\" + format.name;
      host::WriteRegistryDword(key, u"Tag", format.tag);
      host::WriteRegistryDword(key, u"Width", format.width);
      host::WriteRegistryDword(key, u"Height", format.height);
      host::WriteRegistryDword(key, u"SourceWidth", format.width);
      host::WriteRegistryDword(key, u"SourceHeight", format.height);
      host::WriteRegistryDword(key, u"BitCount", 24);
      host::WriteRegistryDword(key, u"FourCC", 0);
      host::WriteRegistryDword(key, u"MaxFrameRate", 30000);
      host::WriteRegistryDword(key, u"MinFrameRate", 5000);
      host::WriteRegistryDword(key, u"TypFrameRate", 30000);
      for (size_t i = 0; i < format.modeRates.size(); ++i) {
        const std::u16string mode = key + u"\\Mode" + char16_t(u'0' + i);
        host::WriteRegistryDword(mode, u"FrameRate", format.modeRates[i]);
        host::WriteRegistryDword(mode, u"AlternateSetting", static_cast<ULONG>(1 + i));
        if (i < format.modeMinCpu.size()) {
          host::WriteRegistryDword(mode, u"MinCpuSpeed", format.modeMinCpu[i]);
        }
      }
    }
  }

  ICaptureStream* Create() {
    if (stream_ != nullptr) stream_->Release();
    stream_ = nullptr;
    EXPECT_EQ(CreateCaptureStream(root.owner(), kStreamPath, kVideoStreamNumber, &stream_),
              STATUS_SUCCESS);
    return stream_;
  }

  // Tags of the data ranges in the order the stream class gets them.
  std::vector<ULONG> TableTags() {
    std::vector<ULONG> tags;
    PointerList* formats = stream_->GetFormats(kVideoStreamNumber);
    PKSDATAFORMAT* ranges = nullptr;
    const ULONG count = stream_->GetDataRanges(&ranges);
    if (formats == nullptr) return tags;
    EXPECT_EQ(count, formats->count);
    ULONG index = 0;
    formats->Rewind();
    while (void* item = formats->Next()) {
      auto* format = static_cast<IVideoFormat*>(item);
      EXPECT_EQ(ranges[index++], reinterpret_cast<PKSDATAFORMAT>(format->GetDataRange()));
      tags.push_back(format->GetTag());
    }
    return tags;
  }

  static constexpr const char16_t* kStreamPath =
      u"CameraSetting\\SupportCamera\\TestModel\\VideoStream";
  StreamTestRoot root;
  std::u16string modelKey_ = root.AttachRegistry();
  std::u16string streamKey_ = modelKey_ + u"\\VideoStream";
  ICaptureStream* stream_ = nullptr;
};

TEST_F(VideoStream, TableStartsWithTheCurrentFormatThenItsSizeThenTheRest) {
  WriteFormats({{u"A", 1, 320, 240, {30000}},
                {u"B", 2, 640, 480, {30000}},
                {u"C", 3, 320, 240, {30000}},
                {u"D", 4, 640, 480, {}},  // no mode: dropped
                {u"E", 5, 640, 480, {15000}}});
  struct Case {
    std::optional<ULONG> currentFormat;
    std::vector<ULONG> table;
    ULONG current;  // tag of the current format, 0 for none
  } cases[] = {
      // Nothing remembered (the first case, before any is written): the pin offers no format.
      {std::nullopt, {}, 0},
      {2, {2, 5, 3, 1}, 2},
      {3, {3, 1, 5, 2}, 3},
      // No format has the remembered tag: reverse enumeration order, the last one current.
      {9, {5, 3, 2, 1}, 5},
  };
  for (const Case& c : cases) {
    if (c.currentFormat) host::WriteRegistryDword(modelKey_, u"CurrentFormat", *c.currentFormat);
    Create();
    EXPECT_EQ(TableTags(), c.table);
    IVideoFormat* current = stream_->GetCurrentFormat(kVideoStreamNumber);
    EXPECT_EQ(current != nullptr ? current->GetTag() : 0, c.current);
  }
}

TEST_F(VideoStream, ModesNeedingAFasterProcessorAreNeverOffered) {
  WriteFormats({{u"A", 1, 640, 480, {30000, 15000, 5000}, {800, 500, 0}}});
  host::WriteRegistryDword(modelKey_, u"CurrentFormat", 1);
  Create();
  IVideoFormat* format = stream_->GetCurrentFormat(kVideoStreamNumber);
  ASSERT_NE(format, nullptr);
  std::vector<ULONG> rates;
  format->GetModes()->Rewind();
  while (void* mode = format->GetModes()->Next()) {
    rates.push_back(static_cast<IFormatMode*>(mode)->GetFrameRate());
  }
  EXPECT_EQ(rates, (std::vector<ULONG>{15000, 5000}));
  // Every mode records the speed it was measured against.
  for (const char16_t* mode : {u"\\A\\Mode0", u"\\A\\Mode1", u"\\A\\Mode2"}) {
    auto speed = host::ReadRegistryValue(streamKey_ + mode, u"CpuSpeed");
    ASSERT_TRUE(speed.has_value());
    EXPECT_EQ(speed->data, (std::vector<uint8_t>{0xF4, 0x01, 0, 0}));
  }
}

TEST_F(VideoStream, ModeReadsItsKeyAndKeepsOnlyWholeQuantTables) {
  WriteFormats({{u"A", 1, 640, 480, {15000}}});
  host::WriteRegistryDword(modelKey_, u"CurrentFormat", 1);
  root.camera().sensorWidth = 640;
  root.camera().sensorHeight = 480;
  const std::u16string mode = streamKey_ + u"\\A\\Mode0";
  host::WriteRegistryDword(mode, u"RawData", 1);
  host::WriteRegistryDword(mode, u"OneLine", 1);
  host::WriteRegistryDword(mode, u"QualityLevel", 3);
  host::WriteRegistryValue(mode, u"YQuanTable", REG_BINARY, std::vector<uint8_t>(64, 7));
  host::WriteRegistryValue(mode, u"UVQuanTable", REG_BINARY, std::vector<uint8_t>(63, 9));
  host::WriteRegistryValue(mode, u"UsbCBR", REG_BINARY, {0x00, 0x12, 0x34});
  Create();
  auto* loaded =
      static_cast<FormatMode*>(stream_->GetCurrentFormat(kVideoStreamNumber)->GetCurrentMode());
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded->GetRawDataFlags(), 0x81);
  EXPECT_EQ(loaded->GetQualityLevel(), 3u);
  EXPECT_EQ(loaded->GetAlternateSetting(), 1);
  EXPECT_EQ(loaded->GetBitCount(), 8u);
  // No "RawFrameLength": twice the sensor's pixels.
  EXPECT_EQ(loaded->GetRawFrameLength(), 614400u);
  UCHAR y[64], uv[64];
  ASSERT_TRUE(loaded->GetQuantTables(y, uv));
  EXPECT_EQ(loaded->ownYTable, 1);
  EXPECT_EQ(y[0], 7);
  // 63 bytes are no table: the camera's default stands and is not the mode's own.
  EXPECT_EQ(loaded->ownUvTable, 0);
  UCHAR cameraY[64], cameraUv[64];
  root.camera().GetDefaultQuantTables(cameraY, cameraUv);
  EXPECT_EQ(memcmp(uv, cameraUv, sizeof uv), 0);
  ASSERT_NE(loaded->commandBlock, nullptr);
  EXPECT_EQ(loaded->commandBlock[0], 7u);
}

TEST_F(VideoStream, CurrentFormatAndFrameRateSurviveToTheNextStreamWhenSaved) {
  WriteFormats({{u"A", 1, 320, 240, {30000, 15000}}, {u"B", 2, 640, 480, {30000, 15000}}});
  for (ULONG save : {0u, 1u}) {
    host::WriteRegistryDword(modelKey_, u"CurrentFormat", 1);
    host::WriteRegistryDword(modelKey_, u"CurrentFrameRate", 30000);
    host::WriteRegistryDword(streamKey_, u"SaveFormat", save);
    Create();
    // The application asks for 640 x 480 at 20 fps: the 15 fps mode.
    PointerList* formats = stream_->GetFormats(kVideoStreamNumber);
    formats->Rewind();
    IVideoFormat* vga = nullptr;
    while (void* item = formats->Next()) {
      if (static_cast<IVideoFormat*>(item)->GetTag() == 2) vga = static_cast<IVideoFormat*>(item);
    }
    ASSERT_NE(vga, nullptr);
    KS_DATAFORMAT_VIDEOINFOHEADER request = RequestFor(*vga->GetDataRange(), 500000);
    ASSERT_EQ(stream_->Open(&request, kVideoStreamNumber), STATUS_SUCCESS);
    EXPECT_EQ(stream_->GetCurrentFormat(kVideoStreamNumber), vga);
    ASSERT_EQ(stream_->Close(kVideoStreamNumber), STATUS_SUCCESS);
    EXPECT_EQ(stream_->SaveFormat(kVideoStreamNumber), STATUS_SUCCESS);
    EXPECT_EQ(stream_->IsActive(kVideoStreamNumber), 0);

    Create();
    IVideoFormat* current = stream_->GetCurrentFormat(kVideoStreamNumber);
    ASSERT_NE(current, nullptr);
    EXPECT_EQ(current->GetTag(), save != 0 ? 2u : 1u) << "SaveFormat " << save;
    EXPECT_EQ(current->GetCurrentMode()->GetFrameRate(), save != 0 ? 15000u : 30000u)
        << "SaveFormat " << save;
  }
}

}  // namespace
