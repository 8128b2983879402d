#include "stream_class_device.h"

#include <cstdarg>
#include <cstring>
#include <map>

#include "host_control.h"
#include "io_manager.h"

namespace host {
namespace {

std::mutex g_lock;
std::map<DRIVER_OBJECT*, HW_INITIALIZATION_DATA> g_adapters;
std::map<PVOID, StreamClassDevice*> g_devicesByExtension;
std::map<DEVICE_OBJECT*, StreamClassDevice*> g_devicesByClassObject;
// Request blocks handed to a driver and not yet returned, with their completion counts.
std::map<HW_STREAM_REQUEST_BLOCK*, int> g_liveRequests;

void Track(HW_STREAM_REQUEST_BLOCK* request) {
  std::lock_guard<std::mutex> lock(g_lock);
  g_liveRequests[request] = 0;
}

// Ends tracking; a request that the driver returned without completing is a verifier failure.
void Untrack(HW_STREAM_REQUEST_BLOCK* request) {
  int completions;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    completions = g_liveRequests[request];
    g_liveRequests.erase(request);
  }
  if (completions == 0) {
    VerifierFailure("request block 0x%X was never completed", request->Command);
  }
}

void Complete(HW_STREAM_REQUEST_BLOCK* request) {
  std::lock_guard<std::mutex> lock(g_lock);
  auto found = g_liveRequests.find(request);
  if (found == g_liveRequests.end()) {
    VerifierFailure("completion of a request block that is not outstanding");
  } else if (++found->second > 1) {
    VerifierFailure("request block 0x%X completed twice", request->Command);
  }
}

bool SameGuid(const GUID& first, const GUID& second) {
  return memcmp(&first, &second, sizeof(GUID)) == 0;
}

}  // namespace

StreamClassDevice::StreamClassDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* physicalDevice)
    : driver_(driver),
      physicalDevice_(physicalDevice),
      classDevice_(nullptr),
      receivePacket_(nullptr) {
  HW_INITIALIZATION_DATA adapter = {};
  {
    std::lock_guard<std::mutex> lock(g_lock);
    auto found = g_adapters.find(driver);
    if (found != g_adapters.end()) adapter = found->second;
  }
  receivePacket_ = adapter.HwReceivePacket;
  classDevice_ = CreateDeviceObject(driver, adapter.DeviceExtensionSize);
  AttachDevice(classDevice_, physicalDevice_);
  std::lock_guard<std::mutex> lock(g_lock);
  g_devicesByExtension[classDevice_->DeviceExtension] = this;
  g_devicesByClassObject[classDevice_] = this;
}

StreamClassDevice::~StreamClassDevice() {
  while (!open_.empty()) CloseStream(open_.back().get());
  if (initialized_ && !uninitialized_) Uninitialize();
  {
    std::lock_guard<std::mutex> lock(g_lock);
    g_devicesByExtension.erase(classDevice_->DeviceExtension);
    g_devicesByClassObject.erase(classDevice_);
  }
  physicalDevice_->AttachedDevice = nullptr;
  DeleteDeviceObject(classDevice_);
}

PVOID StreamClassDevice::extension() const { return classDevice_->DeviceExtension; }

NTSTATUS StreamClassDevice::SendDeviceRequest(
    ULONG command, const std::function<void(HW_STREAM_REQUEST_BLOCK&)>& prepare,
    ULONG* bytesTransferred) {
  if (receivePacket_ == nullptr) return STATUS_NO_SUCH_DEVICE;
  HW_STREAM_REQUEST_BLOCK request = {};
  request.SizeOfThisPacket = sizeof(request);
  request.Command = command;
  request.Status = STATUS_PENDING;
  request.HwDeviceExtension = extension();
  if (prepare) prepare(request);
  Track(&request);
  receivePacket_(&request);
  Untrack(&request);
  if (bytesTransferred != nullptr) *bytesTransferred = request.ActualBytesTransferred;
  return request.Status;
}

