// The I/O manager as a driver sees it: driver and device objects, I/O request packets with their
// stack locations, synchronous request building and sending, and device interface registration.
#pragma once

#include "kernel.h"

struct DEVICE_OBJECT;
struct DRIVER_OBJECT;
struct IRP;
using PDEVICE_OBJECT = DEVICE_OBJECT*;
using PDRIVER_OBJECT = DRIVER_OBJECT*;
using PIRP = IRP*;

// ---- Major and minor functions ------------------------------------------------------------------
constexpr UCHAR IRP_MJ_CREATE = 0x00;
constexpr UCHAR IRP_MJ_CLOSE = 0x02;
constexpr UCHAR IRP_MJ_READ = 0x03;
constexpr UCHAR IRP_MJ_WRITE = 0x04;
constexpr UCHAR IRP_MJ_DEVICE_CONTROL = 0x0E;
constexpr UCHAR IRP_MJ_INTERNAL_DEVICE_CONTROL = 0x0F;
constexpr UCHAR IRP_MJ_POWER = 0x16;
constexpr UCHAR IRP_MJ_PNP = 0x1B;
constexpr UCHAR IRP_MJ_MAXIMUM_FUNCTION = 0x1B;

constexpr UCHAR IRP_MN_QUERY_INTERFACE = 0x08;

// ---- Device object flags ------------------------------------------------------------------------
constexpr ULONG DO_BUFFERED_IO = 0x00000004;
constexpr ULONG DO_DIRECT_IO = 0x00000010;
constexpr ULONG DO_DEVICE_INITIALIZING = 0x00000080;
constexpr ULONG DO_POWER_PAGABLE = 0x00002000;

using PDRIVER_DISPATCH = NTSTATUS(NTAPI*)(PDEVICE_OBJECT deviceObject, PIRP irp);
using PDRIVER_UNLOAD = VOID(NTAPI*)(PDRIVER_OBJECT driverObject);
using PDRIVER_INITIALIZE = NTSTATUS(NTAPI*)(PDRIVER_OBJECT driverObject,
                                            PUNICODE_STRING registryPath);

struct DRIVER_OBJECT {
  SHORT Type;
  SHORT Size;
  PDEVICE_OBJECT DeviceObject;  // the first device object the driver created
  ULONG Flags;
  PVOID DriverStart;
  ULONG DriverSize;
  PVOID DriverSection;
  PVOID DriverExtension;  // the class driver's per-driver data
  UNICODE_STRING DriverName;
  PDRIVER_INITIALIZE DriverInit;
  PDRIVER_UNLOAD DriverUnload;
  PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
};

struct DEVICE_OBJECT {
  SHORT Type;
  USHORT Size;
  LONG ReferenceCount;
  PDRIVER_OBJECT DriverObject;
  PDEVICE_OBJECT NextDevice;      // the next device object of the same driver
  PDEVICE_OBJECT AttachedDevice;  // the device object attached above this one
  PIRP CurrentIrp;
  ULONG Flags;
  ULONG Characteristics;
  PVOID DeviceExtension;
  ULONG DeviceType;
  CHAR StackSize;  // stack locations an IRP sent to this device needs
  PVOID HostData;  // the host's bookkeeping for this object; never touched by a driver
};

// ---- I/O request packets ------------------------------------------------------------------------
struct IO_STATUS_BLOCK {
  NTSTATUS Status;
  ULONG_PTR Information;
};
using PIO_STATUS_BLOCK = IO_STATUS_BLOCK*;

// The generic interface header that a query-interface request fills.
using PINTERFACE_REFERENCE = VOID(NTAPI*)(PVOID context);
using PINTERFACE_DEREFERENCE = VOID(NTAPI*)(PVOID context);
struct INTERFACE {
  USHORT Size;
  USHORT Version;
  PVOID Context;
  PINTERFACE_REFERENCE InterfaceReference;
  PINTERFACE_DEREFERENCE InterfaceDereference;
};
using PINTERFACE = INTERFACE*;
static_assert(sizeof(INTERFACE) == (sizeof(void*) == 4 ? 16 : 32));

