#include "core/camera_device.h"

#include <cstring>

#include "camera/camera.h"
#include "core/event_notifier_interface.h"
#include "core/framework_callbacks.h"
#include "core/held_interface.h"
#include "core/image_processor_interface.h"

namespace {

template <class Interface>
using CameraPart = HeldInterface<Interface>;

constexpr ULONG kPipeMaximumTransferSize = 0x400000;

PCWSTR const kCameraStatusName = u"CameraStatus";
constexpr ULONG kCameraStatusStarted = 3;
constexpr ULONG kCameraStatusRemoved = 8;

}  // namespace

void ForwardToFramework(PHW_STREAM_REQUEST_BLOCK request) {
  USBCAMD_AdapterReceivePacket(request, nullptr, nullptr, TRUE);
}

void CompleteDeviceRequest(PHW_STREAM_REQUEST_BLOCK request) {
  StreamClassDeviceNotification(DeviceRequestComplete, request->HwDeviceExtension, request);
}

NTSTATUS CreateCameraDevice(UnknownBase** result, REFGUID, IUnknown* outer, POOL_TYPE poolType) {
  return CreateTopLevelObject<CameraDevice>(result, outer, poolType);
}

CameraDevice::CameraDevice(IUnknown* outerUnknown)
    : UnknownPart<CameraDevice>(outerUnknown),
      interfaceInfo(nullptr),
      context(nullptr),
      deviceData(nullptr),
      state(0),
      classDevice(nullptr),
      interfaceDevice(nullptr),
      busDevice(nullptr),
      frameworkInterface(),
      legacyBridge(0),
      interfaceName(),
      deviceDescriptor(),
      powerState(PowerDeviceD0),
      camera(nullptr),
      bufferPool(nullptr),
      poolInterface(nullptr),
      interfaceInfoLength(0) {}

CameraDevice::~CameraDevice() {
  // The camera first: its parts return their buffers to the pool, which therefore goes last.
  ReleaseAndClear(&camera);
  if (interfaceInfo != nullptr) {
    poolInterface->Free(interfaceInfo);
    interfaceInfo = nullptr;
  }
  RegisterDeviceInterface(nullptr, FALSE, nullptr);
  ReleaseAndClear(&bufferPool);
}

NTSTATUS CameraDevice::QueryClassInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_IUnknown)) return UnknownBase::QueryInterface(iid, result);
  if (IsEqualGuid(iid, IID_ICameraDevice)) return AnswerInterface<ICameraDevice>(this, result);
  if (IsEqualGuid(iid, IID_IBufferPool)) {
    if (bufferPool == nullptr) {
      NTSTATUS status = CreateBufferPool(&bufferPool, CLSID_BufferPool,
                                         static_cast<UnknownBase*>(this), NonPagedPool);
      if (!NT_SUCCESS(status)) {
        *result = nullptr;
        return status;
      }
    }
    return bufferPool->QueryInterface(iid, result);
  }
  if (camera != nullptr) return camera->QueryInterface(iid, result);
  *result = nullptr;
  return STATUS_INVALID_PARAMETER;
}

PUSBD_INTERFACE_INFORMATION CameraDevice::GetInterfaceInformation() { return interfaceInfo; }

NTSTATUS CameraDevice::RegisterDeviceInterface(PDEVICE_OBJECT deviceObject, BOOLEAN enable,
                                               const GUID* classGuid) {
  if (enable) {
    NTSTATUS status = IoRegisterDeviceInterface(
        deviceObject, classGuid != nullptr ? classGuid : &kImagingDeviceClass, nullptr,
        &interfaceName);
    if (NT_SUCCESS(status)) IoSetDeviceInterfaceState(&interfaceName, TRUE);
    return status;
  }
  if (interfaceName.Buffer != nullptr) {
    IoSetDeviceInterfaceState(&interfaceName, FALSE);
    ExFreePool(interfaceName.Buffer);
    interfaceName.Buffer = nullptr;
    interfaceName.Length = 0;
    interfaceName.MaximumLength = 0;
  }
  return STATUS_SUCCESS;
}

