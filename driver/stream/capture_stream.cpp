#include "stream/capture_stream.h"

#include <cstring>

#include "camera/camera.h"
#include "core/held_interface.h"
#include "stream/video_format.h"

namespace {

// Still formats offer one picture at a time.
constexpr ULONG kStillFrameRate = 1;
constexpr ULONG kStillRgbBits = 24;

bool SameSize(IVideoFormat* format, const KS_BITMAPINFOHEADER& size) {
  const KS_BITMAPINFOHEADER& header = format->GetDataRange()->VideoInfoHeader.bmiHeader;
  return header.biWidth == size.biWidth && header.biHeight == size.biHeight;
}

}  // namespace

NTSTATUS CreateCaptureStream(ICaptureControl* owner, PCWSTR keyPath, ULONG streamNumber,
                             ICaptureStream** result) {
  CaptureStream* stream = ConstructWithRetry<CaptureStream>(owner, keyPath, streamNumber);
  if (stream == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  ICaptureStream* answer = stream;
  answer->AddRef();
  *result = answer;
  return STATUS_SUCCESS;
}

CaptureStream::CaptureStream(ICaptureControl* ownerControl, PCWSTR path, ULONG number)
    : UnknownPart<CaptureStream>(nullptr),
      keyPath{},
      owner(ownerControl),
      streamNumber(number),
      open(0),
      active(0),
      formats(nullptr),
      currentFormat(nullptr),
      dataRangeTable(nullptr),
      dataRangeCount(0),
      closeUsbSettings{},
      closeCameraSettings{},
      openUsbSettings{},
      openCameraSettings{},
      saveFormat(0),
      bufferPool(BufferPoolOf(ownerControl)) {
  if (streamNumber == kStillStreamNumber) {
    BuildStillFormats(kStillStreamNumber);
    return;
  }
  CopyStreamPath(keyPath, path);
  LoadSettings();
  LoadFormats();
}

CaptureStream::~CaptureStream() {
  if (formats != nullptr) {
    while (void* format = formats->PopFront()) static_cast<IVideoFormat*>(format)->Release();
    formats->Delete();
  }
  if (bufferPool == nullptr) return;
  if (dataRangeTable != nullptr) bufferPool->Free(dataRangeTable);
  FreeStreamList(bufferPool, &closeUsbSettings);
  FreeStreamList(bufferPool, &closeCameraSettings);
  FreeStreamList(bufferPool, &openUsbSettings);
  FreeStreamList(bufferPool, &openCameraSettings);
}

NTSTATUS CaptureStream::QueryClassInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_ICaptureStream)) return AnswerInterface<ICaptureStream>(this, result);
  return UnknownBase::QueryInterface(iid, result);
}

UCHAR CaptureStream::IsActive(ULONG number) { return number == streamNumber ? active : 0; }
UCHAR CaptureStream::IsOpen(ULONG number) { return number == streamNumber ? open : 0; }
IVideoFormat* CaptureStream::GetCurrentFormat(ULONG number) {
  return number == streamNumber ? currentFormat : nullptr;
}
PointerList* CaptureStream::GetFormats(ULONG number) {
  return number == streamNumber ? formats : nullptr;
}

NTSTATUS CaptureStream::InsertFormat(IVideoFormat* format) {
  if (formats == nullptr && bufferPool != nullptr) formats = PointerList::Create(bufferPool);
  const NTSTATUS status =
      formats != nullptr ? formats->Prepend(format) : STATUS_INSUFFICIENT_RESOURCES;
  if (!NT_SUCCESS(status)) {
    if (currentFormat == format) currentFormat = nullptr;
    format->Release();
  }
  return status;
}