NTSTATUS StreamClassDevice::SendStreamRequest(
    StreamClassStream* stream, ULONG command,
    const std::function<void(HW_STREAM_REQUEST_BLOCK&)>& prepare) {
  HW_STREAM_REQUEST_BLOCK request = {};
  request.SizeOfThisPacket = sizeof(request);
  request.Command = command;
  request.Status = STATUS_PENDING;
  request.HwDeviceExtension = extension();
  request.StreamObject = stream->object();
  if (prepare) prepare(request);
  Track(&request);
  stream->object()->ReceiveControlPacket(&request);
  Untrack(&request);
  return request.Status;
}

void StreamClassDevice::BeginDataRequest(StreamClassStream* stream,
                                         HW_STREAM_REQUEST_BLOCK* request) {
  request->SizeOfThisPacket = sizeof(*request);
  request->Status = STATUS_PENDING;
  request->HwDeviceExtension = extension();
  request->StreamObject = stream->object();
  Track(request);
  stream->object()->ReceiveDataPacket(request);
}

void StreamClassDevice::EndDataRequest(HW_STREAM_REQUEST_BLOCK* request) { Untrack(request); }

NTSTATUS StreamClassDevice::Start() {
  PORT_CONFIGURATION_INFORMATION configuration = {};
  configuration.SizeOfThisPacket = sizeof(configuration);
  configuration.HwDeviceExtension = extension();
  configuration.ClassDeviceObject = classDevice_;
  configuration.PhysicalDeviceObject = physicalDevice_;
  configuration.RealPhysicalDeviceObject = physicalDevice_;
  NTSTATUS status = SendDeviceRequest(SRB_INITIALIZE_DEVICE, [&](HW_STREAM_REQUEST_BLOCK& request) {
    request.CommandData.ConfigInfo = &configuration;
  });
  if (!NT_SUCCESS(status)) return status;
  initialized_ = true;
  classDevice_->Flags &= ~DO_DEVICE_INITIALIZING;

  // Room for the header and the records the driver asked for, and never less than eight records.
  constexpr size_t kMinimumRecords = 8;
  size_t size = sizeof(HW_STREAM_HEADER) + kMinimumRecords * sizeof(HW_STREAM_INFORMATION);
  if (configuration.StreamDescriptorSize > size) size = configuration.StreamDescriptorSize;
  std::vector<uint64_t> buffer((size + 7) / 8, 0);
  auto* descriptor = reinterpret_cast<HW_STREAM_DESCRIPTOR*>(buffer.data());
  status = SendDeviceRequest(SRB_GET_STREAM_INFO, [&](HW_STREAM_REQUEST_BLOCK& request) {
    request.CommandData.StreamBuffer = descriptor;
  });
  if (!NT_SUCCESS(status)) return status;
  header_ = descriptor->StreamHeader;
  size_t capacity = (size - sizeof(HW_STREAM_HEADER)) / sizeof(HW_STREAM_INFORMATION);
  if (header_.NumberOfStreams > capacity) {
    VerifierFailure("stream information reports %u streams, room was for %zu",
                    header_.NumberOfStreams, capacity);
    header_.NumberOfStreams = static_cast<ULONG>(capacity);
  }
  streams_.assign(descriptor->StreamInfo, descriptor->StreamInfo + header_.NumberOfStreams);
  return SendDeviceRequest(SRB_INITIALIZATION_COMPLETE, nullptr);
}

NTSTATUS StreamClassDevice::Uninitialize() {
  NTSTATUS status = SendDeviceRequest(SRB_UNINITIALIZE_DEVICE, nullptr);
  uninitialized_ = true;
  return status;
}

NTSTATUS StreamClassDevice::SurpriseRemoval() {
  return SendDeviceRequest(SRB_SURPRISE_REMOVAL, nullptr);
}

NTSTATUS StreamClassDevice::ChangePowerState(DEVICE_POWER_STATE state) {
  return SendDeviceRequest(SRB_CHANGE_POWER_STATE, [&](HW_STREAM_REQUEST_BLOCK& request) {
    request.CommandData.DeviceState = state;
  });
}

