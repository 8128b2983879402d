#include "client_device.h"

#include <cstring>

#include "io_manager.h"
#include "registry_control.h"

namespace host {

NTSTATUS ClientPin::SetState(KSSTATE state) {
  return device_->SendStreamRequest(
      stream_, SRB_SET_STREAM_STATE,
      [&](HW_STREAM_REQUEST_BLOCK& request) { request.CommandData.StreamState = state; });
}

ClientPin::~ClientPin() { EndReads(); }

NTSTATUS ClientPin::QueueRead(uint8_t* buffer, ULONG size) {
  auto read = std::make_unique<PendingRead>();
  read->header.Size = sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO);
  read->header.Data = buffer;
  read->header.FrameExtent = size;
  read->request.Command = SRB_READ_DATA;
  read->request.NumberOfBuffers = 1;
  read->request.CommandData.DataBufferArray = &read->header;
  device_->BeginDataRequest(stream_, &read->request);
  NTSTATUS status = read->request.Status;
  reads_.push_back(std::move(read));
  return status;
}

NTSTATUS ClientPin::ReadFrame(FrameRead* frame, uint32_t busFrameLimit) {
  *frame = {};
  if (reads_.empty()) return STATUS_NOT_FOUND;
  PendingRead& read = *reads_.front();
  NTSTATUS status = read.request.Status;
  if (status == STATUS_PENDING) {
    status = RunUntilReadCompletes(device_->classDevice(), &read.request, busFrameLimit);
    if (status == STATUS_PENDING || read.request.Status == STATUS_PENDING) {
      return STATUS_INVALID_DEVICE_STATE;
    }
  }
  frame->buffer = static_cast<uint8_t*>(read.header.Data);
  frame->bytes = read.header.DataUsed;
  frame->sequence = read.info.PictureNumber;
  frame->dropCount = read.info.DropCount;
  frame->presentationTime = read.header.PresentationTime.Time;
  frame->flags = read.header.OptionsFlags;
  device_->EndDataRequest(&read.request);
  reads_.pop_front();
  return status;
}

StreamCounts ClientPin::Counts() const {
  return StreamCountsOf(device_->classDevice(), stream_->object());
}

void ClientPin::EndReads() {
  for (auto& read : reads_) device_->EndDataRequest(&read->request);
  reads_.clear();
}

NTSTATUS ClientPin::FormatRequest(ULONG command, const std::vector<uint8_t>& format) {
  if (format.size() < sizeof(KSDATAFORMAT)) return STATUS_BUFFER_TOO_SMALL;
  std::vector<uint8_t> copy(format);
  return device_->SendStreamRequest(stream_, command, [&](HW_STREAM_REQUEST_BLOCK& request) {
    request.CommandData.OpenFormat = reinterpret_cast<PKSDATAFORMAT>(copy.data());
  });
}

NTSTATUS ClientPin::ProposeFormat(const std::vector<uint8_t>& format) {
  return FormatRequest(SRB_PROPOSE_DATA_FORMAT, format);
}
NTSTATUS ClientPin::SetFormat(const std::vector<uint8_t>& format) {
  return FormatRequest(SRB_SET_DATA_FORMAT, format);
}
NTSTATUS ClientPin::GetFormat() {
  return device_->SendStreamRequest(stream_, SRB_GET_DATA_FORMAT, nullptr);
}

std::unique_ptr<ClientDevice> ClientDevice::Open(DriverImage& driver,
                                                 std::shared_ptr<UsbDevice> usb, NTSTATUS* status,
                                                 const std::u16string& driverKeyName) {
  std::unique_ptr<ClientDevice> device(new ClientDevice);
  device->physicalDevice_ = CreatePhysicalDevice(std::move(usb));
  if (!driverKeyName.empty()) SetDeviceDriverKeyName(device->physicalDevice_, driverKeyName);
  device->stream_ = std::make_unique<StreamClassDevice>(driver.driver(), device->physicalDevice_);
  *status = device->stream_->Start();
  device->started_ = device->stream_->initialized();
  return device;
}

ClientDevice::~ClientDevice() {
  while (!pins_.empty()) ClosePin(pins_.back().get());
  stream_.reset();
  ForgetDevice(physicalDevice_);
  DeleteDeviceObject(physicalDevice_);
}

std::vector<PinDescription> ClientDevice::Pins() const {
  std::vector<PinDescription> pins;
  for (const HW_STREAM_INFORMATION& record : stream_->streams()) {
    PinDescription pin = {};
    if (record.Category != nullptr) pin.category = *record.Category;
    if (record.Name != nullptr) pin.name = *record.Name;
    pin.possibleInstances = record.NumberOfPossibleInstances;
    for (ULONG index = 0; index < record.NumberOfFormatArrayEntries; ++index) {
      const KSDATAFORMAT* range = record.StreamFormatsArray[index];
      ULONG size =
          range->FormatSize < sizeof(KSDATAFORMAT) ? sizeof(KSDATAFORMAT) : range->FormatSize;
      const auto* bytes = reinterpret_cast<const uint8_t*>(range);
      pin.dataRanges.emplace_back(bytes, bytes + size);
    }
    pins.push_back(std::move(pin));
  }
  return pins;
}

NTSTATUS ClientDevice::DataIntersection(ULONG pin, const std::vector<uint8_t>& range,
                                        ULONG bufferSize, std::vector<uint8_t>* format,
                                        ULONG* bytesTransferred) {
  return stream_->DataIntersection(pin, range, bufferSize, format, bytesTransferred);
}

NTSTATUS ClientDevice::OpenPin(ULONG pin, const std::vector<uint8_t>& format, ClientPin** opened) {
  *opened = nullptr;
  StreamClassStream* stream = nullptr;
  NTSTATUS status = stream_->OpenStream(pin, format, &stream);
  if (!NT_SUCCESS(status)) return status;
  pins_.push_back(std::unique_ptr<ClientPin>(new ClientPin(stream_.get(), stream)));
  *opened = pins_.back().get();
  return status;
}

NTSTATUS ClientDevice::ClosePin(ClientPin* pin) {
  for (auto it = pins_.begin(); it != pins_.end(); ++it) {
    if (it->get() == pin) {
      NTSTATUS status = stream_->CloseStream(pin->stream_);
      pin->EndReads();
      pins_.erase(it);
      return status;
    }
  }
  return STATUS_INVALID_HANDLE;
}

NTSTATUS ClientDevice::Property(const GUID& set, ULONG id, ULONG flags, std::vector<uint8_t>* value,
                                ULONG* bytesReturned) {
  KSPROPERTY property = {set, id, flags};
  return stream_->PropertyRequest(property, value, bytesReturned);
}

NTSTATUS ClientDevice::DeviceControl(ULONG code, const std::vector<uint8_t>& input,
                                     ULONG outputSize, std::vector<uint8_t>* output,
                                     ULONG_PTR* information) {
  return stream_->DeviceControl(code, input, outputSize, output, information);
}

NTSTATUS ClientDevice::SetPowerState(DEVICE_POWER_STATE state) {
  return stream_->ChangePowerState(state);
}
NTSTATUS ClientDevice::SurpriseRemove() { return stream_->SurpriseRemoval(); }
NTSTATUS ClientDevice::Uninitialize() { return stream_->Uninitialize(); }

}  // namespace host
