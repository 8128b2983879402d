// Command blocks: scripts of mixed bridge and sensor operations, stored as the script bytes of a
// format mode's "UsbCBR" value and held in memory behind their total length. The script is a
// sequence of groups, a mode byte and one entry, except that a mode byte with kModeHoldsToEnd
// applies to every entry after it up to the end of the block.
//
// Entries by mode bits (multi-byte, masked):
//   plain single   register, value                       write (sensor with kModeSensor)
//   masked single  register, value, mask                 read, merge, write; no write after a
//                                                        failed read
//   plain multi    register, n, n bytes                  block write at the bridge index
//   masked multi   register, n, n pairs (value, mask)    8-byte read, merge, block write; n <= 8
// Multi-byte entries always address the bridge.
#pragma once

#include "kernel_types.h"

class IRegisterAccess;

struct CommandBlock {
  ULONG totalLength;  // of the whole block, these four bytes included; the script follows
};

namespace registers {

inline constexpr UCHAR kModeMultiByte = 0x80;
inline constexpr UCHAR kModeMasked = 0x40;
inline constexpr UCHAR kModeSensor = 0x20;
inline constexpr UCHAR kModeHoldsToEnd = 0x10;

// Runs the block's entries in order; a failed operation does not stop the block, an entry that
// would run past the block's end ends it unprocessed. A masked multi-byte entry whose read fails,
// or that asks for more bytes than one read returns, is skipped whole. Returns the status of the
// last register operation (STATUS_SUCCESS when there was none).
NTSTATUS RunCommandBlock(IRegisterAccess* access, const CommandBlock* block);

}  // namespace registers
