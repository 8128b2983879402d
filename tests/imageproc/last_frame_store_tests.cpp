// The last still's reader/changer coordination: a change never overlaps a read, under threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "core/buffer_pool.h"
#include "image/frame_last_still.h"

namespace {

class LastFrameStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    UnknownBase* unknown = nullptr;
    ASSERT_EQ(CreateBufferPool(&unknown, CLSID_BufferPool, nullptr, NonPagedPool), STATUS_SUCCESS);
    unknown_ = unknown;
    pool_ = static_cast<BufferPool*>(unknown);
  }
  void TearDown() override {
    FreeLastFrame(&store_, pool_);
    unknown_->Release();
  }

  UnknownBase* unknown_ = nullptr;
  IBufferPool* pool_ = nullptr;
  LastFrameStore store_ = {};
};

TEST_F(LastFrameStoreTest, ReaderAndChangerExcludeEachOther) {
  {
    LastFrameReadClaim reader(&store_);
    EXPECT_TRUE(reader.granted());
    EXPECT_FALSE(TryBeginLastFrameChange(&store_));
  }
  ASSERT_TRUE(TryBeginLastFrameChange(&store_));
  {
    LastFrameReadClaim reader(&store_);
    EXPECT_FALSE(reader.granted());
    EXPECT_EQ(reader.Release(), 0);
  }
  EndLastFrameChange(&store_);
  LastFrameReadClaim reader(&store_);
  EXPECT_TRUE(reader.granted());
}

TEST_F(LastFrameStoreTest, ReserveGrowsAndLosesTheStill) {
  ASSERT_TRUE(ReserveLastFrame(&store_, pool_, 30));
  UCHAR* first = store_.buffer;
  store_.storedLength = 30;
  ASSERT_TRUE(ReserveLastFrame(&store_, pool_, 20));
  EXPECT_EQ(store_.buffer, first);
  EXPECT_EQ(store_.storedLength, 30u);
  ASSERT_TRUE(ReserveLastFrame(&store_, pool_, 300));
  EXPECT_EQ(store_.capacity, 300u);
  EXPECT_EQ(store_.storedLength, 0u);
}

// A changer rewrites the whole still with one byte value while readers copy it: a granted read
// must always see a single value (a torn copy would mean the two overlapped).
TEST_F(LastFrameStoreTest, ConcurrentReadsNeverSeeAChangeHalfDone) {
  constexpr ULONG kSize = 4096;
  ASSERT_TRUE(ReserveLastFrame(&store_, pool_, kSize));
  std::memset(store_.buffer, 0, kSize);
  store_.storedLength = kSize;
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0}, reads{0};
  std::thread reader([&] {
    std::vector<UCHAR> copy(kSize);
    while (!stop) {
      LastFrameReadClaim claim(&store_);
      if (!claim.granted()) continue;
      std::memcpy(copy.data(), store_.buffer, store_.storedLength);
      ++reads;
      for (UCHAR byte : copy) {
        if (byte != copy[0]) {
          ++torn;
          break;
        }
      }
    }
  });
  for (int round = 0; round < 2000 || reads < 50; ++round) {
    if (!TryBeginLastFrameChange(&store_)) continue;
    std::memset(store_.buffer, round & 0xFF, kSize);
    EndLastFrameChange(&store_);
  }
  stop = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
