// Which model the camera takes: version checks in enumeration order, what a rejected model records,
// check parameters carried from one model key to the next, and what "AttachedCamera" says.
#include <ostream>

#include "camera_fixture.h"
#include "core/camera_device.h"
#include "support/camera_install.h"

namespace {

constexpr char16_t kSupport[] = u"CameraSetting\\SupportCamera";

// A model key; version and minor are "" (absent) or the value's hex bytes.
std::string Model(const std::string& name, const std::string& version,
                  const std::string& minor = "") {
  std::string text = "[KEY\\CameraSetting\\SupportCamera\\" + name + "]\n";
  if (!version.empty()) text += "\"VersionCheck\"=hex:" + version + "\n";
  if (!minor.empty()) text += "\"MinorVersionCheck\"=hex:" + minor + "\n";
  text += "\"ResetCamera\"=hex:12,80,ff\n\"CameraName\"=\"" + name + " camera\"\n";
  text += "[KEY\\CameraSetting\\SupportCamera\\" + name + "\\DeviceProperties]\n";
  return text;
}

struct DetectionCase {
  const char* name;
  std::string models;
  NTSTATUS start;
  std::u16string attached;
  // "ActReadVersion" of the first and second model keys; -1: not written.
  int firstRecord;
  int secondRecord;
};
// Test names show the case, not its bytes.
void PrintTo(const DetectionCase& value, std::ostream* os) { *os << value.name; }

class Detection : public CameraTest, public testing::WithParamInterface<DetectionCase> {};

// The emulated sensor answers 0x03 at register 0x29 and 0x00 at 0x2A (id 0x42).
const DetectionCase kCases[] = {
    {"FirstFailsItsVersionAndRecordsWhatItRead",
     Model("First", "42,29,ff,07") + Model("Second", "42,29,ff,03"), STATUS_SUCCESS,
     u"Second camera", 0x03, -1},
    {"FailedMinorVersionIsNotRecorded",
     Model("First", "42,29,ff,03", "00,2a,ff,05") + Model("Second", "42,29,ff,03"), STATUS_SUCCESS,
     u"Second camera", -1, -1},
    {"ModelWithoutVersionCheckUsesTheEarlierParameters",
     Model("First", "42,2a,ff,07") + Model("Second", ""), STATUS_NOT_SUPPORTED,
     u"Camera not support", 0x00, 0x00},
    {"ModelWithoutVersionCheckAloneUsesTheDefaults", Model("First", ""), STATUS_SUCCESS,
     u"First camera", -1, -1},
    {"NoModelAtAll", "[KEY\\CameraSetting\\SupportCamera]\n", STATUS_NOT_SUPPORTED,
     u"Camera not support", -1, -1},
};

int Record(const std::vector<uint8_t>& value) {
  if (value.size() != 4) return -1;
  return value[0] | (value[1] << 8) | (value[2] << 16) | (value[3] << 24);
}

TEST_P(Detection, TakesTheFirstModelThatPasses) {
  const DetectionCase& test = GetParam();
  NTSTATUS status = Start("[KEY\\CameraSetting]\n" + test.models);
  ASSERT_EQ(status, test.start);
  if (!NT_SUCCESS(status)) {
    EXPECT_EQ(device_->Pins().size(), 0u) << "a device without a camera offers no pins";
    DeviceContext* context = ContextFromExtension(device_->DeviceExtension());
    if (context->device != nullptr) {
      EXPECT_EQ(static_cast<CameraDevice*>(context->device)->GetCamera(), nullptr);
    }
  }
  EXPECT_EQ(StringValue(kSupport, u"AttachedCamera"), test.attached);
  EXPECT_EQ(Record(Value(std::u16string(kSupport) + u"\\First", u"ActReadVersion")),
            test.firstRecord);
  EXPECT_EQ(Record(Value(std::u16string(kSupport) + u"\\Second", u"ActReadVersion")),
            test.secondRecord);
}

INSTANTIATE_TEST_SUITE_P(Models, Detection, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CameraTest, ReleasedCameraRecordsItIsDetached) {
  ASSERT_EQ(Start("[KEY\\CameraSetting]\n" + Model("Only", "42,29,ff,03")), STATUS_SUCCESS);
  EXPECT_EQ(StringValue(kSupport, u"AttachedCamera"), u"Only camera");
  EXPECT_EQ(std::u16string(camera_->GetCameraKeyPath()), u"CameraSetting\\SupportCamera\\Only");
  Stop();
  EXPECT_EQ(StringValue(kSupport, u"AttachedCamera"), u"Camera DeAttached");
}

TEST_F(CameraTest, MissingSettingsKeepTheDefaults) {
  ASSERT_EQ(Start("[KEY\\CameraSetting]\n" + Model("Only", "42,29,ff,03")), STATUS_SUCCESS);
  ICameraInfo* info = camera_;
  EXPECT_EQ(info->GetSupportEvent(), 1);
  EXPECT_EQ(info->GetDefaultQualityLevel(), 2u);
  EXPECT_EQ(info->GetSupportStillPin(), 0);
  EXPECT_EQ(device_->Pins().size(), 1u);
  UCHAR y[64], uv[64];
  info->GetDefaultQuantTables(y, uv);
  const UCHAR yRow4[8] = {2, 2, 3, 4, 4, 5, 5, 5};
  const UCHAR uvRow0[8] = {0, 2, 2, 3, 4, 4, 4, 4};
  EXPECT_EQ(memcmp(y + 32, yRow4, 8), 0);
  EXPECT_EQ(memcmp(uv, uvRow0, 8), 0);
  EXPECT_EQ(uv[63], 4);
}

// Whatever allocation of the start fails (creation, configuration, detection, preparation), the
// device either starts or fails its start, and nothing is left behind (the test main checks).
TEST_F(CameraTest, EveryAllocationOfTheStartFailsCleanly) {
  // The accepted model has streams, formats, modes and still formats for the preparation to make.
  const std::string streams =
      "[KEY\\CameraSetting\\SupportCamera\\Right]\n\"CurrentFormat\"=dword:1\n" +
      camera_install::VideoStreamText("KEY\\CameraSetting\\SupportCamera\\Right");
  const std::string registry = R"([KEY\CameraSetting]
"SupportStillPin"=dword:1
"StillSupportType"=dword:2
"CameraStatusPath"="\Registry\Machine\Software\CameraStatus"
"EnableSystem"=hex:30,01,ff
)" + Model("Wrong", "42,29,ff,07") +
                               Model("Right", "42,29,ff,03") + streams;
  ASSERT_EQ(Start(registry), STATUS_SUCCESS);
  Stop();
  const uint64_t before = host::AllocationCount();
  ASSERT_EQ(Start(registry), STATUS_SUCCESS);
  Stop();
  const uint64_t count = host::AllocationCount() - before;
  EXPECT_GT(count, 5u);
  for (uint64_t n = 1; n <= count; ++n) {
    host::FailAllocationNumber(n);
    NTSTATUS status = Start(registry);
    if (!NT_SUCCESS(status)) {
      EXPECT_EQ(device_->Pins().size(), 0u) << "allocation " << n;
    }
    Stop();
    host::ClearAllocationFaults();
  }
}

}  // namespace