NTSTATUS StreamClassDevice::OpenStream(ULONG streamNumber, const std::vector<uint8_t>& format,
                                       StreamClassStream** stream) {
  *stream = nullptr;
  if (streamNumber >= streams_.size()) return STATUS_INVALID_PARAMETER;
  if (format.size() < sizeof(KSDATAFORMAT)) return STATUS_BUFFER_TOO_SMALL;
  KSDATAFORMAT head;
  memcpy(&head, format.data(), sizeof(head));
  if (head.FormatSize != format.size()) return STATUS_INVALID_PARAMETER;

  auto opened = std::make_unique<StreamClassStream>();
  opened->format_.assign(format.begin(), format.end());
  HW_STREAM_OBJECT* object = opened->object();
  object->SizeOfThisPacket = sizeof(HW_STREAM_OBJECT);
  object->StreamNumber = streamNumber;
  object->HwDeviceExtension = extension();
  NTSTATUS status = SendDeviceRequest(SRB_OPEN_STREAM, [&](HW_STREAM_REQUEST_BLOCK& request) {
    request.StreamObject = object;
    request.CommandData.OpenFormat = reinterpret_cast<PKSDATAFORMAT>(opened->format_.data());
  });
  if (!NT_SUCCESS(status)) return status;
  *stream = opened.get();
  open_.push_back(std::move(opened));
  return status;
}

NTSTATUS StreamClassDevice::CloseStream(StreamClassStream* stream) {
  NTSTATUS status = SendDeviceRequest(SRB_CLOSE_STREAM, [&](HW_STREAM_REQUEST_BLOCK& request) {
    request.StreamObject = stream->object();
  });
  for (auto it = open_.begin(); it != open_.end(); ++it) {
    if (it->get() == stream) {
      open_.erase(it);
      break;
    }
  }
  return status;
}

NTSTATUS StreamClassDevice::DataIntersection(ULONG streamNumber, const std::vector<uint8_t>& range,
                                             ULONG bufferSize, std::vector<uint8_t>* format,
                                             ULONG* bytesTransferred) {
  if (range.size() < sizeof(KSDATARANGE)) return STATUS_BUFFER_TOO_SMALL;
  // The class hands the driver only a range whose declared size the caller's buffer really holds.
  ULONG declaredSize = 0;
  memcpy(&declaredSize, range.data() + offsetof(KSDATARANGE, FormatSize), sizeof declaredSize);
  if (declaredSize < sizeof(KSDATARANGE) || declaredSize > range.size()) {
    return STATUS_INVALID_BUFFER_SIZE;
  }
  std::vector<uint8_t> rangeCopy(range);
  std::vector<uint8_t> buffer(bufferSize);
  STREAM_DATA_INTERSECT_INFO info = {};
  info.StreamNumber = streamNumber;
  info.DataRange = reinterpret_cast<PKSDATARANGE>(rangeCopy.data());
  info.DataFormatBuffer = bufferSize != 0 ? buffer.data() : nullptr;
  info.SizeOfDataFormatBuffer = bufferSize;
  ULONG transferred = 0;
  NTSTATUS status = SendDeviceRequest(
      SRB_GET_DATA_INTERSECTION,
      [&](HW_STREAM_REQUEST_BLOCK& request) { request.CommandData.IntersectInfo = &info; },
      &transferred);
  if (bytesTransferred != nullptr) *bytesTransferred = transferred;
  if (format != nullptr) {
    format->assign(buffer.begin(),
                   buffer.begin() + (transferred < bufferSize ? transferred : bufferSize));
  }
  return status;
}

