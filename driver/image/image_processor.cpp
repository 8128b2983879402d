#include "image/image_processor.h"

#include <cstring>

#include "camera/camera.h"
#include "core/event_notifier_interface.h"
#include "core/held_interface.h"
#include "core/timing.h"
#include "image/decoder.h"
#include "image/frame_paths.h"
#include "stream/camera_link.h"
#include "stream/stream_interfaces.h"
#include "variant.h"

namespace {

ULONG Smallest(ULONG a, ULONG b) { return a < b ? a : b; }

// The custom property request and reply: the 24-byte property header, then the 32-bit data field
// and the 16-bit id.
inline constexpr ULONG kCustomDataOffset = 24;
inline constexpr ULONG kCustomIdOffset = 28;
inline constexpr ULONG kCustomRequestBytes = 30;
inline constexpr ULONG kCustomReplyBytes = 32;
inline constexpr USHORT kPropertyRawMode = 3;
inline constexpr USHORT kPropertyLongPress = 8;

// Bit 3 of the button status: set when the button came up.
inline constexpr ULONG kButtonReleased = 0x8;

ULONG NowMs() { return static_cast<ULONG>(QueryTime100ns() / 10000); }

const KS_BITMAPINFOHEADER& OutputHeader(const KS_DATARANGE_VIDEO& range) {
  return range.VideoInfoHeader.bmiHeader;
}

}  // namespace

NTSTATUS CreateImageProcessor(UnknownBase** result, REFGUID, PCWSTR settingsPath, IUnknown* owner,
                              IUnknown* outer, POOL_TYPE) {
  auto* processor = ConstructWithRetry<BridgeImageProcessor>(settingsPath, owner, outer);
  if (processor == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  UnknownBase* unknown = processor;
  *result = unknown;
  unknown->AddRef();
  return STATUS_SUCCESS;
}

ImageProcessor::ImageProcessor(PCWSTR settingsKeyPath, IUnknown* ownerInterface,
                               IUnknown* outerUnknown)
    : UnknownPart<BridgeImageProcessor>(outerUnknown),
      owner(ownerInterface),
      pool(nullptr),
      settingsPath{},
      stillMode(0),
      pendingStillMode(0),
      rawProcessDisabled(0),
      stillModeLocked(0),
      frameBuilder{kDefaultHeaderPacketSize, 0},
      translate(1),
      useMmx(0),
      forceNonMmx(0),
      videoFormat{},
      sensorWidth(0),
      sensorHeight(0),
      sourceWidth(0),
      sourceHeight(0),
      qualityLevel(0),
      sampleBits(8),
      rawFlags(0),
      oneLine(0),
      downSample(0),
      captureRequest(kCaptureIdle),
      lastFrame{},
      lastFrameEnabled(0),
      videoOpen(0),
      pressTimeMs(0),
      longPressMs(kLongPressDefaultMs),
      autoCloseEnabled(0),
      uvTestCamera{},
      uvTestUsb{},
      uvTestApplied(0),
      flipBits(0),
      standardCoefficients(0),
      tenBitCurveOn(0),
      conversionTables(nullptr),
      colorRoutines(nullptr),
      decoder(nullptr),
      decodeBuffer(nullptr),
      decodeCapacity(0) {
  if (owner != nullptr) {
    // Kept without a reference: the pool lives as long as the device.
    HeldInterface<IBufferPool> held(owner, IID_IBufferPool);
    pool = held.get();
  }
  if (settingsKeyPath != nullptr) CopyStreamPath(settingsPath, settingsKeyPath);
  LoadSettings();
}

ImageProcessor::~ImageProcessor() {
  FreeUvTestList(&uvTestCamera);
  FreeUvTestList(&uvTestUsb);
  FreeLastFrame(&lastFrame, pool);
  if (decodeBuffer != nullptr) pool->Free(decodeBuffer);
  DestroyDecoder(decoder);
  FreeConversionTables(pool, &conversionTables);
}

NTSTATUS ImageProcessor::QueryClassInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_IImageProcessor)) return AnswerInterface<IImageProcessor>(this, result);
  return UnknownBase::QueryInterface(iid, result);
}

// ---- Settings
// -------------------------------------------------------------------------------------

