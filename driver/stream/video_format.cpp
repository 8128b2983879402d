#include "stream/video_format.h"

#include <cstring>

#include "camera/camera.h"
#include "core/held_interface.h"
#include "stream/format_mode.h"

namespace {

// Tags of the formats that have none (the still formats); never reset.
LONG volatile gNextFormatTag = static_cast<LONG>(kFirstCounterTag);

constexpr ULONG FourCC(char a, char b, char c, char d) {
  return static_cast<ULONG>(static_cast<UCHAR>(a)) |
         (static_cast<ULONG>(static_cast<UCHAR>(b)) << 8) |
         (static_cast<ULONG>(static_cast<UCHAR>(c)) << 16) |
         (static_cast<ULONG>(static_cast<UCHAR>(d)) << 24);
}

// "VRAW" is the driver's own code for raw sensor data; applications see it as YVU9.
struct FourCCSubformat {
  ULONG fourCC;
  ULONG subformatCode;
};
constexpr FourCCSubformat kFourCCSubformats[] = {
    {FourCC('I', '4', '2', '0'), FourCC('I', '4', '2', '0')},
    {FourCC('Y', 'U', 'Y', '2'), FourCC('Y', 'U', 'Y', '2')},
    {FourCC('Y', 'V', 'U', '9'), FourCC('Y', 'V', 'U', '9')},
    {FourCC('V', 'R', 'A', 'W'), FourCC('Y', 'V', 'U', '9')},
    {FourCC('I', 'Y', 'U', 'V'), FourCC('I', 'Y', 'U', 'V')},
    {FourCC('U', 'Y', 'V', 'Y'), FourCC('U', 'Y', 'V', 'Y')},
};
constexpr ULONG kRgb565Code = 0xE436EB7B;

// bits x rate / 1000 of a range, in 64 bits: a VGA picture at 30 fps is already past 32 bits
// before the division.
LONG BitsPerSecond(ULONGLONG bitsPerFrame, ULONG frameRate) {
  return static_cast<LONG>(bitsPerFrame * frameRate / 1000);
}

// Moves an interval outside the range's limits onto the nearer limit, with the matching bit rate.
void ClampInterval(const KS_VIDEO_STREAM_CONFIG_CAPS& caps, KS_VIDEOINFOHEADER* header) {
  if (header->AvgTimePerFrame > caps.MaxFrameInterval) {
    header->AvgTimePerFrame = caps.MaxFrameInterval;
    header->dwBitRate = static_cast<ULONG>(caps.MinBitsPerSecond);
  } else if (header->AvgTimePerFrame < caps.MinFrameInterval) {
    header->AvgTimePerFrame = caps.MinFrameInterval;
    header->dwBitRate = static_cast<ULONG>(caps.MaxBitsPerSecond);
  }
}

bool SameGuids(const KSDATAFORMAT& first, const KSDATAFORMAT& second) {
  return IsEqualGuid(first.MajorFormat, second.MajorFormat) &&
         IsEqualGuid(first.SubFormat, second.SubFormat) &&
         IsEqualGuid(first.Specifier, second.Specifier);
}

}  // namespace

LONGLONG FrameIntervalOfRate(ULONG frameRate) {
  return 10'000'000'000LL / static_cast<LONGLONG>(frameRate != 0 ? frameRate : 1);
}

ULONG FrameRateOfInterval(LONGLONG frameInterval) {
  const ULONG tenths = static_cast<ULONG>(frameInterval) / 10;
  return tenths != 0 ? 1'000'000'000u / tenths : 0;
}

GUID SubformatOf(ULONG fourCC, ULONG bitCount) {
  if (fourCC == 0) {
    if (bitCount == 16) return KSDATAFORMAT_SUBTYPE_RGB555;
    if (bitCount == 8) return KSDATAFORMAT_SUBTYPE_RGB8;
    return KSDATAFORMAT_SUBTYPE_RGB24;
  }
  for (const FourCCSubformat& entry : kFourCCSubformats) {
    if (entry.fourCC == fourCC) return FourCCSubtype(entry.subformatCode);
  }
  if (fourCC == kRgb565Code) return KSDATAFORMAT_SUBTYPE_RGB565;
  return KSDATAFORMAT_SUBTYPE_RGB24;
}

