// Kernel-streaming definitions: identifiers of properties, events and media, data formats and
// ranges, and the property and event set tables through which a driver describes its controls.
#pragma once

#include "kernel_types.h"

struct KSIDENTIFIER {
  GUID Set;
  ULONG Id;
  ULONG Flags;
};
using KSPROPERTY = KSIDENTIFIER;
using KSEVENT = KSIDENTIFIER;
using KSMETHOD = KSIDENTIFIER;
using KSPIN_MEDIUM = KSIDENTIFIER;
using KSPIN_INTERFACE = KSIDENTIFIER;
using PKSIDENTIFIER = KSIDENTIFIER*;
using PKSPROPERTY = KSPROPERTY*;
using PKSEVENT = KSEVENT*;
using PKSPIN_MEDIUM = KSPIN_MEDIUM*;
static_assert(sizeof(KSIDENTIFIER) == 24);

// Flags of a property request.
constexpr ULONG KSPROPERTY_TYPE_GET = 0x00000001;
constexpr ULONG KSPROPERTY_TYPE_SET = 0x00000002;
constexpr ULONG KSPROPERTY_TYPE_BASICSUPPORT = 0x00000200;
constexpr ULONG KSPROPERTY_TYPE_RELATIONS = 0x00000400;
constexpr ULONG KSPROPERTY_TYPE_DEFAULTVALUES = 0x00010000;

// Flags of an event request.
constexpr ULONG KSEVENT_TYPE_ENABLE = 0x00000001;
constexpr ULONG KSEVENT_TYPE_ONESHOT = 0x00000002;
constexpr ULONG KSEVENT_TYPE_BASICSUPPORT = 0x00000200;

// How an enabled event reaches its client.
constexpr ULONG KSEVENTF_EVENT_HANDLE = 0x00000001;
constexpr ULONG KSEVENTF_SEMAPHORE_HANDLE = 0x00000002;

struct KSEVENTDATA {
  ULONG NotificationType;
  union {
    struct {
      HANDLE Event;
      ULONG_PTR Reserved[2];
    } EventHandle;
    struct {
      HANDLE Semaphore;
      ULONG Reserved;
      LONG Adjustment;
    } SemaphoreHandle;
  };
};
using PKSEVENTDATA = KSEVENTDATA*;

// ---- Data formats -------------------------------------------------------------------------------
struct KSDATAFORMAT {
  ULONG FormatSize;  // bytes of the whole format, its format-specific tail included
  ULONG Flags;
  ULONG SampleSize;
  ULONG Reserved;
  GUID MajorFormat;
  GUID SubFormat;
  GUID Specifier;
};
using KSDATARANGE = KSDATAFORMAT;
using PKSDATAFORMAT = KSDATAFORMAT*;
using PKSDATARANGE = KSDATARANGE*;
static_assert(sizeof(KSDATAFORMAT) == 64);

enum KSPIN_DATAFLOW : int { KSPIN_DATAFLOW_IN = 1, KSPIN_DATAFLOW_OUT = 2 };

enum KSSTATE : int { KSSTATE_STOP = 0, KSSTATE_ACQUIRE = 1, KSSTATE_PAUSE = 2, KSSTATE_RUN = 3 };

// ---- Property value descriptions ----------------------------------------------------------------
struct KSPROPERTY_BOUNDS_LONG {
  LONG SignedMinimum;
  LONG SignedMaximum;
};
struct KSPROPERTY_STEPPING_LONG {
  ULONG SteppingDelta;
  ULONG Reserved;
  KSPROPERTY_BOUNDS_LONG Bounds;
};
static_assert(sizeof(KSPROPERTY_STEPPING_LONG) == 16);

constexpr ULONG KSPROPERTY_MEMBER_RANGES = 0x00000001;
constexpr ULONG KSPROPERTY_MEMBER_STEPPEDRANGES = 0x00000002;
constexpr ULONG KSPROPERTY_MEMBER_VALUES = 0x00000003;
constexpr ULONG KSPROPERTY_MEMBER_FLAG_DEFAULT = 0x00000001;

struct KSPROPERTY_MEMBERSHEADER {
  ULONG MembersFlags;
  ULONG MembersSize;  // bytes of each member
  ULONG MembersCount;
  ULONG Flags;
};
static_assert(sizeof(KSPROPERTY_MEMBERSHEADER) == 16);

struct KSPROPERTY_MEMBERSLIST {
  KSPROPERTY_MEMBERSHEADER MembersHeader;
  const VOID* Members;
};