NTSTATUS ImageProcessor::LoadSettings() {
  if (pool != nullptr && conversionTables == nullptr)
    BuildConversionTables(pool, &conversionTables);
  {
    HeldInterface<ICaptureControl> control(owner, IID_ICaptureControl);
    UCHAR useGpio0 = 0;
    if (control) autoCloseEnabled = control->GetAutoCloseSettings(&useGpio0);
  }
  {
    HeldInterface<ICameraInfo> info(owner, IID_ICameraInfo);
    if (info) {
      const LONG mode = static_cast<LONG>(info->GetStillSupportType());
      InterlockedExchange(&stillMode, mode);
      InterlockedExchange(&pendingStillMode, mode);
      info->GetSensorSize(&sensorWidth, &sensorHeight);
      if (mode == kStillFromSensorYuv || mode == kStillFromSensorRaw) {
        lastFrame.header = MakeStillHeader(sensorWidth, sensorHeight);
      }
    }
  }
  HeldInterface<ICaptureControl> control(owner, IID_ICaptureControl);
  if (!control) return STATUS_SUCCESS;
  {
    CameraKey key(control.get(), settingsPath);
    if (key.IsOpen()) {
      ULONG value = translate;
      if (key.ReadNumber(u"DoTranslate", &value)) translate = static_cast<UCHAR>(value);
      value = forceNonMmx;
      if (key.ReadNumber(u"ForceNonMMX", &value)) forceNonMmx = static_cast<UCHAR>(value);
      value = kDefaultHeaderPacketSize;
      frameBuilder.headerPacketSize =
          key.ReadNumber(u"HeaderPerSize", &value) ? value : kDefaultHeaderPacketSize;
    }
  }
  ReadStillModeSettings();
  WCHAR uvPath[kStreamPathChars];
  if (ComposeStreamPath(uvPath, settingsPath, u"UVTest")) {
    CameraKey key(control.get(), uvPath);
    if (key.IsOpen()) {
      ReadUvTestList(u"UsbSetting", &uvTestUsb);
      ReadUvTestList(u"CameraSetting", &uvTestCamera);
    }
  }
  return STATUS_SUCCESS;
}

NTSTATUS ImageProcessor::ReloadModeSettings() {
  const LONG mode = ReadShared(&stillMode);
  if (mode == kStillFromSensorYuv || mode == kStillFromSensorRaw) {
    InterlockedExchange(&rawProcessDisabled, 0);
    ReadStillModeSettings();
  }
  return STATUS_SUCCESS;
}

// "DisableRawProcess" of the still mode's subkey: "YUV" for mode 3, "RAW" for mode 4.
void ImageProcessor::ReadStillModeSettings() {
  const LONG mode = ReadShared(&stillMode);
  if (mode != kStillFromSensorYuv && mode != kStillFromSensorRaw) return;
  WCHAR path[kStreamPathChars];
  if (!ComposeStreamPath(path, settingsPath, mode == kStillFromSensorYuv ? u"YUV" : u"RAW")) return;
  HeldInterface<ICaptureControl> control(owner, IID_ICaptureControl);
  if (!control) return;
  CameraKey key(control.get(), path);
  ULONG value = 0;
  if (key.IsOpen() && key.ReadNumber(u"DisableRawProcess", &value)) {
    InterlockedExchange(&rawProcessDisabled, static_cast<LONG>(value & 0xFF));
  }
}

void ImageProcessor::ReadUvTestList(PCWSTR name, UvTestList* list) {
  HeldInterface<ICaptureControl> control(owner, IID_ICaptureControl);
  if (!control || pool == nullptr) return;
  WCHAR path[kStreamPathChars];
  if (!ComposeStreamPath(path, settingsPath, u"UVTest")) return;
  CameraKey key(control.get(), path);
  StreamRegisterList read = {};
  if (!NT_SUCCESS(key.ReadList(pool, name, &read)) || read.count == 0) {
    FreeStreamList(pool, &read);
    return;
  }
  const ULONG bytes = read.count * sizeof(RegisterListEntry);
  auto* saved =
      static_cast<RegisterListEntry*>(pool->Allocate(NonPagedPool, bytes, kBufferPersistent));
  if (saved == nullptr) {
    FreeStreamList(pool, &read);
    return;
  }
  memset(saved, 0, bytes);
  FreeUvTestList(list);
  list->entries = read.entries;
  list->saved = saved;
  list->count = read.count;
}

