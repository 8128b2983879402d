// The USB camera framework as its minidrivers see it: registration, the callback table of
// interface version 2.0, the exported routines, and the framework interface obtained by a
// query-interface request.
#pragma once

#include "stream_class.h"
#include "usb.h"

// Stream association and flags of one pipe in the pipe configuration that CamConfigureEx fills.
constexpr ULONG USBCAMD_DONT_CARE_STREAM = 0;
constexpr ULONG USBCAMD_VIDEO_STREAM = 1;
constexpr ULONG USBCAMD_STILL_STREAM = 2;
constexpr ULONG USBCAMD_VIDEO_STILL_STREAM = 3;
constexpr UCHAR USBCAMD_DATA_PIPE = 0x01;
constexpr UCHAR USBCAMD_MULTIPLEX_PIPE = 0x02;
constexpr UCHAR USBCAMD_SYNC_PIPE = 0x04;
constexpr UCHAR USBCAMD_DONT_CARE_PIPE = 0x08;

struct USBCAMD_Pipe_Config_Descriptor {
  ULONG StreamAssociation;
  UCHAR PipeConfigFlags;
};
using PUSBCAMD_Pipe_Config_Descriptor = USBCAMD_Pipe_Config_Descriptor*;
static_assert(sizeof(USBCAMD_Pipe_Config_Descriptor) == 8);

// Control flags of USBCAMD_InitializeNewInterface.
constexpr ULONG USBCAMD_CamControlFlag_NoVideoRawProcessing = 0x0001;
constexpr ULONG USBCAMD_CamControlFlag_NoStillRawProcessing = 0x0002;
constexpr ULONG USBCAMD_CamControlFlag_AssociatedFormat = 0x0004;
constexpr ULONG USBCAMD_CamControlFlag_EnableDeviceEvents = 0x0008;

constexpr ULONG USBCAMD_VERSION_200 = 0x200;

// Processing flags a packet callback returns through its packet-flag argument.
constexpr ULONG USBCAMD_PROCESSPACKETEX_DropFrame = 0x0002;
constexpr ULONG USBCAMD_PROCESSPACKETEX_NextFrameIsStill = 0x0004;
constexpr ULONG USBCAMD_PROCESSPACKETEX_CurrentFrameIsStill = 0x0008;

// Pipe states of the set-iso-pipe-state routine.
constexpr ULONG USBCAMD_STOP_STREAM = 0x00000001;
constexpr ULONG USBCAMD_START_STREAM = 0x00000000;

// ---- The callback table -------------------------------------------------------------------------
using PCAM_INITIALIZE_ROUTINE = NTSTATUS(NTAPI*)(PDEVICE_OBJECT busDeviceObject,
                                                 PVOID deviceContext);
using PCAM_PROCESS_PACKET_ROUTINE_EX = ULONG(NTAPI*)(PDEVICE_OBJECT busDeviceObject,
                                                     PVOID deviceContext, PVOID currentFrameContext,
                                                     PUSBD_ISO_PACKET_DESCRIPTOR syncPacket,
                                                     PVOID syncBuffer,
                                                     PUSBD_ISO_PACKET_DESCRIPTOR dataPacket,
                                                     PVOID dataBuffer, PBOOLEAN frameComplete,
                                                     PULONG packetFlag, PULONG validDataOffset);
using PCAM_NEW_VIDEO_FRAME_ROUTINE_EX = VOID(NTAPI*)(PVOID deviceContext, PVOID frameContext,
                                                     ULONG streamNumber, PULONG frameLength);
using PCAM_PROCESS_RAW_FRAME_ROUTINE_EX = NTSTATUS(NTAPI*)(
    PDEVICE_OBJECT busDeviceObject, PVOID deviceContext, PVOID frameContext, PVOID frameBuffer,
    ULONG frameLength, PVOID rawFrameBuffer, ULONG rawFrameLength, ULONG numberOfPackets,
    PULONG bytesReturned, ULONG actualRawFrameLength, ULONG streamNumber);
using PCAM_START_CAPTURE_ROUTINE_EX = NTSTATUS(NTAPI*)(PDEVICE_OBJECT busDeviceObject,
                                                       PVOID deviceContext, ULONG streamNumber);
using PCAM_STOP_CAPTURE_ROUTINE_EX = PCAM_START_CAPTURE_ROUTINE_EX;
using PCAM_CONFIGURE_ROUTINE_EX = NTSTATUS(NTAPI*)(
    PDEVICE_OBJECT busDeviceObject, PVOID deviceContext, PUSBD_INTERFACE_INFORMATION interface,
    PUSB_CONFIGURATION_DESCRIPTOR configurationDescriptor, ULONG pipeConfigListSize,
    PUSBCAMD_Pipe_Config_Descriptor pipeConfig, PUSB_DEVICE_DESCRIPTOR deviceDescriptor);
using PCAM_STATE_ROUTINE = NTSTATUS(NTAPI*)(PDEVICE_OBJECT busDeviceObject, PVOID deviceContext);
using PCAM_ALLOCATE_BW_ROUTINE_EX = NTSTATUS(NTAPI*)(PDEVICE_OBJECT busDeviceObject,
                                                     PVOID deviceContext, PULONG rawFrameLength,
                                                     PVOID format, ULONG streamNumber);
using PCAM_FREE_BW_ROUTINE_EX = NTSTATUS(NTAPI*)(PDEVICE_OBJECT busDeviceObject,
                                                 PVOID deviceContext, ULONG streamNumber);

