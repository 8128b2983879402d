// The arena allocator behind IBufferPool and the newest-first pointer list.
#include <gtest/gtest.h>

#include <vector>

#include "core/camera_device.h"
#include "core/pointer_list.h"
#include "host_control.h"

namespace {

class BufferPoolTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CreateBufferPool(&unknown_, CLSID_BufferPool, nullptr, NonPagedPool), STATUS_SUCCESS);
    pool_ = static_cast<BufferPool*>(unknown_);
  }
  void TearDown() override { EXPECT_EQ(unknown_->Release(), 0); }

  // The blocks of one arena, as (size, free) pairs.
  static std::vector<std::pair<ULONG, int>> Blocks(UCHAR* arena) {
    std::vector<std::pair<ULONG, int>> blocks;
    for (ULONG offset = 0; offset != BufferPool::kNoBlock;) {
      auto* header = reinterpret_cast<BlockHeader*>(arena + offset);
      blocks.emplace_back(header->size, header->free);
      offset = header->next;
    }
    return blocks;
  }

  static size_t CountPoolBlocks(ULONG tag, size_t size) {
    for (const host::PoolUsage& usage : host::PoolReport()) {
      if (usage.tag == tag && usage.size == size) return usage.count;
    }
    return 0;
  }

  UnknownBase* unknown_ = nullptr;
  BufferPool* pool_ = nullptr;
};

TEST_F(BufferPoolTest, ThreeAdjacentBlocksFreedFirstThirdSecondMergeIntoOne) {
  void* guardBefore = pool_->Allocate(NonPagedPool, 40, kBufferScratch);
  void* first = pool_->Allocate(NonPagedPool, 100, kBufferScratch);   // 112
  void* second = pool_->Allocate(NonPagedPool, 33, kBufferScratch);   // 48
  void* third = pool_->Allocate(NonPagedPool, 16, kBufferScratch);    // 16
  void* guardAfter = pool_->Allocate(NonPagedPool, 8, kBufferScratch);
  pool_->Free(first);
  pool_->Free(third);
  pool_->Free(second);
  auto blocks = Blocks(pool_->scratchArenas[0]);
  ASSERT_GE(blocks.size(), 4u);
  EXPECT_EQ(blocks[0], std::make_pair(48u, 0));
  EXPECT_EQ(blocks[1], std::make_pair(112u + 48u + 16u + 32u, 1));
  EXPECT_EQ(blocks[2], std::make_pair(16u, 0));
  pool_->Free(guardBefore);
  pool_->Free(guardAfter);
  // Everything freed: the arena is one free block again.
  EXPECT_EQ(Blocks(pool_->scratchArenas[0]), (std::vector<std::pair<ULONG, int>>{{65536u, 1}}));
}

TEST_F(BufferPoolTest, SplitOnlyWhenMoreThanAHeaderIsLeft) {
  void* first = pool_->Allocate(NonPagedPool, 65536 - 48 - 16, kBufferPersistent);
  ASSERT_NE(first, nullptr);
  // The remainder is one free block of 48 bytes; a 40-byte request (rounded 48) takes it whole.
  void* second = pool_->Allocate(NonPagedPool, 40, kBufferPersistent);
  auto blocks = Blocks(pool_->persistentArenas[0]);
  EXPECT_EQ(blocks, (std::vector<std::pair<ULONG, int>>{{65536 - 64, 0}, {48, 0}}));
  pool_->Free(second);
  // A 16-byte request from the 48-byte block leaves 32 > 16: split into 16 + header + 16.
  second = pool_->Allocate(NonPagedPool, 16, kBufferPersistent);
  blocks = Blocks(pool_->persistentArenas[0]);
  EXPECT_EQ(blocks, (std::vector<std::pair<ULONG, int>>{{65536 - 64, 0}, {16, 0}, {16, 1}}));
  // A 32-byte request from a 48-byte block leaves exactly 16: taken whole.
  pool_->Free(second);
  second = pool_->Allocate(NonPagedPool, 32, kBufferPersistent);
  blocks = Blocks(pool_->persistentArenas[0]);
  EXPECT_EQ(blocks, (std::vector<std::pair<ULONG, int>>{{65536 - 64, 0}, {48, 0}}));
  pool_->Free(first);
  pool_->Free(second);
}

TEST_F(BufferPoolTest, ArenaSizesFollowTheRequest) {
  size_t standardBefore = CountPoolBlocks(kPoolTagDriver, 65552);
  void* exact = pool_->Allocate(NonPagedPool, 65536, kBufferScratch);
  ASSERT_NE(exact, nullptr);
  EXPECT_EQ(CountPoolBlocks(kPoolTagDriver, 65552), standardBefore + 1);
  EXPECT_EQ(Blocks(pool_->scratchArenas[0]), (std::vector<std::pair<ULONG, int>>{{65536u, 0}}));

  void* large = pool_->Allocate(NonPagedPool, 65537, kBufferScratch);
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(CountPoolBlocks(kPoolTagDriver, 65553), 1u);
  pool_->Free(exact);
  pool_->Free(large);
}