VideoFormat::VideoFormat(PCWSTR path, ICaptureControl* ownerControl, ICaptureStream* ownerStream,
                         ULONG stillFormat)
    : UnknownPart<VideoFormat>(nullptr),
      modes(nullptr),
      dataRange{},
      tag(kUntaggedFormat),
      applied(0),
      usbSettings{},
      cameraSettings{},
      keyPath{},
      owner(ownerControl),
      stream(ownerStream),
      currentMode(nullptr),
      bandwidthFailed(0),
      still(stillFormat),
      progressive(0),
      sourceWidth(0),
      sourceHeight(0),
      bufferPool(BufferPoolOf(ownerControl)) {
  if (path == nullptr) return;
  if (!CopyStreamPath(keyPath, path)) return;
  LoadFormat();
  LoadModes();
  if (modes != nullptr) SortModes(modes);
}

VideoFormat::~VideoFormat() {
  if (modes != nullptr) {
    while (void* mode = modes->PopFront()) static_cast<IFormatMode*>(mode)->Release();
    modes->Delete();
  }
  if (bufferPool != nullptr) {
    FreeStreamList(bufferPool, &usbSettings);
    FreeStreamList(bufferPool, &cameraSettings);
  }
}

NTSTATUS VideoFormat::QueryClassInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_IVideoFormat)) return AnswerInterface<IVideoFormat>(this, result);
  return UnknownBase::QueryInterface(iid, result);
}

UCHAR VideoFormat::GetProgressive() { return progressive; }
ULONG VideoFormat::GetSourceWidth() { return sourceWidth; }
ULONG VideoFormat::GetSourceHeight() { return sourceHeight; }
UCHAR VideoFormat::IsApplied() { return applied; }
PKS_DATARANGE_VIDEO VideoFormat::GetDataRange() { return &dataRange; }
IFormatMode* VideoFormat::GetCurrentMode() { return currentMode; }
ULONG VideoFormat::GetTag() { return tag; }
PointerList* VideoFormat::GetModes() { return modes; }
UCHAR VideoFormat::GetBandwidthFailed() { return bandwidthFailed; }
BOOLEAN VideoFormat::HasModes() { return modes != nullptr && modes->count != 0; }

ULONG VideoFormat::GetRawFrameLength() {
  if (currentMode != nullptr) {
    const ULONG length = currentMode->GetRawFrameLength();
    if (length != 0) return length;
  }
  // Room for the picture at 12 bits a pixel with 16 spare lines, and some packet slack.
  const KS_BITMAPINFOHEADER& header = dataRange.VideoInfoHeader.bmiHeader;
  return (static_cast<ULONG>(header.biHeight) + 16) * static_cast<ULONG>(header.biWidth) * 3 / 2 +
         2048;
}

void VideoFormat::BuildDataRange(ULONG width, ULONG height, ULONG bitCount, ULONG fourCC,
                                 ULONG maxFrameRate, ULONG minFrameRate, ULONG typicalFrameRate,
                                 ULONG streamType) {
  const ULONGLONG bits = static_cast<ULONGLONG>(width) * height * bitCount;
  memset(&dataRange, 0, sizeof dataRange);

  KSDATARANGE& range = dataRange.DataRange;
  range.FormatSize = sizeof(KS_DATARANGE_VIDEO);
  range.SampleSize = static_cast<ULONG>(bits / 8);
  range.MajorFormat = KSDATAFORMAT_TYPE_VIDEO;
  range.SubFormat = SubformatOf(fourCC, bitCount);
  range.Specifier = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
  dataRange.bFixedSizeSamples = 1;
  dataRange.bTemporalCompression = 1;
  dataRange.StreamDescriptionFlags = streamType;

  KS_VIDEO_STREAM_CONFIG_CAPS& caps = dataRange.ConfigCaps;
  const SIZE size = {static_cast<LONG>(width), static_cast<LONG>(height)};
  caps.guid = KSDATAFORMAT_SPECIFIER_VIDEOINFO;
  caps.InputSize = size;
  caps.MinCroppingSize = size;
  caps.MaxCroppingSize = size;
  caps.CropGranularityX = 1;
  caps.CropGranularityY = 1;
  caps.CropAlignX = 1;
  caps.CropAlignY = 1;
  caps.MinOutputSize = size;
  caps.MaxOutputSize = size;
  caps.OutputGranularityX = size.cx;
  caps.OutputGranularityY = size.cy;
  caps.MinFrameInterval = FrameIntervalOfRate(maxFrameRate);
  caps.MaxFrameInterval = FrameIntervalOfRate(minFrameRate);
  caps.MinBitsPerSecond = BitsPerSecond(bits, minFrameRate);
  caps.MaxBitsPerSecond = BitsPerSecond(bits, maxFrameRate);

  KS_VIDEOINFOHEADER& info = dataRange.VideoInfoHeader;
  info.dwBitRate = static_cast<ULONG>(BitsPerSecond(bits, typicalFrameRate));
  info.AvgTimePerFrame = FrameIntervalOfRate(typicalFrameRate);
  KS_BITMAPINFOHEADER& header = info.bmiHeader;
  header.biSize = sizeof(KS_BITMAPINFOHEADER);
  header.biWidth = size.cx;
  header.biHeight = size.cy;
  header.biPlanes = 1;
  header.biBitCount = static_cast<USHORT>(bitCount);
  header.biCompression = fourCC;
  header.biSizeImage = static_cast<ULONG>(bits / 8);

  if (tag == kUntaggedFormat) {
    tag = static_cast<ULONG>(InterlockedExchangeAdd(&gNextFormatTag, 1));
  }
}

