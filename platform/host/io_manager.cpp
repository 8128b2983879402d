#include "io_manager.h"

#include <cstring>
#include <map>
#include <mutex>

#include "host_control.h"

namespace host {
namespace {

// What the host keeps beside each device object.
struct DeviceRecord {
  std::vector<uint8_t> extension;
  std::shared_ptr<UsbDevice> usbDevice;
  DEVICE_OBJECT* lower = nullptr;
};

DRIVER_OBJECT g_busDriver = {};

std::mutex g_interfacesLock;
std::vector<DeviceInterfaceRecord> g_interfaces;

constexpr ULONG kInterfaceNameTag = TagFromMemoryOrder("IoDi");

DeviceRecord* RecordOf(DEVICE_OBJECT* device) {
  return static_cast<DeviceRecord*>(device->HostData);
}

std::u16string FormatGuid(const GUID& guid) {
  char text[40];
  snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1,
           guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
           guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return std::u16string(text, text + strlen(text));
}

}  // namespace

DEVICE_OBJECT* CreateDeviceObject(DRIVER_OBJECT* driver, size_t extensionSize) {
  auto* device = new DEVICE_OBJECT{};
  auto* record = new DeviceRecord;
  record->extension.assign(extensionSize, 0);
  device->Type = 3;
  device->Size = sizeof(DEVICE_OBJECT);
  device->DriverObject = driver;
  device->Flags = DO_DEVICE_INITIALIZING;
  device->DeviceExtension = extensionSize != 0 ? record->extension.data() : nullptr;
  device->StackSize = 1;
  device->HostData = record;
  return device;
}

void DeleteDeviceObject(DEVICE_OBJECT* device) {
  if (device == nullptr) return;
  delete RecordOf(device);
  delete device;
}

void AttachDevice(DEVICE_OBJECT* upper, DEVICE_OBJECT* lower) {
  lower->AttachedDevice = upper;
  RecordOf(upper)->lower = lower;
  upper->StackSize = static_cast<CHAR>(lower->StackSize + 1);
}

DEVICE_OBJECT* CreatePhysicalDevice(std::shared_ptr<UsbDevice> usbDevice) {
  DEVICE_OBJECT* device = CreateDeviceObject(&g_busDriver, 0);
  device->Flags &= ~DO_DEVICE_INITIALIZING;
  RecordOf(device)->usbDevice = std::move(usbDevice);
  return device;
}

UsbDevice* UsbDeviceOf(DEVICE_OBJECT* physicalDevice) {
  return physicalDevice != nullptr ? RecordOf(physicalDevice)->usbDevice.get() : nullptr;
}

std::vector<DeviceInterfaceRecord> DeviceInterfaces() {
  std::lock_guard<std::mutex> lock(g_interfacesLock);
  return g_interfaces;
}

}  // namespace host

namespace {

PIRP AllocateIrp(PDEVICE_OBJECT target) {
  auto* irp = new IRP{};
  irp->Type = 6;
  irp->Size = sizeof(IRP);
  irp->StackCount = target->StackSize;
  irp->Stack = new IO_STACK_LOCATION[static_cast<size_t>(irp->StackCount)]{};
  irp->CurrentLocation = static_cast<CHAR>(irp->StackCount + 1);
  irp->Tail.Overlay.CurrentStackLocation = irp->Stack + irp->StackCount;
  irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
  return irp;
}

void FreeIrp(PIRP irp) {
  delete[] irp->Stack;
  delete irp;
}

}  // namespace

extern "C" {

PIRP NTAPI IoBuildSynchronousFsdRequest(ULONG majorFunction, PDEVICE_OBJECT deviceObject,
                                        PVOID buffer, ULONG, PLARGE_INTEGER, PKEVENT event,
                                        PIO_STATUS_BLOCK ioStatusBlock) {
  PIRP irp = AllocateIrp(deviceObject);
  irp->UserEvent = event;
  irp->UserIosb = ioStatusBlock;
  irp->UserBuffer = buffer;
  IoGetNextIrpStackLocation(irp)->MajorFunction = static_cast<UCHAR>(majorFunction);
  return irp;
}

PIRP NTAPI IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject,
                                         PVOID inputBuffer, ULONG inputBufferLength,
                                         PVOID outputBuffer, ULONG outputBufferLength,
                                         BOOLEAN internalDeviceIoControl, PKEVENT event,
                                         PIO_STATUS_BLOCK ioStatusBlock) {
  PIRP irp = AllocateIrp(deviceObject);
  irp->UserEvent = event;
  irp->UserIosb = ioStatusBlock;
  irp->UserBuffer = outputBuffer;
  // The system buffer holds the larger of the two, the input copied in.
  size_t size = inputBufferLength > outputBufferLength ? inputBufferLength : outputBufferLength;
  if (size != 0) {
    irp->AssociatedIrp.SystemBuffer = new uint8_t[size]{};
    if (inputBuffer != nullptr)
      memcpy(irp->AssociatedIrp.SystemBuffer, inputBuffer, inputBufferLength);
  }
  irp->Flags = static_cast<ULONG>(outputBufferLength);  // remembered for the copy back
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction =
      internalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
  next->Parameters.DeviceIoControl.IoControlCode = ioControlCode;
  next->Parameters.DeviceIoControl.InputBufferLength = inputBufferLength;
  next->Parameters.DeviceIoControl.OutputBufferLength = outputBufferLength;
  return irp;
}

