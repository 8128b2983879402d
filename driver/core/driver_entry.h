// The driver's shell towards the operating system: the entry point that registers with the camera
// framework, the adapter routine that receives every device request, and the two routines the
// framework calls for the requests of an open stream.
#pragma once

#include "core/device_context.h"
#include "kernel_io.h"

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

VOID NTAPI AdapterReceivePacket(PHW_STREAM_REQUEST_BLOCK request);
VOID NTAPI StreamReceiveDataPacket(PHW_STREAM_REQUEST_BLOCK request, PVOID deviceContext,
                                   PBOOLEAN completed);
VOID NTAPI StreamReceiveControlPacket(PHW_STREAM_REQUEST_BLOCK request, PVOID deviceContext,
                                      PBOOLEAN completed);
