// The stream suites' camera: a real Camera whose alternate-setting selection is scripted (which
// settings the bus refuses, which were asked for), aggregated under a small root that gives it a
// real buffer pool and stands in for the children that the camera makes only once it is prepared
// (property sets, low-light control), recording what the streams tell them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/camera.h"
#include "core/image_processor_interface.h"
#include "image/low_light_control.h"
#include "props/change_notice.h"
#include "props/property_set_list.h"
#include "stream/format_mode.h"
#include "stream/video_format.h"

class ScriptedCamera : public Camera {
 public:
  explicit ScriptedCamera(IUnknown* outer) : Camera(outer) {}

  // Records the setting; refuses it as the bus does when the bandwidth is not there.
  NTSTATUS SelectAltSetting(UCHAR alternateSetting) override;

  static constexpr NTSTATUS kRefusal = STATUS_INSUFFICIENT_RESOURCES;
  // Fixed storage: the Camera's destructor does not know this class's members.
  UCHAR refused[8] = {};
  ULONG refusedCount = 0;
  UCHAR asked[16] = {};
  ULONG askedCount = 0;
};

// The image processor as a stream sees it: which format each stream opened and closed with.
class RecordingProcessor : public IImageProcessor {
 public:
  NTSTATUS QueryInterface(REFGUID, void**) override { return STATUS_INVALID_PARAMETER; }
  LONG AddRef() override { return 1; }
  LONG Release() override { return 1; }
  NTSTATUS HandleCustomProperty(PVOID, PVOID, ULONG, BOOLEAN) override { return STATUS_SUCCESS; }
  ULONG SetStillMode(ULONG, ULONG) override { return 0; }
  NTSTATUS GetLastFrameHeader(PVOID) override { return STATUS_SUCCESS; }
  ULONG GetLastFrameData(PVOID, ULONG) override { return 0; }
  NTSTATUS EnableLastFrame(ULONG) override { return STATUS_SUCCESS; }
  NTSTATUS Reset(ULONG) override { return STATUS_SUCCESS; }
  NTSTATUS CloseStream(IUnknown*, PKSDATAFORMAT format, ULONG streamNumber) override {
    events.push_back({false, format, streamNumber});
    return STATUS_SUCCESS;
  }
  NTSTATUS OpenStream(IUnknown*, PKSDATAFORMAT format, ULONG streamNumber) override {
    events.push_back({true, format, streamNumber});
    return STATUS_SUCCESS;
  }
  void NewVideoFrame(DeviceContext*, PVOID, ULONG, PULONG) override {}
  ULONG ProcessUsbPacket(PDEVICE_OBJECT, DeviceContext*, PVOID, PUSBD_ISO_PACKET_DESCRIPTOR, PVOID,
                         PUSBD_ISO_PACKET_DESCRIPTOR, PVOID, PBOOLEAN, PULONG, PULONG) override {
    return 0;
  }
  NTSTATUS ProcessRawFrame(PDEVICE_OBJECT, DeviceContext*, PVOID, PVOID, ULONG, PVOID, ULONG, ULONG,
                           PULONG, ULONG, ULONG) override {
    return STATUS_SUCCESS;
  }
  UCHAR IsUvTestActive() override { return 0; }
  void OnCameraStop() override {}
  NTSTATUS RestartUvTest() override { return STATUS_SUCCESS; }
  void OnButtonEvent(DeviceContext*, ULONG) override {}
  NTSTATUS LoadSettings() override { return STATUS_SUCCESS; }
  NTSTATUS ReloadModeSettings() override { return STATUS_SUCCESS; }

  struct Event {
    bool open;
    PKSDATAFORMAT format;
    ULONG streamNumber;
  };
  std::vector<Event> events;
};

