// Reading camera settings from the registry with a default: the caller sets the default, and only
// a successful read replaces it. Names are UTF-16 literals; their byte size (with the terminator)
// sizes the registry routine's scratch block.
#pragma once

#include <cstring>

#include "config/registry_access.h"
#include "kernel.h"

namespace camera_values {

template <ULONG N>
constexpr ULONG NameBytes(const WCHAR (&)[N]) {
  return N * sizeof(WCHAR);
}

// A number of up to 4 bytes; bytes the value does not store read as zero.
template <ULONG N>
bool ReadNumber(IBufferPool* pool, HANDLE key, const WCHAR (&name)[N], ULONG* value) {
  ULONG data = 0;
  ULONG length = sizeof data;
  if (!NT_SUCCESS(registry::QueryValue(pool, key, name, NameBytes(name), &data, &length))) {
    return false;
  }
  *value = data;
  return true;
}

// A flag or byte setting: the low byte of a value of up to 4 bytes.
template <ULONG N>
bool ReadFlag(IBufferPool* pool, HANDLE key, const WCHAR (&name)[N], UCHAR* value) {
  ULONG data = 0;
  if (!ReadNumber(pool, key, name, &data)) return false;
  *value = static_cast<UCHAR>(data & 0xFF);
  return true;
}

// A fixed group of bytes (a check or a table). A shorter value fills its own bytes and leaves the
// rest of the buffer as it was; a longer one counts as absent.
template <ULONG N>
bool ReadBytes(IBufferPool* pool, HANDLE key, const WCHAR (&name)[N], UCHAR* buffer, ULONG size) {
  ULONG length = size;
  return NT_SUCCESS(registry::QueryValue(pool, key, name, NameBytes(name), buffer, &length));
}

// A string into a buffer of kRegistryPathChars units, always zero-terminated; the text is kept
// only when the read succeeds.
template <ULONG N>
bool ReadString(IBufferPool* pool, HANDLE key, const WCHAR (&name)[N], WCHAR* text) {
  WCHAR read[kRegistryPathChars + 1] = {};
  ULONG length = kRegistryPathBytes;
  if (!NT_SUCCESS(registry::QueryValue(pool, key, name, NameBytes(name), read, &length))) {
    return false;
  }
  read[kRegistryPathChars - 1] = 0;
  memcpy(text, read, kRegistryPathBytes);
  return true;
}

// Units of a zero-terminated UTF-16 text, without the terminator.
inline ULONG TextLength(PCWSTR text) {
  ULONG length = 0;
  while (text[length] != 0) ++length;
  return length;
}

// Appends "\" and the part to a path buffer of kRegistryPathChars units; false when it does not
// fit (the path is left as it was).
inline bool AppendPath(PWSTR path, PCWSTR part) {
  ULONG used = TextLength(path);
  ULONG added = TextLength(part);
  if (used + 1 + added + 1 > kRegistryPathChars) return false;
  path[used] = u'\\';
  memcpy(path + used + 1, part, (added + 1) * sizeof(WCHAR));
  return true;
}

// A relative wait at PASSIVE_LEVEL, in milliseconds.
inline void Wait(LONG milliseconds) {
  LARGE_INTEGER interval;
  interval.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000;
  KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

}  // namespace camera_values