ULONG CaptureStream::GetDataRanges(PKSDATAFORMAT** table) {
  *table = nullptr;
  if (formats == nullptr || formats->count == 0 || bufferPool == nullptr) return 0;
  if (dataRangeTable == nullptr) {
    const ULONG count = formats->count;
    dataRangeTable = static_cast<PKSDATAFORMAT*>(
        bufferPool->Allocate(NonPagedPool, count * sizeof(PKSDATAFORMAT), kBufferPersistent));
    if (dataRangeTable == nullptr) return 0;
    ULONG index = 0;
    formats->Rewind();
    while (void* item = formats->Next()) {
      dataRangeTable[index++] =
          reinterpret_cast<PKSDATAFORMAT>(static_cast<IVideoFormat*>(item)->GetDataRange());
    }
    dataRangeCount = index;
  }
  *table = dataRangeTable;
  return dataRangeCount;
}

NTSTATUS CaptureStream::LoadSettings() {
  if (owner == nullptr) return STATUS_INVALID_PARAMETER;
  if (bufferPool == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  CameraKey key(owner, keyPath);
  if (!key.IsOpen()) return STATUS_SUCCESS;
  key.ReadNumber(u"SaveFormat", &saveFormat);
  struct NamedList {
    PCWSTR name;
    StreamRegisterList* list;
  } const lists[] = {
      {u"OpenStreamUsbSetting", &openUsbSettings},
      {u"CloseStreamUsbSetting", &closeUsbSettings},
      {u"OpenStreamCameraSetting", &openCameraSettings},
      {u"CloseStreamCameraSetting", &closeCameraSettings},
  };
  for (const NamedList& entry : lists) {
    if (key.ReadList(bufferPool, entry.name, entry.list) == STATUS_INSUFFICIENT_RESOURCES) {
      return STATUS_INSUFFICIENT_RESOURCES;
    }
  }
  return STATUS_SUCCESS;
}

NTSTATUS CaptureStream::LoadFormats() {
  if (owner == nullptr || bufferPool == nullptr) return STATUS_INVALID_PARAMETER;
  ULONG currentTag = 0;
  bool haveCurrentTag = false;
  {
    CameraKey modelKey(owner, CameraKeyPathOf(owner));
    haveCurrentTag = modelKey.IsOpen() && modelKey.ReadNumber(u"CurrentFormat", &currentTag);
  }
  if (haveCurrentTag) {
    CameraKey key(owner, keyPath);
    WCHAR name[kStreamPathChars];
    WCHAR formatPath[kStreamPathChars];
    for (ULONG index = 0; key.IsOpen(); ++index) {
      const NTSTATUS status = key.EnumerateSubkey(index, name, sizeof name);
      if (status == STATUS_NO_MORE_ENTRIES) break;
      if (!NT_SUCCESS(status) || !ComposeStreamPath(formatPath, keyPath, name)) continue;
      VideoFormat* created = ConstructWithRetry<VideoFormat>(formatPath, owner, this, streamNumber);
      if (created == nullptr) continue;
      IVideoFormat* format = created;
      format->AddRef();
      if (!format->HasModes()) {
        format->Release();
        continue;
      }
      // The current format joins the table last, at its head.
      if (currentFormat == nullptr && format->GetTag() == currentTag) {
        currentFormat = format;
        continue;
      }
      if (!NT_SUCCESS(InsertFormat(format))) break;
    }
    if (currentFormat != nullptr) {
      GroupCurrentSize();
      InsertFormat(currentFormat);
    }
  }
  if (currentFormat == nullptr && formats != nullptr && formats->head != nullptr) {
    currentFormat = static_cast<IVideoFormat*>(formats->head->item);
  }
  return STATUS_SUCCESS;
}

NTSTATUS CaptureStream::GroupCurrentSize() {
  if (formats == nullptr || currentFormat == nullptr) return STATUS_SUCCESS;
  PointerList* sameSize = PointerList::Create(bufferPool);
  PointerList* others = PointerList::Create(bufferPool);
  NTSTATUS status = STATUS_SUCCESS;
  if (sameSize == nullptr || others == nullptr) {
    status = STATUS_INSUFFICIENT_RESOURCES;
  } else {
    const KS_BITMAPINFOHEADER size = currentFormat->GetDataRange()->VideoInfoHeader.bmiHeader;
    while (void* item = formats->PopFront()) {
      IVideoFormat* format = static_cast<IVideoFormat*>(item);
      PointerList* group = SameSize(format, size) ? sameSize : others;
      if (!NT_SUCCESS(group->Prepend(format))) {
        format->Release();
        status = STATUS_INSUFFICIENT_RESOURCES;
      }
    }
    // Others first, then the same-size formats, each by insertion at the head.
    PointerList* const groups[] = {others, sameSize};
    for (PointerList* group : groups) {
      while (void* item = group->PopFront()) {
        if (!NT_SUCCESS(InsertFormat(static_cast<IVideoFormat*>(item)))) {
          status = STATUS_INSUFFICIENT_RESOURCES;
        }
      }
    }
  }
  if (sameSize != nullptr) sameSize->Delete();
  if (others != nullptr) others->Delete();
  return status;
}

NTSTATUS CaptureStream::AddStillFormat(ULONG width, ULONG height, ULONG bitCount, ULONG fourCC) {
  VideoFormat* created = ConstructWithRetry<VideoFormat>(nullptr, owner, this, 1);
  if (created == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  IVideoFormat* format = created;
  format->AddRef();
  format->BuildDataRange(width, height, bitCount, fourCC, kStillFrameRate, kStillFrameRate,
                         kStillFrameRate, KS_VIDEOSTREAM_STILL);
  currentFormat = format;
  return InsertFormat(format);
}

NTSTATUS CaptureStream::BuildStillFormats(ULONG number) {
  if (number != streamNumber) return STATUS_INVALID_PARAMETER;
  HeldInterface<ICameraInfo> info(owner, IID_ICameraInfo);
  if (!info) return info.status();
  const ULONG supportType = info->GetStillSupportType();
  ULONG sensorWidth = 0;
  ULONG sensorHeight = 0;
  info->GetSensorSize(&sensorWidth, &sensorHeight);

  // Types 3 and 4 take stills at the sensor's size; type 2 copies frames of the video formats.
  if (supportType == 3 || supportType == 4) {
    return AddStillFormat(sensorWidth, sensorHeight, kStillRgbBits, 0);
  }
  if (supportType != 2) return STATUS_SUCCESS;
  ICaptureStream* video = info->GetVideoStream();
  PointerList* videoFormats = video != nullptr ? video->GetFormats(kVideoStreamNumber) : nullptr;
  if (videoFormats == nullptr) return STATUS_SUCCESS;
  NTSTATUS status = STATUS_SUCCESS;
  for (PointerListNode* node = videoFormats->head; node != nullptr; node = node->next) {
    const KS_BITMAPINFOHEADER& header =
        static_cast<IVideoFormat*>(node->item)->GetDataRange()->VideoInfoHeader.bmiHeader;
    status = AddStillFormat(static_cast<ULONG>(header.biWidth), static_cast<ULONG>(header.biHeight),
                            header.biBitCount, header.biCompression);
    if (!NT_SUCCESS(status)) break;
  }
  return status;
}

NTSTATUS CaptureStream::WriteListPair(const StreamRegisterList& usb,
                                      const StreamRegisterList& camera) {
  NTSTATUS status = STATUS_SUCCESS;
  if (usb.count != 0) status = RunStreamList(owner, usb, TRUE);
  if (camera.count != 0) status = RunStreamList(owner, camera, FALSE);
  return status;
}

NTSTATUS CaptureStream::ApplyOpenRegisters() {
  if (open != 0) return STATUS_SUCCESS;
  return WriteListPair(openUsbSettings, openCameraSettings);
}

NTSTATUS CaptureStream::ApplyCloseRegisters() {
  if (open == 0) return STATUS_SUCCESS;
  return WriteListPair(closeUsbSettings, closeCameraSettings);
}

NTSTATUS CaptureStream::Open(PKS_DATAFORMAT_VIDEOINFOHEADER format, ULONG number) {
  if (number != streamNumber || open != 0 || formats == nullptr || formats->count == 0) {
    return STATUS_INVALID_PARAMETER;
  }
  // A format is selected (and bandwidth claimed) only once the open lists are in.
  NTSTATUS status = ApplyOpenRegisters();
  if (NT_SUCCESS(status)) status = OpenFormat(format, number);
  if (NT_SUCCESS(status)) {
    open = 1;
    return status;
  }
  WriteListPair(closeUsbSettings, closeCameraSettings);
  return status;
}

NTSTATUS CaptureStream::OpenFormat(PKS_DATAFORMAT_VIDEOINFOHEADER format, ULONG number) {
  if (number != streamNumber || owner == nullptr || formats == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  IVideoFormat* selected = nullptr;
  if (active != 0 && currentFormat != nullptr && currentFormat->MatchFormat(format) &&
      NT_SUCCESS(currentFormat->SelectFormat(format))) {
    selected = currentFormat;
  }
  formats->Rewind();
  while (selected == nullptr) {
    IVideoFormat* candidate = static_cast<IVideoFormat*>(formats->Next());
    if (candidate == nullptr) break;
    if (NT_SUCCESS(candidate->SelectFormat(format))) selected = candidate;
  }
  if (selected == nullptr) {
    if (active != 0 && currentFormat != nullptr) currentFormat->Deactivate();
    currentFormat = nullptr;
    active = 0;
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  if (currentFormat != nullptr && currentFormat != selected) currentFormat->Deactivate();
  currentFormat = selected;
  active = 1;
  return TellImageProcessorOpen(owner, currentFormat, streamNumber);
}

NTSTATUS CaptureStream::Close(ULONG number) {
  if (owner == nullptr || number != streamNumber) return STATUS_INVALID_PARAMETER;
  if (open == 0) return STATUS_SUCCESS;
  ApplyCloseRegisters();
  // The video stream gives its bandwidth back; the still pin never claimed any.
  if (streamNumber == kVideoStreamNumber) {
    HeldInterface<ICameraInfo> info(owner, IID_ICameraInfo);
    if (info) owner->SelectAltSetting(info->GetIdleAltSetting());
  }
  TellImageProcessorClose(owner, currentFormat, streamNumber);
  open = 0;
  return STATUS_SUCCESS;
}

NTSTATUS CaptureStream::Activate(ULONG number) {
  if (number != streamNumber) return STATUS_INVALID_PARAMETER;
  if (active != 0) return STATUS_SUCCESS;
  if (currentFormat == nullptr) return STATUS_INVALID_PARAMETER;
  const NTSTATUS status = currentFormat->Activate();
  if (NT_SUCCESS(status)) active = 1;
  return status;
}

NTSTATUS CaptureStream::Deactivate(ULONG number) {
  if (number != streamNumber) return STATUS_INVALID_PARAMETER;
  if (active == 0) return STATUS_SUCCESS;
  if (currentFormat == nullptr) return STATUS_INVALID_PARAMETER;
  const NTSTATUS status = currentFormat->Deactivate();
  if (NT_SUCCESS(status)) active = 0;
  return status;
}

NTSTATUS CaptureStream::SaveFormat(ULONG number) {
  if (number != kVideoStreamNumber || number != streamNumber || owner == nullptr ||
      currentFormat == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  PCWSTR modelPath = CameraKeyPathOf(owner);
  if (modelPath == nullptr || modelPath[0] == 0) return STATUS_INVALID_PARAMETER;
  NTSTATUS status;
  {
    CameraKey modelKey(owner, modelPath);
    status = modelKey.status();
    if (modelKey.IsOpen() && saveFormat != 0) {
      status = modelKey.WriteNumber(u"CurrentFormat", currentFormat->GetTag());
    }
  }
  if (saveFormat != 0) currentFormat->SaveCurrentFrameRate();
  Deactivate(number);
  return status;
}
