// VideoFormat: one entry of a capture pin's format table. A format key in the registry gives its
// size, bit count, FourCC and frame-rate limits, which become the kernel-streaming data range that
// applications see, and its register lists, written when an application takes the format. Its
// subkeys are the format's transfer modes (FormatMode), of which it brings up one per selection.
// Still formats have no key: the stream builds their range itself.
#pragma once

#include "stream/camera_link.h"

class ICaptureStream;

// Tag of a format that has none yet; BuildDataRange then gives it the next counter value.
inline constexpr ULONG kUntaggedFormat = 0xFFFF;
// The first tag that the counter hands out (the four bytes "5432" in memory).
inline constexpr ULONG kFirstCounterTag = 0x32333435;

// 100 ns units per frame at a rate in thousandths of a frame per second. Rate 0 counts as the
// slowest rate there is, 1, rather than dividing by it.
LONGLONG FrameIntervalOfRate(ULONG frameRate);
// The rate, in thousandths of a frame per second, of a frame interval: 0 for an interval below
// 10 (100 ns units). Only the low 32 bits of the interval take part.
ULONG FrameRateOfInterval(LONGLONG frameInterval);
// The subformat of a FourCC and bit count (0 is uncompressed RGB).
GUID SubformatOf(ULONG fourCC, ULONG bitCount);

class VideoFormat final : public Delegating<IVideoFormat, VideoFormat>,
                          public UnknownPart<VideoFormat> {
 public:
  // keyPath null: a still format, whose range the stream builds with BuildDataRange. Otherwise the
  // format key is read with its modes.
  VideoFormat(PCWSTR keyPath, ICaptureControl* owner, ICaptureStream* stream, ULONG still);
  ~VideoFormat();

  NTSTATUS QueryClassInterface(REFGUID iid, void** result);

  // IVideoFormat
  UCHAR GetProgressive() override;
  // The source-size slots belong to ibexcam's IVideoFormat only; in lynxcam they are plain members.
  ULONG GetSourceWidth();
  ULONG GetSourceHeight();
  ULONG GetRawFrameLength() override;
  NTSTATUS SaveCurrentFrameRate() override;
  NTSTATUS SelectFormat(PKS_DATAFORMAT_VIDEOINFOHEADER format) override;
  NTSTATUS Activate() override;
  NTSTATUS Deactivate() override;
  UCHAR IsApplied() override;
  PKS_DATARANGE_VIDEO GetDataRange() override;
  IFormatMode* GetCurrentMode() override;
  BOOLEAN MatchDataRange(PKS_DATARANGE_VIDEO range) override;
  BOOLEAN MatchFormat(PKS_DATAFORMAT_VIDEOINFOHEADER format) override;
  ULONG GetTag() override;
  PointerList* GetModes() override;
  UCHAR GetBandwidthFailed() override;
  BOOLEAN HasModes() override;
  NTSTATUS SortModes(PointerList* modeList) override;
  void LoadFormat() override;
  NTSTATUS LoadModes() override;
  NTSTATUS ApplyRegisters() override;
  void BuildDataRange(ULONG width, ULONG height, ULONG bitCount, ULONG fourCC, ULONG maxFrameRate,
                      ULONG minFrameRate, ULONG typicalFrameRate, ULONG streamType) override;

  // Brings up the first mode of at most frameRate whose alternate setting the bus grants, else the
  // slowest mode; STATUS_NOT_SUPPORTED without modes.
  NTSTATUS ChooseMode(ULONG frameRate);

  // Fields, in order.
  PointerList* modes;  // IFormatMode pointers, each holding one reference; null without modes
  KS_DATARANGE_VIDEO dataRange;
  ULONG tag;
  UCHAR applied;
  StreamRegisterList usbSettings;     // "UsbSetting": bridge registers
  StreamRegisterList cameraSettings;  // "CameraSetting": sensor registers
  WCHAR keyPath[kStreamPathChars];
  ICaptureControl* owner;  // uncounted
  ICaptureStream* stream;
  IFormatMode* currentMode;  // an element of modes
  UCHAR bandwidthFailed;
  ULONG still;
  UCHAR progressive;
  ULONG sourceWidth;        // ibexcam: "SourceWidth"
  ULONG sourceHeight;       // ibexcam: "SourceHeight"
  IBufferPool* bufferPool;  // uncounted
};
