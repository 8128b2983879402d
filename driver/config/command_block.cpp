// The command-block interpreter. Every read of the script is bounded by the block's total length.
#include "config/command_block.h"

#include "camera/camera.h"
#include "config/register_access.h"

namespace registers {
namespace {

// The bytes an entry takes after its mode byte; 0 when its count byte lies past the end.
ULONG EntryLength(UCHAR mode, const UCHAR* script, ULONG position, ULONG end) {
  if ((mode & kModeMultiByte) == 0) return (mode & kModeMasked) != 0 ? 3 : 2;
  if (position + 1 >= end) return 0;
  ULONG n = script[position + 1];
  return 2 + ((mode & kModeMasked) != 0 ? 2 * n : n);
}

NTSTATUS RunSingle(IRegisterAccess* access, UCHAR mode, const UCHAR* entry) {
  const bool sensor = (mode & kModeSensor) != 0;
  UCHAR value = entry[1];
  if ((mode & kModeMasked) != 0) {
    UCHAR mask = entry[2];
    UCHAR old = 0;
    NTSTATUS status =
        sensor ? access->ReadSensor(entry[0], &old) : access->ReadBridge(entry[0], &old, nullptr);
    if (!NT_SUCCESS(status)) return status;
    value = (value & mask) | (old & static_cast<UCHAR>(~mask));
  }
  return sensor ? access->WriteSensor(entry[0], value) : access->WriteBridge(entry[0], value);
}

NTSTATUS RunMultiByte(IRegisterAccess* access, UCHAR mode, const UCHAR* entry) {
  UCHAR registerIndex = entry[0];
  ULONG count = entry[1];
  const UCHAR* data = entry + 2;
  if ((mode & kModeMasked) == 0) {
    return access->WriteBridgeBlock(registerIndex, const_cast<PUCHAR>(data), &count);
  }
  if (count > kMultiByteReadLength) return STATUS_INVALID_PARAMETER;
  UCHAR bytes[kMultiByteReadLength] = {};
  NTSTATUS status = access->ReadBridge(registerIndex, bytes, &count);
  if (!NT_SUCCESS(status)) return status;
  for (ULONG index = 0; index < count; ++index) {
    UCHAR value = data[2 * index];
    UCHAR mask = data[2 * index + 1];
    bytes[index] = (value & mask) | (bytes[index] & static_cast<UCHAR>(~mask));
  }
  return access->WriteBridgeBlock(registerIndex, bytes, &count);
}

}  // namespace

NTSTATUS RunCommandBlock(IRegisterAccess* access, const CommandBlock* block) {
  if (block == nullptr) return STATUS_INVALID_PARAMETER;
  const auto* bytes = reinterpret_cast<const UCHAR*>(block);
  const ULONG end = block->totalLength;
  NTSTATUS status = STATUS_SUCCESS;
  ULONG position = sizeof(CommandBlock);
  if (position >= end) return status;
  UCHAR mode = bytes[position++];
  while (position < end) {
    ULONG length = EntryLength(mode, bytes, position, end);
    if (length == 0 || length > end - position) break;
    const UCHAR* entry = bytes + position;
    status = (mode & kModeMultiByte) != 0 ? RunMultiByte(access, mode, entry)
                                          : RunSingle(access, mode, entry);
    position += length;
    if ((mode & kModeHoldsToEnd) != 0) continue;
    if (position < end) mode = bytes[position];
    ++position;
  }
  return status;
}

}  // namespace registers