NTSTATUS CameraDevice::Initialize(PHW_STREAM_REQUEST_BLOCK request, DeviceContext* deviceContext,
                                  USBCAMD_DEVICE_DATA2* data) {
  PORT_CONFIGURATION_INFORMATION* configuration = request->CommandData.ConfigInfo;
  busDevice = configuration->PhysicalDeviceObject;
  classDevice = configuration->ClassDeviceObject;
  interfaceDevice = configuration->RealPhysicalDeviceObject != nullptr
                        ? configuration->RealPhysicalDeviceObject
                        : configuration->PhysicalDeviceObject;
  RegisterDeviceInterface(interfaceDevice, TRUE, nullptr);

  state = 0;
  interfaceInfo = nullptr;
  deviceData = data;
  context = deviceContext;
  camera = nullptr;
  powerState = PowerDeviceD0;

  void* pool = nullptr;
  NTSTATUS status = QueryClassInterface(IID_IBufferPool, &pool);
  if (!NT_SUCCESS(status)) {
    RegisterDeviceInterface(nullptr, FALSE, nullptr);
    return status;
  }
  poolInterface = static_cast<IBufferPool*>(pool);
  poolInterface->Release();

  status = CreateCamera(&camera, CLSID_Camera, static_cast<UnknownBase*>(this), NonPagedPool);
  if (NT_SUCCESS(status)) {
    CameraPart<ICameraInfo> info(camera, IID_ICameraInfo);
    status = info ? info->Initialize(this, context, classDevice, interfaceDevice, busDevice)
                  : info.status();
  }
  if (!NT_SUCCESS(status)) {
    ReleaseAndClear(&camera);
    RegisterDeviceInterface(nullptr, FALSE, nullptr);
    return status;
  }
  return InitializeNewInterface() ? STATUS_SUCCESS : status;
}

BOOLEAN CameraDevice::InitializeNewInterface() {
  ULONG flags = USBCAMD_CamControlFlag_AssociatedFormat;
  CameraPart<ICameraInfo> info(camera, IID_ICameraInfo);
  if (info) {
    ULONG stillSupportType = info->GetStillSupportType();
    UCHAR supportStillPin = info->GetSupportStillPin();
    UCHAR supportEvent = info->GetSupportEvent();
    // A still pin of type 3 or 4 has formats of its own rather than the video pin's.
    if (supportStillPin != 0 && (stillSupportType == 3 || stillSupportType == 4)) flags = 0;
    if (supportEvent == 0) flags |= USBCAMD_CamControlFlag_EnableDeviceEvents;
  }
  return USBCAMD_InitializeNewInterface(context, deviceData, USBCAMD_VERSION_200, flags) ==
         USBCAMD_VERSION_200;
}