void ImageProcessor::FreeUvTestList(UvTestList* list) {
  if (pool != nullptr) {
    if (list->entries != nullptr) pool->Free(list->entries);
    if (list->saved != nullptr) pool->Free(list->saved);
  }
  *list = UvTestList{};
}

// ---- UV test
// --------------------------------------------------------------------------------------

namespace {

// Writes one entry with its mask: bits outside the mask keep the current value.
UCHAR Masked(UCHAR value, UCHAR current, UCHAR mask) {
  return mask == registers::kWholeRegister ? value
                                           : static_cast<UCHAR>((value & mask) | (current & ~mask));
}

void ApplyList(IRegisterAccess* access, UvTestList* list, bool bridge) {
  for (ULONG index = 0; index < list->count; ++index) {
    const RegisterListEntry& entry = list->entries[index];
    UCHAR current = 0;
    if (bridge) {
      ULONG count = 1;
      access->ReadBridge(entry.registerIndex, &current, &count);
    } else {
      access->ReadSensor(entry.registerIndex, &current);
    }
    list->saved[index] = {entry.registerIndex, current, entry.mask};
    const UCHAR value = Masked(entry.value, current, entry.mask);
    if (bridge) {
      access->WriteBridge(entry.registerIndex, value);
    } else {
      access->WriteSensor(entry.registerIndex, value);
    }
  }
}

void RestoreList(IRegisterAccess* access, const UvTestList* list, bool bridge) {
  for (ULONG index = list->count; index-- > 0;) {
    const RegisterListEntry& saved = list->saved[index];
    UCHAR current = 0;
    if (saved.mask != registers::kWholeRegister) {
      if (bridge) {
        ULONG count = 1;
        access->ReadBridge(saved.registerIndex, &current, &count);
      } else {
        access->ReadSensor(saved.registerIndex, &current);
      }
    }
    const UCHAR value = Masked(saved.value, current, saved.mask);
    if (bridge) {
      access->WriteBridge(saved.registerIndex, value);
    } else {
      access->WriteSensor(saved.registerIndex, value);
    }
  }
}

}  // namespace

void ImageProcessor::ApplyUvTestLists() {
  HeldInterface<IRegisterAccess> access(owner, IID_IRegisterAccess);
  if (!access) return;
  ApplyList(access.get(), &uvTestCamera, false);
  ApplyList(access.get(), &uvTestUsb, true);
}

void ImageProcessor::RestoreUvTestLists() {
  HeldInterface<IRegisterAccess> access(owner, IID_IRegisterAccess);
  if (!access) return;
  RestoreList(access.get(), &uvTestCamera, false);
  RestoreList(access.get(), &uvTestUsb, true);
}

UCHAR ImageProcessor::IsUvTestActive() { return uvTestApplied; }
void ImageProcessor::OnCameraStop() {}

NTSTATUS ImageProcessor::RestartUvTest() {
  if (videoOpen != 0 && (uvTestCamera.count != 0 || uvTestUsb.count != 0)) {
    ApplyUvTestLists();
    uvTestApplied = 1;
  }
  return STATUS_SUCCESS;
}

// ---- Custom properties and still mode
// -------------------------------------------------------------

NTSTATUS ImageProcessor::HandleCustomProperty(PVOID request, PVOID reply, ULONG replySize,
                                              BOOLEAN set) {
  if (request == nullptr) return STATUS_INVALID_PARAMETER;
  const auto* in = static_cast<const UCHAR*>(request);
  USHORT id = 0;
  ULONG data = 0;
  memcpy(&id, in + kCustomIdOffset, sizeof id);
  memcpy(&data, in + kCustomDataOffset, sizeof data);
  static_assert(kCustomIdOffset + sizeof(USHORT) == kCustomRequestBytes);
  ULONG answer = 0;
  switch (id) {
    case kPropertyRawMode: {
      if (set) return STATUS_SUCCESS;
      if (ReadShared(&stillMode) == kStillFromSensorRaw) {
        answer = ReadShared(&rawProcessDisabled) != 0 ? 1 : 3;
      } else {
        answer = translate != 0 ? 3 : 2;
      }
      break;
    }
    case kPropertyLongPress:
      if (set) {
        longPressMs = data;
        return STATUS_SUCCESS;
      }
      answer = longPressMs;
      break;
    default:
      // ibexcam answers the ids it does not serve; lynxcam lets them pass quietly.
      return kIsIbexcam ? STATUS_NOT_SUPPORTED : STATUS_SUCCESS;
  }
  if (reply == nullptr || replySize < kCustomReplyBytes) return STATUS_BUFFER_TOO_SMALL;
  auto* out = static_cast<UCHAR*>(reply);
  const ULONG cleared = 0;
  memcpy(out + kCustomDataOffset, &answer, sizeof answer);
  memcpy(out + kCustomIdOffset, &cleared, sizeof cleared);
  return STATUS_SUCCESS;
}

