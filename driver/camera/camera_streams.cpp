// The camera's capture streams: their stream records for the stream class, the format questions
// of the stream class answered over the streams' format tables, and what the camera's own
// sequences ask of the streams.
#include <cstring>

#include "camera/camera.h"
#include "camera/camera_values.h"
#include "stream/capture_stream.h"

namespace {

const KSPIN_MEDIUM gStandardMedium = {KSMEDIUMSETID_Standard, 0, 0};

// The bytes of a format reply: the data format header, the fixed part of the video info header
// and the bitmap header.
constexpr ULONG kFixedVideoInfoBytes = offsetof(KS_VIDEOINFOHEADER, bmiHeader);

// A format or range is only looked into when it holds the whole video info header.
bool HoldsVideoFormat(const KSDATAFORMAT* format) {
  return format != nullptr && format->FormatSize >= sizeof(KS_DATAFORMAT_VIDEOINFOHEADER);
}
bool HoldsVideoRange(const KSDATARANGE* range) {
  return range != nullptr && range->FormatSize >= sizeof(KS_DATARANGE_VIDEO);
}

}  // namespace

ICaptureStream* Camera::StreamOf(ULONG streamNumber) {
  if (streamNumber == kVideoStreamNumber) return videoStream;
  if (streamNumber == kStillStreamNumber) return stillStream;
  return nullptr;
}