NTSTATUS CameraDevice::Configure(PDEVICE_OBJECT, DeviceContext* deviceContext,
                                 PUSBD_INTERFACE_INFORMATION interfaceInformation,
                                 PUSB_CONFIGURATION_DESCRIPTOR, ULONG pipeCount,
                                 PUSBCAMD_Pipe_Config_Descriptor pipeConfig,
                                 PUSB_DEVICE_DESCRIPTOR descriptor) {
  if (pipeCount == 0) return STATUS_SUCCESS;
  // The pipe configuration and the pipe entries are filled for the pipes the interface holds.
  if (interfaceInformation->Length < InterfaceInformationSize(pipeCount) ||
      interfaceInformation->NumberOfPipes < pipeCount) {
    return STATUS_INVALID_PARAMETER;
  }
  deviceContext->pipeCount = pipeCount;

  legacyBridge =
      descriptor->idVendor == kLegacyBridgeVendor && descriptor->idProduct == kLegacyBridgeProduct
          ? 1
          : 0;
  UCHAR alternateSetting = legacyBridge != 0 ? 7 : 0;
  memcpy(&deviceDescriptor, descriptor, sizeof(deviceDescriptor));

  if (interfaceInfo == nullptr) {
    interfaceInfo = static_cast<PUSBD_INTERFACE_INFORMATION>(
        poolInterface->Allocate(NonPagedPool, interfaceInformation->Length, kBufferPersistent));
    if (interfaceInfo == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    interfaceInfoLength = interfaceInformation->Length;
  }

  NTSTATUS status = STATUS_SUCCESS;
  {
    CameraPart<ICameraInfo> info(camera, IID_ICameraInfo);
    if (info) {
      alternateSetting = info->GetIdleAltSetting();
    } else {
      status = info.status();
    }
  }
  interfaceInformation->AlternateSetting = alternateSetting;

  // Which stream each pipe carries, by the number of pipes the interface has.
  if (pipeCount == 1) {
    pipeConfig[0] = {USBCAMD_VIDEO_STREAM, USBCAMD_DATA_PIPE};
  } else if (pipeCount == 2) {
    pipeConfig[0] = {USBCAMD_DONT_CARE_STREAM, USBCAMD_DONT_CARE_PIPE};
    pipeConfig[1] = {USBCAMD_VIDEO_STREAM, USBCAMD_DATA_PIPE};
  } else {
    pipeConfig[0] = {USBCAMD_VIDEO_STILL_STREAM, USBCAMD_MULTIPLEX_PIPE};
    pipeConfig[1] = {USBCAMD_DONT_CARE_STREAM, USBCAMD_DONT_CARE_PIPE};
    pipeConfig[2] = {USBCAMD_DONT_CARE_STREAM, USBCAMD_SYNC_PIPE};
    // Any further pipe carries nothing the driver reads.
    for (ULONG pipe = 3; pipe < pipeCount; ++pipe) {
      pipeConfig[pipe] = {USBCAMD_DONT_CARE_STREAM, USBCAMD_DONT_CARE_PIPE};
    }
  }
  for (ULONG pipe = 0; pipe < interfaceInformation->NumberOfPipes; ++pipe) {
    interfaceInformation->Pipes[pipe].MaximumTransferSize = kPipeMaximumTransferSize;
  }

  // The copy keeps the size it was first made with; a larger interface is copied only that far.
  ULONG copyLength = interfaceInformation->Length < interfaceInfoLength
                         ? interfaceInformation->Length
                         : interfaceInfoLength;
  memcpy(interfaceInfo, interfaceInformation, copyLength);
  state = 1;
  return status;
}

NTSTATUS CameraDevice::StartDevice(PDEVICE_OBJECT, DeviceContext* deviceContext) {
  deviceContext->legacyBridge = legacyBridge;
  NTSTATUS status = STATUS_SUCCESS;
  if (camera != nullptr) {
    {
      CameraPart<ICameraInfo> info(camera, IID_ICameraInfo);
      status = info ? info->DetectCamera() : info.status();
    }
    if (!NT_SUCCESS(status)) {
      ReleaseAndClear(&camera);
      RegisterDeviceInterface(nullptr, FALSE, nullptr);
      return status;
    }
    CameraPart<ICaptureControl> control(camera, IID_ICaptureControl);
    status = control ? control->Prepare() : control.status();
    if (!NT_SUCCESS(status)) {
      RegisterDeviceInterface(nullptr, FALSE, nullptr);
      return status;
    }
  }
  state = 2;
  return status;
}

NTSTATUS CameraDevice::StopDevice(PDEVICE_OBJECT, DeviceContext*) {
  RegisterDeviceInterface(nullptr, FALSE, nullptr);
  if (camera == nullptr) return STATUS_SUCCESS;
  CameraPart<ICaptureControl> control(camera, IID_ICaptureControl);
  return control ? control->Shutdown() : control.status();
}

UnknownBase* CameraDevice::GetCamera() { return camera; }

NTSTATUS CameraDevice::SetIsoPipeState(ULONG pipeStateFlags) {
  if (frameworkInterface.Interface.Version == 0) return STATUS_NOT_SUPPORTED;
  return frameworkInterface.USBCAMD_SetIsoPipeState(context, pipeStateFlags);
}

USB_DEVICE_DESCRIPTOR* CameraDevice::GetDeviceDescriptor() { return &deviceDescriptor; }

NTSTATUS CameraDevice::QueryFrameworkInterface(PDEVICE_OBJECT target, PVOID buffer) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus = {};
  PDEVICE_OBJECT top = IoGetAttachedDeviceReference(target);
  PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, top, nullptr, 0, nullptr, &event, &ioStatus);
  if (irp == nullptr) {
    ObDereferenceObject(top);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  irp->RequestorMode = KernelMode;
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_PNP;
  next->MinorFunction = IRP_MN_QUERY_INTERFACE;
  next->Parameters.QueryInterface.InterfaceType = &GUID_USBCAMD_INTERFACE;
  next->Parameters.QueryInterface.Size = sizeof(USBCAMD_INTERFACE);
  next->Parameters.QueryInterface.Version = USBCAMD_VERSION_200;
  next->Parameters.QueryInterface.Interface = static_cast<PINTERFACE>(buffer);
  next->Parameters.QueryInterface.InterfaceSpecificData = nullptr;
  NTSTATUS status = IoCallDriver(top, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    status = ioStatus.Status;
  }
  ObDereferenceObject(top);
  return status;
}

