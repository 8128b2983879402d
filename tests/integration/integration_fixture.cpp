#include "integration_fixture.h"

#include <cstring>

#include "core/driver_entry.h"

void IntegrationTest::SetUp() {
  verifier_ = std::make_unique<host::ScopedVerifierCapture>();
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  image_ = host::DriverImage::FromEntryPoint(DriverEntry, &status);
  ASSERT_EQ(status, STATUS_SUCCESS);
}

void IntegrationTest::TearDown() {
  camera_.reset();
  image_.reset();
  for (const std::string& message : verifier_->Messages()) ADD_FAILURE() << "verifier: " << message;
  verifier_.reset();
}

std::unique_ptr<host::ClientDevice> IntegrationTest::Open(const std::u16string& driverKeyName,
                                                          const std::vector<std::string>& knobs) {
  std::string error;
  std::unique_ptr<camemu::EmulatedCamera> made = camemu::EmulatedCamera::Create(knobs, &error);
  EXPECT_NE(made, nullptr) << error;
  if (made == nullptr) return nullptr;
  camera_ = std::move(made);
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  auto device = host::ClientDevice::Open(*image_, camera_, &status, driverKeyName);
  EXPECT_EQ(status, STATUS_SUCCESS);
  return device;
}

const KS_DATARANGE_VIDEO& AsRange(const std::vector<uint8_t>& bytes) {
  EXPECT_GE(bytes.size(), sizeof(KS_DATARANGE_VIDEO));
  return *reinterpret_cast<const KS_DATARANGE_VIDEO*>(bytes.data());
}

const KS_DATAFORMAT_VIDEOINFOHEADER& AsFormat(const std::vector<uint8_t>& bytes) {
  EXPECT_GE(bytes.size(), sizeof(KS_DATAFORMAT_VIDEOINFOHEADER));
  return *reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(bytes.data());
}

std::vector<uint8_t> RangeOf(const host::ClientDevice& device, ULONG pin, LONG width, LONG height,
                             USHORT bitCount) {
  std::vector<host::PinDescription> pins = device.Pins();
  if (pin >= pins.size()) return {};
  for (const std::vector<uint8_t>& range : pins[pin].dataRanges) {
    if (range.size() < sizeof(KS_DATARANGE_VIDEO)) continue;
    const KS_BITMAPINFOHEADER& bitmap = AsRange(range).VideoInfoHeader.bmiHeader;
    if (bitmap.biWidth == width && bitmap.biHeight == height && bitmap.biBitCount == bitCount)
      return range;
  }
  return {};
}

std::vector<uint8_t> FormatFor(host::ClientDevice& device, ULONG pin, std::vector<uint8_t> range,
                               LONGLONG frameInterval) {
  if (range.size() < sizeof(KS_DATARANGE_VIDEO)) return {};
  std::vector<uint8_t> format;
  ULONG transferred = 0;
  if (device.DataIntersection(pin, range, 1024, &format, &transferred) != STATUS_SUCCESS) return {};
  if (frameInterval != 0) {
    auto* header = reinterpret_cast<KS_DATAFORMAT_VIDEOINFOHEADER*>(format.data());
    header->VideoInfoHeader.AvgTimePerFrame = frameInterval;
  }
  return format;
}