ULONG ImageProcessor::SetStillMode(ULONG mode, ULONG apply) {
  if (stillModeLocked == 0 && apply != 0) {
    InterlockedExchange(&pendingStillMode, static_cast<LONG>(mode));
    // While a last-still read runs the change waits for its end (see GetLastFrameData).
    if (ReadShared(&lastFrame.reads) == 0) ApplyPendingStillMode();
  }
  return static_cast<ULONG>(ReadShared(&stillMode));
}

// Takes the pending mode when it differs; of two callers that race here, one reloads.
void ImageProcessor::ApplyPendingStillMode() {
  const LONG pending = ReadShared(&pendingStillMode);
  const LONG current = ReadShared(&stillMode);
  if (pending == current) return;
  if (InterlockedCompareExchange(&stillMode, pending, current) == current) ReloadModeSettings();
}

NTSTATUS ImageProcessor::EnableLastFrame(ULONG flag) {
  lastFrameEnabled = flag != 0 ? 1 : 0;
  return STATUS_SUCCESS;
}

NTSTATUS ImageProcessor::Reset(ULONG) {
  InterlockedExchange(&captureRequest, kCaptureIdle);
  return STATUS_SUCCESS;
}

// ---- Last still
// -----------------------------------------------------------------------------------

NTSTATUS ImageProcessor::GetLastFrameHeader(PVOID destination) {
  if (destination == nullptr) return STATUS_INVALID_PARAMETER;
  LastFrameReadClaim claim(&lastFrame);
  if (!claim.granted()) return STATUS_UNSUCCESSFUL;
  memcpy(destination, &lastFrame.header, sizeof lastFrame.header);
  return STATUS_SUCCESS;
}

ULONG ImageProcessor::GetLastFrameData(PVOID destination, ULONG length) {
  ULONG given = 0;
  {
    LastFrameReadClaim claim(&lastFrame);
    const ULONG stored = lastFrame.storedLength;
    if (claim.granted() && destination != nullptr && lastFrame.buffer != nullptr && stored != 0 &&
        length >= stored) {
      const LONG mode = ReadShared(&stillMode);
      if (ReadShared(&rawProcessDisabled) != 0 || mode == kStillFromVideo ||
          mode == kStillFromSensorYuv) {
        memcpy(destination, lastFrame.buffer, stored);
        given = stored;
      } else {
        given = ConvertStoredBayer(static_cast<UCHAR*>(destination), length);
      }
    }
    // The last reader out takes a still mode that was set while it read.
    if (claim.Release() != 0) return given;
  }
  ApplyPendingStillMode();
  return given;
}

// ---- Streams
// --------------------------------------------------------------------------------------