NTSTATUS NTAPI IoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp) {
  if (irp->CurrentLocation <= 1) {
    host::VerifierFailure("IoCallDriver: the IRP has no stack location left");
    return STATUS_INVALID_PARAMETER;
  }
  --irp->CurrentLocation;
  --irp->Tail.Overlay.CurrentStackLocation;
  PIO_STACK_LOCATION stack = irp->Tail.Overlay.CurrentStackLocation;
  stack->DeviceObject = deviceObject;
  PDRIVER_DISPATCH dispatch = deviceObject->DriverObject->MajorFunction[stack->MajorFunction];
  if (dispatch == nullptr) {
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    NTSTATUS status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
  }
  return dispatch(deviceObject, irp);
}

VOID NTAPI IoCompleteRequest(PIRP irp, CHAR) {
  if (irp->UserIosb != nullptr) *irp->UserIosb = irp->IoStatus;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  bool deviceControl = stack->MajorFunction == IRP_MJ_DEVICE_CONTROL ||
                       stack->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL;
  if (deviceControl && irp->AssociatedIrp.SystemBuffer != nullptr) {
    // Buffered I/O: the bytes the driver reported go back to the caller, never more than it gave.
    ULONG outputLength = irp->Flags;
    size_t count =
        irp->IoStatus.Information < outputLength ? irp->IoStatus.Information : outputLength;
    if (irp->UserBuffer != nullptr && NT_SUCCESS(irp->IoStatus.Status)) {
      memcpy(irp->UserBuffer, irp->AssociatedIrp.SystemBuffer, count);
    }
    delete[] static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
  }
  if (irp->UserEvent != nullptr) KeSetEvent(irp->UserEvent, 0, FALSE);
  FreeIrp(irp);
}

PDEVICE_OBJECT NTAPI IoGetAttachedDeviceReference(PDEVICE_OBJECT deviceObject) {
  PDEVICE_OBJECT top = deviceObject;
  while (top->AttachedDevice != nullptr) top = top->AttachedDevice;
  __atomic_add_fetch(&top->ReferenceCount, 1, __ATOMIC_SEQ_CST);
  return top;
}

VOID NTAPI ObDereferenceObject(PVOID object) {
  auto* device = static_cast<PDEVICE_OBJECT>(object);
  if (__atomic_sub_fetch(&device->ReferenceCount, 1, __ATOMIC_SEQ_CST) < 0) {
    host::VerifierFailure("ObDereferenceObject: more dereferences than references");
  }
}

NTSTATUS NTAPI IoRegisterDeviceInterface(PDEVICE_OBJECT physicalDeviceObject,
                                         const GUID* interfaceClassGuid, PUNICODE_STRING,
                                         PUNICODE_STRING symbolicLinkName) {
  if (physicalDeviceObject == nullptr || interfaceClassGuid == nullptr ||
      symbolicLinkName == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  char instance[32];
  snprintf(instance, sizeof(instance), "#%p#", static_cast<void*>(physicalDeviceObject));
  std::u16string link = u"\\??\\USB#Camera" +
                        std::u16string(instance, instance + strlen(instance)) +
                        host::FormatGuid(*interfaceClassGuid);
  size_t bytes = (link.size() + 1) * sizeof(char16_t);
  auto* buffer =
      static_cast<char16_t*>(ExAllocatePoolWithTag(NonPagedPool, bytes, host::kInterfaceNameTag));
  if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  memcpy(buffer, link.c_str(), bytes);
  symbolicLinkName->Buffer = buffer;
  symbolicLinkName->Length = static_cast<USHORT>(link.size() * sizeof(char16_t));
  symbolicLinkName->MaximumLength = static_cast<USHORT>(bytes);
  std::lock_guard<std::mutex> lock(host::g_interfacesLock);
  for (const host::DeviceInterfaceRecord& record : host::g_interfaces) {
    if (record.symbolicLink == link) return STATUS_SUCCESS;
  }
  host::g_interfaces.push_back({link, *interfaceClassGuid, physicalDeviceObject, false});
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI IoSetDeviceInterfaceState(PUNICODE_STRING symbolicLinkName, BOOLEAN enable) {
  if (symbolicLinkName == nullptr || symbolicLinkName->Buffer == nullptr)
    return STATUS_INVALID_PARAMETER;
  std::u16string link(symbolicLinkName->Buffer, symbolicLinkName->Length / sizeof(char16_t));
  std::lock_guard<std::mutex> lock(host::g_interfacesLock);
  for (host::DeviceInterfaceRecord& record : host::g_interfaces) {
    if (record.symbolicLink == link) {
      record.enabled = enable != 0;
      return STATUS_SUCCESS;
    }
  }
  return STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS NTAPI IoGetDeviceInterfaces(const GUID* interfaceClassGuid,
                                     PDEVICE_OBJECT physicalDeviceObject, ULONG flags,
                                     PWSTR* symbolicLinkList) {
  if (interfaceClassGuid == nullptr || symbolicLinkList == nullptr) return STATUS_INVALID_PARAMETER;
  std::u16string list;
  {
    std::lock_guard<std::mutex> lock(host::g_interfacesLock);
    for (const host::DeviceInterfaceRecord& record : host::g_interfaces) {
      if (memcmp(&record.interfaceClass, interfaceClassGuid, sizeof(GUID)) != 0) continue;
      if (physicalDeviceObject != nullptr && record.device != physicalDeviceObject) continue;
      if (!record.enabled && (flags & DEVICE_INTERFACE_INCLUDE_NONACTIVE) == 0) continue;
      list += record.symbolicLink;
      list.push_back(u'\0');
    }
  }
  list.push_back(u'\0');
  size_t bytes = list.size() * sizeof(char16_t);
  auto* buffer =
      static_cast<char16_t*>(ExAllocatePoolWithTag(PagedPool, bytes, host::kInterfaceNameTag));
  if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  memcpy(buffer, list.data(), bytes);
  *symbolicLinkList = buffer;
  return STATUS_SUCCESS;
}

}  // extern "C"
