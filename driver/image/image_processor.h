// The image processor: every byte of video passes through it. The framework's frame callbacks
// reach it for each new frame, each isochronous packet and each finished raw frame; it cuts frames
// from the packets (frame_builder.h), turns raw frames into the application's pixel format by
// copy, decoding or colour conversion (frame_paths.h, color_convert.h), keeps a still taken from
// the stream on a snapshot-button press (frame_last_still.h), and serves its share of the custom
// property set and the last-still device control codes.
//
// One processor per camera, created by the camera on the first query for IImageProcessor and
// aggregated under the device root. ImageProcessor holds the behaviour; BridgeImageProcessor is
// the class that is instantiated.
#pragma once

#include "config/register_lists.h"
#include "core/buffer_pool.h"
#include "core/image_processor_interface.h"
#include "image/color_convert.h"
#include "image/frame_builder.h"
#include "image/frame_last_still.h"
#include "ks.h"

struct DecoderState;
class BridgeImageProcessor;

// One register list of the UV test with the register values it replaced.
struct UvTestList {
  RegisterListEntry* entries;  // persistent pool kind, or null
  RegisterListEntry* saved;    // same size: (register, value before, mask)
  ULONG count;
};

// Still modes: where stills come from and how the last still is kept.
inline constexpr ULONG kStillFromPin = 1;
inline constexpr ULONG kStillFromVideo = 2;
inline constexpr ULONG kStillFromSensorYuv = 3;
inline constexpr ULONG kStillFromSensorRaw = 4;

// Capture request states of the snapshot button.
inline constexpr LONG kCaptureIdle = 0;
inline constexpr LONG kCaptureRequested = 1;
inline constexpr LONG kCaptureArmed = 2;

// The private device control codes forwarded by the device object.
inline constexpr ULONG kLongPressDefaultMs = 2500;