NTSTATUS StreamClassDevice::PropertyRequest(const KSPROPERTY& property, std::vector<uint8_t>* value,
                                            ULONG* bytesReturned) {
  *bytesReturned = 0;
  const KSPROPERTY_SET* sets = header_.DevicePropertiesArray;
  ULONG setIndex = 0;
  for (; setIndex < header_.NumDevPropArrayEntries; ++setIndex) {
    if (SameGuid(*sets[setIndex].Set, property.Set)) break;
  }
  if (sets == nullptr || setIndex == header_.NumDevPropArrayEntries) return STATUS_NOT_FOUND;
  const KSPROPERTY_ITEM* item = nullptr;
  for (ULONG index = 0; index < sets[setIndex].PropertiesCount; ++index) {
    if (sets[setIndex].PropertyItem[index].PropertyId == property.Id)
      item = &sets[setIndex].PropertyItem[index];
  }
  if (item == nullptr) return STATUS_NOT_FOUND;
  const ULONG size = static_cast<ULONG>(value->size());

  if ((property.Flags & KSPROPERTY_TYPE_BASICSUPPORT) != 0) {
    ULONG access = KSPROPERTY_TYPE_BASICSUPPORT |
                   (item->GetPropertyHandler ? KSPROPERTY_TYPE_GET : 0) |
                   (item->SetPropertyHandler ? KSPROPERTY_TYPE_SET : 0);
    KSPROPERTY_DESCRIPTION description = {};
    description.AccessFlags = access;
    description.DescriptionSize = sizeof(description);
    std::vector<uint8_t> members;
    if (item->Values != nullptr) {
      description.PropTypeSet = item->Values->PropTypeSet;
      description.MembersListCount = item->Values->MembersListCount;
      for (ULONG list = 0; list < item->Values->MembersListCount; ++list) {
        const KSPROPERTY_MEMBERSLIST& entry = item->Values->MembersList[list];
        const auto* head = reinterpret_cast<const uint8_t*>(&entry.MembersHeader);
        members.insert(members.end(), head, head + sizeof(entry.MembersHeader));
        const auto* data = static_cast<const uint8_t*>(entry.Members);
        members.insert(members.end(), data,
                       data + entry.MembersHeader.MembersSize * entry.MembersHeader.MembersCount);
      }
      description.DescriptionSize += static_cast<ULONG>(members.size());
    }
    if (size >= sizeof(ULONG) && size < sizeof(description)) {
      memcpy(value->data(), &access, sizeof(ULONG));
      *bytesReturned = sizeof(ULONG);
      return STATUS_SUCCESS;
    }
    if (size < sizeof(ULONG)) return STATUS_BUFFER_TOO_SMALL;
    memcpy(value->data(), &description, sizeof(description));
    *bytesReturned = sizeof(description);
    if (size >= description.DescriptionSize) {
      memcpy(value->data() + sizeof(description), members.data(), members.size());
      *bytesReturned = description.DescriptionSize;
    }
    return STATUS_SUCCESS;
  }
  if ((property.Flags & KSPROPERTY_TYPE_DEFAULTVALUES) != 0) {
    for (ULONG list = 0; item->Values != nullptr && list < item->Values->MembersListCount; ++list) {
      const KSPROPERTY_MEMBERSLIST& entry = item->Values->MembersList[list];
      if ((entry.MembersHeader.Flags & KSPROPERTY_MEMBER_FLAG_DEFAULT) == 0) continue;
      ULONG bytes = entry.MembersHeader.MembersSize;
      if (size < bytes) return STATUS_BUFFER_TOO_SMALL;
      memcpy(value->data(), entry.Members, bytes);
      *bytesReturned = bytes;
      return STATUS_SUCCESS;
    }
    return STATUS_NOT_FOUND;
  }
  const bool set = (property.Flags & KSPROPERTY_TYPE_SET) != 0;
  if ((set && item->SetPropertyHandler == nullptr) ||
      (!set && item->GetPropertyHandler == nullptr)) {
    return STATUS_NOT_SUPPORTED;
  }
  if (size < item->MinData) return STATUS_BUFFER_TOO_SMALL;
  KSPROPERTY request = property;
  STREAM_PROPERTY_DESCRIPTOR descriptor = {&request, setIndex, value->data(), sizeof(KSPROPERTY),
                                           size};
  ULONG transferred = 0;
  NTSTATUS status = SendDeviceRequest(
      set ? SRB_SET_DEVICE_PROPERTY : SRB_GET_DEVICE_PROPERTY,
      [&](HW_STREAM_REQUEST_BLOCK& block) { block.CommandData.PropertyInfo = &descriptor; },
      &transferred);
  if (transferred > size) {
    VerifierFailure("property request reported %u bytes for a %u-byte buffer", transferred, size);
    transferred = size;
  }
  *bytesReturned = transferred;
  return status;
}

