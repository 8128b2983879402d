// The stream class driver as a minidriver sees it: request blocks (SRBs) with their command codes,
// the stream and device notifications, stream objects, and the stream header and stream
// information records through which a driver describes its pins, property sets and event sets.
#pragma once

#include "kernel_io.h"
#include "ks.h"

enum DEVICE_POWER_STATE : int {
  PowerDeviceUnspecified = 0,
  PowerDeviceD0 = 1,
  PowerDeviceD1 = 2,
  PowerDeviceD2 = 3,
  PowerDeviceD3 = 4,
};

// ---- Command codes ------------------------------------------------------------------------------
// Stream requests, handed to a stream object's routines.
constexpr ULONG SRB_READ_DATA = 0x01;
constexpr ULONG SRB_WRITE_DATA = 0x02;
constexpr ULONG SRB_SET_STREAM_STATE = 0x03;
constexpr ULONG SRB_GET_STREAM_STATE = 0x04;
constexpr ULONG SRB_GET_STREAM_PROPERTY = 0x05;
constexpr ULONG SRB_SET_STREAM_PROPERTY = 0x06;
constexpr ULONG SRB_INDICATE_MASTER_CLOCK = 0x07;
constexpr ULONG SRB_OPEN_MASTER_CLOCK = 0x08;
constexpr ULONG SRB_CLOSE_MASTER_CLOCK = 0x09;
constexpr ULONG SRB_PROPOSE_DATA_FORMAT = 0x0A;
constexpr ULONG SRB_UNKNOWN_STREAM_COMMAND = 0x0B;
constexpr ULONG SRB_SET_STREAM_RATE = 0x0C;
constexpr ULONG SRB_SET_DATA_FORMAT = 0x0D;
constexpr ULONG SRB_GET_DATA_FORMAT = 0x0E;
// Device requests, handed to the adapter's receive-packet routine.
constexpr ULONG SRB_GET_STREAM_INFO = 0x100;
constexpr ULONG SRB_OPEN_STREAM = 0x101;
constexpr ULONG SRB_CLOSE_STREAM = 0x102;
constexpr ULONG SRB_OPEN_DEVICE_INSTANCE = 0x103;
constexpr ULONG SRB_CLOSE_DEVICE_INSTANCE = 0x104;
constexpr ULONG SRB_GET_DEVICE_PROPERTY = 0x105;
constexpr ULONG SRB_SET_DEVICE_PROPERTY = 0x106;
constexpr ULONG SRB_INITIALIZE_DEVICE = 0x107;
constexpr ULONG SRB_CHANGE_POWER_STATE = 0x108;
constexpr ULONG SRB_UNINITIALIZE_DEVICE = 0x109;
constexpr ULONG SRB_UNKNOWN_DEVICE_COMMAND = 0x10A;
constexpr ULONG SRB_PAGING_OUT_DRIVER = 0x10B;
constexpr ULONG SRB_GET_DATA_INTERSECTION = 0x10C;
constexpr ULONG SRB_INITIALIZATION_COMPLETE = 0x10D;
constexpr ULONG SRB_SURPRISE_REMOVAL = 0x10E;

struct HW_STREAM_REQUEST_BLOCK;
struct HW_STREAM_OBJECT;
using PHW_STREAM_REQUEST_BLOCK = HW_STREAM_REQUEST_BLOCK*;
using PHW_STREAM_OBJECT = HW_STREAM_OBJECT*;

using PHW_RECEIVE_DEVICE_SRB = VOID(NTAPI*)(PHW_STREAM_REQUEST_BLOCK srb);
using PHW_RECEIVE_STREAM_DATA_SRB = VOID(NTAPI*)(PHW_STREAM_REQUEST_BLOCK srb);
using PHW_RECEIVE_STREAM_CONTROL_SRB = VOID(NTAPI*)(PHW_STREAM_REQUEST_BLOCK srb);

// ---- Configuration of an initialising device ----------------------------------------------------
struct PORT_CONFIGURATION_INFORMATION {
  ULONG SizeOfThisPacket;
  PVOID HwDeviceExtension;
  PDEVICE_OBJECT ClassDeviceObject;     // the stream class's device object of this device
  PDEVICE_OBJECT PhysicalDeviceObject;  // the bus's device object below it
  ULONG SystemIoBusNumber;
  ULONG AdapterInterfaceType;
  ULONG BusInterruptLevel;
  ULONG BusInterruptVector;
  ULONG InterruptMode;
  ULONG DmaChannel;
  ULONG NumberOfAccessRanges;
  PVOID AccessRanges;
  ULONG StreamDescriptorSize;  // bytes the driver needs for its stream header and records
  PIRP Irp;
  PDEVICE_OBJECT RealPhysicalDeviceObject;  // the bottom of the stack, or null
};
using PPORT_CONFIGURATION_INFORMATION = PORT_CONFIGURATION_INFORMATION*;

