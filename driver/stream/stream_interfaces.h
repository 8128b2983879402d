// The interfaces of a capture pin and its format table: ICaptureStream (one pin), IVideoFormat (one
// entry of the pin's table, built from a registry key) and IFormatMode (one transfer mode of a
// format: frame rate, alternate setting, registers). Slots are declared in their fixed order.
#pragma once

#include "core/pointer_list.h"
#include "ks.h"
#include "variant.h"

// Picks First when the condition holds, else Second (the driver has no <type_traits>).
template <bool Condition, class First, class Second>
struct SelectType {
  using Type = First;
};
template <class First, class Second>
struct SelectType<false, First, Second> {
  using Type = Second;
};

class IFormatMode : public IUnknown {
 public:
  virtual ULONG GetRawFrameLength() = 0;
  virtual NTSTATUS Apply() = 0;
  virtual NTSTATUS ClearApplied() = 0;
  virtual UCHAR IsApplied() = 0;
  virtual ULONG GetFrameRate() = 0;
  virtual ULONG GetBitCount() = 0;
  virtual UCHAR GetAlternateSetting() = 0;
  virtual ULONG GetQualityLevel() = 0;
  virtual ULONG GetCameraDataType() = 0;
  // Copies the 64-byte Y and UV quantisation tables; FALSE (nothing copied) when either is missing.
  virtual BOOLEAN GetQuantTables(UCHAR* yTable, UCHAR* uvTable) = 0;
  virtual UCHAR GetRawDataFlags() = 0;
  virtual BOOLEAN IsSupported() = 0;
  virtual NTSTATUS Load() = 0;
  virtual NTSTATUS LoadQuantTables() = 0;

 protected:
  ~IFormatMode() = default;
};

// Bits of GetRawDataFlags besides the "RawData" byte.
inline constexpr UCHAR kRawDataOneLine = 0x80;
inline constexpr UCHAR kRawDataDownSample = 0x40;

// The first slot of IVideoFormat.
class IVideoFormatHead : public IUnknown {
 public:
  virtual UCHAR GetProgressive() = 0;

 protected:
  ~IVideoFormatHead() = default;
};

// ibexcam's formats also say from which sensor-side size the image processor scales: two slots
// right after GetProgressive, so that every later slot of its IVideoFormat sits two further on.
class IVideoFormatSourceSize : public IVideoFormatHead {
 public:
  virtual ULONG GetSourceWidth() = 0;
  virtual ULONG GetSourceHeight() = 0;

 protected:
  ~IVideoFormatSourceSize() = default;
};

class IVideoFormat
    : public SelectType<kHasSourceScaling, IVideoFormatSourceSize, IVideoFormatHead>::Type {
 public:
  // Raw bytes per frame that the framework must allocate.
  virtual ULONG GetRawFrameLength() = 0;
  virtual NTSTATUS SaveCurrentFrameRate() = 0;
  // Takes the format when it is this one: clamps the frame interval in place, writes the registers
  // and brings up a mode for the asked rate.
  virtual NTSTATUS SelectFormat(PKS_DATAFORMAT_VIDEOINFOHEADER format) = 0;
  virtual NTSTATUS Activate() = 0;
  virtual NTSTATUS Deactivate() = 0;
  virtual UCHAR IsApplied() = 0;
  virtual PKS_DATARANGE_VIDEO GetDataRange() = 0;
  virtual IFormatMode* GetCurrentMode() = 0;
  // TRUE when the range is this format's own; its interval and bit rate are clamped in place.
  virtual BOOLEAN MatchDataRange(PKS_DATARANGE_VIDEO range) = 0;
  // TRUE when the format is this one; its interval and bit rate are clamped in place.
  virtual BOOLEAN MatchFormat(PKS_DATAFORMAT_VIDEOINFOHEADER format) = 0;
  virtual ULONG GetTag() = 0;
  // The modes (IFormatMode pointers) in selection order, or null.
  virtual PointerList* GetModes() = 0;
  virtual UCHAR GetBandwidthFailed() = 0;
  virtual BOOLEAN HasModes() = 0;
  virtual NTSTATUS SortModes(PointerList* modes) = 0;
  virtual void LoadFormat() = 0;
  virtual NTSTATUS LoadModes() = 0;
  virtual NTSTATUS ApplyRegisters() = 0;
  virtual void BuildDataRange(ULONG width, ULONG height, ULONG bitCount, ULONG fourCC,
                              ULONG maxFrameRate, ULONG minFrameRate, ULONG typicalFrameRate,
                              ULONG streamType) = 0;

 protected:
  ~IVideoFormat() = default;
};

// The sensor-side size of a format: the source size in ibexcam, the format's own size otherwise.
template <class Format>
void GetFormatSourceSize(Format* format, ULONG* width, ULONG* height) {
  if constexpr (kHasSourceScaling) {
    *width = format->GetSourceWidth();
    *height = format->GetSourceHeight();
  } else {
    const KS_BITMAPINFOHEADER& header = format->GetDataRange()->VideoInfoHeader.bmiHeader;
    *width = static_cast<ULONG>(header.biWidth);
    *height = static_cast<ULONG>(header.biHeight);
  }
}

// Stream numbers of the two pins.
inline constexpr ULONG kVideoStreamNumber = 0;
inline constexpr ULONG kStillStreamNumber = 1;

class ICaptureStream : public IUnknown {
 public:
  virtual NTSTATUS SaveFormat(ULONG streamNumber) = 0;
  virtual NTSTATUS OpenFormat(PKS_DATAFORMAT_VIDEOINFOHEADER format, ULONG streamNumber) = 0;
  virtual NTSTATUS Activate(ULONG streamNumber) = 0;
  virtual NTSTATUS Deactivate(ULONG streamNumber) = 0;
  virtual UCHAR IsActive(ULONG streamNumber) = 0;
  virtual NTSTATUS Open(PKS_DATAFORMAT_VIDEOINFOHEADER format, ULONG streamNumber) = 0;
  virtual NTSTATUS Close(ULONG streamNumber) = 0;
  virtual UCHAR IsOpen(ULONG streamNumber) = 0;
  virtual IVideoFormat* GetCurrentFormat(ULONG streamNumber) = 0;
  // The format table (IVideoFormat pointers) in order, or null.
  virtual PointerList* GetFormats(ULONG streamNumber) = 0;
  // The data range of every format in table order; 0 and null when there is none.
  virtual ULONG GetDataRanges(PKSDATAFORMAT** table) = 0;
  virtual NTSTATUS ApplyCloseRegisters() = 0;
  virtual NTSTATUS ApplyOpenRegisters() = 0;
  virtual NTSTATUS BuildStillFormats(ULONG streamNumber) = 0;
  virtual NTSTATUS LoadSettings() = 0;
  virtual NTSTATUS LoadFormats() = 0;
  virtual NTSTATUS GroupCurrentSize() = 0;

 protected:
  ~ICaptureStream() = default;
};