struct KSPROPERTY_VALUES {
  KSIDENTIFIER PropTypeSet;
  ULONG MembersListCount;
  const KSPROPERTY_MEMBERSLIST* MembersList;
};

// The head of a basic-support answer; the members lists follow it as header and members.
struct KSPROPERTY_DESCRIPTION {
  ULONG AccessFlags;
  ULONG DescriptionSize;
  KSIDENTIFIER PropTypeSet;
  ULONG MembersListCount;
  ULONG Reserved;
};
static_assert(sizeof(KSPROPERTY_DESCRIPTION) == 40);

// ---- Property and event set tables --------------------------------------------------------------
struct IRP;
using PFNKSHANDLER = NTSTATUS(NTAPI*)(IRP* irp, PKSIDENTIFIER request, PVOID data);

struct KSPROPERTY_ITEM {
  ULONG PropertyId;
  PFNKSHANDLER GetPropertyHandler;  // set (not called by the stream class) when get is supported
  ULONG MinProperty;                // smallest property descriptor accepted
  ULONG MinData;                    // smallest value buffer accepted
  PFNKSHANDLER SetPropertyHandler;  // set when set is supported
  const KSPROPERTY_VALUES* Values;
  ULONG RelationsCount;
  const KSPROPERTY* Relations;
  PFNKSHANDLER SupportHandler;
  ULONG SerializedSize;
};
using PKSPROPERTY_ITEM = KSPROPERTY_ITEM*;
static_assert(sizeof(KSPROPERTY_ITEM) == (sizeof(void*) == 4 ? 40 : 72));

struct KSPROPERTY_SET {
  const GUID* Set;
  ULONG PropertiesCount;
  const KSPROPERTY_ITEM* PropertyItem;
  ULONG FastIoCount;
  const VOID* FastIoTable;
};
using PKSPROPERTY_SET = KSPROPERTY_SET*;
static_assert(sizeof(KSPROPERTY_SET) == (sizeof(void*) == 4 ? 20 : 40));

struct KSEVENT_ENTRY;
using PFNKSADDEVENT = NTSTATUS(NTAPI*)(IRP* irp, PKSEVENTDATA eventData, KSEVENT_ENTRY* entry);
using PFNKSREMOVEEVENT = VOID(NTAPI*)(PVOID fileObject, KSEVENT_ENTRY* entry);

struct KSEVENT_ITEM {
  ULONG EventId;
  ULONG DataInput;       // bytes of event data the client passes
  ULONG ExtraEntryData;  // bytes the driver keeps with each enabled entry
  PFNKSADDEVENT AddHandler;
  PFNKSREMOVEEVENT RemoveHandler;
  PFNKSHANDLER SupportHandler;
};
using PKSEVENT_ITEM = KSEVENT_ITEM*;
static_assert(sizeof(KSEVENT_ITEM) == (sizeof(void*) == 4 ? 24 : 40));

struct KSEVENT_SET {
  const GUID* Set;
  ULONG EventsCount;
  const KSEVENT_ITEM* EventItem;
};
using PKSEVENT_SET = KSEVENT_SET*;
static_assert(sizeof(KSEVENT_SET) == (sizeof(void*) == 4 ? 12 : 24));

// One enabled event as the stream class keeps it.
struct KSEVENT_ENTRY {
  const KSEVENT_ITEM* EventItem;
  const GUID* Set;
  PKSEVENTDATA EventData;
  ULONG NotificationType;
  PVOID Client;  // the host's record of the enabling client
};
using PKSEVENT_ENTRY = KSEVENT_ENTRY*;

