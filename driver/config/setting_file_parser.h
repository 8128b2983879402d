// The setting-file parser: sectioned 8-bit text whose AddReg lines become registry values. The
// text is parsed in place; every routine is bounded by the end of the text it was given, and every
// copy by the field it lands in.
//
// Syntax: lines end at LF (CR LF as installers write them); ";" starts a comment; a "\" that ends a
// line's content joins the next line; logical lines are at most kMaxLineChars long. "[Strings]"
// defines name = 'text' pairs for %name% references; the line after "[Sections]" is
// "AddReg = name, name, ..." naming the sections whose lines are applied:
//   root, subkey, value name, flags, data...
// root "HKR" (the device key) or "HKLM"; flags 0x00000001 binary (one hex byte per data field),
// 0x00010001 a 32-bit number, anything else a string.
#pragma once

#include "core/buffer_pool.h"

class ICamera;

// The [Strings] pairs of the file being parsed: packed records of a 32-bit length and that many
// bytes (zero-terminated), name then text, in a pool block of `bytes` bytes.
struct StringTable {
  UCHAR* pairs;
  ULONG count;
  ULONG bytes;
};

namespace settings {

inline constexpr ULONG kFieldBytes = 4096;
inline constexpr ULONG kMaxLineChars = kFieldBytes - 1;

// The one-line readers. Sizes are in/out: the buffer's size in, the characters + 1 out.
const char* SkipBlanks(const char* position, const char* end);
const char* SkipToLineEnd(const char* position, const char* end);
// Reads the next logical line (leading blank and comment lines skipped), without its comment
// and trailing white space; returns the start of the line after it.
const char* ReadLine(const char* position, const char* end, char* line, ULONG* size);
// Reads one field up to the delimiter (consumed) or the end; a field longer than the buffer is
// cut and the rest of it skipped.
const char* ReadToken(const char* position, const char* end, char* field, ULONG* size,
                      char delimiter);
// Reads the text as a number: base 0 is 16 after "0x" or "0X", else 10. Digits count from the
// right, "a" to "f" in either case as 10 to 15; the sum wraps at 2^32.
void ParseNumber(const char* text, ULONG base, ULONG* value);

// The [Strings] table of a text, and its release.
NTSTATUS LoadStrings(IBufferPool* pool, StringTable* table, const char* position, const char* end);
void FreeStrings(IBufferPool* pool, StringTable* table);
// The names on the AddReg line of [Sections], packed like the string table (name records only)
// into a pool block; returns their number (0 and a null block when there are none).
ULONG ReadSectionList(IBufferPool* pool, const char* position, const char* end, UCHAR** list,
                      ULONG* listBytes);
// Replaces %name% references from the table and converts the field to UTF-16 in place (the
// field is kFieldBytes long); *length becomes the UTF-16 byte length with the terminator.
NTSTATUS ExpandToUnicode(IBufferPool* pool, const StringTable* table, char* field, ULONG* length);

// One AddReg line, written through the camera's registry operations.
NTSTATUS ApplyAddRegLine(ICamera* camera, IBufferPool* pool, const StringTable* table,
                         const char* line, ULONG length);
// The whole file: strings, sections, and the lines of the listed sections in file order.
NTSTATUS ParseSettingFile(ICamera* camera, IBufferPool* pool, StringTable* table, const char* text,
                          ULONG length);

}  // namespace settings
