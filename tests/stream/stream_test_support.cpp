#include "stream_test_support.h"

#include <cstring>

#include "registry_control.h"

NTSTATUS ScriptedCamera::SelectAltSetting(UCHAR alternateSetting) {
  if (askedCount < sizeof asked) asked[askedCount++] = alternateSetting;
  for (ULONG i = 0; i < refusedCount; ++i) {
    if (refused[i] == alternateSetting) return kRefusal;
  }
  return STATUS_SUCCESS;
}

StreamTestRoot::StreamTestRoot() {
  EXPECT_EQ(CreateBufferPool(&poolObject_, CLSID_BufferPool, nullptr, NonPagedPool),
            STATUS_SUCCESS);
  EXPECT_EQ(poolObject_->QueryInterface(IID_IBufferPool, reinterpret_cast<void**>(&pool_)),
            STATUS_SUCCESS);
  // The Camera, like every creator's object, starts from zero-filled memory.
  camera_ = new (storage_) ScriptedCamera(this);
}

StreamTestRoot::~StreamTestRoot() {
  // Only what the test gave the camera goes with it: no status values written at its end.
  camera_->bufferPool = nullptr;
  registry::ReleaseDeviceKey(&camera_->deviceKey);
  camera_->~ScriptedCamera();
  pool_->Release();
  poolObject_->Release();
}

NTSTATUS StreamTestRoot::QueryInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_IBufferPool)) return pool_->QueryInterface(iid, result);
  if (IsEqualGuid(iid, IID_IImageProcessor)) {
    *result = static_cast<IImageProcessor*>(&processor);
    return STATUS_SUCCESS;
  }
  // The children that a prepared camera would have.
  if (IsEqualGuid(iid, IID_IPropertySetList)) {
    *result = static_cast<IPropertySetList*>(&propertySets);
    return STATUS_SUCCESS;
  }
  if (IsEqualGuid(iid, IID_ILowLightControl)) {
    *result = static_cast<ILowLightControl*>(&lowLight);
    return STATUS_SUCCESS;
  }
  return static_cast<UnknownBase*>(camera_)->QueryInterface(iid, result);
}

void StreamTestRoot::Refuse(std::initializer_list<UCHAR> settings) {
  camera_->refusedCount = 0;
  for (UCHAR setting : settings) camera_->refused[camera_->refusedCount++] = setting;
}

std::vector<UCHAR> StreamTestRoot::Asked() const {
  return std::vector<UCHAR>(camera_->asked, camera_->asked + camera_->askedCount);
}

KS_DATAFORMAT_VIDEOINFOHEADER RequestFor(const KS_DATARANGE_VIDEO& range, LONGLONG frameInterval) {
  KS_DATAFORMAT_VIDEOINFOHEADER request;
  memset(&request, 0, sizeof request);
  request.DataFormat = range.DataRange;
  request.DataFormat.FormatSize = sizeof request;
  request.VideoInfoHeader = range.VideoInfoHeader;
  request.VideoInfoHeader.AvgTimePerFrame = frameInterval;
  return request;
}

IFormatMode* MakeMode(StreamTestRoot& root, IVideoFormat* format, ULONG frameRate,
                      UCHAR alternateSetting, ULONG qualityLevel) {
  FormatMode* mode = ConstructWithRetry<FormatMode>(u"NoSuchMode", root.owner(), format);
  mode->frameRate = frameRate;
  mode->alternateSetting = alternateSetting;
  mode->qualityLevel = qualityLevel;
  IFormatMode* answer = mode;
  answer->AddRef();
  return answer;
}

ScopedFormat::ScopedFormat(StreamTestRoot& root, ULONG width, ULONG height, ULONG bitCount,
                           ULONG fourCC, ULONG maxRate, ULONG minRate, ULONG typicalRate) {
  format = ConstructWithRetry<VideoFormat>(nullptr, root.owner(), nullptr, 0);
  static_cast<IVideoFormat*>(format)->AddRef();
  format->tag = 1;  // a keyed format's tag, so that the counter is left alone
  format->BuildDataRange(width, height, bitCount, fourCC, maxRate, minRate, typicalRate,
                         KS_VIDEOSTREAM_CAPTURE);
}

namespace {
// Any address stands for the device object: the registry never looks inside it.
DEVICE_OBJECT* const kPhysicalDevice = reinterpret_cast<DEVICE_OBJECT*>(0x5000);
const char16_t kDriverKeyName[] = u"{6BDD1FC6-810F-11D0-BEC7-08002BE2002F}\\0007";
const char16_t kModelKeyPath[] = u"CameraSetting\\SupportCamera\\TestModel";
}  // namespace

std::u16string StreamTestRoot::AttachRegistry(ULONG cpuSpeedMhz) {
  host::ResetRegistry();
  host::SetDeviceDriverKeyName(kPhysicalDevice, kDriverKeyName);
  camera_->interfaceDevice = kPhysicalDevice;
  camera_->physicalDevice = kPhysicalDevice;
  camera_->bufferPool = pool_;
  context.cpuSpeed = cpuSpeedMhz;
  camera_->usbcamdContext = &context;
  memcpy(camera_->cameraKeyPath, kModelKeyPath, sizeof kModelKeyPath);
  const std::u16string model =
      std::u16string(host::kDriverKeyRoot) + kDriverKeyName + u"\\" + kModelKeyPath;
  host::CreateRegistryKey(model);
  return model;
}