NTSTATUS StreamClassDevice::DeviceControl(ULONG code, const std::vector<uint8_t>& input,
                                          ULONG outputSize, std::vector<uint8_t>* output,
                                          ULONG_PTR* information) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus = {};
  output->assign(outputSize, 0);
  std::vector<uint8_t> inputCopy(input);
  PIRP irp = IoBuildDeviceIoControlRequest(
      code, classDevice_, inputCopy.empty() ? nullptr : inputCopy.data(),
      static_cast<ULONG>(inputCopy.size()), outputSize != 0 ? output->data() : nullptr, outputSize,
      FALSE, &event, &ioStatus);
  NTSTATUS status = IoCallDriver(classDevice_, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
  }
  status = ioStatus.Status;
  *information = ioStatus.Information;
  output->resize(ioStatus.Information < outputSize ? ioStatus.Information : outputSize);
  return status;
}

NTSTATUS StreamClassDevice::DispatchIrp(PIRP irp) {
  NTSTATUS status = SendDeviceRequest(SRB_UNKNOWN_DEVICE_COMMAND,
                                      [&](HW_STREAM_REQUEST_BLOCK& request) { request.Irp = irp; });
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

std::vector<DeviceEventSignal> StreamClassDevice::TakeSignals() {
  std::lock_guard<std::mutex> lock(signalsLock_);
  return std::move(signals_);
}

void StreamClassDevice::NoteSignal(const GUID& set, ULONG id) {
  std::lock_guard<std::mutex> lock(signalsLock_);
  signals_.push_back({set, id});
}

NTSTATUS NTAPI StreamClassDispatch(PDEVICE_OBJECT device, PIRP irp) {
  StreamClassDevice* owner = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_lock);
    auto found = g_devicesByClassObject.find(device);
    if (found != g_devicesByClassObject.end()) owner = found->second;
  }
  if (owner == nullptr) {
    irp->IoStatus.Status = STATUS_NO_SUCH_DEVICE;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_NO_SUCH_DEVICE;
  }
  return owner->DispatchIrp(irp);
}

}  // namespace host

extern "C" {

NTSTATUS NTAPI StreamClassRegisterAdapter(PVOID argument1, PVOID, HW_INITIALIZATION_DATA* data) {
  auto* driver = static_cast<DRIVER_OBJECT*>(argument1);
  if (driver == nullptr || data == nullptr || data->HwReceivePacket == nullptr)
    return STATUS_INVALID_PARAMETER;
  {
    std::lock_guard<std::mutex> lock(host::g_lock);
    host::g_adapters[driver] = *data;
  }
  driver->MajorFunction[IRP_MJ_PNP] = host::StreamClassDispatch;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = host::StreamClassDispatch;
  return STATUS_SUCCESS;
}

VOID StreamClassDeviceNotification(STREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE type, PVOID extension,
                                   ...) {
  va_list arguments;
  va_start(arguments, extension);
  if (type == DeviceRequestComplete) {
    host::Complete(va_arg(arguments, PHW_STREAM_REQUEST_BLOCK));
  } else if (type == SignalMultipleDeviceEvents) {
    const GUID* set = va_arg(arguments, const GUID*);
    ULONG id = va_arg(arguments, ULONG);
    host::StreamClassDevice* device = nullptr;
    {
      std::lock_guard<std::mutex> lock(host::g_lock);
      auto found = host::g_devicesByExtension.find(extension);
      if (found != host::g_devicesByExtension.end()) device = found->second;
    }
    if (device == nullptr) {
      host::VerifierFailure("device event signalled for an unknown device extension");
    } else if (set != nullptr) {
      device->NoteSignal(*set, id);
    }
  }
  va_end(arguments);
}

VOID StreamClassStreamNotification(STREAM_MINIDRIVER_STREAM_NOTIFICATION_TYPE type,
                                   PHW_STREAM_OBJECT streamObject, ...) {
  va_list arguments;
  va_start(arguments, streamObject);
  if (type == StreamRequestComplete) host::Complete(va_arg(arguments, PHW_STREAM_REQUEST_BLOCK));
  va_end(arguments);
}

}  // extern "C"