class ImageProcessor : public Delegating<IImageProcessor, ImageProcessor>,
                       public UnknownPart<BridgeImageProcessor> {
 public:
  ImageProcessor(PCWSTR settingsKeyPath, IUnknown* ownerInterface, IUnknown* outerUnknown);
  ~ImageProcessor();

  NTSTATUS QueryClassInterface(REFGUID iid, void** result);

  // IImageProcessor
  NTSTATUS HandleCustomProperty(PVOID request, PVOID reply, ULONG replySize, BOOLEAN set) override;
  ULONG SetStillMode(ULONG mode, ULONG apply) override;
  NTSTATUS GetLastFrameHeader(PVOID destination) override;
  ULONG GetLastFrameData(PVOID destination, ULONG length) override;
  NTSTATUS EnableLastFrame(ULONG flag) override;
  NTSTATUS Reset(ULONG streamNumber) override;
  NTSTATUS CloseStream(IUnknown* owner, PKSDATAFORMAT format, ULONG streamNumber) override;
  NTSTATUS OpenStream(IUnknown* owner, PKSDATAFORMAT format, ULONG streamNumber) override;
  void NewVideoFrame(DeviceContext* context, PVOID frameContext, ULONG streamNumber,
                     PULONG frameLength) override;
  ULONG ProcessUsbPacket(PDEVICE_OBJECT busDeviceObject, DeviceContext* context, PVOID frameContext,
                         PUSBD_ISO_PACKET_DESCRIPTOR syncPacket, PVOID syncBuffer,
                         PUSBD_ISO_PACKET_DESCRIPTOR dataPacket, PVOID dataBuffer,
                         PBOOLEAN frameComplete, PULONG packetFlag,
                         PULONG validDataOffset) override;
  NTSTATUS ProcessRawFrame(PDEVICE_OBJECT busDeviceObject, DeviceContext* context,
                           PVOID frameContext, PVOID frameBuffer, ULONG frameLength,
                           PVOID rawBuffer, ULONG rawLength, ULONG packetCount,
                           PULONG bytesReturned, ULONG actualRawLength,
                           ULONG streamNumber) override;
  UCHAR IsUvTestActive() override;
  void OnCameraStop() override;
  NTSTATUS RestartUvTest() override;
  void OnButtonEvent(DeviceContext* context, ULONG data) override;
  NTSTATUS LoadSettings() override;
  NTSTATUS ReloadModeSettings() override;

  // Inside the image pipeline.
  void ApplyUvTestLists();
  void RestoreUvTestLists();

  // Fields.
  IUnknown* owner;    // no reference; replaced by the owner given to OpenStream
  IBufferPool* pool;  // no reference
  WCHAR settingsPath[260];
  LONG volatile stillMode;
  LONG volatile pendingStillMode;
  LONG volatile rawProcessDisabled;
  UCHAR stillModeLocked;
  FrameBuilderState frameBuilder;  // headerPacketSize, inFrame
  UCHAR translate;
  UCHAR useMmx;
  UCHAR forceNonMmx;
  KS_DATARANGE_VIDEO videoFormat;
  ULONG sensorWidth;
  ULONG sensorHeight;
  ULONG sourceWidth;  // the sensor-side size of the open format (ibexcam scales from it)
  ULONG sourceHeight;
  ULONG qualityLevel;
  ULONG sampleBits;
  UCHAR rawFlags;
  UCHAR oneLine;
  UCHAR downSample;
  LONG volatile captureRequest;
  LastFrameStore lastFrame;
  UCHAR lastFrameEnabled;
  UCHAR videoOpen;
  ULONG pressTimeMs;
  ULONG longPressMs;
  UCHAR autoCloseEnabled;
  UvTestList uvTestCamera;  // "CameraSetting": sensor registers
  UvTestList uvTestUsb;     // "UsbSetting": bridge registers
  UCHAR uvTestApplied;
  ULONG flipBits;
  UCHAR standardCoefficients;
  UCHAR tenBitCurveOn;
  DecodedColorTables* conversionTables;  // persistent pool kind
  const ColorRoutines* colorRoutines;    // chosen at OpenStream
  DecoderState* decoder;                 // one per open video stream
  UCHAR* decodeBuffer;                   // direct kind, kept between frames
  ULONG decodeCapacity;

 private:
  void ReadStillModeSettings();
  void ApplyPendingStillMode();
  void PrepareLastFrame();
  void StoreCapturedFrame(const UCHAR* frame, ULONG frameLength, const UCHAR* raw, ULONG rawLength,
                          ULONG width, ULONG height, ULONG compression);
  ULONG ConvertPacked(const UCHAR* raw, ULONG rawLength, UCHAR* destination,
                      ULONG destinationLength, ULONG width, ULONG height, ULONG compression);
  ULONG DecodeCompressed(const UCHAR* raw, ULONG rawLength, UCHAR* frame, ULONG frameLength,
                         ULONG width, ULONG height, bool fourTwoTwo);
  // The raw-sensor (Bayer) path and its still read-back; a later stage of the pipeline.
  BOOLEAN ProcessBayerFrame(UCHAR* frame, ULONG frameLength, UCHAR* raw, ULONG rawLength,
                            PULONG bytesReturned);
  ULONG ConvertStoredBayer(UCHAR* destination, ULONG length);
  void SignalStill(DeviceContext* context);
  void ReadUvTestList(PCWSTR name, UvTestList* list);
  void FreeUvTestList(UvTestList* list);
};

class BridgeImageProcessor final : public ImageProcessor {
 public:
  using ImageProcessor::ImageProcessor;
};

// The creator for CLSID_ImageProcessor: settingsPath is the processor's key below the device key
// (the model key path, "\", "DataProcessing"), owner the camera's ICaptureControl, outer the
// device root. STATUS_INSUFFICIENT_RESOURCES (result untouched) when no memory can be had.
NTSTATUS CreateImageProcessor(UnknownBase** result, REFGUID clsid, PCWSTR settingsPath,
                              IUnknown* owner, IUnknown* outer, POOL_TYPE poolType);
