// Counted-string routines of the kernel runtime library: UNICODE_STRING and ANSI_STRING set-up,
// copy, append, compare, number conversion, and conversion between UTF-16 and the ANSI code page
// (Windows-1252). Lengths are in bytes throughout, as in the structures themselves.
#pragma once

#include "kernel_types.h"

extern "C" {
// Points the string at a zero-terminated source (null gives an empty string with no buffer);
// MaximumLength counts the terminator.
VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source);
VOID NTAPI RtlInitAnsiString(PANSI_STRING destination, const CHAR* source);

// Copies as much of source as fits; adds a terminator when there is room for one.
VOID NTAPI RtlCopyUnicodeString(PUNICODE_STRING destination, PCUNICODE_STRING source);
// STATUS_BUFFER_TOO_SMALL (destination unchanged) when the result does not fit; adds a terminator
// when there is room for one.
NTSTATUS NTAPI RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source);
NTSTATUS NTAPI RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source);

// Negative, zero or positive as string1 sorts before, equal to or after string2.
LONG NTAPI RtlCompareUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2,
                                   BOOLEAN caseInsensitive);
BOOLEAN NTAPI RtlEqualUnicodeString(PCUNICODE_STRING string1, PCUNICODE_STRING string2,
                                    BOOLEAN caseInsensitive);
WCHAR NTAPI RtlUpcaseUnicodeChar(WCHAR character);

// Base 0 means 10; 2, 8, 10 and 16 are accepted. STATUS_BUFFER_OVERFLOW when the digits do not
// fit (a terminator is added when there is room).
NTSTATUS NTAPI RtlIntegerToUnicodeString(ULONG value, ULONG base, PUNICODE_STRING string);
// Leading blanks and a sign are skipped; base 0 reads a "0x", "0o" or "0b" prefix, otherwise 10.
// Reading stops at the first character that is not a digit of the base.
NTSTATUS NTAPI RtlUnicodeStringToInteger(PCUNICODE_STRING string, ULONG base, PULONG value);

// ANSI code page <-> UTF-16. Each ANSI byte is one UTF-16 unit; a UTF-16 unit that the code page
// cannot show becomes '?'. The N forms convert at most what fits and report the bytes written.
NTSTATUS NTAPI RtlMultiByteToUnicodeN(PWCHAR unicodeString, ULONG maxBytesInUnicodeString,
                                      PULONG bytesInUnicodeString, const CHAR* multiByteString,
                                      ULONG bytesInMultiByteString);
NTSTATUS NTAPI RtlUnicodeToMultiByteN(PCHAR multiByteString, ULONG maxBytesInMultiByteString,
                                      PULONG bytesInMultiByteString, PCWSTR unicodeString,
                                      ULONG bytesInUnicodeString);
// With allocate set, the destination's buffer comes from the pool and must be given back with the
// matching Rtl...Free...; otherwise the destination's own buffer is used, and a result that does
// not fit is STATUS_BUFFER_OVERFLOW.
NTSTATUS NTAPI RtlAnsiStringToUnicodeString(PUNICODE_STRING destination, const ANSI_STRING* source,
                                            BOOLEAN allocateDestination);
NTSTATUS NTAPI RtlUnicodeStringToAnsiString(PANSI_STRING destination, PCUNICODE_STRING source,
                                            BOOLEAN allocateDestination);
VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING string);
VOID NTAPI RtlFreeAnsiString(PANSI_STRING string);
}
