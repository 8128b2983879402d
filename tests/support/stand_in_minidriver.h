// A small stand-in minidriver for tests of the camera framework itself: it takes the framework's
// callbacks in place of ours, cuts frames from packet lengths (runs of whole-unit packets closed by
// any other length; a 12-byte packet abandons the frame), copies raw frames out unchanged and
// records the raw buffers it was given. One pin with one format; the test sets the packet unit,
// the raw frame size and the alternate setting that bandwidth claims.
#pragma once

#include <cstring>
#include <vector>

#include "usbcamd.h"

namespace stand_in {

struct MiniDriver {
  ULONG packetUnit = 512;
  ULONG frameBytes = 0;
  UCHAR alternateSetting = 7;
  ULONG overclaim = 0;  // bytes to claim beyond the frame in the raw-frame callback
  USBD_INTERFACE_INFORMATION* interface = nullptr;
  bool inFrame = false;
  std::vector<const void*> rawBuffers;
  std::vector<ULONG> rawLengths;
};
inline MiniDriver g_driver;

inline NTSTATUS NTAPI Initialize(PDEVICE_OBJECT, PVOID) { return STATUS_SUCCESS; }
inline NTSTATUS NTAPI Configure(PDEVICE_OBJECT, PVOID, PUSBD_INTERFACE_INFORMATION interface,
                                PUSB_CONFIGURATION_DESCRIPTOR, ULONG,
                                PUSBCAMD_Pipe_Config_Descriptor, PUSB_DEVICE_DESCRIPTOR) {
  g_driver.interface = interface;
  return STATUS_SUCCESS;
}
inline ULONG NTAPI Packet(PDEVICE_OBJECT, PVOID, PVOID, PUSBD_ISO_PACKET_DESCRIPTOR, PVOID,
                          PUSBD_ISO_PACKET_DESCRIPTOR data, PVOID, PBOOLEAN complete, PULONG flags,
                          PULONG offset) {
  ULONG length = data->Length;
  if (length == 0) return 0;
  if (length == 12) {
    g_driver.inFrame = false;
    *flags |= USBCAMD_PROCESSPACKETEX_DropFrame;
    return 0;
  }
  if (length % g_driver.packetUnit == 0) {
    if (!g_driver.inFrame) *complete = TRUE;
    g_driver.inFrame = true;
  } else {
    g_driver.inFrame = false;
  }
  *offset = 12;
  return length - 12;
}
inline VOID NTAPI NewFrame(PVOID, PVOID, ULONG, PULONG) {}
inline NTSTATUS NTAPI RawFrame(PDEVICE_OBJECT, PVOID, PVOID, PVOID frame, ULONG frameLength,
                               PVOID raw, ULONG, ULONG, PULONG bytesReturned, ULONG actualRawLength,
                               ULONG) {
  g_driver.rawBuffers.push_back(raw);
  g_driver.rawLengths.push_back(actualRawLength);
  memcpy(frame, raw, actualRawLength < frameLength ? actualRawLength : frameLength);
  *bytesReturned = actualRawLength + g_driver.overclaim;
  return STATUS_SUCCESS;
}
inline NTSTATUS NTAPI Capture(PDEVICE_OBJECT, PVOID, ULONG) { return STATUS_SUCCESS; }
inline NTSTATUS NTAPI State(PDEVICE_OBJECT, PVOID) { return STATUS_SUCCESS; }
inline NTSTATUS NTAPI AllocateBandwidth(PDEVICE_OBJECT, PVOID context, PULONG rawLength, PVOID,
                                        ULONG) {
  *rawLength = g_driver.frameBytes + 1;  // room for the packetizer's pad byte
  g_driver.interface->AlternateSetting = g_driver.alternateSetting;
  return USBCAMD_SelectAlternateInterface(context, g_driver.interface);
}
inline NTSTATUS NTAPI FreeBandwidth(PDEVICE_OBJECT, PVOID context, ULONG) {
  g_driver.interface->AlternateSetting = 0;
  return USBCAMD_SelectAlternateInterface(context, g_driver.interface);
}

inline USBCAMD_DEVICE_DATA2 g_callbacks = {
    0,       Initialize, Initialize, Packet, NewFrame,          RawFrame,     Capture,
    Capture, Configure,  State,      State,  AllocateBandwidth, FreeBandwidth};

// The one format of the one pin, answered by the driver itself; everything else goes to the
// framework.
inline KSDATAFORMAT g_format = {sizeof(KSDATAFORMAT), 0, 0, 0, {}, {}, {}};
inline PKSDATAFORMAT g_formats[] = {&g_format};

inline VOID NTAPI StreamRoutine(PHW_STREAM_REQUEST_BLOCK, PVOID, PBOOLEAN) {}

inline VOID NTAPI Receive(PHW_STREAM_REQUEST_BLOCK request) {
  PVOID context = USBCAMD_AdapterReceivePacket(request, nullptr, nullptr, FALSE);
  if (request->Command == SRB_INITIALIZE_DEVICE) {
    USBCAMD_InitializeNewInterface(context, &g_callbacks, USBCAMD_VERSION_200, 0);
  } else if (request->Command == SRB_GET_STREAM_INFO) {
    HW_STREAM_DESCRIPTOR* descriptor = request->CommandData.StreamBuffer;
    descriptor->StreamHeader.NumberOfStreams = 1;
    descriptor->StreamHeader.SizeOfHwStreamInformation = sizeof(HW_STREAM_INFORMATION);
    descriptor->StreamInfo[0] = {};
    descriptor->StreamInfo[0].NumberOfPossibleInstances = 1;
    descriptor->StreamInfo[0].NumberOfFormatArrayEntries = 1;
    descriptor->StreamInfo[0].StreamFormatsArray = g_formats;
    request->Status = STATUS_SUCCESS;
    StreamClassDeviceNotification(DeviceRequestComplete, request->HwDeviceExtension, request);
    return;
  } else if (request->Command == SRB_OPEN_STREAM) {
    auto routine =
        reinterpret_cast<PHW_RECEIVE_STREAM_DATA_SRB>(reinterpret_cast<void (*)()>(StreamRoutine));
    request->StreamObject->ReceiveDataPacket = routine;
    request->StreamObject->ReceiveControlPacket = routine;
  }
  USBCAMD_AdapterReceivePacket(request, nullptr, nullptr, TRUE);
}

inline NTSTATUS NTAPI Entry(PDRIVER_OBJECT driver, PUNICODE_STRING path) {
  return static_cast<NTSTATUS>(USBCAMD_DriverEntry(driver, path, 36, 40, Receive));
}

}  // namespace stand_in
