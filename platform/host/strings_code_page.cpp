// The ANSI code page of the system, Windows-1252: each byte is one UTF-16 unit. Bytes 0x80 to 0x9F
// carry typographic characters; the five bytes that the code page leaves undefined map to the
// control characters of the same number, so that every byte survives a round trip.
#include <cstring>

#include "kernel.h"
#include "kernel_strings.h"

namespace {

constexpr WCHAR kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

// The tag of string buffers that the conversion routines allocate ("Strg" in a pool dump).
constexpr ULONG kStringTag = 'S' | ('t' << 8) | ('r' << 16) | (static_cast<ULONG>('g') << 24);

WCHAR UnitFromByte(uint8_t byte) {
  if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
  return byte;
}

CHAR ByteFromUnit(WCHAR unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<CHAR>(unit);
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == unit) return static_cast<CHAR>(0x80 + i);
  }
  return '?';
}

}  // namespace

extern "C" {

NTSTATUS NTAPI RtlMultiByteToUnicodeN(PWCHAR unicodeString, ULONG maxBytesInUnicodeString,
                                      PULONG bytesInUnicodeString, const CHAR* multiByteString,
                                      ULONG bytesInMultiByteString) {
  ULONG units = maxBytesInUnicodeString / sizeof(WCHAR);
  if (units > bytesInMultiByteString) units = bytesInMultiByteString;
  for (ULONG i = 0; i < units; ++i) {
    unicodeString[i] = UnitFromByte(static_cast<uint8_t>(multiByteString[i]));
  }
  if (bytesInUnicodeString != nullptr) *bytesInUnicodeString = units * sizeof(WCHAR);
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlUnicodeToMultiByteN(PCHAR multiByteString, ULONG maxBytesInMultiByteString,
                                      PULONG bytesInMultiByteString, PCWSTR unicodeString,
                                      ULONG bytesInUnicodeString) {
  ULONG count = bytesInUnicodeString / sizeof(WCHAR);
  if (count > maxBytesInMultiByteString) count = maxBytesInMultiByteString;
  for (ULONG i = 0; i < count; ++i) multiByteString[i] = ByteFromUnit(unicodeString[i]);
  if (bytesInMultiByteString != nullptr) *bytesInMultiByteString = count;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlAnsiStringToUnicodeString(PUNICODE_STRING destination, const ANSI_STRING* source,
                                            BOOLEAN allocateDestination) {
  ULONG bytes = static_cast<ULONG>(source->Length) * sizeof(WCHAR);
  if (bytes > 0xFFFC) return STATUS_INVALID_PARAMETER;  // the result and its terminator must count
  if (allocateDestination) {
    auto* buffer = static_cast<PWCHAR>(ExAllocatePoolWithTag(PagedPool, bytes + 2, kStringTag));
    if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    destination->Buffer = buffer;
    destination->MaximumLength = static_cast<USHORT>(bytes + 2);
  } else if (bytes > destination->MaximumLength) {
    return STATUS_BUFFER_OVERFLOW;
  }
  ULONG written = 0;
  RtlMultiByteToUnicodeN(destination->Buffer, bytes, &written, source->Buffer, source->Length);
  destination->Length = static_cast<USHORT>(written);
  if (written + sizeof(WCHAR) <= destination->MaximumLength) {
    destination->Buffer[written / sizeof(WCHAR)] = 0;
  }
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlUnicodeStringToAnsiString(PANSI_STRING destination, PCUNICODE_STRING source,
                                            BOOLEAN allocateDestination) {
  ULONG bytes = source->Length / sizeof(WCHAR);
  if (allocateDestination) {
    auto* buffer = static_cast<PCHAR>(ExAllocatePoolWithTag(PagedPool, bytes + 1, kStringTag));
    if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    destination->Buffer = buffer;
    destination->MaximumLength = static_cast<USHORT>(bytes + 1);
  } else if (bytes > destination->MaximumLength) {
    return STATUS_BUFFER_OVERFLOW;
  }
  ULONG written = 0;
  RtlUnicodeToMultiByteN(destination->Buffer, bytes, &written, source->Buffer, source->Length);
  destination->Length = static_cast<USHORT>(written);
  if (written < destination->MaximumLength) destination->Buffer[written] = 0;
  return STATUS_SUCCESS;
}

VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING string) {
  if (string->Buffer != nullptr) ExFreePool(string->Buffer);
  string->Buffer = nullptr;
  string->Length = string->MaximumLength = 0;
}

VOID NTAPI RtlFreeAnsiString(PANSI_STRING string) {
  if (string->Buffer != nullptr) ExFreePool(string->Buffer);
  string->Buffer = nullptr;
  string->Length = string->MaximumLength = 0;
}

}  // extern "C"
