// The camera framework stand-in. Each device's state sits behind a small header at the start of
// the stream class's device extension; the minidriver's DeviceContext follows the header.
#include "usbcamd.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "host_control.h"
#include "io_manager.h"
#include "usbcamd_control.h"

namespace host {
namespace {

constexpr size_t kHeaderSize = 16;

struct Registration {
  PADAPTER_RECEIVE_PACKET_ROUTINE receivePacket = nullptr;
  ULONG deviceContextSize = 0;
  ULONG frameContextSize = 0;
};

// The isochronous side of a stream: the buffers that packets are assembled in (allocated when the
// stream first runs and kept, never per frame), the frame being built, and the counts that the
// stream headers report.
struct IsochronousState {
  std::vector<uint8_t> raw;
  std::vector<uint8_t> frameContext;
  std::vector<uint8_t> packet;
  bool frameOpen = false;  // a frame-complete packet has started the frame being built
  ULONG rawUsed = 0;
  ULONG framePackets = 0;
  ULONG frameFlags = 0;       // packet flags gathered over the frame
  LONGLONG runStart = 0;      // platform time the stream started running (100 ns)
  uint64_t busFramesRun = 0;  // bus frames since it started running
  int64_t framesEnded = 0;    // frames ended since the stream first ran: the picture number
  int64_t framesUnread = 0;   // complete frames that found no read pending
  int64_t framesDropped = 0;  // frames the packet callback asked to drop
  int64_t lastDelivered = -1;
  NTSTATUS failure = STATUS_SUCCESS;  // the bus's answer once it failed
};

struct FrameworkStream {
  ULONG rawFrameLength = 0;  // what the bandwidth callback asked for
  PSTREAM_RECEIVE_PACKET control = nullptr;
  PSTREAM_RECEIVE_PACKET data = nullptr;
  std::vector<uint8_t> format;
  KSSTATE state = KSSTATE_STOP;
  ULONG number = 0;
  HW_STREAM_OBJECT* object = nullptr;
  std::deque<PHW_STREAM_REQUEST_BLOCK> reads;  // pending SRB_READ_DATA, oldest first
  IsochronousState iso;
};

struct EventWait {
  ULONG pipe = 0;
  PVOID buffer = nullptr;
  ULONG length = 0;
  PCOMMAND_COMPLETE_FUNCTION complete = nullptr;
  PVOID context = nullptr;
  bool loop = false;
  bool active = false;
};

struct FrameworkDevice {
  Registration registration;
  DEVICE_OBJECT* classDevice = nullptr;
  DEVICE_OBJECT* physicalDevice = nullptr;
  UsbDevice* usb = nullptr;
  USBCAMD_DEVICE_DATA2* data = nullptr;
  ULONG controlFlags = 0;
  ULONG acceptedVersion = 0;
  std::vector<uint64_t> interfaceInfo;  // USBD_INTERFACE_INFORMATION, 8-byte aligned
  ULONG pipeCount = 0;
  bool uninitialized = false;
  bool removed = false;
  std::map<HW_STREAM_OBJECT*, FrameworkStream> streams;
  std::vector<std::string> journal;
  int eventWaitsArmed = 0;
  EventWait eventWait;
  uint64_t busFrameNumber = 0;
};

std::mutex g_lock;
std::map<DRIVER_OBJECT*, Registration> g_registrations;

FrameworkDevice*& Slot(PVOID extension) { return *static_cast<FrameworkDevice**>(extension); }
PVOID ContextOf(PVOID extension) { return static_cast<uint8_t*>(extension) + kHeaderSize; }
FrameworkDevice* FromContext(PVOID context) {
  return context != nullptr ? Slot(static_cast<uint8_t*>(context) - kHeaderSize) : nullptr;
}
USBD_INTERFACE_INFORMATION* Interface(FrameworkDevice* device) {
  return reinterpret_cast<USBD_INTERFACE_INFORMATION*>(device->interfaceInfo.data());
}

void Complete(PHW_STREAM_REQUEST_BLOCK request, NTSTATUS status) {
  request->Status = status;
  StreamClassDeviceNotification(DeviceRequestComplete, request->HwDeviceExtension, request);
}

void CompleteStream(PHW_STREAM_REQUEST_BLOCK request, NTSTATUS status) {
  request->Status = status;
  StreamClassStreamNotification(StreamRequestComplete, request->StreamObject, request);
}

NTSTATUS FromUsb(UsbResult result) {
  switch (result) {
    case UsbResult::Ok:
      return STATUS_SUCCESS;
    case UsbResult::Stall:
      return STATUS_UNSUCCESSFUL;
    case UsbResult::NoBandwidth:
      return STATUS_INSUFFICIENT_RESOURCES;
    case UsbResult::NotConnected:
      return STATUS_DEVICE_NOT_CONNECTED;
  }
  return STATUS_UNSUCCESSFUL;
}

// Fills the interface information with the pipes of its alternate setting, as many as fit.
void FillPipes(FrameworkDevice* device, USBD_INTERFACE_INFORMATION* info) {
  std::vector<UsbPipeInfo> pipes = device->usb->Pipes(info->AlternateSetting);
  ULONG room = (info->Length - static_cast<ULONG>(offsetof(USBD_INTERFACE_INFORMATION, Pipes))) /
               sizeof(USBD_PIPE_INFORMATION);
  info->NumberOfPipes = static_cast<ULONG>(pipes.size() < room ? pipes.size() : room);
  for (ULONG index = 0; index < info->NumberOfPipes; ++index) {
    USBD_PIPE_INFORMATION& pipe = info->Pipes[index];
    pipe.MaximumPacketSize = pipes[index].maxPacketSize;
    pipe.EndpointAddress = pipes[index].endpointAddress;
    pipe.Interval = pipes[index].interval;
    pipe.PipeType = static_cast<USBD_PIPE_TYPE>(pipes[index].type);
    pipe.PipeHandle = reinterpret_cast<USBD_PIPE_HANDLE>(static_cast<uintptr_t>(index + 1));
  }
}

void DestroyIfDone(PVOID extension) {
  FrameworkDevice* device = Slot(extension);
  if (device != nullptr && device->uninitialized && device->streams.empty()) {
    Slot(extension) = nullptr;
    delete device;
  }
}

NTSTATUS StartDevice(FrameworkDevice* device, PHW_STREAM_REQUEST_BLOCK request) {
  if (device->data == nullptr || device->acceptedVersion != USBCAMD_VERSION_200)
    return STATUS_UNSUCCESSFUL;
  if (device->usb == nullptr) return STATUS_NO_SUCH_DEVICE;
  PVOID context = ContextOf(request->HwDeviceExtension);
  std::vector<uint8_t> deviceDescriptor = device->usb->DeviceDescriptor();
  std::vector<uint8_t> configuration = device->usb->ConfigurationDescriptor();
  if (deviceDescriptor.size() < sizeof(USB_DEVICE_DESCRIPTOR) ||
      configuration.size() < sizeof(USB_CONFIGURATION_DESCRIPTOR)) {
    return STATUS_DEVICE_DATA_ERROR;
  }
  size_t pipeCount = device->usb->Pipes(0).size();
  ULONG length = InterfaceInformationSize(static_cast<ULONG>(pipeCount < 1 ? 1 : pipeCount));
  device->interfaceInfo.assign((length + 7) / 8, 0);
  USBD_INTERFACE_INFORMATION* info = Interface(device);
  info->Length = static_cast<USHORT>(length);
  info->AlternateSetting = 0;
  FillPipes(device, info);
  std::vector<USBCAMD_Pipe_Config_Descriptor> pipeConfig(pipeCount < 1 ? 1 : pipeCount);

  device->journal.push_back("CamConfigureEx");
  NTSTATUS status = device->data->CamConfigureEx(
      device->physicalDevice, context, info,
      reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration.data()), info->NumberOfPipes,
      pipeConfig.data(), reinterpret_cast<PUSB_DEVICE_DESCRIPTOR>(deviceDescriptor.data()));
  if (!NT_SUCCESS(status)) return status;
  device->pipeCount = info->NumberOfPipes;
  status = FromUsb(device->usb->SelectAlternateSetting(info->AlternateSetting));
  if (!NT_SUCCESS(status)) return status;
  FillPipes(device, info);
  device->journal.push_back("CamInitialize");
  return device->data->CamInitialize(device->physicalDevice, context);
}

// Sizes the stream's assembly buffers for its raw frame length, once: a later run reuses them
// unless the driver asks for a larger frame.
void PrepareIsochronous(FrameworkDevice* device, FrameworkStream& stream) {
  // A raw frame as large as the driver asked for, or a 640 x 480 packed frame when it did not say.
  constexpr ULONG kDefaultRawLength = 640 * 480 * 2;
  IsochronousState& iso = stream.iso;
  const size_t rawLength = stream.rawFrameLength != 0 ? stream.rawFrameLength : kDefaultRawLength;
  if (iso.raw.size() < rawLength) iso.raw.assign(rawLength, 0);
  iso.frameContext.assign(device->registration.frameContextSize, 0);
  if (iso.packet.empty()) iso.packet.assign(0x10000, 0);
  iso.frameOpen = false;
  iso.rawUsed = 0;
  iso.busFramesRun = 0;
  iso.runStart = Now100ns();
  iso.failure = STATUS_SUCCESS;
}

void CompleteRead(PHW_STREAM_REQUEST_BLOCK read, NTSTATUS status) {
  read->Status = status;
  StreamClassStreamNotification(StreamRequestComplete, read->StreamObject, read);
}

void CancelReads(FrameworkStream& stream, NTSTATUS status) {
  while (!stream.reads.empty()) {
    PHW_STREAM_REQUEST_BLOCK read = stream.reads.front();
    stream.reads.pop_front();
    CompleteRead(read, status);
  }
}

// Moves a stream between states: bandwidth and capture start on the way to run and stop on the
// way back.
NTSTATUS SetStreamState(FrameworkDevice* device, PVOID context, FrameworkStream& stream,
                        KSSTATE state) {
  NTSTATUS status = STATUS_SUCCESS;
  if (state == KSSTATE_RUN && stream.state != KSSTATE_RUN) {
    ULONG rawLength = 0;
    device->journal.push_back("CamAllocateBandwidthEx");
    status = device->data->CamAllocateBandwidthEx(device->physicalDevice, context, &rawLength,
                                                  stream.format.data(), stream.number);
    if (!NT_SUCCESS(status)) return status;
    stream.rawFrameLength = rawLength;
    PrepareIsochronous(device, stream);
    device->journal.push_back("CamStartCaptureEx");
    status = device->data->CamStartCaptureEx(device->physicalDevice, context, stream.number);
    if (!NT_SUCCESS(status)) {
      device->journal.push_back("CamFreeBandwidthEx");
      device->data->CamFreeBandwidthEx(device->physicalDevice, context, stream.number);
      return status;
    }
  } else if (state != KSSTATE_RUN && stream.state == KSSTATE_RUN) {
    // The transfers end first; reads still waiting go back to the application.
    CancelReads(stream, STATUS_CANCELLED);
    device->journal.push_back("CamStopCaptureEx");
    device->data->CamStopCaptureEx(device->physicalDevice, context, stream.number);
    device->journal.push_back("CamFreeBandwidthEx");
    status = device->data->CamFreeBandwidthEx(device->physicalDevice, context, stream.number);
  }
  stream.state = state;
  return status;
}

VOID NTAPI StreamControl(PHW_STREAM_REQUEST_BLOCK request) {
  PVOID context = ContextOf(request->HwDeviceExtension);
  FrameworkDevice* device = FromContext(context);
  auto found = device->streams.find(request->StreamObject);
  if (found == device->streams.end()) {
    CompleteStream(request, STATUS_INVALID_PARAMETER);
    return;
  }
  BOOLEAN completed = FALSE;
  found->second.control(request, context, &completed);
  if (completed) return;
  switch (request->Command) {
    case SRB_SET_STREAM_STATE:
      CompleteStream(request, SetStreamState(device, context, found->second,
                                             request->CommandData.StreamState));
      return;
    case SRB_GET_STREAM_STATE:
    case SRB_INDICATE_MASTER_CLOCK:
      CompleteStream(request, STATUS_SUCCESS);
      return;
    default:
      CompleteStream(request, STATUS_NOT_IMPLEMENTED);
      return;
  }
}

VOID NTAPI StreamData(PHW_STREAM_REQUEST_BLOCK request) {
  PVOID context = ContextOf(request->HwDeviceExtension);
  FrameworkDevice* device = FromContext(context);
  auto found = device->streams.find(request->StreamObject);
  if (found != device->streams.end()) {
    BOOLEAN completed = FALSE;
    found->second.data(request, context, &completed);
    if (completed) return;
  }
  if (found == device->streams.end() || request->Command != SRB_READ_DATA) {
    CompleteStream(request, STATUS_NOT_IMPLEMENTED);
    return;
  }
  // A read waits for a frame; its buffer is the stream header's, checked before it is queued.
  FrameworkStream& stream = found->second;
  const KSSTREAM_HEADER* header = request->CommandData.DataBufferArray;
  if (request->NumberOfBuffers < 1 || header == nullptr || header->Size < sizeof(KSSTREAM_HEADER) ||
      header->Data == nullptr || header->FrameExtent == 0) {
    CompleteStream(request, STATUS_INVALID_PARAMETER);
    return;
  }
  if (stream.state == KSSTATE_STOP) {
    CompleteStream(request, STATUS_INVALID_DEVICE_STATE);
    return;
  }
  if (!NT_SUCCESS(stream.iso.failure) || device->removed) {
    CompleteStream(request, device->removed ? STATUS_DEVICE_NOT_CONNECTED : stream.iso.failure);
    return;
  }
  stream.reads.push_back(request);
}

NTSTATUS NTAPI WaitOnDeviceEvent(PVOID context, ULONG pipeIndex, PVOID buffer, ULONG bufferLength,
                                 PCOMMAND_COMPLETE_FUNCTION complete, PVOID eventContext,
                                 BOOLEAN loopBack) {
  FrameworkDevice* device = FromContext(context);
  if (device == nullptr || complete == nullptr || buffer == nullptr)
    return STATUS_INVALID_PARAMETER;
  if (device->eventWait.active) return STATUS_UNSUCCESSFUL;
  device->eventWait = {pipeIndex,    buffer,        bufferLength, complete,
                       eventContext, loopBack != 0, true};
  ++device->eventWaitsArmed;
  device->journal.push_back("WaitOnDeviceEvent");
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI BulkReadWrite(PVOID, USHORT, PVOID, ULONG, PCOMMAND_COMPLETE_FUNCTION, PVOID) {
  return STATUS_NOT_SUPPORTED;
}

NTSTATUS NTAPI SetVideoFormat(PVOID context, PHW_STREAM_REQUEST_BLOCK request) {
  FrameworkDevice* device = FromContext(context);
  auto found = device->streams.find(request->StreamObject);
  if (found == device->streams.end() || request->CommandData.OpenFormat == nullptr)
    return STATUS_INVALID_PARAMETER;
  ULONG size = request->CommandData.OpenFormat->FormatSize;
  if (size < sizeof(KSDATAFORMAT)) return STATUS_INVALID_PARAMETER;
  const auto* bytes = reinterpret_cast<const uint8_t*>(request->CommandData.OpenFormat);
  found->second.format.assign(bytes, bytes + size);
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI SetIsoPipeState(PVOID context, ULONG flags) {
  FrameworkDevice* device = FromContext(context);
  device->journal.push_back(flags & USBCAMD_STOP_STREAM ? "IsoPipeStop" : "IsoPipeStart");
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI CancelBulkReadWrite(PVOID, ULONG) { return STATUS_NOT_SUPPORTED; }

VOID NTAPI InterfaceReference(PVOID) {}
VOID NTAPI InterfaceDereference(PVOID) {}

// The framework's answer to a request it does not handle itself: the query for its interface.
NTSTATUS UnknownCommand(PVOID context, PHW_STREAM_REQUEST_BLOCK request) {
  PIRP irp = request->Irp;
  if (irp == nullptr) return STATUS_NOT_SUPPORTED;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->MajorFunction != IRP_MJ_PNP || stack->MinorFunction != IRP_MN_QUERY_INTERFACE) {
    return STATUS_NOT_SUPPORTED;
  }
  const auto& query = stack->Parameters.QueryInterface;
  if (query.InterfaceType == nullptr ||
      memcmp(query.InterfaceType, &GUID_USBCAMD_INTERFACE, sizeof(GUID)) != 0) {
    return STATUS_NOT_SUPPORTED;
  }
  if (query.Size < sizeof(USBCAMD_INTERFACE) || query.Version < USBCAMD_VERSION_200 ||
      query.Interface == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  USBCAMD_INTERFACE answer = {};
  answer.Interface.Size = sizeof(USBCAMD_INTERFACE);
  answer.Interface.Version = USBCAMD_VERSION_200;
  answer.Interface.Context = context;
  answer.Interface.InterfaceReference = InterfaceReference;
  answer.Interface.InterfaceDereference = InterfaceDereference;
  answer.USBCAMD_WaitOnDeviceEvent = WaitOnDeviceEvent;
  answer.USBCAMD_BulkReadWrite = BulkReadWrite;
  answer.USBCAMD_SetVideoFormat = SetVideoFormat;
  answer.USBCAMD_SetIsoPipeState = SetIsoPipeState;
  answer.USBCAMD_CancelBulkReadWrite = CancelBulkReadWrite;
  memcpy(query.Interface, &answer, sizeof(answer));
  return STATUS_SUCCESS;
}

// The framework's handling of a device request that the minidriver passed on.
void Process(PHW_STREAM_REQUEST_BLOCK request) {
  PVOID extension = request->HwDeviceExtension;
  PVOID context = ContextOf(extension);
  FrameworkDevice* device = Slot(extension);
  char entry[48];
  snprintf(entry, sizeof(entry), "SRB 0x%X", request->Command);
  device->journal.push_back(entry);
  switch (request->Command) {
    case SRB_INITIALIZE_DEVICE: {
      NTSTATUS status = StartDevice(device, request);
      request->CommandData.ConfigInfo->StreamDescriptorSize =
          sizeof(HW_STREAM_HEADER) + 2 * sizeof(HW_STREAM_INFORMATION);
      Complete(request, status);
      return;
    }
    case SRB_UNINITIALIZE_DEVICE:
      device->eventWait.active = false;
      device->journal.push_back("CamUnInitialize");
      device->data->CamUnInitialize(device->physicalDevice, context);
      device->uninitialized = true;
      Complete(request, STATUS_SUCCESS);
      return;
    case SRB_OPEN_STREAM: {
      FrameworkStream stream;
      auto routine = [](auto field) {
        return reinterpret_cast<PSTREAM_RECEIVE_PACKET>(reinterpret_cast<void (*)()>(field));
      };
      stream.control = routine(request->StreamObject->ReceiveControlPacket);
      stream.data = routine(request->StreamObject->ReceiveDataPacket);
      stream.number = request->StreamObject->StreamNumber;
      stream.object = request->StreamObject;
      const auto* bytes = reinterpret_cast<const uint8_t*>(request->CommandData.OpenFormat);
      stream.format.assign(bytes, bytes + request->CommandData.OpenFormat->FormatSize);
      if (stream.control == nullptr || stream.data == nullptr) {
        Complete(request, STATUS_INVALID_PARAMETER);
        return;
      }
      device->streams[request->StreamObject] = std::move(stream);
      request->StreamObject->ReceiveControlPacket = StreamControl;
      request->StreamObject->ReceiveDataPacket = StreamData;
      Complete(request, STATUS_SUCCESS);
      return;
    }
    case SRB_CLOSE_STREAM: {
      auto found = device->streams.find(request->StreamObject);
      if (found != device->streams.end()) {
        SetStreamState(device, context, found->second, KSSTATE_STOP);
        CancelReads(found->second, STATUS_CANCELLED);
        device->streams.erase(found);
      }
      Complete(request, STATUS_SUCCESS);
      DestroyIfDone(extension);
      return;
    }
    case SRB_SURPRISE_REMOVAL:
      device->removed = true;
      for (auto& [object, stream] : device->streams)
        CancelReads(stream, STATUS_DEVICE_NOT_CONNECTED);
      device->eventWait.active = false;
      Complete(request, STATUS_SUCCESS);
      return;
    case SRB_CHANGE_POWER_STATE:
      // Powering down ends the transfers, the interrupt-pipe wait among them.
      if (request->CommandData.DeviceState != PowerDeviceD0) device->eventWait.active = false;
      Complete(request, STATUS_SUCCESS);
      return;
    case SRB_GET_STREAM_INFO:
    case SRB_INITIALIZATION_COMPLETE:
    case SRB_OPEN_DEVICE_INSTANCE:
    case SRB_CLOSE_DEVICE_INSTANCE:
    case SRB_PAGING_OUT_DRIVER:
      Complete(request, STATUS_SUCCESS);
      return;
    case SRB_UNKNOWN_DEVICE_COMMAND:
      Complete(request, UnknownCommand(context, request));
      return;
    default:
      Complete(request, STATUS_NOT_IMPLEMENTED);
      return;
  }
}

// The stream class's receive-packet routine for every device of a framework minidriver.
VOID NTAPI FrameworkReceivePacket(PHW_STREAM_REQUEST_BLOCK request) {
  PVOID extension = request->HwDeviceExtension;
  if (request->Command == SRB_INITIALIZE_DEVICE && Slot(extension) == nullptr) {
    DEVICE_OBJECT* classDevice = request->CommandData.ConfigInfo->ClassDeviceObject;
    auto* device = new FrameworkDevice;
    {
      std::lock_guard<std::mutex> lock(g_lock);
      device->registration = g_registrations[classDevice->DriverObject];
    }
    device->classDevice = classDevice;
    device->physicalDevice = request->CommandData.ConfigInfo->PhysicalDeviceObject;
    device->usb = UsbDeviceOf(device->physicalDevice);
    Slot(extension) = device;
  }
  FrameworkDevice* device = Slot(extension);
  if (device == nullptr) {
    Complete(request, STATUS_NO_SUCH_DEVICE);
    return;
  }
  bool initializing = request->Command == SRB_INITIALIZE_DEVICE;
  device->registration.receivePacket(request);
  // A device whose initialisation failed is torn down by the stream class.
  if (initializing && !NT_SUCCESS(request->Status)) {
    device->uninitialized = true;
    device->streams.clear();
  }
  if (request->Command == SRB_UNINITIALIZE_DEVICE || initializing) DestroyIfDone(extension);
}

}  // namespace

namespace {

FrameworkStream* RunningStream(FrameworkDevice* device) {
  for (auto& [object, candidate] : device->streams) {
    if (candidate.state == KSSTATE_RUN) return &candidate;
  }
  return nullptr;
}

void StartFrame(FrameworkDevice* device, PVOID context, FrameworkStream& stream) {
  IsochronousState& iso = stream.iso;
  std::fill(iso.frameContext.begin(), iso.frameContext.end(), 0);
  ULONG frameLength = 0;
  device->data->CamNewVideoFrameEx(context, iso.frameContext.data(), stream.number, &frameLength);
  iso.frameOpen = true;
  iso.rawUsed = 0;
  iso.framePackets = 0;
  iso.frameFlags = 0;
}

// The frame being built has ended: the oldest read gets it through the raw-frame callback at
// PASSIVE_LEVEL, or, with no read pending, it is counted and thrown away.
void EndFrame(FrameworkDevice* device, PVOID context, FrameworkStream& stream,
              IsochronousRun* run) {
  IsochronousState& iso = stream.iso;
  const int64_t picture = iso.framesEnded++;
  if ((iso.frameFlags & USBCAMD_PROCESSPACKETEX_DropFrame) != 0) {
    ++iso.framesDropped;
    ++run->droppedFrames;
    return;
  }
  ++run->frames;
  if (stream.reads.empty()) {
    ++iso.framesUnread;
    ++run->framesUnread;
    return;
  }
  PHW_STREAM_REQUEST_BLOCK read = stream.reads.front();
  stream.reads.pop_front();
  KSSTREAM_HEADER* header = read->CommandData.DataBufferArray;
  ULONG bytesReturned = 0;
  {
    KIRQL previous = KeGetCurrentIrql();
    if (previous != PASSIVE_LEVEL) KeLowerIrql(PASSIVE_LEVEL);
    device->data->CamProcessRawVideoFrameEx(
        device->physicalDevice, context, iso.frameContext.data(), header->Data, header->FrameExtent,
        iso.raw.data(), static_cast<ULONG>(iso.raw.size()), iso.framePackets, &bytesReturned,
        iso.rawUsed, stream.number);
    if (previous != PASSIVE_LEVEL) {
      KIRQL ignored;
      KeRaiseIrql(previous, &ignored);
    }
  }
  // The driver's count cannot claim more than the buffer holds.
  header->DataUsed = bytesReturned < header->FrameExtent ? bytesReturned : header->FrameExtent;
  header->PresentationTime.Time = Now100ns() - iso.runStart;
  header->PresentationTime.Numerator = 1;
  header->PresentationTime.Denominator = 1;
  header->OptionsFlags = KSSTREAM_HEADER_OPTIONSF_TIMEVALID | KSSTREAM_HEADER_OPTIONSF_SPLICEPOINT;
  if (iso.lastDelivered >= 0 && picture != iso.lastDelivered + 1) {
    header->OptionsFlags |= KSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY;
  }
  iso.lastDelivered = picture;
  if (header->Size >= sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO)) {
    auto* info = reinterpret_cast<KS_FRAME_INFO*>(header + 1);
    info->ExtendedHeaderSize = sizeof(KS_FRAME_INFO);
    info->PictureNumber = picture;
    info->DropCount = iso.framesUnread + iso.framesDropped;
  }
  read->ActualBytesTransferred = header->DataUsed;
  ++run->delivered;
  CompleteRead(read, STATUS_SUCCESS);
}

// One isochronous packet of the running stream: through the packet callback at DISPATCH_LEVEL,
// its valid bytes into the raw frame, and the frame's end when the callback says that this packet
// starts the next one.
bool RunPacket(FrameworkDevice* device, PVOID context, FrameworkStream& stream,
               uint64_t intervalNumber, IsochronousRun* run) {
  IsochronousState& iso = stream.iso;
  uint32_t length = 0;
  UsbResult result = device->usb->ReadIsochronousPacket(
      intervalNumber, iso.packet.data(), static_cast<uint32_t>(iso.packet.size()), &length);
  if (result != UsbResult::Ok) {
    run->status = iso.failure = FromUsb(result);
    CancelReads(stream, iso.failure);
    return false;
  }
  ScopedIrql dispatch(DISPATCH_LEVEL);
  USBD_ISO_PACKET_DESCRIPTOR descriptor = {0, length, USBD_STATUS_SUCCESS};
  BOOLEAN frameComplete = FALSE;
  ULONG flags = 0;
  ULONG validOffset = 0;
  ULONG valid = device->data->CamProcessUSBPacketEx(
      device->physicalDevice, context, iso.frameContext.data(), nullptr, nullptr, &descriptor,
      iso.packet.data(), &frameComplete, &flags, &validOffset);
  ++run->packets;
  if ((flags & USBCAMD_PROCESSPACKETEX_DropFrame) != 0) {
    // The camera abandoned the frame: it ends here, and nothing is kept until the next starts.
    if (iso.frameOpen) {
      iso.frameFlags |= flags;
      EndFrame(device, context, stream, run);
    }
    iso.frameOpen = false;
    return true;
  }
  if (frameComplete) {
    if (iso.frameOpen) EndFrame(device, context, stream, run);
    StartFrame(device, context, stream);
  }
  if (!iso.frameOpen) return true;
  ++iso.framePackets;
  iso.frameFlags |= flags;
  // The callback's count and offset are checked against the packet and the raw frame's room.
  if (validOffset <= length && valid <= length - validOffset) {
    const ULONG room = static_cast<ULONG>(iso.raw.size()) - iso.rawUsed;
    const ULONG take = valid < room ? valid : room;
    memcpy(iso.raw.data() + iso.rawUsed, iso.packet.data() + validOffset, take);
    iso.rawUsed += take;
  }
  return true;
}

// One 1 ms bus frame of the running stream: the pipe is served once at full speed and in each of
// the eight microframes at high speed, the packets back to back.
bool RunBusFrame(FrameworkDevice* device, PVOID context, FrameworkStream& stream,
                 IsochronousRun* run) {
  const uint32_t packets = IsochronousPacketsPerBusFrame(device->usb->Speed());
  const uint64_t busFrame = device->busFrameNumber++;
  ++stream.iso.busFramesRun;
  for (uint32_t packet = 0; packet < packets; ++packet) {
    if (!RunPacket(device, context, stream, busFrame * packets + packet, run)) return false;
  }
  return true;
}

constexpr LONGLONG kBusFrame100ns = 10000;  // 1 ms

}  // namespace

IsochronousRun RunIsochronous(DEVICE_OBJECT* classDevice, uint32_t busFrames) {
  IsochronousRun run;
  FrameworkDevice* device = Slot(classDevice->DeviceExtension);
  if (device == nullptr || device->usb == nullptr || device->removed) return run;
  FrameworkStream* stream = RunningStream(device);
  if (stream == nullptr) return run;
  PVOID context = ContextOf(classDevice->DeviceExtension);
  for (uint32_t frame = 0; frame < busFrames; ++frame) {
    if (!RunBusFrame(device, context, *stream, &run)) break;
  }
  if (run.packets != 0) device->journal.push_back("CamProcessUSBPacketEx");
  return run;
}

NTSTATUS RunUntilReadCompletes(DEVICE_OBJECT* classDevice, PHW_STREAM_REQUEST_BLOCK read,
                               uint32_t busFrameLimit) {
  FrameworkDevice* device = Slot(classDevice->DeviceExtension);
  if (device == nullptr) return STATUS_NO_SUCH_DEVICE;
  PVOID context = ContextOf(classDevice->DeviceExtension);
  auto found = device->streams.find(read->StreamObject);
  if (found == device->streams.end()) return read->Status;
  FrameworkStream& stream = found->second;
  IsochronousRun run;
  uint32_t waited = 0;
  const bool realTime = GetClockMode() == ClockMode::Real;
  while (read->Status == STATUS_PENDING) {
    if (stream.state != KSSTATE_RUN || device->removed || device->usb == nullptr) {
      return STATUS_INVALID_DEVICE_STATE;
    }
    if (waited++ >= busFrameLimit) {
      // Nothing came: the read goes back to the application instead of waiting for ever.
      auto position = std::find(stream.reads.begin(), stream.reads.end(), read);
      if (position != stream.reads.end()) stream.reads.erase(position);
      CompleteRead(read, STATUS_IO_TIMEOUT);
      break;
    }
    if (realTime) {
      // The camera does not wait for the application: every bus frame that fell due while it was
      // away runs now, and frames that find no read pending are lost.
      const uint64_t due =
          static_cast<uint64_t>((Now100ns() - stream.iso.runStart) / kBusFrame100ns);
      while (stream.iso.busFramesRun < due && NT_SUCCESS(stream.iso.failure)) {
        if (!RunBusFrame(device, context, stream, &run)) break;
      }
      if (read->Status != STATUS_PENDING || !NT_SUCCESS(stream.iso.failure)) break;
      const LONGLONG next = stream.iso.runStart + static_cast<LONGLONG>(due + 1) * kBusFrame100ns;
      const LONGLONG wait = next - Now100ns();
      if (wait > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(wait * 100));
    } else {
      if (!RunBusFrame(device, context, stream, &run)) break;
      AdvanceVirtualTime(kBusFrame100ns);
    }
  }
  if (run.packets != 0 &&
      (device->journal.empty() || device->journal.back() != "CamProcessUSBPacketEx")) {
    device->journal.push_back("CamProcessUSBPacketEx");
  }
  return read->Status;
}

StreamCounts StreamCountsOf(DEVICE_OBJECT* classDevice, HW_STREAM_OBJECT* object) {
  StreamCounts counts;
  FrameworkDevice* device = Slot(classDevice->DeviceExtension);
  if (device == nullptr) return counts;
  auto found = device->streams.find(object);
  if (found == device->streams.end()) return counts;
  const IsochronousState& iso = found->second.iso;
  counts.framesEnded = iso.framesEnded;
  counts.framesUnread = iso.framesUnread;
  counts.framesDropped = iso.framesDropped;
  counts.readsPending = found->second.reads.size();
  counts.busFrames = iso.busFramesRun;
  return counts;
}

FrameworkState FrameworkStateOf(DEVICE_OBJECT* classDevice) {
  FrameworkState state;
  FrameworkDevice* device =
      classDevice->DeviceExtension != nullptr ? Slot(classDevice->DeviceExtension) : nullptr;
  if (device == nullptr) return state;
  state.present = true;
  state.journal = device->journal;
  state.controlFlags = device->controlFlags;
  state.acceptedVersion = device->acceptedVersion;
  state.eventWaitsArmed = device->eventWaitsArmed;
  state.eventWaitActive = device->eventWait.active;
  state.pipeCount = device->pipeCount;
  state.alternateSetting = device->usb != nullptr ? device->usb->CurrentAlternateSetting() : 0;
  return state;
}

bool DeliverDeviceEvent(DEVICE_OBJECT* classDevice) {
  FrameworkDevice* device = Slot(classDevice->DeviceExtension);
  if (device == nullptr || !device->eventWait.active || device->usb == nullptr) return false;
  uint8_t data[64];
  uint32_t length = 0;
  UsbResult result = device->usb->ReadInterruptPacket(data, sizeof(data), &length);
  if (result == UsbResult::Ok && length == 0) return false;
  EventWait wait = device->eventWait;
  uint32_t copy = length < wait.length ? length : wait.length;
  memcpy(wait.buffer, data, copy);
  device->eventWait.active = wait.loop && result == UsbResult::Ok;
  ScopedIrql dispatch(DISPATCH_LEVEL);
  wait.complete(ContextOf(classDevice->DeviceExtension), wait.context, FromUsb(result));
  return true;
}

}  // namespace host

using host::FromContext;

extern "C" {

ULONG NTAPI USBCAMD_DriverEntry(PVOID context1, PVOID context2, ULONG deviceContextSize,
                                ULONG frameContextSize,
                                PADAPTER_RECEIVE_PACKET_ROUTINE receivePacket) {
  auto* driver = static_cast<DRIVER_OBJECT*>(context1);
  if (driver == nullptr || receivePacket == nullptr)
    return static_cast<ULONG>(STATUS_INVALID_PARAMETER);
  {
    std::lock_guard<std::mutex> lock(host::g_lock);
    host::g_registrations[driver] = {receivePacket, deviceContextSize, frameContextSize};
  }
  HW_INITIALIZATION_DATA data = {};
  data.HwInitializationDataSize = sizeof(data);
  data.HwReceivePacket = host::FrameworkReceivePacket;
  data.DeviceExtensionSize = static_cast<ULONG>(host::kHeaderSize) + deviceContextSize;
  return static_cast<ULONG>(StreamClassRegisterAdapter(context1, context2, &data));
}

PVOID NTAPI USBCAMD_AdapterReceivePacket(PHW_STREAM_REQUEST_BLOCK srb, PVOID, PDEVICE_OBJECT*,
                                         BOOLEAN needsCompletion) {
  if (!needsCompletion) return host::ContextOf(srb->HwDeviceExtension);
  host::Process(srb);
  return host::ContextOf(srb->HwDeviceExtension);
}

ULONG NTAPI USBCAMD_InitializeNewInterface(PVOID deviceContext, PVOID deviceData, ULONG version,
                                           ULONG camControlFlag) {
  host::FrameworkDevice* device = FromContext(deviceContext);
  auto* data = static_cast<USBCAMD_DEVICE_DATA2*>(deviceData);
  if (device == nullptr || data == nullptr || version != USBCAMD_VERSION_200) return 0;
  device->data = data;
  device->controlFlags = camControlFlag;
  device->acceptedVersion = USBCAMD_VERSION_200;
  return USBCAMD_VERSION_200;
}

NTSTATUS NTAPI USBCAMD_ControlVendorCommand(PVOID deviceContext, UCHAR request, USHORT value,
                                            USHORT index, PVOID buffer, PULONG bufferLength,
                                            BOOLEAN getData, PCOMMAND_COMPLETE_FUNCTION, PVOID) {
  host::FrameworkDevice* device = FromContext(deviceContext);
  if (device == nullptr || device->usb == nullptr) return STATUS_NO_SUCH_DEVICE;
  if (KeGetCurrentIrql() >= DISPATCH_LEVEL) {
    host::VerifierFailure("USBCAMD_ControlVendorCommand: synchronous request at DISPATCH_LEVEL");
  }
  if (device->removed) return STATUS_DEVICE_NOT_CONNECTED;
  ULONG length = bufferLength != nullptr ? *bufferLength : 0;
  if (length > 0xFFFF || (length != 0 && buffer == nullptr)) return STATUS_INVALID_PARAMETER;
  host::UsbSetupPacket setup = {static_cast<uint8_t>(getData ? 0xC0 : 0x40), request, value, index,
                                static_cast<uint16_t>(length)};
  uint32_t transferred = length;
  NTSTATUS status = host::FromUsb(
      device->usb->ControlTransfer(setup, static_cast<uint8_t*>(buffer), &transferred));
  if (bufferLength != nullptr) *bufferLength = transferred < length ? transferred : length;
  return status;
}

NTSTATUS NTAPI USBCAMD_SelectAlternateInterface(PVOID deviceContext,
                                                PUSBD_INTERFACE_INFORMATION requestInterface) {
  host::FrameworkDevice* device = FromContext(deviceContext);
  if (device == nullptr || device->usb == nullptr || requestInterface == nullptr)
    return STATUS_INVALID_PARAMETER;
  if (requestInterface->Length < InterfaceInformationSize(1)) return STATUS_INVALID_PARAMETER;
  if (device->removed) return STATUS_DEVICE_NOT_CONNECTED;
  NTSTATUS status =
      host::FromUsb(device->usb->SelectAlternateSetting(requestInterface->AlternateSetting));
  if (NT_SUCCESS(status)) host::FillPipes(device, requestInterface);
  device->journal.push_back("SelectAlternateInterface");
  return status;
}

}  // extern "C"