BOOLEAN VideoFormat::MatchFormat(PKS_DATAFORMAT_VIDEOINFOHEADER format) {
  // The format comes from an application: only a whole video-info format is looked at.
  if (format == nullptr || format->DataFormat.FormatSize < sizeof(KS_DATAFORMAT_VIDEOINFOHEADER)) {
    return FALSE;
  }
  const KS_BITMAPINFOHEADER& mine = dataRange.VideoInfoHeader.bmiHeader;
  const KS_BITMAPINFOHEADER& theirs = format->VideoInfoHeader.bmiHeader;
  if (!SameGuids(format->DataFormat, dataRange.DataRange) || theirs.biWidth != mine.biWidth ||
      theirs.biHeight != mine.biHeight || theirs.biSizeImage != mine.biSizeImage) {
    return FALSE;
  }
  ClampInterval(dataRange.ConfigCaps, &format->VideoInfoHeader);
  return TRUE;
}

BOOLEAN VideoFormat::MatchDataRange(PKS_DATARANGE_VIDEO range) {
  if (range == nullptr || range->DataRange.FormatSize < sizeof(KS_DATARANGE_VIDEO)) return FALSE;
  if (!SameGuids(range->DataRange, dataRange.DataRange) ||
      range->bFixedSizeSamples != dataRange.bFixedSizeSamples ||
      range->bTemporalCompression != dataRange.bTemporalCompression ||
      range->StreamDescriptionFlags != dataRange.StreamDescriptionFlags ||
      range->MemoryAllocationFlags != dataRange.MemoryAllocationFlags ||
      memcmp(&range->ConfigCaps, &dataRange.ConfigCaps, sizeof dataRange.ConfigCaps) != 0 ||
      range->VideoInfoHeader.bmiHeader.biBitCount !=
          dataRange.VideoInfoHeader.bmiHeader.biBitCount) {
    return FALSE;
  }
  ClampInterval(dataRange.ConfigCaps, &range->VideoInfoHeader);
  return TRUE;
}

NTSTATUS VideoFormat::ApplyRegisters() {
  if (applied != 0) return STATUS_SUCCESS;
  // The status of the last write: the sensor list's when it has entries, else the bridge list's.
  NTSTATUS status = STATUS_SUCCESS;
  if (usbSettings.count != 0) status = RunStreamList(owner, usbSettings, TRUE);
  if (cameraSettings.count != 0) status = RunStreamList(owner, cameraSettings, FALSE);
  return status;
}

NTSTATUS VideoFormat::ChooseMode(ULONG frameRate) {
  bandwidthFailed = 0;
  IFormatMode* last = nullptr;
  NTSTATUS status = STATUS_NOT_SUPPORTED;
  modes->Rewind();
  while (void* item = modes->Next()) {
    IFormatMode* mode = static_cast<IFormatMode*>(item);
    last = mode;
    if (mode->GetFrameRate() > frameRate) continue;
    status = owner->SelectAltSetting(mode->GetAlternateSetting());
    if (NT_SUCCESS(status)) {
      currentMode = mode;
      return mode->Apply();
    }
    bandwidthFailed = 1;
  }
  if (last == nullptr) return STATUS_NOT_SUPPORTED;
  // Nothing at or below the rate could be had: the slowest mode once more, whatever its rate.
  status = owner->SelectAltSetting(last->GetAlternateSetting());
  if (!NT_SUCCESS(status)) {
    bandwidthFailed = 1;
    return status;
  }
  currentMode = last;
  return last->Apply();
}