NTSTATUS ImageProcessor::OpenStream(IUnknown* newOwner, PKSDATAFORMAT format, ULONG streamNumber) {
  if (format == nullptr) return STATUS_SUCCESS;
  // The format argument is the stream's format object, asked for its interfaces.
  auto* formatObject = reinterpret_cast<IUnknown*>(format);
  HeldInterface<IVideoFormat> videoFormatObject(formatObject, IID_IVideoFormat);
  if (streamNumber == kVideoStreamNumber) {
    videoOpen = 1;
    if (videoFormatObject && videoFormatObject->GetDataRange() != nullptr) {
      memcpy(&videoFormat, videoFormatObject->GetDataRange(), sizeof videoFormat);
      const KS_BITMAPINFOHEADER& header = OutputHeader(videoFormat);
      sourceWidth = static_cast<ULONG>(header.biWidth);
      sourceHeight = static_cast<ULONG>(header.biHeight);
      GetFormatSourceSize(videoFormatObject.get(), &sourceWidth, &sourceHeight);
    }
    if (uvTestCamera.count != 0 || uvTestUsb.count != 0) {
      ApplyUvTestLists();
      uvTestApplied = 1;
    }
  }
  if (videoFormatObject) {
    IFormatMode* mode = videoFormatObject->GetCurrentMode();
    if (mode != nullptr) {
      rawFlags = mode->GetRawDataFlags();
      oneLine = (rawFlags & kRawDataOneLine) != 0 ? 1 : 0;
      downSample = (rawFlags & kRawDataDownSample) != 0 ? 1 : 0;
      sampleBits = mode->GetBitCount();
      qualityLevel = mode->GetQualityLevel();
    }
  }
  if (newOwner != nullptr) owner = newOwner;
  {
    HeldInterface<ICameraInfo> info(owner, IID_ICameraInfo);
    if (info) {
      const LONG mode = static_cast<LONG>(info->GetStillSupportType());
      InterlockedExchange(&stillMode, mode);
      InterlockedExchange(&pendingStillMode, mode);
      stillModeLocked = info->GetSupportStillPin();
      info->GetSensorSize(&sensorWidth, &sensorHeight);
    }
  }
  if (lastFrameEnabled != 0) PrepareLastFrame();
  useMmx = forceNonMmx != 0
               ? 0
               : (SelectColorRoutines(true) != ColorRoutinesFor(ColorRoutineSet::Plain) ? 1 : 0);
  colorRoutines = SelectColorRoutines(useMmx != 0);
  if (kHasDecoder && streamNumber == kVideoStreamNumber) {
    DestroyDecoder(decoder);
    decoder = nullptr;
    if (NT_SUCCESS(CreateDecoder(&decoder)) &&
        !NT_SUCCESS(InitDecoderTables(decoder, kBuiltInQuantTable0, kBuiltInQuantTable1, useMmx))) {
      DestroyDecoder(decoder);
      decoder = nullptr;
    }
  }
  return STATUS_SUCCESS;
}

// The still's header and buffer, made ready when the stream opens.
void ImageProcessor::PrepareLastFrame() {
  const LONG mode = ReadShared(&stillMode);
  if (mode != kStillFromVideo && mode != kStillFromSensorYuv && mode != kStillFromSensorRaw) return;
  if (!TryBeginLastFrameChange(&lastFrame)) return;
  if (mode == kStillFromVideo) {
    const KS_BITMAPINFOHEADER& header = OutputHeader(videoFormat);
    lastFrame.header =
        MakeStillHeader(static_cast<ULONG>(header.biWidth), static_cast<ULONG>(header.biHeight));
  } else {
    lastFrame.header = MakeStillHeader(sensorWidth, sensorHeight);
  }
  const ULONG width = static_cast<ULONG>(lastFrame.header.width);
  const ULONG height = static_cast<ULONG>(lastFrame.header.height);
  if (ColorSizeAllowed(width, height)) ReserveLastFrame(&lastFrame, pool, 3 * width * height);
  EndLastFrameChange(&lastFrame);
}

NTSTATUS ImageProcessor::CloseStream(IUnknown*, PKSDATAFORMAT, ULONG streamNumber) {
  if (streamNumber != kVideoStreamNumber) return STATUS_SUCCESS;
  if (uvTestApplied != 0) RestoreUvTestLists();
  // A read in progress keeps the still; it goes with the next change or the processor.
  if (TryBeginLastFrameChange(&lastFrame)) {
    FreeLastFrame(&lastFrame, pool);
    EndLastFrameChange(&lastFrame);
  }
  videoOpen = 0;
  DestroyDecoder(decoder);
  decoder = nullptr;
  return STATUS_SUCCESS;
}

// ---- Frames
// ---------------------------------------------------------------------------------------

void ImageProcessor::NewVideoFrame(DeviceContext*, PVOID frameContext, ULONG streamNumber, PULONG) {
  StartFrameContext(frameContext, streamNumber);
}

ULONG ImageProcessor::ProcessUsbPacket(PDEVICE_OBJECT, DeviceContext*, PVOID frameContext,
                                       PUSBD_ISO_PACKET_DESCRIPTOR, PVOID,
                                       PUSBD_ISO_PACKET_DESCRIPTOR dataPacket, PVOID,
                                       PBOOLEAN frameComplete, PULONG packetFlag,
                                       PULONG validDataOffset) {
  return ProcessFramePacket(&frameBuilder, frameContext, dataPacket, frameComplete, packetFlag,
                            validDataOffset);
}