NTSTATUS CameraDevice::InitializationComplete(PHW_STREAM_REQUEST_BLOCK) {
  void* buffer = poolInterface->Allocate(NonPagedPool, sizeof(USBCAMD_INTERFACE), kBufferScratch);
  if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  if (NT_SUCCESS(QueryFrameworkInterface(classDevice, buffer))) {
    memcpy(&frameworkInterface, buffer, sizeof(frameworkInterface));
  } else {
    frameworkInterface.Interface.Version = 0;
  }
  poolInterface->Free(buffer);

  NTSTATUS status = STATUS_SUCCESS;
  if (camera != nullptr) {
    {
      CameraPart<ICaptureControl> control(camera, IID_ICaptureControl);
      status = control ? control->PowerUp() : control.status();
    }
    // A failed power-up is not reported while the camera still answers: the device stays usable
    // and the next power change runs the lists again.
    CameraPart<ICameraInfo> info(camera, IID_ICameraInfo);
    status = info.status();
    ArmDeviceEventWait();
  }
  return status;
}

// Starts the framework's looping wait on the interrupt pipe, on cameras that have one.
void CameraDevice::ArmDeviceEventWait() {
  if (context->pipeCount <= 1 || frameworkInterface.Interface.Version == 0) return;
  if (context->eventBlock == nullptr) return;
  frameworkInterface.USBCAMD_WaitOnDeviceEvent(context, 0, context->eventBlock->eventBuffer,
                                               sizeof(context->eventBlock->eventBuffer),
                                               OnDeviceEventComplete, context->eventBlock, TRUE);
}

NTSTATUS CameraDevice::GetStreamInfo(PHW_STREAM_REQUEST_BLOCK request) {
  HW_STREAM_DESCRIPTOR* descriptor = request->CommandData.StreamBuffer;
  HW_STREAM_HEADER& header = descriptor->StreamHeader;
  NTSTATUS status = STATUS_SUCCESS;
  if (camera == nullptr) {
    header.NumberOfStreams = 0;
    header.NumDevPropArrayEntries = 0;
  } else {
    {
      CameraPart<IEventNotifier> notifier(camera, IID_IEventNotifier);
      if (notifier) notifier->FillEventInfo(request);
    }
    CameraPart<ICaptureControl> control(camera, IID_ICaptureControl);
    status = control.status();
    if (control) {
      HW_STREAM_INFORMATION* table = nullptr;
      ULONG count = control->GetStreamInformation(&table);
      header.NumberOfStreams = count;
      header.SizeOfHwStreamInformation = sizeof(HW_STREAM_INFORMATION);
      if (count != 0) memcpy(descriptor->StreamInfo, table, count * sizeof(HW_STREAM_INFORMATION));
      KSPROPERTY_SET* sets = nullptr;
      header.NumDevPropArrayEntries = control->GetDeviceProperties(&sets);
      header.DevicePropertiesArray = sets;
    }
  }
  ForwardToFramework(request);
  return status;
}