TEST_F(BufferPoolTest, TableGrowsTo40EntriesWhenItsTwentyArenasAreFull) {
  std::vector<void*> blocks;
  for (int i = 0; i < 20; ++i) blocks.push_back(pool_->Allocate(NonPagedPool, 65536, kBufferPersistent));
  EXPECT_EQ(pool_->persistentCount, 20u);
  blocks.push_back(pool_->Allocate(NonPagedPool, 100, kBufferPersistent));
  EXPECT_EQ(pool_->persistentCount, 40u);
  EXPECT_NE(pool_->persistentArenas[20], nullptr);
  EXPECT_EQ(pool_->persistentArenas[21], nullptr);
  for (void* block : blocks) {
    EXPECT_NE(block, nullptr);
    pool_->Free(block);
  }
}

TEST_F(BufferPoolTest, DirectKindAndForeignPointersGoToTheSystemPool) {
  void* direct = pool_->Allocate(NonPagedPool, 200, kBufferDirect);
  EXPECT_EQ(CountPoolBlocks(kPoolTagDriver, 200), 1u);
  EXPECT_EQ(pool_->scratchArenas, nullptr);
  pool_->Free(direct);
  EXPECT_EQ(CountPoolBlocks(kPoolTagDriver, 200), 0u);

  constexpr ULONG foreignTag = host::TagFromMemoryOrder("Frgn");
  void* foreign = ExAllocatePoolWithTag(NonPagedPool, 24, foreignTag);
  pool_->Allocate(NonPagedPool, 8, kBufferScratch);  // arenas exist and are searched first
  pool_->Free(foreign);
  EXPECT_EQ(CountPoolBlocks(foreignTag, 24), 0u);
}

TEST_F(BufferPoolTest, FailedArenaAllocationReturnsNullAndCallersReportInsufficientResources) {
  host::FailAllocationsWithTag(kPoolTagDriver);
  EXPECT_EQ(pool_->Allocate(NonPagedPool, 10, kBufferPersistent), nullptr);
  host::ClearAllocationFaults();
  PointerList* list = PointerList::Create(pool_);
  ASSERT_NE(list, nullptr);
  host::FailAllocationsWithTag(kPoolTagDriver);
  // Fill the first arena so that the node needs a new one, which cannot be had.
  host::ClearAllocationFaults();
  void* filler = pool_->Allocate(NonPagedPool, 65536 - 64, kBufferPersistent);
  ASSERT_NE(filler, nullptr);
  host::FailAllocationsWithTag(kPoolTagDriver);
  EXPECT_EQ(list->Prepend(this), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(list->count, 0u);
  EXPECT_EQ(list->head, nullptr);
  host::ClearAllocationFaults();
  pool_->Free(filler);
  list->Delete();
}

TEST_F(BufferPoolTest, ALeakedBlockShowsInThePoolReport) {
  void* leaked = pool_->Allocate(NonPagedPool, 4096, kBufferDirect);
  EXPECT_EQ(CountPoolBlocks(kPoolTagDriver, 4096), 1u);
  std::string report = host::FormatPoolReport(host::PoolReport());
  EXPECT_NE(report.find("tag IRMV: 1 block(s) of 4096 bytes"), std::string::npos) << report;
  pool_->Free(leaked);
}

TEST_F(BufferPoolTest, PointerListIsNewestFirstAndEndsWithNull) {
  PointerList* list = PointerList::Create(pool_);
  ASSERT_NE(list, nullptr);
  int a = 0, b = 0, c = 0;
  ASSERT_EQ(list->Prepend(&a), STATUS_SUCCESS);
  ASSERT_EQ(list->Prepend(&b), STATUS_SUCCESS);
  ASSERT_EQ(list->Prepend(&c), STATUS_SUCCESS);
  EXPECT_EQ(list->count, 3u);
  list->Rewind();
  EXPECT_EQ(list->Next(), &c);
  EXPECT_EQ(list->Next(), &b);
  EXPECT_EQ(list->Next(), &a);
  EXPECT_EQ(list->Next(), nullptr);
  EXPECT_EQ(list->Next(), nullptr);
  list->Rewind();
  EXPECT_EQ(list->Next(), &c);
  EXPECT_EQ(list->PopFront(), &c);
  EXPECT_EQ(list->count, 2u);
  EXPECT_EQ(list->Next(), &b);
  list->Delete();  // frees the two remaining nodes, not the items
}

}  // namespace
