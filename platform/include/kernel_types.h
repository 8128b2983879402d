// Basic types and status codes of the kernel platform, with the widths of the 32-bit x86 target
// on every host: a ULONG is 32 bits, a WCHAR one UTF-16 unit, a LONGLONG 64 bits. Only
// pointer-sized types change width on a 64-bit host.
#pragma once

#include <cstddef>
#include <cstdint>

// Routines that the platform calls back, and the platform's exported routines, use the platform's
// calling convention. It only exists on the 32-bit x86 target; elsewhere it is empty.
#if defined(__i386__)
#define NTAPI __attribute__((stdcall))
#else
#define NTAPI
#endif

#define IN
#define OUT
#define OPTIONAL

using VOID = void;
using PVOID = void*;
using CHAR = char;
using PCHAR = char*;
using UCHAR = uint8_t;
using PUCHAR = uint8_t*;
using SHORT = int16_t;
using USHORT = uint16_t;
using PUSHORT = uint16_t*;
using LONG = int32_t;
using PLONG = int32_t*;
using ULONG = uint32_t;
using PULONG = uint32_t*;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using BOOLEAN = uint8_t;
using PBOOLEAN = uint8_t*;
using WCHAR = char16_t;  // one UTF-16 unit, never the host's 32-bit wchar_t
using PWCHAR = char16_t*;
using PWSTR = char16_t*;
using PCWSTR = const char16_t*;
using SIZE_T = size_t;
using ULONG_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using HANDLE = void*;
using PHANDLE = HANDLE*;
using NTSTATUS = int32_t;
using KIRQL = UCHAR;
using PKIRQL = KIRQL*;
using KPROCESSOR_MODE = CHAR;
using ACCESS_MASK = ULONG;

static_assert(sizeof(ULONG) == 4 && sizeof(WCHAR) == 2 && sizeof(LONGLONG) == 8);

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

union LARGE_INTEGER {
  struct {
    ULONG LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;
static_assert(sizeof(LARGE_INTEGER) == 8);

struct GUID {
  ULONG Data1;
  USHORT Data2;
  USHORT Data3;
  UCHAR Data4[8];
};
static_assert(sizeof(GUID) == 16);
using REFGUID = const GUID&;

struct LIST_ENTRY {
  LIST_ENTRY* Flink;
  LIST_ENTRY* Blink;
};
using PLIST_ENTRY = LIST_ENTRY*;

// Counted UTF-16 string; Length and MaximumLength are in bytes.
struct UNICODE_STRING {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
};
using PUNICODE_STRING = UNICODE_STRING*;
using PCUNICODE_STRING = const UNICODE_STRING*;
static_assert(sizeof(UNICODE_STRING) == (sizeof(void*) == 4 ? 8 : 16));

// Counted 8-bit string (the ANSI code page); lengths in bytes.
struct ANSI_STRING {
  USHORT Length;
  USHORT MaximumLength;
  PCHAR Buffer;
};
using PANSI_STRING = ANSI_STRING*;

constexpr bool NT_SUCCESS(NTSTATUS status) { return status >= 0; }

// Status codes, with the platform's values.
constexpr NTSTATUS STATUS_SUCCESS = 0x00000000;
constexpr NTSTATUS STATUS_WAIT_0 = 0x00000000;
constexpr NTSTATUS STATUS_TIMEOUT = 0x00000102;
constexpr NTSTATUS STATUS_PENDING = 0x00000103;
constexpr NTSTATUS STATUS_MORE_ENTRIES = 0x00000105;
constexpr NTSTATUS STATUS_BUFFER_OVERFLOW = static_cast<NTSTATUS>(0x80000005);
constexpr NTSTATUS STATUS_NO_MORE_ENTRIES = static_cast<NTSTATUS>(0x8000001A);
constexpr NTSTATUS STATUS_UNSUCCESSFUL = static_cast<NTSTATUS>(0xC0000001);
constexpr NTSTATUS STATUS_NOT_IMPLEMENTED = static_cast<NTSTATUS>(0xC0000002);
constexpr NTSTATUS STATUS_INVALID_HANDLE = static_cast<NTSTATUS>(0xC0000008);
constexpr NTSTATUS STATUS_INVALID_PARAMETER = static_cast<NTSTATUS>(0xC000000D);
constexpr NTSTATUS STATUS_INVALID_BUFFER_SIZE = static_cast<NTSTATUS>(0xC0000206);
constexpr NTSTATUS STATUS_NO_SUCH_DEVICE = static_cast<NTSTATUS>(0xC000000E);
constexpr NTSTATUS STATUS_END_OF_FILE = static_cast<NTSTATUS>(0xC0000011);
constexpr NTSTATUS STATUS_ACCESS_DENIED = static_cast<NTSTATUS>(0xC0000022);
constexpr NTSTATUS STATUS_BUFFER_TOO_SMALL = static_cast<NTSTATUS>(0xC0000023);
constexpr NTSTATUS STATUS_OBJECT_TYPE_MISMATCH = static_cast<NTSTATUS>(0xC0000024);
constexpr NTSTATUS STATUS_OBJECT_NAME_INVALID = static_cast<NTSTATUS>(0xC0000033);
constexpr NTSTATUS STATUS_OBJECT_NAME_NOT_FOUND = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS STATUS_OBJECT_NAME_COLLISION = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS STATUS_OBJECT_PATH_NOT_FOUND = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS STATUS_INSUFFICIENT_RESOURCES = static_cast<NTSTATUS>(0xC000009A);
constexpr NTSTATUS STATUS_DEVICE_NOT_CONNECTED = static_cast<NTSTATUS>(0xC000009D);
constexpr NTSTATUS STATUS_IO_DEVICE_ERROR = static_cast<NTSTATUS>(0xC0000185);
constexpr NTSTATUS STATUS_NOT_SUPPORTED = static_cast<NTSTATUS>(0xC00000BB);
constexpr NTSTATUS STATUS_INTERNAL_ERROR = static_cast<NTSTATUS>(0xC00000E5);
constexpr NTSTATUS STATUS_CANCELLED = static_cast<NTSTATUS>(0xC0000120);
constexpr NTSTATUS STATUS_NOT_FOUND = static_cast<NTSTATUS>(0xC0000225);
constexpr NTSTATUS STATUS_NO_MATCH = static_cast<NTSTATUS>(0xC0000272);
constexpr NTSTATUS STATUS_DEVICE_DATA_ERROR = static_cast<NTSTATUS>(0xC000009C);
