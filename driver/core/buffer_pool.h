// IBufferPool and its arena allocator. Kinds 1 (scratch) and 2 (persistent) are served first fit
// from 64 KB non-paged arenas; every other kind is a direct pool allocation.
#pragma once

#include "core/component.h"

enum BufferKind : ULONG {
  kBufferDirect = 0,
  kBufferScratch = 1,
  kBufferPersistent = 2,
};

class IBufferPool : public IUnknown {
 public:
  virtual void* Allocate(POOL_TYPE poolType, ULONG size, ULONG kind) = 0;
  virtual void Free(void* block) = 0;

 protected:
  ~IBufferPool() = default;
};

// An arena starts with a block header; blocks follow one another, each header right before its
// payload. The header is 16 bytes on both targets: the neighbours are kept as 32-bit offsets from
// the arena's start rather than pointers, so that the sizes the arena arithmetic is built on (an
// arena of 64 KB payload plus one header, a split costing 16 bytes) hold on a 64-bit host too.
struct BlockHeader {
  ULONG next;   // offset of the next header in the arena, or kNoBlock
  ULONG size;   // payload bytes after this header
  ULONG prev;   // offset of the previous header, or kNoBlock
  UCHAR free;   // 1 free, 0 handed out
  UCHAR reserved[3];
};
static_assert(sizeof(BlockHeader) == 16);

class BufferPool final : public Delegating<IBufferPool, BufferPool>, public UnknownPart<BufferPool> {
 public:
  static constexpr ULONG kNoBlock = 0xFFFFFFFF;
  static constexpr ULONG kArenaPayload = 65536;
  static constexpr ULONG kTableGrowth = 20;

  explicit BufferPool(IUnknown* outerUnknown);
  ~BufferPool();

  NTSTATUS QueryClassInterface(REFGUID iid, void** result);

  void* Allocate(POOL_TYPE poolType, ULONG size, ULONG kind) override;
  void Free(void* block) override;

  // Fields, in order.
  UCHAR** persistentArenas;
  ULONG persistentCount;
  UCHAR** scratchArenas;
  ULONG scratchCount;

 private:
  void* AllocateFromArenas(UCHAR*** table, ULONG* count, POOL_TYPE poolType, ULONG size);
  static void* AllocateInArena(UCHAR* arena, ULONG size);
  static bool FreeInTable(UCHAR** table, ULONG count, void* block);
  static void FreeTable(UCHAR** table, ULONG count);
};

NTSTATUS CreateBufferPool(UnknownBase** result, REFGUID clsid, IUnknown* outer, POOL_TYPE poolType);
