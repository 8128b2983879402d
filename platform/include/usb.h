// USB definitions a minidriver of the camera framework reads: the standard descriptors, the
// interface and pipe information of a selected alternate setting, and isochronous packet records.
#pragma once

#include "kernel_types.h"

constexpr UCHAR USB_DEVICE_DESCRIPTOR_TYPE = 1;
constexpr UCHAR USB_CONFIGURATION_DESCRIPTOR_TYPE = 2;
constexpr UCHAR USB_INTERFACE_DESCRIPTOR_TYPE = 4;
constexpr UCHAR USB_ENDPOINT_DESCRIPTOR_TYPE = 5;

#pragma pack(push, 1)
struct USB_DEVICE_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT bcdUSB;
  UCHAR bDeviceClass;
  UCHAR bDeviceSubClass;
  UCHAR bDeviceProtocol;
  UCHAR bMaxPacketSize0;
  USHORT idVendor;
  USHORT idProduct;
  USHORT bcdDevice;
  UCHAR iManufacturer;
  UCHAR iProduct;
  UCHAR iSerialNumber;
  UCHAR bNumConfigurations;
};
static_assert(sizeof(USB_DEVICE_DESCRIPTOR) == 18);
using PUSB_DEVICE_DESCRIPTOR = USB_DEVICE_DESCRIPTOR*;

struct USB_CONFIGURATION_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  USHORT wTotalLength;
  UCHAR bNumInterfaces;
  UCHAR bConfigurationValue;
  UCHAR iConfiguration;
  UCHAR bmAttributes;
  UCHAR MaxPower;
};
static_assert(sizeof(USB_CONFIGURATION_DESCRIPTOR) == 9);
using PUSB_CONFIGURATION_DESCRIPTOR = USB_CONFIGURATION_DESCRIPTOR*;

struct USB_INTERFACE_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bInterfaceNumber;
  UCHAR bAlternateSetting;
  UCHAR bNumEndpoints;
  UCHAR bInterfaceClass;
  UCHAR bInterfaceSubClass;
  UCHAR bInterfaceProtocol;
  UCHAR iInterface;
};
static_assert(sizeof(USB_INTERFACE_DESCRIPTOR) == 9);

struct USB_ENDPOINT_DESCRIPTOR {
  UCHAR bLength;
  UCHAR bDescriptorType;
  UCHAR bEndpointAddress;
  UCHAR bmAttributes;
  USHORT wMaxPacketSize;
  UCHAR bInterval;
};
static_assert(sizeof(USB_ENDPOINT_DESCRIPTOR) == 7);
#pragma pack(pop)

enum USBD_PIPE_TYPE : int {
  UsbdPipeTypeControl = 0,
  UsbdPipeTypeIsochronous = 1,
  UsbdPipeTypeBulk = 2,
  UsbdPipeTypeInterrupt = 3,
};

using USBD_PIPE_HANDLE = PVOID;
using USBD_INTERFACE_HANDLE = PVOID;
using USBD_STATUS = LONG;

struct USBD_PIPE_INFORMATION {
  USHORT MaximumPacketSize;
  UCHAR EndpointAddress;
  UCHAR Interval;
  USBD_PIPE_TYPE PipeType;
  USBD_PIPE_HANDLE PipeHandle;
  ULONG MaximumTransferSize;
  ULONG PipeFlags;
};
using PUSBD_PIPE_INFORMATION = USBD_PIPE_INFORMATION*;
static_assert(sizeof(USBD_PIPE_INFORMATION) == (sizeof(void*) == 4 ? 20 : 24));

// One interface with its pipes; Length covers the header and every pipe entry that follows it.
struct USBD_INTERFACE_INFORMATION {
  USHORT Length;
  UCHAR InterfaceNumber;
  UCHAR AlternateSetting;
  UCHAR Class;
  UCHAR SubClass;
  UCHAR Protocol;
  UCHAR Reserved;
  USBD_INTERFACE_HANDLE InterfaceHandle;
  ULONG NumberOfPipes;
  USBD_PIPE_INFORMATION Pipes[1];
};
using PUSBD_INTERFACE_INFORMATION = USBD_INTERFACE_INFORMATION*;
static_assert(sizeof(USBD_INTERFACE_INFORMATION) == (sizeof(void*) == 4 ? 36 : 48));

// Bytes of an interface information record with the given number of pipes.
constexpr ULONG InterfaceInformationSize(ULONG pipeCount) {
  return static_cast<ULONG>(offsetof(USBD_INTERFACE_INFORMATION, Pipes)) +
         pipeCount * static_cast<ULONG>(sizeof(USBD_PIPE_INFORMATION));
}

// One isochronous packet of a transfer: its place in the transfer buffer, its length and result.
struct USBD_ISO_PACKET_DESCRIPTOR {
  ULONG Offset;
  ULONG Length;
  USBD_STATUS Status;
};
using PUSBD_ISO_PACKET_DESCRIPTOR = USBD_ISO_PACKET_DESCRIPTOR*;
static_assert(sizeof(USBD_ISO_PACKET_DESCRIPTOR) == 12);

constexpr USBD_STATUS USBD_STATUS_SUCCESS = 0;
constexpr USBD_STATUS USBD_STATUS_ERROR = static_cast<USBD_STATUS>(0xC0000000);