struct IO_STACK_LOCATION {
  UCHAR MajorFunction;
  UCHAR MinorFunction;
  UCHAR Flags;
  UCHAR Control;
  union {
    struct {
      ULONG OutputBufferLength;
      ULONG InputBufferLength;
      ULONG IoControlCode;
      PVOID Type3InputBuffer;
    } DeviceIoControl;
    struct {
      const GUID* InterfaceType;
      USHORT Size;
      USHORT Version;
      PINTERFACE Interface;
      PVOID InterfaceSpecificData;
    } QueryInterface;
    struct {
      PVOID Argument1;
      PVOID Argument2;
      PVOID Argument3;
      PVOID Argument4;
    } Others;
  } Parameters;
  PDEVICE_OBJECT DeviceObject;
  PVOID FileObject;
  PVOID CompletionRoutine;
  PVOID Context;
};
using PIO_STACK_LOCATION = IO_STACK_LOCATION*;

struct IRP {
  SHORT Type;
  USHORT Size;
  ULONG Flags;
  union {
    PVOID SystemBuffer;  // the buffered input and output of device control requests
  } AssociatedIrp;
  IO_STATUS_BLOCK IoStatus;
  KPROCESSOR_MODE RequestorMode;
  BOOLEAN PendingReturned;
  CHAR StackCount;
  CHAR CurrentLocation;  // 1-based; StackCount + 1 before the first IoCallDriver
  PIO_STATUS_BLOCK UserIosb;
  PKEVENT UserEvent;
  PVOID UserBuffer;
  struct {
    struct {
      PIO_STACK_LOCATION CurrentStackLocation;
    } Overlay;
  } Tail;
  IO_STACK_LOCATION* Stack;  // StackCount entries
};

inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) {
  return irp->Tail.Overlay.CurrentStackLocation;
}
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp) {
  return irp->Tail.Overlay.CurrentStackLocation - 1;
}

constexpr CHAR IO_NO_INCREMENT = 0;

// Device control codes: device type, function, method and access packed as the platform packs them.
constexpr ULONG CTL_CODE(ULONG deviceType, ULONG function, ULONG method, ULONG access) {
  return (deviceType << 16) | (access << 14) | (function << 2) | method;
}
constexpr ULONG METHOD_BUFFERED = 0;
constexpr ULONG FILE_ANY_ACCESS = 0;

extern "C" {
// A synchronous request of the given major function for the target's stack: completion signals the
// event and stores the final status in the status block; the I/O manager frees the IRP then.
PIRP NTAPI IoBuildSynchronousFsdRequest(ULONG majorFunction, PDEVICE_OBJECT deviceObject,
                                        PVOID buffer, ULONG length, PLARGE_INTEGER startingOffset,
                                        PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock);
// A device control request with its buffers copied through the system buffer.
PIRP NTAPI IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject,
                                         PVOID inputBuffer, ULONG inputBufferLength,
                                         PVOID outputBuffer, ULONG outputBufferLength,
                                         BOOLEAN internalDeviceIoControl, PKEVENT event,
                                         PIO_STATUS_BLOCK ioStatusBlock);
// Moves the IRP to its next stack location and calls the device's driver for it.
NTSTATUS NTAPI IoCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp);
VOID NTAPI IoCompleteRequest(PIRP irp, CHAR priorityBoost);
// The top of the stack that the device belongs to.
PDEVICE_OBJECT NTAPI IoGetAttachedDeviceReference(PDEVICE_OBJECT deviceObject);
VOID NTAPI ObDereferenceObject(PVOID object);

// Device interfaces. The symbolic link name comes from non-paged pool; the caller frees its buffer.
NTSTATUS NTAPI IoRegisterDeviceInterface(PDEVICE_OBJECT physicalDeviceObject,
                                         const GUID* interfaceClassGuid,
                                         PUNICODE_STRING referenceString,
                                         PUNICODE_STRING symbolicLinkName);
NTSTATUS NTAPI IoSetDeviceInterfaceState(PUNICODE_STRING symbolicLinkName, BOOLEAN enable);
// The symbolic links of the class's interfaces (enabled ones only, unless flag 1 asks for all), on
// the given device or on every device when it is null, as a list of zero-terminated strings ended
// by an empty one, in paged pool that the caller frees.
constexpr ULONG DEVICE_INTERFACE_INCLUDE_NONACTIVE = 0x00000001;
NTSTATUS NTAPI IoGetDeviceInterfaces(const GUID* interfaceClassGuid,
                                     PDEVICE_OBJECT physicalDeviceObject, ULONG flags,
                                     PWSTR* symbolicLinkList);
}