NTSTATUS ImageProcessor::ProcessRawFrame(PDEVICE_OBJECT, DeviceContext* context, PVOID frameContext,
                                         PVOID frameBuffer, ULONG frameLength, PVOID rawBuffer,
                                         ULONG rawLength, ULONG, PULONG bytesReturned,
                                         ULONG actualRawLength, ULONG) {
  (void)frameContext;
  if (frameBuffer == nullptr || rawBuffer == nullptr || bytesReturned == nullptr) {
    return STATUS_SUCCESS;
  }
  auto* frame = static_cast<UCHAR*>(frameBuffer);
  auto* raw = static_cast<UCHAR*>(rawBuffer);
  const KS_BITMAPINFOHEADER& header = OutputHeader(videoFormat);
  const ULONG width = static_cast<ULONG>(header.biWidth);
  const ULONG height = static_cast<ULONG>(header.biHeight);
  const ULONG compression = header.biCompression;
  if (!ColorSizeAllowed(width, height)) return STATUS_SUCCESS;
  const ULONG pixels = width * height;
  // The bytes the camera really sent; the rest of the raw buffer holds an older frame.
  const ULONG received = Smallest(actualRawLength, rawLength);

  if (compression == kFourCcMjpg) {
    *bytesReturned = CopyCompressedFrame(frame, frameLength, raw, received, 2 * pixels);
    return STATUS_SUCCESS;
  }
  if (kHasDecoder && (qualityLevel == 3 || qualityLevel == 2)) {
    const ULONG produced =
        DecodeCompressed(raw, Smallest(received, Smallest(2 * pixels, frameLength)), frame,
                         frameLength, width, height, qualityLevel == 3);
    // A frame that does not decode goes out without a byte count; the stream goes on.
    if (produced != 0) *bytesReturned = produced;
    return STATUS_SUCCESS;
  }
  if (kIsLynxcam && qualityLevel == 4) {
    *bytesReturned = ExpandRgb565(frame, frameLength, raw, received);
    return STATUS_SUCCESS;
  }
  if (kIsLynxcam && qualityLevel == 5) {
    *bytesReturned = ExpandGrey(frame, frameLength, raw, received);
    return STATUS_SUCCESS;
  }
  if (sampleBits == 10) {
    // tenBitCurveOn belongs to the raw-sensor adjustments; until they exist the low byte is used.
    if (!ReduceTenBitSamples(raw, rawLength, pixels, nullptr)) return STATUS_SUCCESS;
  }
  const ULONG usedRaw = rawFlags != 0 ? pixels : 2 * pixels;
  if (rawLength < usedRaw) return STATUS_SUCCESS;

  // The snapshot button: the first uncompressed frame after a press is dropped, the next one kept.
  bool captured = false;
  if (ReadShared(&lastFrame.reads) == 0) {
    if (InterlockedCompareExchange(&captureRequest, kCaptureArmed, kCaptureRequested) ==
        kCaptureRequested) {
      *bytesReturned = 0;
      return STATUS_SUCCESS;
    }
    if (ReadShared(&captureRequest) == kCaptureArmed && TryBeginLastFrameChange(&lastFrame)) {
      captured =
          InterlockedCompareExchange(&captureRequest, kCaptureIdle, kCaptureArmed) == kCaptureArmed;
      if (!captured) EndLastFrameChange(&lastFrame);
    }
  }

  if (rawFlags == 0) {
    const ULONG converted =
        ConvertPacked(raw, rawLength, frame, frameLength, width, height, compression);
    if (converted != 0) *bytesReturned = frameLength;
  } else {
    ProcessBayerFrame(frame, frameLength, raw, rawLength, bytesReturned);
    // The raw-sensor path stores its own stills once it exists.
    if (captured) EndLastFrameChange(&lastFrame);
    return STATUS_SUCCESS;
  }
  if (captured) {
    StoreCapturedFrame(frame, frameLength, raw, rawLength, width, height, compression);
    EndLastFrameChange(&lastFrame);
    SignalStill(context);
  }
  return STATUS_SUCCESS;
}