NTSTATUS VideoFormat::SelectFormat(PKS_DATAFORMAT_VIDEOINFOHEADER format) {
  if (!MatchFormat(format)) return STATUS_INVALID_PARAMETER;
  NTSTATUS status = ApplyRegisters();
  if (modes == nullptr) {
    if (NT_SUCCESS(status)) applied = 1;
    return status;
  }
  if (owner == nullptr) return STATUS_INVALID_PARAMETER;
  if (!NT_SUCCESS(status)) return status;

  ULONG rate = FrameRateOfInterval(format->VideoInfoHeader.AvgTimePerFrame);
  const ULONG highest = FrameRateOfInterval(dataRange.ConfigCaps.MinFrameInterval);
  const ULONG lowest = FrameRateOfInterval(dataRange.ConfigCaps.MaxFrameInterval);
  if (rate > highest) {
    rate = highest;
    format->VideoInfoHeader.AvgTimePerFrame = dataRange.ConfigCaps.MinFrameInterval;
  }
  if (rate < lowest) {
    rate = lowest;
    format->VideoInfoHeader.AvgTimePerFrame = dataRange.ConfigCaps.MaxFrameInterval;
  }
  // A re-selection writes the mode again.
  if (applied != 0 && currentMode != nullptr) currentMode->ClearApplied();

  status = ChooseMode(rate);
  if (!NT_SUCCESS(status)) return status;
  applied = 1;
  return NotifyFormatChange(owner, &dataRange);
}

NTSTATUS VideoFormat::Activate() {
  if (applied != 0) return STATUS_SUCCESS;
  NTSTATUS status = ApplyRegisters();
  if (modes == nullptr) {
    if (NT_SUCCESS(status)) applied = 1;
    return status;
  }
  if (currentMode == nullptr) return STATUS_SUCCESS;
  status = currentMode->Apply();
  if (!NT_SUCCESS(status)) return status;
  applied = 1;
  return NotifyFormatChange(owner, &dataRange);
}

NTSTATUS VideoFormat::Deactivate() {
  if (applied == 0) return STATUS_SUCCESS;
  if (modes == nullptr) {
    applied = 0;
    return STATUS_SUCCESS;
  }
  if (currentMode == nullptr) return STATUS_INVALID_PARAMETER;
  const NTSTATUS status = currentMode->ClearApplied();
  if (NT_SUCCESS(status)) applied = 0;
  return status;
}

NTSTATUS VideoFormat::SaveCurrentFrameRate() {
  if (applied == 0 || modes == nullptr || currentMode == nullptr) return STATUS_SUCCESS;
  PCWSTR cameraKeyPath = CameraKeyPathOf(owner);
  if (cameraKeyPath == nullptr) return STATUS_INVALID_PARAMETER;
  CameraKey key(owner, cameraKeyPath);
  return key.WriteNumber(u"CurrentFrameRate", currentMode->GetFrameRate());
}

void VideoFormat::LoadFormat() {
  CameraKey key(owner, keyPath);
  if (!key.IsOpen()) return;
  if (bufferPool != nullptr) {
    key.ReadList(bufferPool, u"UsbSetting", &usbSettings);
    key.ReadList(bufferPool, u"CameraSetting", &cameraSettings);
  }
  ULONG maxFrameRate = 1;
  ULONG minFrameRate = 1;
  ULONG progressiveValue = 0;
  ULONG typicalFrameRate = 1;
  ULONG streamType = KS_VIDEOSTREAM_CAPTURE;
  key.ReadNumber(u"MaxFrameRate", &maxFrameRate);
  key.ReadNumber(u"MinFrameRate", &minFrameRate);
  key.ReadNumber(u"Progressive", &progressiveValue);
  key.ReadNumber(u"TypFrameRate", &typicalFrameRate);
  key.ReadNumber(u"StreamType", &streamType);
  progressive = static_cast<UCHAR>(progressiveValue);

  // The required values, in order; the first that is missing leaves the format without a range.
  ULONG formatTag = 0;
  ULONG width = 0;
  ULONG height = 0;
  ULONG bitCount = 0;
  ULONG fourCC = 0;
  if (!key.ReadNumber(u"Tag", &formatTag) || !key.ReadNumber(u"Width", &width) ||
      !key.ReadNumber(u"Height", &height)) {
    return;
  }
  if constexpr (kHasSourceScaling) {
    if (!key.ReadNumber(u"SourceWidth", &sourceWidth) ||
        !key.ReadNumber(u"SourceHeight", &sourceHeight)) {
      return;
    }
  }
  if (!key.ReadNumber(u"BitCount", &bitCount) || !key.ReadNumber(u"FourCC", &fourCC)) return;
  tag = formatTag;
  BuildDataRange(width, height, bitCount, fourCC, maxFrameRate, minFrameRate, typicalFrameRate,
                 streamType);
}

