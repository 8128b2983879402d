// How the stream objects reach the camera. Every one of them keeps the camera's ICaptureControl as
// an uncounted owner and, for each use, queries the interface it needs, uses it and releases it.
// The registry, register and notification calls of the pins, formats and modes all pass through
// here, so that each of them is written once.
#pragma once

#include "config/register_lists.h"
#include "core/buffer_pool.h"
#include "stream/stream_interfaces.h"

class ICaptureControl;

// Paths and names of the stream objects: 260 UTF-16 units with the terminator.
inline constexpr ULONG kStreamPathChars = 260;

// A register list copied into the persistent pool.
struct StreamRegisterList {
  RegisterListEntry* entries;
  ULONG count;
};
// The largest register list or command block value that is read: 256 entries.
inline constexpr ULONG kMaxListBytes = registers::kMaxRegisterListBytes;

// Writes prefix + "\" + name into destination (kStreamPathChars units); FALSE (destination an
// empty string) when the result would not fit.
BOOLEAN ComposeStreamPath(PWSTR destination, PCWSTR prefix, PCWSTR name);
// Copies a zero-terminated path; FALSE (destination empty) when it does not fit.
BOOLEAN CopyStreamPath(PWSTR destination, PCWSTR source);

// One key below the camera's device key, open for the life of the object; both handles are
// closed, innermost first, when it goes.
class CameraKey {
 public:
  // path: relative to the device key; null (a path that could not be had) opens nothing.
  CameraKey(ICaptureControl* owner, PCWSTR path);
  ~CameraKey();
  CameraKey(const CameraKey&) = delete;
  CameraKey& operator=(const CameraKey&) = delete;

  // The status of opening the key.
  NTSTATUS status() const { return status_; }
  bool IsOpen() const { return NT_SUCCESS(status_); }

  // Reads a DWORD; only a successful read of at most 4 bytes changes *value (which holds the
  // default). Returns whether it was read.
  bool ReadNumber(PCWSTR name, ULONG* value);
  // Reads a value of at most capacity bytes into data; the length read in *length.
  NTSTATUS ReadBytes(PCWSTR name, void* data, ULONG capacity, ULONG* length);
  // Reads a register list (at most kMaxListBytes) into a persistent copy; an absent value leaves
  // the list empty. A copy that cannot be had is STATUS_INSUFFICIENT_RESOURCES, list empty.
  NTSTATUS ReadList(IBufferPool* pool, PCWSTR name, StreamRegisterList* list);
  NTSTATUS WriteNumber(PCWSTR name, ULONG value);
  // The name of the subkey at index (STATUS_NO_MORE_ENTRIES past the last).
  NTSTATUS EnumerateSubkey(ULONG index, PWSTR name, ULONG nameBytes);

 private:
  ICaptureControl* owner_;
  HANDLE deviceKey_;
  HANDLE key_;
  NTSTATUS status_;
};

// Frees a list's entries through the pool and empties it.
void FreeStreamList(IBufferPool* pool, StreamRegisterList* list);
// Writes the entries with the masked rule (bits outside the mask keep the register's current value,
// read first unless the mask is 0xFF) to bridge registers, or to sensor registers when toBridge is
// FALSE. Every entry is written; the result is the status of the last write.
NTSTATUS RunStreamList(ICaptureControl* owner, const StreamRegisterList& list, BOOLEAN toBridge);
// Runs a mode's command block ("UsbCBR": its 32-bit total length, then the script).
NTSTATUS RunStreamCommandBlock(ICaptureControl* owner, const void* block);

// The camera's model key path, or null.
PCWSTR CameraKeyPathOf(ICaptureControl* owner);
// Tells the property sets that the format changed, with the format's data range.
NTSTATUS NotifyFormatChange(ICaptureControl* owner, PKS_DATARANGE_VIDEO range);
// Tells the low-light control the frame rate of the mode now in force.
NTSTATUS TellLowLightFrameRate(ICaptureControl* owner, ULONG frameRate);
// Tells the image processor which format a stream opened or closed with.
NTSTATUS TellImageProcessorOpen(ICaptureControl* owner, IVideoFormat* format, ULONG streamNumber);
NTSTATUS TellImageProcessorClose(ICaptureControl* owner, IVideoFormat* format, ULONG streamNumber);
// The pool of the owner's device, uncounted (null without one).
IBufferPool* BufferPoolOf(ICaptureControl* owner);
