// Counted UTF-16 strings: set-up, copy, append, compare and number conversion, with the checks of
// the target (a result that does not fit changes nothing or is cut, never overruns).
#include <cstring>

#include "kernel_strings.h"

namespace {

constexpr USHORT kMaxStringBytes = 0xFFFE;

size_t UnitsOf(PCWSTR text) {
  size_t units = 0;
  while (text[units] != 0) ++units;
  return units;
}

// Appends count bytes to destination when they fit; a terminator follows when there is room.
NTSTATUS AppendBytes(PUNICODE_STRING destination, const WCHAR* source, size_t bytes) {
  if (bytes == 0) return STATUS_SUCCESS;
  if (destination->Length + bytes > destination->MaximumLength) return STATUS_BUFFER_TOO_SMALL;
  auto* target = reinterpret_cast<uint8_t*>(destination->Buffer) + destination->Length;
  memmove(target, source, bytes);
  destination->Length = static_cast<USHORT>(destination->Length + bytes);
  if (destination->Length + sizeof(WCHAR) <= destination->MaximumLength) {
    destination->Buffer[destination->Length / sizeof(WCHAR)] = 0;
  }
  return STATUS_SUCCESS;
}

int DigitValue(WCHAR character) {
  if (character >= u'0' && character <= u'9') return character - u'0';
  if (character >= u'a' && character <= u'z') return character - u'a' + 10;
  if (character >= u'A' && character <= u'Z') return character - u'A' + 10;
  return 99;
}

}  // namespace

extern "C" {

VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source) {
  destination->Buffer = const_cast<PWSTR>(source);
  if (source == nullptr) {
    destination->Length = destination->MaximumLength = 0;
    return;
  }
  size_t bytes = UnitsOf(source) * sizeof(WCHAR);
  if (bytes > kMaxStringBytes - sizeof(WCHAR)) bytes = kMaxStringBytes - sizeof(WCHAR);
  destination->Length = static_cast<USHORT>(bytes);
  destination->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
}

VOID NTAPI RtlInitAnsiString(PANSI_STRING destination, const CHAR* source) {
  destination->Buffer = const_cast<PCHAR>(source);
  if (source == nullptr) {
    destination->Length = destination->MaximumLength = 0;
    return;
  }
  size_t bytes = strlen(source);
  if (bytes > kMaxStringBytes - 1u) bytes = kMaxStringBytes - 1u;
  destination->Length = static_cast<USHORT>(bytes);
  destination->MaximumLength = static_cast<USHORT>(bytes + 1);
}

VOID NTAPI RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source) {
  if (source == nullptr || source->Buffer == nullptr) {
    destination->Length = 0;
    return;
  }
  USHORT bytes =
      source->Length < destination->MaximumLength ? source->Length : destination->MaximumLength;
  bytes &= static_cast<USHORT>(~1u);
  memmove(destination->Buffer, source->Buffer, bytes);
  destination->Length = bytes;
  if (bytes + sizeof(WCHAR) <= destination->MaximumLength) {
    destination->Buffer[bytes / sizeof(WCHAR)] = 0;
  }
}

NTSTATUS NTAPI RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source) {
  if (source == nullptr) return STATUS_SUCCESS;
  return AppendBytes(destination, source, UnitsOf(source) * sizeof(WCHAR));
}

NTSTATUS NTAPI RtlAppendUnicodeStringToString(PUNICODE_STRING destination,
                                              PCUNICODE_STRING source) {
  if (source == nullptr || source->Buffer == nullptr) return STATUS_SUCCESS;
  return AppendBytes(destination, source->Buffer, source->Length & ~1u);
}

WCHAR NTAPI RtlUpcaseUnicodeChar(WCHAR c) {
  if (c >= u'a' && c <= u'z') return static_cast<WCHAR>(c - 0x20);
  if (c < 0x80) return c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<WCHAR>(c - 0x20);  // Latin-1
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {  // Latin Extended-A pairs capital/small
    bool oddIsSmall = !((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E));
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (oddIsSmall ? (c & 1) != 0 : (c & 1) == 0) return static_cast<WCHAR>(c - 1);
    return c;
  }
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<WCHAR>(c - 0x20);  // Greek
  if (c >= 0x430 && c <= 0x44F) return static_cast<WCHAR>(c - 0x20);                // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return static_cast<WCHAR>(c - 0x50);
  return c;
}

LONG NTAPI RtlCompareUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2,
                                   BOOLEAN caseInsensitive) {
  size_t units1 = string1->Length / sizeof(WCHAR);
  size_t units2 = string2->Length / sizeof(WCHAR);
  size_t common = units1 < units2 ? units1 : units2;
  for (size_t i = 0; i < common; ++i) {
    WCHAR c1 = string1->Buffer[i];
    WCHAR c2 = string2->Buffer[i];
    if (caseInsensitive) {
      c1 = RtlUpcaseUnicodeChar(c1);
      c2 = RtlUpcaseUnicodeChar(c2);
    }
    if (c1 != c2) return static_cast<LONG>(c1) - static_cast<LONG>(c2);
  }
  return static_cast<LONG>(units1) - static_cast<LONG>(units2);
}

BOOLEAN NTAPI RtlEqualUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2,
                                    BOOLEAN caseInsensitive) {
  if (string1->Length / sizeof(WCHAR) != string2->Length / sizeof(WCHAR)) return FALSE;
  return RtlCompareUnicodeString(string1, string2, caseInsensitive) == 0 ? TRUE : FALSE;
}

NTSTATUS NTAPI RtlIntegerToUnicodeString(ULONG value, ULONG base, PUNICODE_STRING string) {
  if (base == 0) base = 10;
  if (base != 2 && base != 8 && base != 10 && base != 16) return STATUS_INVALID_PARAMETER;
  WCHAR digits[33];
  size_t count = 0;
  do {
    ULONG digit = value % base;
    digits[count++] = static_cast<WCHAR>(digit < 10 ? u'0' + digit : u'A' + digit - 10);
    value /= base;
  } while (value != 0);
  size_t bytes = count * sizeof(WCHAR);
  if (bytes > string->MaximumLength) return STATUS_BUFFER_OVERFLOW;
  for (size_t i = 0; i < count; ++i) string->Buffer[i] = digits[count - 1 - i];
  string->Length = static_cast<USHORT>(bytes);
  if (bytes + sizeof(WCHAR) <= string->MaximumLength) string->Buffer[count] = 0;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI RtlUnicodeStringToInteger(PCUNICODE_STRING string, ULONG base, PULONG value) {
  if (base != 0 && base != 2 && base != 8 && base != 10 && base != 16) {
    return STATUS_INVALID_PARAMETER;
  }
  const WCHAR* text = string->Buffer;
  size_t units = string->Length / sizeof(WCHAR);
  size_t i = 0;
  while (i < units && (text[i] == u' ' || (text[i] >= 9 && text[i] <= 13))) ++i;
  bool negative = false;
  if (i < units && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  if (base == 0) {
    base = 10;
    if (i + 1 < units && text[i] == u'0') {
      WCHAR prefix = text[i + 1];
      if (prefix == u'x' || prefix == u'X') base = 16;
      if (prefix == u'o' || prefix == u'O') base = 8;
      if (prefix == u'b' || prefix == u'B') base = 2;
      if (base != 10) i += 2;
    }
  }
  ULONG result = 0;
  for (; i < units; ++i) {
    int digit = DigitValue(text[i]);
    if (digit >= static_cast<int>(base)) break;
    result = result * base + static_cast<ULONG>(digit);
  }
  *value = negative ? 0u - result : result;
  return STATUS_SUCCESS;
}

}  // extern "C"