NTSTATUS VideoFormat::LoadModes() {
  if (owner == nullptr || bufferPool == nullptr) return STATUS_INVALID_PARAMETER;
  ULONG currentFrameRate = 0;
  {
    CameraKey cameraKey(owner, CameraKeyPathOf(owner));
    cameraKey.ReadNumber(u"CurrentFrameRate", &currentFrameRate);
  }
  CameraKey key(owner, keyPath);
  if (!key.IsOpen()) return key.status();

  WCHAR name[kStreamPathChars];
  WCHAR modePath[kStreamPathChars];
  for (ULONG index = 0;; ++index) {
    const NTSTATUS status = key.EnumerateSubkey(index, name, sizeof name);
    if (status == STATUS_NO_MORE_ENTRIES) break;
    if (!NT_SUCCESS(status) || !ComposeStreamPath(modePath, keyPath, name)) continue;
    FormatMode* created = ConstructWithRetry<FormatMode>(modePath, owner, this);
    if (created == nullptr) break;
    IFormatMode* mode = created;
    mode->AddRef();
    if (!mode->IsSupported()) {
      mode->Release();
      continue;
    }
    if (modes == nullptr) modes = PointerList::Create(bufferPool);
    if (modes == nullptr || !NT_SUCCESS(modes->Prepend(mode))) {
      mode->Release();
      break;
    }
    if (mode->GetFrameRate() == currentFrameRate) currentMode = mode;
  }
  // Without a mode at the remembered rate, the last one enumerated.
  if (currentMode == nullptr && modes != nullptr && modes->head != nullptr) {
    currentMode = static_cast<IFormatMode*>(modes->head->item);
  }
  return STATUS_SUCCESS;
}

NTSTATUS VideoFormat::SortModes(PointerList* modeList) {
  if (modeList == nullptr || modeList->count == 0 || bufferPool == nullptr) return STATUS_SUCCESS;
  HeldInterface<ICameraInfo> info(owner, IID_ICameraInfo);
  const ULONG rule = info ? info->GetBandwidthAllocateRule() : 0;

  const ULONG count = modeList->count;
  auto** sorted = static_cast<IFormatMode**>(
      bufferPool->Allocate(NonPagedPool, count * sizeof(IFormatMode*), kBufferScratch));
  if (sorted == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  ULONG taken = 0;
  while (void* item = modeList->PopFront()) sorted[taken++] = static_cast<IFormatMode*>(item);

  // Ascending by frame rate; for equal rates by quality, ascending under rule 1, else descending.
  auto outOfOrder = [rule](IFormatMode* first, IFormatMode* second) {
    if (first->GetFrameRate() != second->GetFrameRate()) {
      return first->GetFrameRate() > second->GetFrameRate();
    }
    return rule == 1 ? first->GetQualityLevel() > second->GetQualityLevel()
                     : first->GetQualityLevel() < second->GetQualityLevel();
  };
  for (ULONG i = 0; i < taken; ++i) {
    for (ULONG j = i + 1; j < taken; ++j) {
      if (outOfOrder(sorted[i], sorted[j])) {
        IFormatMode* swap = sorted[i];
        sorted[i] = sorted[j];
        sorted[j] = swap;
      }
    }
  }
  // Inserting at the head leaves the list fastest first.
  NTSTATUS status = STATUS_SUCCESS;
  for (ULONG i = 0; i < taken; ++i) {
    if (!NT_SUCCESS(modeList->Prepend(sorted[i]))) {
      // A node that cannot be had: the mode leaves the list, and its reference with it.
      if (currentMode == sorted[i]) currentMode = nullptr;
      sorted[i]->Release();
      status = STATUS_INSUFFICIENT_RESOURCES;
    }
  }
  bufferPool->Free(sorted);
  return status;
}