ULONG ImageProcessor::ConvertPacked(const UCHAR* raw, ULONG rawLength, UCHAR* destination,
                                    ULONG destinationLength, ULONG width, ULONG height,
                                    ULONG compression) {
  if (colorRoutines == nullptr) colorRoutines = SelectColorRoutines(false);
  // The camera sends its top row first, while a 24-bit RGB frame is a bitmap whose first row is
  // the bottom one (as the decoded paths write it): the rows are turned over on top of the user's
  // own flip.
  const ULONG flip = compression == kCompressionRgb24 ? flipBits ^ kFlipVertical : flipBits;
  YuvConversionSettings settings = {flip, standardCoefficients != 0, nullptr};
  ULONG fromWidth = width, fromHeight = height;
  if (kHasSourceScaling && sourceWidth != 0 && sourceHeight != 0) {
    fromWidth = sourceWidth;
    fromHeight = sourceHeight;
  }
  return colorRoutines->convertYuv422(raw, rawLength, destination, destinationLength, width, height,
                                      compression, fromWidth, fromHeight, settings);
}

ULONG ImageProcessor::DecodeCompressed(const UCHAR* raw, ULONG rawLength, UCHAR* frame,
                                       ULONG frameLength, ULONG width, ULONG height,
                                       bool fourTwoTwo) {
  if (decoder == nullptr || conversionTables == nullptr || pool == nullptr) return 0;
  if (colorRoutines == nullptr) colorRoutines = SelectColorRoutines(false);
  // Planes of the decoded frame: luma, then two chroma planes of half width (4:2:2) or half
  // width and height (4:2:0), rounded up.
  const ULONG chroma = ((width + 1) / 2) * (fourTwoTwo ? height : (height + 1) / 2);
  const ULONG needed = width * height + 2 * chroma;
  if (decodeCapacity < needed) {
    if (decodeBuffer != nullptr) pool->Free(decodeBuffer);
    decodeBuffer = static_cast<UCHAR*>(pool->Allocate(NonPagedPool, needed, kBufferDirect));
    decodeCapacity = decodeBuffer != nullptr ? needed : 0;
    if (decodeBuffer == nullptr) return 0;
  }
  return DecodeToRgb(decoder, *colorRoutines, *conversionTables, raw, rawLength, decodeBuffer,
                     decodeCapacity, frame, frameLength, width, height, fourTwoTwo);
}

// Keeps the frame as the still (24-bit, bottom-up rows as converted): a copy of a 24-bit frame,
// or the raw frame converted once more. The stored length is what was really written.
void ImageProcessor::StoreCapturedFrame(const UCHAR* frame, ULONG frameLength, const UCHAR* raw,
                                        ULONG rawLength, ULONG width, ULONG height,
                                        ULONG compression) {
  const ULONG imageBytes = 3 * width * height;
  lastFrame.header = MakeStillHeader(width, height);
  ReserveLastFrame(&lastFrame, pool, imageBytes);
  lastFrame.storedLength = 0;
  if (lastFrame.buffer == nullptr) return;
  if (compression == kCompressionRgb24) {
    const ULONG count = Smallest(Smallest(frameLength, lastFrame.capacity), imageBytes);
    memcpy(lastFrame.buffer, frame, count);
    lastFrame.storedLength = count;
  } else {
    lastFrame.storedLength = ConvertPacked(raw, rawLength, lastFrame.buffer, lastFrame.capacity,
                                           width, height, kCompressionRgb24);
  }
}

void ImageProcessor::SignalStill(DeviceContext* context) {
  HeldInterface<IEventNotifier> notifier(owner, IID_IEventNotifier);
  if (notifier) notifier->SignalStillFrame(context);
}

BOOLEAN ImageProcessor::ProcessBayerFrame(UCHAR*, ULONG, UCHAR*, ULONG, PULONG) { return FALSE; }
ULONG ImageProcessor::ConvertStoredBayer(UCHAR*, ULONG) { return 0; }

// ---- Snapshot button
// ------------------------------------------------------------------------------

void ImageProcessor::OnButtonEvent(DeviceContext* context, ULONG data) {
  if ((data & kButtonReleased) == 0) {
    if (autoCloseEnabled != 0) pressTimeMs = NowMs();
    return;
  }
  HeldInterface<IEventNotifier> notifier(owner, IID_IEventNotifier);
  if (!notifier) return;
  if (autoCloseEnabled != 0 && NowMs() - pressTimeMs >= longPressMs) {
    notifier->SignalAutoClose(context);
  } else if (videoOpen == 0) {
    notifier->SignalLaunch(context);
  } else {
    InterlockedExchange(&captureRequest, kCaptureRequested);
  }
}
