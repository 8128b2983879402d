// The driver's table of framework callbacks: the twelve routines that the camera framework calls
// for configuration, start and stop, power, bandwidth, capture and every packet and frame.
#pragma once

#include "usbcamd.h"

// The static USBCAMD_DEVICE_DATA2 of the driver: signature "VMRD", then the callbacks.
extern USBCAMD_DEVICE_DATA2 DeviceData;

// The private custom property set {85D22798-5568-48F9-AE83-2066A70FE27D}.
inline constexpr GUID kCustomPropertySet = {
    0x85D22798, 0x5568, 0x48F9, {0xAE, 0x83, 0x20, 0x66, 0xA7, 0x0F, 0xE2, 0x7D}};
