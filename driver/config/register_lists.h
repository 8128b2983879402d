// Register lists: the register writes that power, reset, start and stop the camera, kept in the
// registry as binary values of 3-byte entries back to back (no header, no terminator). Whether a
// list goes to bridge or sensor registers is fixed by its name, not by its entries.
#pragma once

#include "core/buffer_pool.h"
#include "kernel_registry.h"

class IRegisterAccess;

struct RegisterListEntry {
  UCHAR registerIndex;  // bridge register, or sensor register in a sensor list
  UCHAR value;
  UCHAR mask;  // the bits the entry sets; kWholeRegister writes the value without a read
};
static_assert(sizeof(RegisterListEntry) == 3);

namespace registers {

inline constexpr UCHAR kWholeRegister = 0xFF;
// The longest list value that can be read (256 entries); a longer value counts as absent.
inline constexpr ULONG kMaxRegisterListBytes = 768;

// Runs every entry in order through the locked operations, whatever the status of the earlier
// ones: a masked entry reads the register and keeps its other bits (a failed read keeps none).
// Returns the status of the last write; STATUS_SUCCESS for an empty list.
NTSTATUS RunBridgeList(IRegisterAccess* access, const RegisterListEntry* list, ULONG count);
NTSTATUS RunRegisterList(IRegisterAccess* access, const RegisterListEntry* list, ULONG count,
                         BOOLEAN toBridge);

// Reads the list value `name` of the key into a persistent pool block: count = length / 3, one or
// two trailing bytes ignored. A missing, unreadable or over-long value gives a null list and count
// 0 with the query's status; an empty value a null list and success. A list that *list still holds
// from an earlier read goes back to the pool first.
NTSTATUS ReadRegisterList(IBufferPool* pool, HANDLE key, PCWSTR name, ULONG nameLength,
                          RegisterListEntry** list, ULONG* count);
// Returns a list to the pool and clears it.
void FreeRegisterList(IBufferPool* pool, RegisterListEntry** list, ULONG* count);

}  // namespace registers
