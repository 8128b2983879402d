// The edge cases of the shell and the device object that the whole-life tests do not reach, with
// the device's own objects in view.
#include <cstring>
#include <ostream>

#include "camera/camera.h"
#include "core/camera_device.h"
#include "core/device_context.h"
#include "core/framework_callbacks.h"
#include "shell_fixture.h"

namespace {

DeviceContext* ContextOf(const host::ClientDevice& device) {
  return ContextFromExtension(device.DeviceExtension());
}
CameraDevice* DeviceOf(const host::ClientDevice& device) {
  return static_cast<CameraDevice*>(ContextOf(device)->device);
}

class ShellEdges : public ShellTest {};

TEST_F(ShellEdges, ASecondDeviceRecordsTheSameContextOffset) {
  auto first = OpenCamera();
  LONG_PTR offset = ContextOffset;
  auto* context = ContextOf(*first);
  EXPECT_EQ(reinterpret_cast<UCHAR*>(context) - static_cast<UCHAR*>(first->DeviceExtension()),
            offset);
  EXPECT_EQ(context->signature, kDeviceContextSignature);
  EXPECT_EQ(context->size, sizeof(DeviceContext));
  auto second = OpenCamera();
  EXPECT_EQ(ContextOffset, offset);
  EXPECT_NE(ContextOf(*second), context);
}

TEST_F(ShellEdges, OpenWithAFormatNoStreamOffersFailsAndKeepsTheReferenceCount) {
  auto device = OpenCamera();
  LONG references = DeviceOf(*device)->refCount;
  std::vector<uint8_t> format = FirstFormat(*device, 0);
  ASSERT_FALSE(format.empty());
  format[offsetof(KSDATAFORMAT, SubFormat)] ^= 0xFF;
  host::ClientPin* pin = nullptr;
  EXPECT_EQ(device->OpenPin(0, format, &pin), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(DeviceOf(*device)->refCount, references);
  ASSERT_EQ(device->OpenPin(0, FirstFormat(*device, 0), &pin), STATUS_SUCCESS);
  EXPECT_EQ(DeviceOf(*device)->refCount, references + 1);
  EXPECT_EQ(device->ClosePin(pin), STATUS_SUCCESS);
  EXPECT_EQ(DeviceOf(*device)->refCount, references);
}

TEST_F(ShellEdges, UninitialiseWithAStreamOpenKeepsTheDeviceUntilTheClose) {
  auto device = OpenCamera();
  host::ClientPin* pin = nullptr;
  ASSERT_EQ(device->OpenPin(0, FirstFormat(*device, 0), &pin), STATUS_SUCCESS);
  EXPECT_EQ(device->Uninitialize(), STATUS_SUCCESS);
  DeviceContext* context = ContextOf(*device);
  ASSERT_NE(context->device, nullptr);
  EXPECT_EQ(context->device->refCount, 1);
  EXPECT_NE(context->eventBlock, nullptr);
  EXPECT_EQ(device->ClosePin(pin), STATUS_SUCCESS);
  EXPECT_EQ(context->device, nullptr);
  EXPECT_EQ(context->eventBlock, nullptr);
}

// A camera that notes when the still stream's capture is stopped and its bandwidth freed, and how
// many stream closes the framework had seen by then.
class NotingCamera : public Camera {
 public:
  explicit NotingCamera(IUnknown* outerUnknown) : Camera(outerUnknown) {}
  NTSTATUS StopCapture(PDEVICE_OBJECT, DeviceContext*, ULONG streamNumber) override {
    Note("StopCapture", streamNumber);
    return STATUS_SUCCESS;
  }
  NTSTATUS FreeBandwidth(PDEVICE_OBJECT, DeviceContext*, ULONG streamNumber) override {
    Note("FreeBandwidth", streamNumber);
    return STATUS_SUCCESS;
  }
  void Note(const char* what, ULONG stream) {
    size_t closes = 0;
    for (const std::string& entry : client->Framework().journal) closes += entry == "SRB 0x102";
    notes.push_back(std::string(what) + " " + std::to_string(stream) + " after " +
                    std::to_string(closes));
  }
  static inline host::ClientDevice* client = nullptr;
  static inline std::vector<std::string> notes;
};

TEST_F(ShellEdges, ClosingTheStillStreamStopsCaptureAndFreesBandwidthBeforeTheFrameworkSeesIt) {
  auto device = OpenCamera();
  // Taken before the camera is replaced: the stream class keeps the first camera's data ranges,
  // which go with it. The replacement offers the same formats.
  const std::vector<uint8_t> videoFormat = FirstFormat(*device, 0);
  const std::vector<uint8_t> stillFormat = FirstFormat(*device, 1);
  CameraDevice* root = DeviceOf(*device);
  UnknownBase* noting = nullptr;
  ASSERT_EQ(
      CreateTopLevelObject<NotingCamera>(&noting, static_cast<UnknownBase*>(root), NonPagedPool),
      STATUS_SUCCESS);
  auto* camera = static_cast<NotingCamera*>(noting);
  ASSERT_EQ(camera->Initialize(root, ContextOf(*device), root->classDevice, root->interfaceDevice,
                               root->busDevice),
            STATUS_SUCCESS);
  ASSERT_EQ(camera->DetectCamera(), STATUS_SUCCESS);
  ASSERT_EQ(camera->Prepare(), STATUS_SUCCESS);
  ReleaseAndClear(&root->camera);
  root->camera = noting;
  NotingCamera::client = device.get();
  NotingCamera::notes.clear();

  host::ClientPin* video = nullptr;
  host::ClientPin* still = nullptr;
  ASSERT_EQ(device->OpenPin(0, videoFormat, &video), STATUS_SUCCESS);
  ASSERT_EQ(device->OpenPin(1, stillFormat, &still), STATUS_SUCCESS);
  EXPECT_EQ(device->ClosePin(video), STATUS_SUCCESS);
  EXPECT_TRUE(NotingCamera::notes.empty());
  EXPECT_EQ(device->ClosePin(still), STATUS_SUCCESS);
  EXPECT_EQ(NotingCamera::notes,
            (std::vector<std::string>{"StopCapture 1 after 1", "FreeBandwidth 1 after 1"}));
}

// The framework's control flags by the still pin, its type and the support-event setting.
struct FlagsCase {
  UCHAR supportStillPin;
  ULONG stillSupportType;
  UCHAR supportEvent;
  ULONG flags;
};
// Test names show the case, not its bytes.
void PrintTo(const FlagsCase& value, std::ostream* os) {
  *os << "still pin " << int(value.supportStillPin) << ", still type " << value.stillSupportType
      << ", events " << int(value.supportEvent);
}

class NewInterfaceFlags : public ShellTest, public testing::WithParamInterface<FlagsCase> {};

TEST_P(NewInterfaceFlags, FollowTheCameraSettings) {
  auto device = OpenCamera();
  CameraDevice* root = DeviceOf(*device);
  auto* camera = static_cast<Camera*>(root->camera);
  camera->supportStillPin = GetParam().supportStillPin;
  camera->stillSupportType = GetParam().stillSupportType;
  camera->supportEvent = GetParam().supportEvent;
  EXPECT_TRUE(root->InitializeNewInterface());
  EXPECT_EQ(device->Framework().controlFlags, GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(Settings, NewInterfaceFlags,
                         testing::Values(FlagsCase{1, 3, 1, 0}, FlagsCase{1, 4, 0, 8},
                                         FlagsCase{1, 5, 1, 4}, FlagsCase{1, 5, 0, 12},
                                         FlagsCase{0, 3, 1, 4}, FlagsCase{0, 3, 0, 12}));

TEST_F(ShellEdges, ConfigureWithNoPipesChangesNothingAndMissingArgumentsAreRefused) {
  auto device = OpenCamera(3);
  DeviceContext* context = ContextOf(*device);
  CameraDevice* root = DeviceOf(*device);
  ULONG stateBefore = root->state;
  std::vector<uint64_t> buffer(InterfaceInformationSize(3) / 8 + 1, 0);
  auto* info = reinterpret_cast<USBD_INTERFACE_INFORMATION*>(buffer.data());
  info->Length = static_cast<USHORT>(InterfaceInformationSize(3));
  info->NumberOfPipes = 3;
  USB_DEVICE_DESCRIPTOR descriptor = {};
  USBCAMD_Pipe_Config_Descriptor pipes[3] = {};
  EXPECT_EQ(
      DeviceData.CamConfigureEx(root->busDevice, context, info, nullptr, 0, pipes, &descriptor),
      STATUS_SUCCESS);
  EXPECT_EQ(context->pipeCount, 3u);
  EXPECT_EQ(root->state, stateBefore);
  EXPECT_EQ(info->Pipes[0].MaximumTransferSize, 0u);
  EXPECT_EQ(
      DeviceData.CamConfigureEx(root->busDevice, context, nullptr, nullptr, 3, pipes, &descriptor),
      STATUS_INVALID_PARAMETER);
  EXPECT_EQ(
      DeviceData.CamConfigureEx(root->busDevice, context, info, nullptr, 3, nullptr, &descriptor),
      STATUS_INVALID_PARAMETER);
  EXPECT_EQ(DeviceData.CamConfigureEx(root->busDevice, context, info, nullptr, 3, pipes, nullptr),
            STATUS_INVALID_PARAMETER);
  // More pipes than the interface information holds is refused rather than written past its end.
  EXPECT_EQ(
      DeviceData.CamConfigureEx(root->busDevice, context, info, nullptr, 4, pipes, &descriptor),
      STATUS_INVALID_PARAMETER);
}

TEST_F(ShellEdges, ThreePipesAreConfiguredMultiplexedDontCareAndSync) {
  auto device = OpenCamera(3);
  CameraDevice* root = DeviceOf(*device);
  ASSERT_NE(root->interfaceInfo, nullptr);
  EXPECT_EQ(root->state, 2u);
  EXPECT_EQ(root->interfaceInfo->NumberOfPipes, 3u);
  for (ULONG pipe = 0; pipe < 3; ++pipe)
    EXPECT_EQ(root->interfaceInfo->Pipes[pipe].MaximumTransferSize, 0x400000u);
}

TEST_F(ShellEdges, StreamFormatRequestsAnswerByCommand) {
  auto device = OpenCamera();
  host::ClientPin* pin = nullptr;
  std::vector<uint8_t> format = FirstFormat(*device, 0);
  ASSERT_EQ(device->OpenPin(0, format, &pin), STATUS_SUCCESS);
  EXPECT_EQ(pin->GetFormat(), STATUS_NOT_IMPLEMENTED);
  EXPECT_EQ(pin->ProposeFormat(format), STATUS_SUCCESS);
  EXPECT_EQ(pin->SetFormat(format), STATUS_SUCCESS);
  std::vector<uint8_t> other = format;
  other[offsetof(KSDATAFORMAT, MajorFormat)] ^= 0xFF;
  EXPECT_EQ(pin->ProposeFormat(other), STATUS_NO_MATCH);
  EXPECT_EQ(pin->SetFormat(other), STATUS_NO_MATCH);
}

// The reply is the range's data format header and video info header, sized as a format.
TEST_F(ShellEdges, DataIntersectionReportsItsSizeAndFillsTheFormat) {
  auto device = OpenCamera();
  std::vector<uint8_t> range = device->Pins()[0].dataRanges[0];
  ASSERT_EQ(range.size(), sizeof(KS_DATARANGE_VIDEO));
  std::vector<uint8_t> format;
  ULONG transferred = 0;
  const ULONG formatSize = sizeof(KS_DATAFORMAT_VIDEOINFOHEADER);
  EXPECT_EQ(device->DataIntersection(0, range, 0, &format, &transferred), STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(transferred, formatSize);
  EXPECT_EQ(device->DataIntersection(0, range, 4, &format, &transferred), STATUS_SUCCESS);
  ASSERT_EQ(transferred, 4u);
  ULONG reported = 0;
  memcpy(&reported, format.data(), sizeof reported);
  EXPECT_EQ(reported, formatSize);
  EXPECT_EQ(device->DataIntersection(0, range, 16, &format, &transferred), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(device->DataIntersection(0, range, 256, &format, &transferred), STATUS_SUCCESS);
  ASSERT_EQ(transferred, formatSize);
  const auto* asked = reinterpret_cast<const KS_DATARANGE_VIDEO*>(range.data());
  const auto* reply = reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(format.data());
  EXPECT_EQ(reply->DataFormat.FormatSize, formatSize);
  EXPECT_TRUE(IsEqualGuid(reply->DataFormat.SubFormat, asked->DataRange.SubFormat));
  EXPECT_EQ(memcmp(&reply->VideoInfoHeader, &asked->VideoInfoHeader,
                   offsetof(KS_VIDEOINFOHEADER, bmiHeader.biSizeImage)),
            0);
  EXPECT_EQ(device->DataIntersection(7, range, 256, &format, &transferred), STATUS_NO_MATCH);
  // A range the driver did not report (one byte of its capabilities changed) matches nothing.
  range[offsetof(KS_DATARANGE_VIDEO, ConfigCaps.OutputGranularityX)] ^= 1;
  EXPECT_EQ(device->DataIntersection(0, range, 256, &format, &transferred), STATUS_NO_MATCH);
}

TEST_F(ShellEdges, PropertyRequestsForSetsTheDriverDoesNotOfferAreNotFound) {
  auto device = OpenCamera();
  std::vector<uint8_t> value(16);
  ULONG returned = 0;
  EXPECT_EQ(device->Property(kCustomPropertySet, 2, KSPROPERTY_TYPE_GET, &value, &returned),
            STATUS_NOT_FOUND);
}

}  // namespace
