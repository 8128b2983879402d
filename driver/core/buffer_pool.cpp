#include "core/buffer_pool.h"

#include <cstring>

namespace {

BlockHeader* HeaderAt(UCHAR* arena, ULONG offset) {
  return reinterpret_cast<BlockHeader*>(arena + offset);
}

ULONG OffsetOf(UCHAR* arena, BlockHeader* header) {
  return static_cast<ULONG>(reinterpret_cast<UCHAR*>(header) - arena);
}

void* PayloadOf(BlockHeader* header) { return header + 1; }

// Merges the block at `second` into the free block before it.
void MergeIntoPrevious(UCHAR* arena, BlockHeader* first, BlockHeader* second) {
  first->next = second->next;
  if (second->next != BufferPool::kNoBlock) {
    HeaderAt(arena, second->next)->prev = OffsetOf(arena, first);
  }
  first->size += second->size + sizeof(BlockHeader);
}

}  // namespace

NTSTATUS CreateBufferPool(UnknownBase** result, REFGUID, IUnknown* outer, POOL_TYPE poolType) {
  return CreateTopLevelObject<BufferPool>(result, outer, poolType);
}

BufferPool::BufferPool(IUnknown* outerUnknown)
    : UnknownPart<BufferPool>(outerUnknown),
      persistentArenas(nullptr),
      persistentCount(0),
      scratchArenas(nullptr),
      scratchCount(0) {}

BufferPool::~BufferPool() {
  FreeTable(persistentArenas, persistentCount);
  FreeTable(scratchArenas, scratchCount);
}

void BufferPool::FreeTable(UCHAR** table, ULONG count) {
  if (table == nullptr) return;
  for (ULONG i = 0; i < count; ++i) {
    if (table[i] != nullptr) ExFreePool(table[i]);
  }
  ExFreePool(table);
}

NTSTATUS BufferPool::QueryClassInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_IBufferPool)) return AnswerInterface<IBufferPool>(this, result);
  return UnknownBase::QueryInterface(iid, result);
}

void* BufferPool::Allocate(POOL_TYPE poolType, ULONG size, ULONG kind) {
  // A request that cannot be rounded up to whole 16-byte units with its header is never served by
  // an arena (it would wrap the 32-bit arithmetic); it goes to the pool directly.
  constexpr ULONG kLargestArenaRequest = 0xFFFFFFFF - 2 * sizeof(BlockHeader);
  if ((kind == kBufferScratch || kind == kBufferPersistent) && size <= kLargestArenaRequest) {
    if (kind == kBufferScratch) return AllocateFromArenas(&scratchArenas, &scratchCount, poolType, size);
    return AllocateFromArenas(&persistentArenas, &persistentCount, poolType, size);
  }
  return AllocateUnderRetryRule(size, poolType, kPoolTagDriver);
}

void* BufferPool::AllocateFromArenas(UCHAR*** table, ULONG* count, POOL_TYPE poolType, ULONG size) {
  if (*table == nullptr) {
    auto* fresh = static_cast<UCHAR**>(
        AllocateUnderRetryRule(kTableGrowth * sizeof(UCHAR*), NonPagedPool, kPoolTagDriver));
    if (fresh == nullptr) return AllocateUnderRetryRule(size, poolType, kPoolTagDriver);
    memset(fresh, 0, kTableGrowth * sizeof(UCHAR*));
    *table = fresh;
    *count = kTableGrowth;
  }
  for (ULONG i = 0; i < *count; ++i) {
    UCHAR*& arena = (*table)[i];
    if (arena == nullptr) {
      ULONG arenaSize = size <= kArenaPayload ? kArenaPayload + sizeof(BlockHeader)
                                              : size + static_cast<ULONG>(sizeof(BlockHeader));
      arena = static_cast<UCHAR*>(AllocateUnderRetryRule(arenaSize, NonPagedPool, kPoolTagDriver));
      if (arena == nullptr) return nullptr;
      BlockHeader* first = HeaderAt(arena, 0);
      first->next = kNoBlock;
      first->prev = kNoBlock;
      first->size = arenaSize - sizeof(BlockHeader);
      first->free = 1;
    }
    if (void* payload = AllocateInArena(arena, size)) return payload;
    if (i + 1 == *count) {
      ULONG grown = *count + kTableGrowth;
      auto* larger = static_cast<UCHAR**>(
          AllocateUnderRetryRule(grown * sizeof(UCHAR*), NonPagedPool, kPoolTagDriver));
      if (larger == nullptr) return nullptr;
      memset(larger, 0, grown * sizeof(UCHAR*));
      memcpy(larger, *table, *count * sizeof(UCHAR*));
      ExFreePool(*table);
      *table = larger;
      *count = grown;
    }
  }
  return nullptr;
}

void* BufferPool::AllocateInArena(UCHAR* arena, ULONG size) {
  for (ULONG offset = 0; offset != kNoBlock;) {
    BlockHeader* block = HeaderAt(arena, offset);
    if (block->free == 1 && block->size >= size) {
      ULONG rounded = (size + 15) & ~15u;
      block->free = 0;
      if (block->size > rounded + sizeof(BlockHeader)) {
        ULONG splitOffset = offset + sizeof(BlockHeader) + rounded;
        BlockHeader* rest = HeaderAt(arena, splitOffset);
        rest->size = block->size - rounded - sizeof(BlockHeader);
        rest->prev = offset;
        rest->next = block->next;
        rest->free = 1;
        if (block->next != kNoBlock) HeaderAt(arena, block->next)->prev = splitOffset;
        block->next = splitOffset;
        block->size = rounded;
      }
      return PayloadOf(block);
    }
    offset = block->next;
  }
  return nullptr;
}

bool BufferPool::FreeInTable(UCHAR** table, ULONG count, void* pointer) {
  if (table == nullptr) return false;
  for (ULONG i = 0; i < count; ++i) {
    UCHAR* arena = table[i];
    if (arena == nullptr) continue;
    for (ULONG offset = 0; offset != kNoBlock;) {
      BlockHeader* block = HeaderAt(arena, offset);
      if (PayloadOf(block) == pointer) {
        // A block that is already free is left as it is: merging it again would corrupt the arena.
        if (block->free == 1) return true;
        block->free = 1;
        if (block->next != kNoBlock && HeaderAt(arena, block->next)->free == 1) {
          MergeIntoPrevious(arena, block, HeaderAt(arena, block->next));
        }
        if (block->prev != kNoBlock && HeaderAt(arena, block->prev)->free == 1) {
          MergeIntoPrevious(arena, HeaderAt(arena, block->prev), block);
        }
        return true;
      }
      offset = block->next;
    }
  }
  return false;
}

void BufferPool::Free(void* block) {
  if (block == nullptr) return;
  if (FreeInTable(scratchArenas, scratchCount, block)) return;
  if (FreeInTable(persistentArenas, persistentCount, block)) return;
  ExFreePool(block);
}
