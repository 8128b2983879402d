// Temporary definitions while the I/O manager, stream class and framework stand-ins are written.
#include <cstdarg>

#include "kernel_io.h"
#include "stream_class.h"
#include "usbcamd.h"

extern "C" {
PIRP NTAPI IoBuildSynchronousFsdRequest(ULONG, PDEVICE_OBJECT, PVOID, ULONG, PLARGE_INTEGER,
                                        PKEVENT, PIO_STATUS_BLOCK) {
  return nullptr;
}
NTSTATUS NTAPI IoCallDriver(PDEVICE_OBJECT, PIRP) { return STATUS_NOT_SUPPORTED; }
PDEVICE_OBJECT NTAPI IoGetAttachedDeviceReference(PDEVICE_OBJECT device) { return device; }
VOID NTAPI ObDereferenceObject(PVOID) {}
NTSTATUS NTAPI IoRegisterDeviceInterface(PDEVICE_OBJECT, const GUID*, PUNICODE_STRING,
                                         PUNICODE_STRING) {
  return STATUS_NOT_SUPPORTED;
}
NTSTATUS NTAPI IoSetDeviceInterfaceState(PUNICODE_STRING, BOOLEAN) { return STATUS_NOT_SUPPORTED; }
VOID StreamClassDeviceNotification(STREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE, PVOID, ...) {}
VOID StreamClassStreamNotification(STREAM_MINIDRIVER_STREAM_NOTIFICATION_TYPE, PHW_STREAM_OBJECT,
                                   ...) {}
ULONG NTAPI USBCAMD_DriverEntry(PVOID, PVOID, ULONG, ULONG, PADAPTER_RECEIVE_PACKET_ROUTINE) {
  return static_cast<ULONG>(STATUS_NOT_SUPPORTED);
}
PVOID NTAPI USBCAMD_AdapterReceivePacket(PHW_STREAM_REQUEST_BLOCK, PVOID, PDEVICE_OBJECT*,
                                         BOOLEAN) {
  return nullptr;
}
ULONG NTAPI USBCAMD_InitializeNewInterface(PVOID, PVOID, ULONG, ULONG) { return 0; }
}
