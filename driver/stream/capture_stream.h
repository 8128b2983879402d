// CaptureStream: one capture pin, the video pin (stream 0) or the still pin (stream 1). It holds
// the pin's format table in the order the stream class reports it, knows the current format, writes
// the pin's open and close register lists, selects a format and mode when the framework claims
// bandwidth, and remembers the chosen format from one use of the camera to the next. Frames never
// pass through it: it only tells the image processor which format a stream opened with.
#pragma once

#include "stream/camera_link.h"

class CaptureStream final : public Delegating<ICaptureStream, CaptureStream>,
                            public UnknownPart<CaptureStream> {
 public:
  // keyPath: the video stream's key below the device key (the still stream reads no key).
  CaptureStream(ICaptureControl* owner, PCWSTR keyPath, ULONG streamNumber);
  ~CaptureStream();

  NTSTATUS QueryClassInterface(REFGUID iid, void** result);

  // ICaptureStream
  NTSTATUS SaveFormat(ULONG number) override;
  NTSTATUS OpenFormat(PKS_DATAFORMAT_VIDEOINFOHEADER format, ULONG number) override;
  NTSTATUS Activate(ULONG number) override;
  NTSTATUS Deactivate(ULONG number) override;
  UCHAR IsActive(ULONG number) override;
  NTSTATUS Open(PKS_DATAFORMAT_VIDEOINFOHEADER format, ULONG number) override;
  NTSTATUS Close(ULONG number) override;
  UCHAR IsOpen(ULONG number) override;
  IVideoFormat* GetCurrentFormat(ULONG number) override;
  PointerList* GetFormats(ULONG number) override;
  ULONG GetDataRanges(PKSDATAFORMAT** table) override;
  NTSTATUS ApplyCloseRegisters() override;
  NTSTATUS ApplyOpenRegisters() override;
  NTSTATUS BuildStillFormats(ULONG number) override;
  NTSTATUS LoadSettings() override;
  NTSTATUS LoadFormats() override;
  NTSTATUS GroupCurrentSize() override;

  // Fields, in order.
  WCHAR keyPath[kStreamPathChars];
  ICaptureControl* owner;  // uncounted
  ULONG streamNumber;
  UCHAR open;
  UCHAR active;
  PointerList* formats;           // IVideoFormat pointers, each holding one reference
  IVideoFormat* currentFormat;    // an element of formats
  PKSDATAFORMAT* dataRangeTable;  // built on first request
  ULONG dataRangeCount;
  StreamRegisterList closeUsbSettings;     // "CloseStreamUsbSetting"
  StreamRegisterList closeCameraSettings;  // "CloseStreamCameraSetting"
  StreamRegisterList openUsbSettings;      // "OpenStreamUsbSetting"
  StreamRegisterList openCameraSettings;   // "OpenStreamCameraSetting"
  ULONG saveFormat;                        // "SaveFormat"
  IBufferPool* bufferPool;                 // uncounted

 private:
  // Adds a format at the head of the table, creating the table on first use. On failure the
  // format's reference is released.
  NTSTATUS InsertFormat(IVideoFormat* format);
  // A still format of the given size and kind, inserted and made current.
  NTSTATUS AddStillFormat(ULONG width, ULONG height, ULONG bitCount, ULONG fourCC);
  // Writes a USB list then a camera list; the status of the last write.
  NTSTATUS WriteListPair(const StreamRegisterList& usb, const StreamRegisterList& camera);
};

// Creates a stream (one reference, in *result); STATUS_INSUFFICIENT_RESOURCES without memory.
NTSTATUS CreateCaptureStream(ICaptureControl* owner, PCWSTR keyPath, ULONG streamNumber,
                             ICaptureStream** result);