// ---- Property, intersection and event requests --------------------------------------------------
struct STREAM_PROPERTY_DESCRIPTOR {
  PKSPROPERTY Property;
  ULONG PropertySetID;  // index of the set in the table the driver reported
  PVOID PropertyInfo;   // the value buffer
  ULONG PropertyInputSize;
  ULONG PropertyOutputSize;
};
using PSTREAM_PROPERTY_DESCRIPTOR = STREAM_PROPERTY_DESCRIPTOR*;
static_assert(sizeof(STREAM_PROPERTY_DESCRIPTOR) == (sizeof(void*) == 4 ? 20 : 32));

struct STREAM_DATA_INTERSECT_INFO {
  ULONG StreamNumber;
  PKSDATARANGE DataRange;
  PVOID DataFormatBuffer;
  ULONG SizeOfDataFormatBuffer;
};
using PSTREAM_DATA_INTERSECT_INFO = STREAM_DATA_INTERSECT_INFO*;

struct HW_EVENT_DESCRIPTOR {
  BOOLEAN Enable;  // TRUE to enable, FALSE to disable
  PKSEVENT_ENTRY EventEntry;
  PKSEVENTDATA EventData;
  union {
    PHW_STREAM_OBJECT StreamObject;
    PVOID DeviceExtension;
  };
  ULONG EnableEventSetIndex;
  PVOID HwInstanceExtension;
  ULONG Reserved;
};
using PHW_EVENT_DESCRIPTOR = HW_EVENT_DESCRIPTOR*;
using PHW_EVENT_ROUTINE = NTSTATUS(NTAPI*)(PHW_EVENT_DESCRIPTOR descriptor);

// ---- Stream description -------------------------------------------------------------------------
struct HW_STREAM_HEADER {
  ULONG NumberOfStreams;
  ULONG SizeOfHwStreamInformation;
  ULONG NumDevPropArrayEntries;
  PKSPROPERTY_SET DevicePropertiesArray;
  ULONG NumDevEventArrayEntries;
  PKSEVENT_SET DeviceEventsArray;
  PVOID Topology;
  PHW_EVENT_ROUTINE DeviceEventRoutine;
  LONG NumDevMethodArrayEntries;
  PVOID DeviceMethodsArray;
};
static_assert(sizeof(HW_STREAM_HEADER) == (sizeof(void*) == 4 ? 40 : 72));

struct HW_STREAM_INFORMATION {
  ULONG NumberOfPossibleInstances;
  KSPIN_DATAFLOW DataFlow;
  BOOLEAN DataAccessible;
  ULONG NumberOfFormatArrayEntries;
  PKSDATAFORMAT* StreamFormatsArray;
  PVOID ClassReserved[4];
  ULONG NumStreamPropArrayEntries;
  PKSPROPERTY_SET StreamPropertiesArray;
  ULONG NumStreamEventArrayEntries;
  PKSEVENT_SET StreamEventsArray;
  const GUID* Category;
  const GUID* Name;
  ULONG MediumsCount;
  const KSPIN_MEDIUM* Mediums;
  BOOLEAN BridgeStream;
  ULONG Reserved[2];
};
using PHW_STREAM_INFORMATION = HW_STREAM_INFORMATION*;
static_assert(sizeof(HW_STREAM_INFORMATION) == (sizeof(void*) == 4 ? 80 : 136));

// The buffer of SRB_GET_STREAM_INFO: the header, then one record per stream.
struct HW_STREAM_DESCRIPTOR {
  HW_STREAM_HEADER StreamHeader;
  HW_STREAM_INFORMATION StreamInfo[1];
};
using PHW_STREAM_DESCRIPTOR = HW_STREAM_DESCRIPTOR*;

// ---- Data transfer ------------------------------------------------------------------------------
struct KSTIME {
  LONGLONG Time;
  ULONG Numerator;
  ULONG Denominator;
};

struct KSSTREAM_HEADER {
  ULONG Size;
  ULONG TypeSpecificFlags;
  KSTIME PresentationTime;
  LONGLONG Duration;
  ULONG FrameExtent;  // bytes of the buffer
  ULONG DataUsed;     // bytes filled
  PVOID Data;
  ULONG OptionsFlags;
};
using PKSSTREAM_HEADER = KSSTREAM_HEADER*;
static_assert(sizeof(KSSTREAM_HEADER) == (sizeof(void*) == 4 ? 48 : 56));

// OptionsFlags of a stream header.
constexpr ULONG KSSTREAM_HEADER_OPTIONSF_SPLICEPOINT = 0x0001;  // a key frame
constexpr ULONG KSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY = 0x0004;
constexpr ULONG KSSTREAM_HEADER_OPTIONSF_TIMEVALID = 0x0010;
constexpr ULONG KSSTREAM_HEADER_OPTIONSF_DURATIONVALID = 0x0100;

// The video extension that follows a stream header whose Size leaves room for it.
struct KS_FRAME_INFO {
  ULONG ExtendedHeaderSize;
  ULONG dwFrameFlags;
  LONGLONG PictureNumber;  // frames the stream has ended since it started running
  LONGLONG DropCount;      // of those, frames that reached no buffer
  HANDLE hDirectDraw;
  HANDLE hSurfaceHandle;
  LONG DirectDrawRect[4];
  ULONG Reserved[4];
};
static_assert(sizeof(KS_FRAME_INFO) == (sizeof(void*) == 4 ? 64 : 72));