// Makes one stream at cameraKeyPath + "\" + name and puts its data ranges into its record.
static NTSTATUS MakeStream(Camera* camera, PCWSTR name, ULONG streamNumber, ICaptureStream** slot) {
  WCHAR path[kRegistryPathChars];
  memcpy(path, camera->cameraKeyPath, sizeof path);
  if (!camera_values::AppendPath(path, name)) return STATUS_INSUFFICIENT_RESOURCES;
  NTSTATUS status = CreateCaptureStream(camera, path, streamNumber, slot);
  if (!NT_SUCCESS(status) || *slot == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  PKSDATAFORMAT* ranges = nullptr;
  ULONG count = (*slot)->GetDataRanges(&ranges);
  HW_STREAM_INFORMATION& record = camera->streamInformation[streamNumber];
  record.NumberOfFormatArrayEntries = count;
  record.StreamFormatsArray = ranges;
  return STATUS_SUCCESS;
}

// Whether the model has a key of its own for full-speed video.
static bool HasFullSpeedVideoKey(Camera* camera) {
  WCHAR path[kRegistryPathChars];
  memcpy(path, camera->cameraKeyPath, sizeof path);
  if (!camera_values::AppendPath(path, u"VideoStreamFullSpeed")) return false;
  HANDLE deviceKeyHandle = nullptr;
  if (!NT_SUCCESS(registry::OpenDeviceKey(&camera->deviceKey, camera->interfaceDevice,
                                          camera->physicalDevice, &deviceKeyHandle))) {
    return false;
  }
  HANDLE key = nullptr;
  bool found = NT_SUCCESS(registry::OpenKey(deviceKeyHandle, KEY_READ, path, &key));
  if (found) registry::CloseKey(&camera->deviceKey, key);
  registry::CloseKey(&camera->deviceKey, deviceKeyHandle);
  return found;
}

NTSTATUS Camera::CreateStreams() {
  if (streamInformation == nullptr) {
    ULONG count = supportStillPin != 0 ? 2 : 1;
    auto* records = static_cast<HW_STREAM_INFORMATION*>(bufferPool->Allocate(
        NonPagedPool, count * sizeof(HW_STREAM_INFORMATION), kBufferPersistent));
    if (records == nullptr) {
      streamCount = 0;
      return STATUS_INSUFFICIENT_RESOURCES;
    }
    memset(records, 0, count * sizeof(HW_STREAM_INFORMATION));
    for (ULONG index = 0; index < count; ++index) {
      HW_STREAM_INFORMATION& record = records[index];
      record.NumberOfPossibleInstances = 1;
      record.DataFlow = KSPIN_DATAFLOW_OUT;
      record.DataAccessible = TRUE;
      record.Category = index == 0 ? &PINNAME_VIDEO_CAPTURE : &PINNAME_VIDEO_STILL;
      record.Name = record.Category;
      record.MediumsCount = 1;
      record.Mediums = &gStandardMedium;
    }
    streamInformation = records;
    streamCount = count;
  }
  if (videoStream != nullptr) return STATUS_SUCCESS;
  PCWSTR videoKey =
      highSpeed == 0 && HasFullSpeedVideoKey(this) ? u"VideoStreamFullSpeed" : u"VideoStream";
  NTSTATUS status = MakeStream(this, videoKey, kVideoStreamNumber, &videoStream);
  if (!NT_SUCCESS(status) || streamCount < 2) return status;
  return MakeStream(this, u"StillStream", kStillStreamNumber, &stillStream);
}

void Camera::ReleaseStreams() {
  ReleaseAndClear(&videoStream);
  ReleaseAndClear(&stillStream);
}

bool Camera::HasStream(ULONG streamNumber) { return StreamOf(streamNumber) != nullptr; }
bool Camera::IsVideoStreamOpen() {
  return videoStream != nullptr && videoStream->IsOpen(kVideoStreamNumber) != 0;
}
void Camera::ReapplyVideoFormat() {
  if (videoStream != nullptr) videoStream->Activate(kVideoStreamNumber);
}
NTSTATUS Camera::SaveVideoFormat() {
  return videoStream != nullptr ? videoStream->SaveFormat(kVideoStreamNumber)
                                : STATUS_INVALID_PARAMETER;
}

NTSTATUS Camera::OpenStreamFormat(ULONG streamNumber, PVOID format, PULONG rawFrameLength) {
  ICaptureStream* stream = StreamOf(streamNumber);
  auto* videoFormat = static_cast<PKS_DATAFORMAT_VIDEOINFOHEADER>(format);
  if (stream == nullptr || videoFormat == nullptr || !HoldsVideoFormat(&videoFormat->DataFormat)) {
    return STATUS_INVALID_PARAMETER;
  }
  NTSTATUS status = stream->Open(videoFormat, streamNumber);
  if (!NT_SUCCESS(status)) return status;
  IVideoFormat* current = stream->GetCurrentFormat(streamNumber);
  if (rawFrameLength != nullptr) *rawFrameLength = current ? current->GetRawFrameLength() : 0;
  return status;
}

NTSTATUS Camera::CloseStreamFormat(ULONG streamNumber) {
  ICaptureStream* stream = StreamOf(streamNumber);
  return stream != nullptr ? stream->Close(streamNumber) : STATUS_INVALID_PARAMETER;
}

ICaptureStream* Camera::GetVideoStream() { return videoStream; }
ICaptureStream* Camera::GetStillStream() { return stillStream; }

// The first format of the stream that takes the asked format (its frame interval clamped in
// place), or null.
static IVideoFormat* MatchingFormat(ICaptureStream* stream, ULONG streamNumber,
                                    PKS_DATAFORMAT_VIDEOINFOHEADER format,
                                    PKS_DATARANGE_VIDEO range) {
  PointerList* formats = stream->GetFormats(streamNumber);
  if (formats == nullptr) return nullptr;
  formats->Rewind();
  while (auto* candidate = static_cast<IVideoFormat*>(formats->Next())) {
    if (format != nullptr ? candidate->MatchFormat(format) : candidate->MatchDataRange(range)) {
      return candidate;
    }
  }
  return nullptr;
}

NTSTATUS Camera::MatchStreamFormat(PKSDATAFORMAT format, ULONG streamNumber) {
  ICaptureStream* stream = StreamOf(streamNumber);
  if (stream == nullptr || !HoldsVideoFormat(format)) return STATUS_NO_MATCH;
  auto* videoFormat = reinterpret_cast<PKS_DATAFORMAT_VIDEOINFOHEADER>(format);
  return MatchingFormat(stream, streamNumber, videoFormat, nullptr) ? STATUS_SUCCESS
                                                                    : STATUS_NO_MATCH;
}

// Answers with the asked range made into a format: the data format header, the video info header
// with its bitmap header, and the image size of the range's picture.
NTSTATUS Camera::DataIntersection(PHW_STREAM_REQUEST_BLOCK request) {
  STREAM_DATA_INTERSECT_INFO* info = request->CommandData.IntersectInfo;
  ICaptureStream* stream = info != nullptr ? StreamOf(info->StreamNumber) : nullptr;
  if (stream == nullptr || !HoldsVideoRange(info->DataRange)) return STATUS_NO_MATCH;
  auto* range = reinterpret_cast<PKS_DATARANGE_VIDEO>(info->DataRange);
  if (MatchingFormat(stream, info->StreamNumber, nullptr, range) == nullptr) return STATUS_NO_MATCH;
  const KS_BITMAPINFOHEADER& bitmap = range->VideoInfoHeader.bmiHeader;
  // The bitmap header may be longer than its fixed part (a palette or masks), but never longer
  // than what the range itself carries.
  const ULONG bitmapOffset = offsetof(KS_DATARANGE_VIDEO, VideoInfoHeader.bmiHeader);
  if (bitmap.biSize < sizeof(KS_BITMAPINFOHEADER) ||
      bitmap.biSize > range->DataRange.FormatSize - bitmapOffset) {
    return STATUS_NO_MATCH;
  }
  const ULONG size = sizeof(KSDATAFORMAT) + kFixedVideoInfoBytes + bitmap.biSize;
  if (info->SizeOfDataFormatBuffer == 0) {
    request->ActualBytesTransferred = size;
    return STATUS_BUFFER_OVERFLOW;
  }
  if (info->DataFormatBuffer == nullptr) return STATUS_INVALID_PARAMETER;
  if (info->SizeOfDataFormatBuffer == sizeof(ULONG)) {
    memcpy(info->DataFormatBuffer, &size, sizeof size);
    request->ActualBytesTransferred = sizeof(ULONG);
    return STATUS_SUCCESS;
  }
  if (info->SizeOfDataFormatBuffer < size) return STATUS_BUFFER_TOO_SMALL;
  auto* reply = static_cast<UCHAR*>(info->DataFormatBuffer);
  memcpy(reply, &range->DataRange, sizeof(KSDATAFORMAT));
  memcpy(reply + sizeof(KSDATAFORMAT), &range->VideoInfoHeader,
         kFixedVideoInfoBytes + bitmap.biSize);
  auto* format = reinterpret_cast<PKS_DATAFORMAT_VIDEOINFOHEADER>(reply);
  KS_BITMAPINFOHEADER& header = format->VideoInfoHeader.bmiHeader;
  const ULONG rowBytes = ((static_cast<ULONG>(header.biWidth) * header.biBitCount + 31) / 8) & ~3u;
  const ULONG rows = static_cast<ULONG>(header.biHeight < 0 ? -header.biHeight : header.biHeight);
  header.biSizeImage = rowBytes * rows;
  format->DataFormat.SampleSize = header.biSizeImage;
  format->DataFormat.FormatSize = size;
  request->ActualBytesTransferred = size;
  return STATUS_SUCCESS;
}