NTSTATUS CameraDevice::DeviceControl(PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) return STATUS_NOT_IMPLEMENTED;
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  if (code != kIoctlLastFrameHeader && code != kIoctlLastFrameData) return STATUS_NOT_IMPLEMENTED;
  PVOID buffer = irp->AssociatedIrp.SystemBuffer;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  CameraPart<IImageProcessor> processor(camera, IID_IImageProcessor);
  if (code == kIoctlLastFrameHeader) {
    if (!processor) return STATUS_NOT_IMPLEMENTED;
    // The header is written whole, so the caller's buffer must hold it.
    if (buffer == nullptr || outputLength < kBitmapInfoHeaderSize) {
      irp->IoStatus.Information = 0;
      return STATUS_BUFFER_TOO_SMALL;
    }
    NTSTATUS status = processor->GetLastFrameHeader(buffer);
    irp->IoStatus.Information = kBitmapInfoHeaderSize;
    return status;
  }
  if (processor && buffer != nullptr) {
    irp->IoStatus.Information = processor->GetLastFrameData(buffer, outputLength);
  }
  return STATUS_SUCCESS;
}

void CameraDevice::WriteCameraStatus(ULONG value) {
  CameraPart<ICaptureControl> control(camera, IID_ICaptureControl);
  if (control) control->WriteStatus(kCameraStatusName, value);
}

void CameraDevice::CloseStream(PHW_STREAM_REQUEST_BLOCK request) {
  if (camera != nullptr) {
    // The still stream's capture is the driver's own: stop it before the framework closes it.
    if (request->StreamObject != nullptr && request->StreamObject->StreamNumber == 1) {
      CameraPart<ICaptureControl> control(camera, IID_ICaptureControl);
      if (control) {
        control->StopCapture(interfaceDevice, context, 1);
        control->FreeBandwidth(interfaceDevice, context, 1);
      }
    }
    // The open stream's reference; the adapter routine still holds its own for this call.
    static_cast<UnknownBase*>(this)->Release();
  }
  ForwardToFramework(request);
}

void CameraDevice::ChangePowerState(PHW_STREAM_REQUEST_BLOCK request) {
  DEVICE_POWER_STATE newState = request->CommandData.DeviceState;
  if (newState == powerState) {
    ForwardToFramework(request);
  } else if (powerState == PowerDeviceD0 && newState == PowerDeviceD3) {
    ForwardToFramework(request);
    deviceData->CamSaveState(busDevice, context);
  } else if (powerState == PowerDeviceD3 && newState == PowerDeviceD0) {
    deviceData->CamRestoreState(busDevice, context);
    ForwardToFramework(request);
    ArmDeviceEventWait();
  } else {
    ForwardToFramework(request);
  }
  powerState = newState;
}