struct USBCAMD_DEVICE_DATA2 {
  ULONG Sig;
  PCAM_INITIALIZE_ROUTINE CamInitialize;
  PCAM_INITIALIZE_ROUTINE CamUnInitialize;
  PCAM_PROCESS_PACKET_ROUTINE_EX CamProcessUSBPacketEx;
  PCAM_NEW_VIDEO_FRAME_ROUTINE_EX CamNewVideoFrameEx;
  PCAM_PROCESS_RAW_FRAME_ROUTINE_EX CamProcessRawVideoFrameEx;
  PCAM_START_CAPTURE_ROUTINE_EX CamStartCaptureEx;
  PCAM_STOP_CAPTURE_ROUTINE_EX CamStopCaptureEx;
  PCAM_CONFIGURE_ROUTINE_EX CamConfigureEx;
  PCAM_STATE_ROUTINE CamSaveState;
  PCAM_STATE_ROUTINE CamRestoreState;
  PCAM_ALLOCATE_BW_ROUTINE_EX CamAllocateBandwidthEx;
  PCAM_FREE_BW_ROUTINE_EX CamFreeBandwidthEx;
};
using PUSBCAMD_DEVICE_DATA2 = USBCAMD_DEVICE_DATA2*;
static_assert(sizeof(USBCAMD_DEVICE_DATA2) == (sizeof(void*) == 4 ? 52 : 104));

// ---- Exported routines --------------------------------------------------------------------------
// The minidriver's adapter routine and its per-stream routines, which the framework calls with the
// device context and a flag that says whether the minidriver completed the request itself.
using PADAPTER_RECEIVE_PACKET_ROUTINE = VOID(NTAPI*)(PHW_STREAM_REQUEST_BLOCK srb);
using PSTREAM_RECEIVE_PACKET = VOID(NTAPI*)(PHW_STREAM_REQUEST_BLOCK srb, PVOID deviceContext,
                                            PBOOLEAN completed);
using PCOMMAND_COMPLETE_FUNCTION = VOID(NTAPI*)(PVOID deviceContext, PVOID commandContext,
                                                NTSTATUS status);

extern "C" {
ULONG NTAPI USBCAMD_DriverEntry(PVOID context1, PVOID context2, ULONG deviceContextSize,
                                ULONG frameContextSize,
                                PADAPTER_RECEIVE_PACKET_ROUTINE receivePacket);
// needsCompletion FALSE: returns the device context of the request's device and does nothing
// else. TRUE: the framework handles the request and completes it.
PVOID NTAPI USBCAMD_AdapterReceivePacket(PHW_STREAM_REQUEST_BLOCK srb, PVOID deviceData,
                                         PDEVICE_OBJECT* deviceObject, BOOLEAN needsCompletion);
// Returns the version it accepts (0x200), or 0.
ULONG NTAPI USBCAMD_InitializeNewInterface(PVOID deviceContext, PVOID deviceData, ULONG version,
                                           ULONG camControlFlag);
// A vendor request on the default pipe; synchronous when no completion routine is given.
NTSTATUS NTAPI USBCAMD_ControlVendorCommand(PVOID deviceContext, UCHAR request, USHORT value,
                                            USHORT index, PVOID buffer, PULONG bufferLength,
                                            BOOLEAN getData,
                                            PCOMMAND_COMPLETE_FUNCTION commandComplete,
                                            PVOID commandContext);
NTSTATUS NTAPI USBCAMD_SelectAlternateInterface(PVOID deviceContext,
                                                PUSBD_INTERFACE_INFORMATION requestInterface);
}

// ---- The framework interface --------------------------------------------------------------------
// {2BCB75C0-B27F-11D1-BA41-00A0C90D2B05}
inline constexpr GUID GUID_USBCAMD_INTERFACE = {
    0x2BCB75C0, 0xB27F, 0x11D1, {0xBA, 0x41, 0x00, 0xA0, 0xC9, 0x0D, 0x2B, 0x05}};

using PFNUSBCAMD_WaitOnDeviceEvent = NTSTATUS(NTAPI*)(PVOID deviceContext, ULONG pipeIndex,
                                                      PVOID buffer, ULONG bufferLength,
                                                      PCOMMAND_COMPLETE_FUNCTION eventComplete,
                                                      PVOID eventContext, BOOLEAN loopBack);
using PFNUSBCAMD_BulkReadWrite = NTSTATUS(NTAPI*)(PVOID deviceContext, USHORT pipeIndex,
                                                  PVOID buffer, ULONG bufferLength,
                                                  PCOMMAND_COMPLETE_FUNCTION commandComplete,
                                                  PVOID commandContext);
using PFNUSBCAMD_SetVideoFormat = NTSTATUS(NTAPI*)(PVOID deviceContext,
                                                   PHW_STREAM_REQUEST_BLOCK srb);
using PFNUSBCAMD_SetIsoPipeState = NTSTATUS(NTAPI*)(PVOID deviceContext, ULONG pipeStateFlags);
using PFNUSBCAMD_CancelBulkReadWrite = NTSTATUS(NTAPI*)(PVOID deviceContext, ULONG pipeIndex);

struct USBCAMD_INTERFACE {
  INTERFACE Interface;
  PFNUSBCAMD_WaitOnDeviceEvent USBCAMD_WaitOnDeviceEvent;
  PFNUSBCAMD_BulkReadWrite USBCAMD_BulkReadWrite;
  PFNUSBCAMD_SetVideoFormat USBCAMD_SetVideoFormat;
  PFNUSBCAMD_SetIsoPipeState USBCAMD_SetIsoPipeState;
  PFNUSBCAMD_CancelBulkReadWrite USBCAMD_CancelBulkReadWrite;
};
using PUSBCAMD_INTERFACE = USBCAMD_INTERFACE*;
static_assert(sizeof(USBCAMD_INTERFACE) == (sizeof(void*) == 4 ? 36 : 72));