// ---- Standard identifiers -----------------------------------------------------------------------
inline constexpr GUID KSDATAFORMAT_TYPE_VIDEO = {
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID KSDATAFORMAT_SPECIFIER_VIDEOINFO = {
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_RGB24 = {
    0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID PINNAME_VIDEO_CAPTURE = {
    0xFB6C4281, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr GUID PINNAME_VIDEO_STILL = {
    0xFB6C428A, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
inline constexpr GUID KSMEDIUMSETID_Standard = {
    0x4747B320, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

// ---- Video formats and ranges -------------------------------------------------------------------
// The layouts of a video pin's data ranges and formats. The 64-bit fields are 8-aligned as on the
// 32-bit target, so every size below holds on both targets.
using BOOL = LONG;
using REFERENCE_TIME = LONGLONG;  // 100 ns units

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
static_assert(sizeof(RECT) == 16);

struct SIZE {
  LONG cx;
  LONG cy;
};
static_assert(sizeof(SIZE) == 8);

struct KS_BITMAPINFOHEADER {
  ULONG biSize;
  LONG biWidth;
  LONG biHeight;  // positive: bottom-up rows
  USHORT biPlanes;
  USHORT biBitCount;
  ULONG biCompression;  // a FourCC, or 0 for uncompressed RGB
  ULONG biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  ULONG biClrUsed;
  ULONG biClrImportant;
};
using PKS_BITMAPINFOHEADER = KS_BITMAPINFOHEADER*;
static_assert(sizeof(KS_BITMAPINFOHEADER) == 40);

struct KS_VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  ULONG dwBitRate;
  ULONG dwBitErrorRate;
  alignas(8) REFERENCE_TIME AvgTimePerFrame;
  KS_BITMAPINFOHEADER bmiHeader;  // a palette or bit masks may follow in a longer header
};
using PKS_VIDEOINFOHEADER = KS_VIDEOINFOHEADER*;
static_assert(sizeof(KS_VIDEOINFOHEADER) == 88);
static_assert(offsetof(KS_VIDEOINFOHEADER, AvgTimePerFrame) == 40);
static_assert(offsetof(KS_VIDEOINFOHEADER, bmiHeader) == 48);

struct KS_VIDEO_STREAM_CONFIG_CAPS {
  GUID guid;
  ULONG VideoStandard;
  SIZE InputSize;
  SIZE MinCroppingSize;
  SIZE MaxCroppingSize;
  LONG CropGranularityX;
  LONG CropGranularityY;
  LONG CropAlignX;
  LONG CropAlignY;
  SIZE MinOutputSize;
  SIZE MaxOutputSize;
  LONG OutputGranularityX;
  LONG OutputGranularityY;
  LONG StretchTapsX;
  LONG StretchTapsY;
  LONG ShrinkTapsX;
  LONG ShrinkTapsY;
  alignas(8) LONGLONG MinFrameInterval;  // 100 ns units
  alignas(8) LONGLONG MaxFrameInterval;
  LONG MinBitsPerSecond;
  LONG MaxBitsPerSecond;
};
static_assert(sizeof(KS_VIDEO_STREAM_CONFIG_CAPS) == 128);
static_assert(offsetof(KS_VIDEO_STREAM_CONFIG_CAPS, MinFrameInterval) == 104);

struct KS_DATARANGE_VIDEO {
  KSDATARANGE DataRange;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG StreamDescriptionFlags;  // KS_VIDEOSTREAM_*
  ULONG MemoryAllocationFlags;
  KS_VIDEO_STREAM_CONFIG_CAPS ConfigCaps;
  KS_VIDEOINFOHEADER VideoInfoHeader;
};
using PKS_DATARANGE_VIDEO = KS_DATARANGE_VIDEO*;
static_assert(sizeof(KS_DATARANGE_VIDEO) == 296);
static_assert(offsetof(KS_DATARANGE_VIDEO, ConfigCaps) == 80);
static_assert(offsetof(KS_DATARANGE_VIDEO, VideoInfoHeader) == 208);

struct KS_DATAFORMAT_VIDEOINFOHEADER {
  KSDATAFORMAT DataFormat;
  KS_VIDEOINFOHEADER VideoInfoHeader;
};
using PKS_DATAFORMAT_VIDEOINFOHEADER = KS_DATAFORMAT_VIDEOINFOHEADER*;
static_assert(sizeof(KS_DATAFORMAT_VIDEOINFOHEADER) == 152);

// Stream description flags of a video range.
constexpr ULONG KS_VIDEOSTREAM_PREVIEW = 0x0001;
constexpr ULONG KS_VIDEOSTREAM_CAPTURE = 0x0002;
constexpr ULONG KS_VIDEOSTREAM_STILL = 0x1000;

// Uncompressed RGB subformats besides KSDATAFORMAT_SUBTYPE_RGB24; the FourCC subformats are the
// FourCC followed by the common tail -0000-0010-8000-00AA00389B71.
inline constexpr GUID KSDATAFORMAT_SUBTYPE_RGB8 = {
    0xE436EB7A, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_RGB565 = {
    0xE436EB7B, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID KSDATAFORMAT_SUBTYPE_RGB555 = {
    0xE436EB7C, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID FourCCSubtype(ULONG fourCC) {
  return GUID{fourCC, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