void CameraDevice::ReceivePacket(PHW_STREAM_REQUEST_BLOCK request) {
  switch (request->Command) {
    case SRB_GET_STREAM_INFO:
      GetStreamInfo(request);
      return;
    case SRB_OPEN_STREAM: {
      if (camera == nullptr) {
        request->Status = STATUS_INVALID_PARAMETER;
        CompleteDeviceRequest(request);
        return;
      }
      NTSTATUS status;
      {
        CameraPart<ICaptureControl> control(camera, IID_ICaptureControl);
        status = control ? control->MatchStreamFormat(request->CommandData.OpenFormat,
                                                      request->StreamObject->StreamNumber)
                         : control.status();
      }
      if (!NT_SUCCESS(status)) {
        request->Status = STATUS_INVALID_PARAMETER;
        CompleteDeviceRequest(request);
        return;
      }
      static_cast<UnknownBase*>(this)
          ->AddRef();  // the open stream's reference, dropped at its close
      ForwardToFramework(request);
      return;
    }
    case SRB_CLOSE_STREAM:
      CloseStream(request);
      return;
    case SRB_GET_DEVICE_PROPERTY:
    case SRB_SET_DEVICE_PROPERTY: {
      BOOLEAN set = request->Command == SRB_SET_DEVICE_PROPERTY ? TRUE : FALSE;
      CameraPart<ICaptureControl> control(camera, IID_ICaptureControl);
      request->Status = control             ? control->DevicePropertyRequest(set, request)
                        : camera == nullptr ? STATUS_NO_SUCH_DEVICE
                                            : control.status();
      CompleteDeviceRequest(request);
      return;
    }
    case SRB_INITIALIZE_DEVICE:
      ForwardToFramework(request);
      WriteCameraStatus(kCameraStatusStarted);
      return;
    case SRB_CHANGE_POWER_STATE:
      ChangePowerState(request);
      return;
    case SRB_UNKNOWN_DEVICE_COMMAND: {
      NTSTATUS status = DeviceControl(request->Irp);
      if (status == STATUS_BUFFER_TOO_SMALL) {
        request->Irp->IoStatus.Status = status;
        request->Status = status;
        CompleteDeviceRequest(request);
      } else if (!NT_SUCCESS(status)) {
        ForwardToFramework(request);
      } else {
        request->Irp->IoStatus.Status = STATUS_SUCCESS;
        request->Status = STATUS_SUCCESS;
        CompleteDeviceRequest(request);
      }
      return;
    }
    case SRB_GET_DATA_INTERSECTION: {
      CameraPart<ICaptureControl> control(camera, IID_ICaptureControl);
      request->Status = control             ? control->DataIntersection(request)
                        : camera == nullptr ? STATUS_NO_MATCH
                                            : control.status();
      CompleteDeviceRequest(request);
      return;
    }
    case SRB_INITIALIZATION_COMPLETE:
      request->Status = InitializationComplete(request);
      CompleteDeviceRequest(request);
      return;
    case SRB_SURPRISE_REMOVAL:
      RegisterDeviceInterface(nullptr, FALSE, nullptr);
      WriteCameraStatus(kCameraStatusRemoved);
      ForwardToFramework(request);
      return;
    default:
      ForwardToFramework(request);
      return;
  }
}

void CameraDevice::ReceiveDataPacket(PHW_STREAM_REQUEST_BLOCK, DeviceContext*, PBOOLEAN) {}

void CameraDevice::ReceiveControlPacket(PHW_STREAM_REQUEST_BLOCK request,
                                        DeviceContext* deviceContext, PBOOLEAN completed) {
  *completed = TRUE;
  NTSTATUS status = request->Status;
  ULONG streamNumber = request->StreamObject != nullptr ? request->StreamObject->StreamNumber : 0;
  CameraPart<ICaptureControl> control(camera, IID_ICaptureControl);
  switch (request->Command) {
    case SRB_SET_STREAM_STATE: {
      CameraPart<IImageProcessor> processor(camera, IID_IImageProcessor);
      if (processor) processor->Reset(streamNumber);
      *completed = FALSE;
      break;
    }
    case SRB_INDICATE_MASTER_CLOCK:
      deviceContext->masterClock = request->CommandData.MasterClockHandle;
      *completed = FALSE;
      break;
    case SRB_PROPOSE_DATA_FORMAT:
      status = control ? control->MatchStreamFormat(request->CommandData.OpenFormat, streamNumber)
                       : control.status();
      break;
    case SRB_SET_DATA_FORMAT:
      status = control ? control->MatchStreamFormat(request->CommandData.OpenFormat, streamNumber)
                       : control.status();
      if (NT_SUCCESS(status) && frameworkInterface.Interface.Version != 0) {
        status = frameworkInterface.USBCAMD_SetVideoFormat(deviceContext, request);
      }
      break;
    case SRB_GET_DATA_FORMAT:
      status = STATUS_NOT_IMPLEMENTED;
      break;
    default:
      *completed = FALSE;
      break;
  }
  request->Status = status;
  if (*completed)
    StreamClassStreamNotification(StreamRequestComplete, request->StreamObject, request);
}