// ---- Stream objects -----------------------------------------------------------------------------
struct HW_CLOCK_OBJECT {
  PVOID HwClockFunction;
  ULONG ClockSupportFlags;
  ULONG Reserved[2];
};

struct HW_STREAM_OBJECT {
  ULONG SizeOfThisPacket;
  ULONG StreamNumber;
  PVOID HwStreamExtension;
  PHW_RECEIVE_STREAM_DATA_SRB ReceiveDataPacket;
  PHW_RECEIVE_STREAM_CONTROL_SRB ReceiveControlPacket;
  HW_CLOCK_OBJECT HwClockObject;
  BOOLEAN Dma;
  BOOLEAN Pio;
  PVOID HwDeviceExtension;
  ULONG StreamHeaderMediaSpecific;
  ULONG StreamHeaderWorkspace;
  BOOLEAN Allocator;
  PHW_EVENT_ROUTINE HwEventRoutine;
  ULONG Reserved[2];
};

// ---- Request blocks -----------------------------------------------------------------------------
struct HW_STREAM_REQUEST_BLOCK {
  ULONG SizeOfThisPacket;
  ULONG Command;
  NTSTATUS Status;
  PHW_STREAM_OBJECT StreamObject;  // stream requests and SRB_OPEN_STREAM / SRB_CLOSE_STREAM
  PVOID HwDeviceExtension;
  PVOID SRBExtension;
  union {
    PKSSTREAM_HEADER DataBufferArray;
    PHW_STREAM_DESCRIPTOR StreamBuffer;
    KSSTATE StreamState;
    PSTREAM_PROPERTY_DESCRIPTOR PropertyInfo;
    PKSDATAFORMAT OpenFormat;
    PPORT_CONFIGURATION_INFORMATION ConfigInfo;
    HANDLE MasterClockHandle;
    DEVICE_POWER_STATE DeviceState;
    PSTREAM_DATA_INTERSECT_INFO IntersectInfo;
    PVOID MethodInfo;
    LONG FilterTypeIndex;
    BOOLEAN Wakeup;
  } CommandData;
  ULONG NumberOfBuffers;
  ULONG TimeoutCounter;
  ULONG TimeoutOriginal;
  HW_STREAM_REQUEST_BLOCK* NextSRB;
  PIRP Irp;  // the request that caused this block (device control and PnP requests)
  ULONG Flags;
  PVOID HwInstanceExtension;
  union {
    ULONG NumberOfBytesToTransfer;
    ULONG ActualBytesTransferred;
  };
  PVOID ScatterGatherBuffer;
  ULONG NumberOfPhysicalPages;
  ULONG NumberOfScatterGatherElements;
  ULONG Reserved[1];
};
static_assert(sizeof(HW_STREAM_REQUEST_BLOCK) == (sizeof(void*) == 4 ? 76 : 128));

// ---- Notifications ------------------------------------------------------------------------------
enum STREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE : int {
  ReadyForNextDeviceRequest = 0,
  DeviceRequestComplete = 1,       // (request block)
  SignalMultipleDeviceEvents = 2,  // (const GUID* event set, ULONG event id)
  SignalDeviceEvent = 3,           // (KSEVENT_ENTRY*)
};

enum STREAM_MINIDRIVER_STREAM_NOTIFICATION_TYPE : int {
  ReadyForNextStreamDataRequest = 0,
  ReadyForNextStreamControlRequest = 1,
  HardwareStarved = 2,
  StreamRequestComplete = 3,  // (request block)
};

// ---- Registration -------------------------------------------------------------------------------
struct HW_INITIALIZATION_DATA {
  ULONG HwInitializationDataSize;
  PVOID HwInterrupt;
  PHW_RECEIVE_DEVICE_SRB HwReceivePacket;
  PHW_RECEIVE_DEVICE_SRB HwCancelPacket;
  PHW_RECEIVE_DEVICE_SRB HwRequestTimeoutHandler;
  ULONG DeviceExtensionSize;
  ULONG PerRequestExtensionSize;
  ULONG PerStreamExtensionSize;
  ULONG FilterInstanceExtensionSize;
  BOOLEAN BusMasterDMA;
  BOOLEAN Dma24BitAddresses;
  ULONG BufferAlignment;
  BOOLEAN TurnOffSynchronization;
  ULONG DmaBufferSize;
};

extern "C" {
// Variadic, so the platform's C calling convention.
VOID StreamClassDeviceNotification(STREAM_MINIDRIVER_DEVICE_NOTIFICATION_TYPE notificationType,
                                   PVOID hwDeviceExtension, ...);
VOID StreamClassStreamNotification(STREAM_MINIDRIVER_STREAM_NOTIFICATION_TYPE notificationType,
                                   PHW_STREAM_OBJECT streamObject, ...);
NTSTATUS NTAPI StreamClassRegisterAdapter(PVOID argument1, PVOID argument2,
                                          HW_INITIALIZATION_DATA* hwInitializationData);
}