// The children that a prepared camera would have, as the streams reach them: what they were told.
class RecordingPropertySets : public IPropertySetList {
 public:
  NTSTATUS QueryInterface(REFGUID, void**) override { return STATUS_INVALID_PARAMETER; }
  LONG AddRef() override { return 1; }
  LONG Release() override { return 1; }
  NTSTATUS HandleGetRequest(PHW_STREAM_REQUEST_BLOCK) override { return STATUS_NOT_SUPPORTED; }
  NTSTATUS HandleSetRequest(PHW_STREAM_REQUEST_BLOCK) override { return STATUS_NOT_SUPPORTED; }
  ULONG GetSetTable(KSPROPERTY_SET** table) override {
    *table = nullptr;
    return 0;
  }
  NTSTATUS SaveAll() override { return STATUS_SUCCESS; }
  NTSTATUS RestoreAll() override { return STATUS_SUCCESS; }
  NTSTATUS NotifyChange(ChangeNotice* notice) override {
    notices.push_back(*notice);
    return STATUS_SUCCESS;
  }
  NTSTATUS BuildSets() override { return STATUS_SUCCESS; }
  std::vector<ChangeNotice> notices;
};

class RecordingLowLight : public ILowLightControl {
 public:
  NTSTATUS QueryInterface(REFGUID, void**) override { return STATUS_INVALID_PARAMETER; }
  LONG AddRef() override { return 1; }
  LONG Release() override { return 1; }
  NTSTATUS SetFrameRate(ULONG frameRate) override {
    frameRates.push_back(frameRate);
    return STATUS_SUCCESS;
  }
  NTSTATUS BeginFrame() override { return STATUS_SUCCESS; }
  NTSTATUS AnalyseFrame(ULONG, ULONG, ULONG, const UCHAR*, ULONG) override {
    return STATUS_SUCCESS;
  }
  std::vector<ULONG> frameRates;
};

class StreamTestRoot : public IUnknown {
 public:
  StreamTestRoot();
  ~StreamTestRoot();
  StreamTestRoot(const StreamTestRoot&) = delete;
  StreamTestRoot& operator=(const StreamTestRoot&) = delete;

  NTSTATUS QueryInterface(REFGUID iid, void** result) override;
  LONG AddRef() override { return ++references; }
  LONG Release() override { return --references; }

  ScriptedCamera& camera() { return *camera_; }
  ICaptureControl* owner() { return static_cast<ICaptureControl*>(camera_); }
  IBufferPool* pool() { return pool_; }
  void Refuse(std::initializer_list<UCHAR> settings);
  // Gives the camera a device key in a fresh hive, the model key path below it and the processor
  // speed it measured. Returns the absolute path of the model key.
  std::u16string AttachRegistry(ULONG cpuSpeedMhz = 500);
  std::vector<UCHAR> Asked() const;

  LONG references = 0;
  RecordingProcessor processor;
  RecordingPropertySets propertySets;
  RecordingLowLight lowLight;
  DeviceContext context = {};

 private:
  UnknownBase* poolObject_ = nullptr;
  IBufferPool* pool_ = nullptr;
  alignas(ScriptedCamera) unsigned char storage_[sizeof(ScriptedCamera)] = {};
  ScriptedCamera* camera_ = nullptr;
};

// A video-info format as an application asks for it: the range's header and video info header,
// with its own frame interval.
KS_DATAFORMAT_VIDEOINFOHEADER RequestFor(const KS_DATARANGE_VIDEO& range, LONGLONG frameInterval);

// A mode made the way a format makes it, its registry values then set by hand.
IFormatMode* MakeMode(StreamTestRoot& root, IVideoFormat* format, ULONG frameRate,
                      UCHAR alternateSetting, ULONG qualityLevel);
// A format with a data range and no key, released with the test.
struct ScopedFormat {
  ScopedFormat(StreamTestRoot& root, ULONG width, ULONG height, ULONG bitCount, ULONG fourCC,
               ULONG maxRate, ULONG minRate, ULONG typicalRate);
  ~ScopedFormat() { static_cast<IVideoFormat*>(format)->Release(); }
  VideoFormat* operator->() const { return format; }
  VideoFormat* format;
};
