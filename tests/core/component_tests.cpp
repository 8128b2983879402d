// The object model: identifiers, the creator contract, aggregation under the root, reference
// counting and destruction, and the allocation retry rule.
#include <gtest/gtest.h>

#include "core/camera_device.h"
#include "core/pointer_list.h"
#include "host_control.h"

namespace {

struct DeviceTree {
  UnknownBase* root = nullptr;
  DeviceTree() { EXPECT_EQ(CreateCameraDevice(&root, CLSID_Camera, nullptr, NonPagedPool), STATUS_SUCCESS); }
  ~DeviceTree() {
    if (root != nullptr) {
      EXPECT_EQ(root->Release(), 0);
    }
  }
};

TEST(Identifiers, PrivateInterfacesAndClassesHaveTheirTails) {
  EXPECT_EQ(IID_IBufferPool.Data1, 0xE00EE56Eu);
  EXPECT_EQ(IID_IBufferPool.Data2, 0x3DF9);
  EXPECT_EQ(CLSID_BufferPool.Data2, 0x3DFA);
  EXPECT_EQ(CLSID_BufferPool.Data3, 0x11D3);
  EXPECT_TRUE(IsEqualGuid(IID_ICamera, IID_ICamera));
  EXPECT_FALSE(IsEqualGuid(IID_ICamera, IID_ICameraInfo));
  EXPECT_FALSE(IsEqualGuid(CLSID_Camera, IID_ICamera));
}

TEST(Identifiers, PoolTagsReadAsTheirNamesInMemory) {
  EXPECT_EQ(host::FormatTag(kPoolTagCreator), "PcCr");
  EXPECT_EQ(host::FormatTag(kPoolTagDriver), "IRMV");
}

TEST(ComponentModel, CreatorReturnsTheUnknownBaseWithOneReferenceFromPcCrPool) {
  DeviceTree tree;
  ASSERT_NE(tree.root, nullptr);
  EXPECT_EQ(tree.root->refCount, 1);
  EXPECT_EQ(tree.root->outer, static_cast<IUnknown*>(tree.root));
  bool seen = false;
  for (const host::PoolUsage& usage : host::PoolReport()) {
    if (usage.tag == kPoolTagCreator && usage.size == sizeof(CameraDevice)) seen = true;
  }
  EXPECT_TRUE(seen);
}

TEST(ComponentModel, AggregatedPartAnswersIUnknownWithTheRootAndItsOwnUnknownWithItself) {
  DeviceTree tree;
  IBufferPool* pool = nullptr;
  ASSERT_EQ(tree.root->QueryInterface(IID_IBufferPool, reinterpret_cast<void**>(&pool)), STATUS_SUCCESS);
  // The pool's interface counts on the root.
  EXPECT_EQ(tree.root->refCount, 2);

  void* identity = nullptr;
  ASSERT_EQ(pool->QueryInterface(IID_IUnknown, &identity), STATUS_SUCCESS);
  EXPECT_EQ(identity, static_cast<void*>(tree.root));
  static_cast<UnknownBase*>(identity)->Release();

  auto* device = static_cast<CameraDevice*>(tree.root);
  void* partIdentity = nullptr;
  ASSERT_EQ(device->bufferPool->QueryInterface(IID_IUnknown, &partIdentity), STATUS_SUCCESS);
  EXPECT_EQ(partIdentity, static_cast<void*>(device->bufferPool));
  device->bufferPool->Release();

  void* missing = reinterpret_cast<void*>(1);
  EXPECT_EQ(pool->QueryInterface(IID_ICamera, &missing), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(missing, nullptr);
  pool->Release();
  EXPECT_EQ(tree.root->refCount, 1);
}

TEST(ComponentModel, SecondBufferPoolQueryReturnsTheSamePoolAndCreatesNothing) {
  DeviceTree tree;
  IBufferPool* first = nullptr;
  IBufferPool* second = nullptr;
  ASSERT_EQ(tree.root->QueryInterface(IID_IBufferPool, reinterpret_cast<void**>(&first)), STATUS_SUCCESS);
  uint64_t allocations = host::AllocationCount();
  ASSERT_EQ(tree.root->QueryInterface(IID_IBufferPool, reinterpret_cast<void**>(&second)), STATUS_SUCCESS);
  EXPECT_EQ(first, second);
  EXPECT_EQ(host::AllocationCount(), allocations);
  first->Release();
  second->Release();
}

TEST(ComponentModel, FailedPoolCreationReportsTheCreatorsStatusAndNull) {
  DeviceTree tree;
  host::FailAllocationNumber(1);
  void* pool = reinterpret_cast<void*>(1);
  EXPECT_EQ(tree.root->QueryInterface(IID_IBufferPool, &pool), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(pool, nullptr);
}

TEST(ComponentModel, CreatorFailureLeavesTheResultUntouched) {
  UnknownBase* sentinel = reinterpret_cast<UnknownBase*>(0x1234);
  UnknownBase* result = sentinel;
  host::FailAllocationNumber(1);
  EXPECT_EQ(CreateBufferPool(&result, CLSID_BufferPool, nullptr, NonPagedPool),
            STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(result, sentinel);
}

// A part whose destructor takes and drops a reference on itself, as a child releasing interfaces
// during teardown may: the object must still be destroyed exactly once.
class Reentrant final : public Delegating<IBufferPool, Reentrant>, public UnknownPart<Reentrant> {
 public:
  explicit Reentrant(IUnknown* outerUnknown) : UnknownPart<Reentrant>(outerUnknown) {}
  ~Reentrant() {
    ++destructions;
    static_cast<UnknownBase*>(this)->AddRef();
    static_cast<UnknownBase*>(this)->Release();
  }
  NTSTATUS QueryClassInterface(REFGUID iid, void** result) {
    return UnknownBase::QueryInterface(iid, result);
  }
  void* Allocate(POOL_TYPE, ULONG, ULONG) override { return nullptr; }
  void Free(void*) override {}
  static inline int destructions = 0;
};

TEST(ComponentModel, ReleaseReachesZeroOnceEvenWhenDestructionTouchesTheCount) {
  Reentrant::destructions = 0;
  UnknownBase* object = nullptr;
  ASSERT_EQ(CreateTopLevelObject<Reentrant>(&object, nullptr, NonPagedPool), STATUS_SUCCESS);
  EXPECT_EQ(object->AddRef(), 2);
  EXPECT_EQ(object->Release(), 1);
  EXPECT_EQ(object->Release(), 0);
  EXPECT_EQ(Reentrant::destructions, 1);
}

TEST(RetryRule, WaitsNineTimes100msBelowDispatchAndNeverAtDispatch) {
  host::FailAllocationsWithTag(kPoolTagDriver);
  LONGLONG start = host::Now100ns();
  EXPECT_EQ(AllocateWithRetry(64), nullptr);
  EXPECT_EQ(host::Now100ns() - start, 9 * 1000000);

  start = host::Now100ns();
  {
    host::ScopedIrql dispatch(DISPATCH_LEVEL);
    EXPECT_EQ(AllocateWithRetry(64), nullptr);
  }
  EXPECT_EQ(host::Now100ns() - start, 0);
}

TEST(RetryRule, SucceedsOnALaterAttemptWithAZeroedBlock) {
  host::FailAllocationNumber(1);
  LONGLONG start = host::Now100ns();
  auto* block = static_cast<UCHAR*>(AllocateWithRetry(32));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(host::Now100ns() - start, 1000000);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(block[i], 0);
  ExFreePool(block);
}

}  // namespace
