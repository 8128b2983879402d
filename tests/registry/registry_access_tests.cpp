// The camera's registry operations on the host hive: what a caller's buffer holds after each kind
// of read, enumeration to its end, key paths created level by level, and how the device key is
// found, cached and found again.
#include <cstring>

#include "config/registry_access.h"
#include "core/camera_device.h"
#include "host_control.h"
#include "registry_test_support.h"

namespace {

// Any distinct addresses stand for the device objects: the registry never looks inside them.
DEVICE_OBJECT* const kRealPdo = reinterpret_cast<DEVICE_OBJECT*>(0x1000);
DEVICE_OBJECT* const kPdo = reinterpret_cast<DEVICE_OBJECT*>(0x2000);
const std::u16string kDriverKeyName = u"{6BDD1FC6-810F-11D0-BEC7-08002BE2002F}\\0001";
const std::u16string kControlClassKey = std::u16string(host::kDriverKeyRoot) + kDriverKeyName;
const std::u16string kServicesClassKey =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Class\\" + kDriverKeyName;

class RegistryAccess : public FreshRegistry {
 protected:
  void SetUp() override {
    FreshRegistry::SetUp();
    ASSERT_EQ(CreateBufferPool(&poolObject_, CLSID_BufferPool, nullptr, NonPagedPool),
              STATUS_SUCCESS);
    ASSERT_EQ(poolObject_->QueryInterface(IID_IBufferPool, reinterpret_cast<void**>(&pool_)),
              STATUS_SUCCESS);
    memset(&cache_, 0, sizeof cache_);
    key_ = MustOpen(kTestKey);
  }
  void TearDown() override {
    registry::CloseKey(&cache_, key_);
    registry::ReleaseDeviceKey(&cache_);
    pool_->Release();
    poolObject_->Release();
    FreshRegistry::TearDown();
  }

  NTSTATUS Query(const char16_t* name, void* data, ULONG* length) {
    ULONG nameLength = static_cast<ULONG>((std::char_traits<char16_t>::length(name) + 1) * 2);
    return registry::QueryValue(pool_, key_, name, nameLength, data, length);
  }
  NTSTATUS OpenDeviceKey(HANDLE* key) {
    return registry::OpenDeviceKey(&cache_, kRealPdo, kPdo, key);
  }

  UnknownBase* poolObject_ = nullptr;
  IBufferPool* pool_ = nullptr;
  DeviceKeyCache cache_;
  HANDLE key_ = nullptr;
};

TEST_F(RegistryAccess, QueryValueTouchesTheCallersBufferOnlyWithWhatFits) {
  const uint8_t two[2] = {0x11, 0x22};
  const uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const ULONG four = 0x01020304;
  ASSERT_EQ(registry::SetValue(key_, u"Two", REG_BINARY, two, 2), STATUS_SUCCESS);
  ASSERT_EQ(registry::SetValue(key_, u"Eight", REG_BINARY, eight, 8), STATUS_SUCCESS);
  ASSERT_EQ(registry::SetValue(key_, u"Four", REG_DWORD, &four, 4), STATUS_SUCCESS);
  ASSERT_EQ(registry::SetValue(key_, u"Empty", REG_BINARY, nullptr, 0), STATUS_SUCCESS);
  struct Case {
    const char16_t* name;
    NTSTATUS status;
    ULONG value;   // the 32-bit variable afterwards, which started as 0xAABBCCDD
    ULONG length;  // the reported length
  } cases[] = {
      {u"Missing", STATUS_OBJECT_NAME_NOT_FOUND, 0xAABBCCDD, 4},
      {u"Two", STATUS_SUCCESS, 0xAABB2211, 2},
      {u"Eight", STATUS_BUFFER_OVERFLOW, 0xAABBCCDD, 8},
      {u"FOUR", STATUS_SUCCESS, 0x01020304, 4},
      {u"Empty", STATUS_SUCCESS, 0xAABBCCDD, 0},
  };
  for (const Case& c : cases) {
    ULONG value = 0xAABBCCDD;
    ULONG length = sizeof value;
    EXPECT_EQ(Query(c.name, &value, &length), c.status) << host::Utf8FromUtf16(c.name);
    EXPECT_EQ(value, c.value) << host::Utf8FromUtf16(c.name);
    EXPECT_EQ(length, c.length) << host::Utf8FromUtf16(c.name);
  }
  // A name length that understates the name only sizes the scratch block; the read still works.
  ULONG value = 0;
  ULONG length = sizeof value;
  EXPECT_EQ(registry::QueryValue(pool_, key_, u"Four", 2, &value, &length), STATUS_SUCCESS);
  EXPECT_EQ(value, four);
}

TEST_F(RegistryAccess, QueryValueWithoutScratchMemoryFailsCleanly) {
  const ULONG four = 4;
  ASSERT_EQ(registry::SetValue(key_, u"Four", REG_DWORD, &four, 4), STATUS_SUCCESS);
  host::FailAllocationsWithTag(kPoolTagDriver);
  ULONG value = 0xAABBCCDD;
  ULONG length = 4;
  EXPECT_EQ(Query(u"Four", &value, &length), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(value, 0xAABBCCDDu);
  WCHAR name[8];
  EXPECT_EQ(registry::EnumerateValueName(pool_, key_, 0, name, sizeof name),
            STATUS_INSUFFICIENT_RESOURCES);
  host::ClearAllocationFaults();
}

TEST_F(RegistryAccess, EnumerationEndsWithNoMoreEntriesAndNamesStayTerminated) {
  const ULONG one = 1;
  for (const char16_t* name : {u"First", u"Second", u"Third"}) {
    ASSERT_EQ(registry::SetValue(key_, name, REG_DWORD, &one, 4), STATUS_SUCCESS);
  }
  for (const char16_t* name : {u"Beta", u"alpha"}) {
    HANDLE subkey;
    ASSERT_EQ(registry::CreateKey(key_, KEY_ALL_ACCESS, name, &subkey), STATUS_SUCCESS);
    registry::CloseKey(&cache_, subkey);
  }
  WCHAR name[kRegistryPathChars];
  const char16_t* values[] = {u"First", u"Second", u"Third"};
  for (ULONG i = 0; i < 3; ++i) {
    memset(name, 0xFF, sizeof name);
    ASSERT_EQ(registry::EnumerateValueName(pool_, key_, i, name, sizeof name), STATUS_SUCCESS);
    EXPECT_EQ(std::u16string(name), values[i]);
    EXPECT_EQ(name[kRegistryPathChars - 1], 0) << "the whole buffer is cleared";
  }
  EXPECT_EQ(registry::EnumerateValueName(pool_, key_, 3, name, sizeof name),
            STATUS_NO_MORE_ENTRIES);
  ASSERT_EQ(registry::EnumerateSubkeyName(pool_, key_, 0, name, sizeof name), STATUS_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"alpha");
  ASSERT_EQ(registry::EnumerateSubkeyName(pool_, key_, 1, name, sizeof name), STATUS_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"Beta");
  EXPECT_EQ(registry::EnumerateSubkeyName(pool_, key_, 2, name, sizeof name),
            STATUS_NO_MORE_ENTRIES);

  // "First" is 10 bytes: a 10-byte buffer would hold it without its terminator, so it is refused.
  WCHAR small[6];
  memset(small, 0xFF, sizeof small);
  EXPECT_EQ(registry::EnumerateValueName(pool_, key_, 0, small, 10), STATUS_INSUFFICIENT_RESOURCES);
  EXPECT_EQ(small[0], 0);
  EXPECT_EQ(small[5], 0xFFFF) << "nothing written past the given size";
  EXPECT_EQ(registry::EnumerateValueName(pool_, key_, 0, small, 12), STATUS_SUCCESS);
  EXPECT_EQ(std::u16string(small), u"First");
}

TEST_F(RegistryAccess, CreateKeyPathCreatesOnlyTheMissingLevels) {
  HANDLE leaf;
  ASSERT_EQ(registry::CreateKeyPath(key_, KEY_ALL_ACCESS, u"A\\B\\C", &leaf), STATUS_SUCCESS);
  const ULONG marker = 7;
  ASSERT_EQ(registry::SetValue(leaf, u"Marker", REG_DWORD, &marker, 4), STATUS_SUCCESS);
  registry::CloseKey(&cache_, leaf);
  EXPECT_TRUE(host::ReadRegistryValue(kTestKey + u"\\A\\B\\C", u"Marker"));

  // Below a key that already has A\B, with values in it: only D is new, nothing else is touched.
  ASSERT_TRUE(host::WriteRegistryDword(kTestKey + u"\\A\\B", u"Kept", 1));
  ASSERT_EQ(registry::CreateKeyPath(key_, KEY_ALL_ACCESS, u"A\\B\\D", &leaf), STATUS_SUCCESS);
  registry::CloseKey(&cache_, leaf);
  EXPECT_EQ(host::RegistrySubkeyNames(kTestKey + u"\\A\\B"),
            (std::vector<std::u16string>{u"C", u"D"}));
  EXPECT_TRUE(host::ReadRegistryValue(kTestKey + u"\\A\\B", u"Kept"));
  EXPECT_TRUE(host::ReadRegistryValue(kTestKey + u"\\A\\B\\C", u"Marker"));

  // An absolute path: its leading backslash is not a level.
  ASSERT_EQ(registry::CreateKeyPath(nullptr, KEY_ALL_ACCESS,
                                    u"\\Registry\\Machine\\Software\\New\\Deep", &leaf),
            STATUS_SUCCESS);
  registry::CloseKey(&cache_, leaf);
  EXPECT_TRUE(host::RegistryKeyExists(u"\\Registry\\Machine\\Software\\New\\Deep"));

  // A level that cannot be created stops the walk; the levels before it stay.
  EXPECT_EQ(registry::CreateKeyPath(key_, KEY_ALL_ACCESS, u"P\\\\Q", &leaf),
            STATUS_OBJECT_NAME_INVALID);
  EXPECT_TRUE(host::RegistryKeyExists(kTestKey + u"\\P"));
}

TEST_F(RegistryAccess, DeleteKeyRemovesOnlyKeysWithoutSubkeys) {
  HANDLE leaf;
  ASSERT_EQ(registry::CreateKeyPath(key_, KEY_ALL_ACCESS, u"A\\B", &leaf), STATUS_SUCCESS);
  HANDLE middle;
  ASSERT_EQ(registry::OpenKey(key_, KEY_ALL_ACCESS, u"A", &middle), STATUS_SUCCESS);
  EXPECT_EQ(registry::DeleteKey(middle), STATUS_CANNOT_DELETE);
  EXPECT_EQ(registry::DeleteKey(leaf), STATUS_SUCCESS);
  EXPECT_EQ(registry::DeleteKey(middle), STATUS_SUCCESS);
  EXPECT_EQ(registry::CloseKey(&cache_, leaf), STATUS_SUCCESS);
  EXPECT_EQ(registry::CloseKey(&cache_, middle), STATUS_SUCCESS);
  EXPECT_FALSE(host::RegistryKeyExists(kTestKey + u"\\A"));
  HANDLE gone;
  EXPECT_EQ(registry::OpenKey(key_, KEY_ALL_ACCESS, u"A", &gone), STATUS_OBJECT_NAME_NOT_FOUND);
}

TEST_F(RegistryAccess, FirstOpenDeviceKeyAnswersTheClassKeyAndCachesThePlugAndPlayKey) {
  host::SetDeviceDriverKeyName(kRealPdo, kDriverKeyName);
  HANDLE first;
  ASSERT_EQ(OpenDeviceKey(&first), STATUS_SUCCESS);
  EXPECT_EQ(cache_.classKeyPathValid, 1);
  EXPECT_EQ(std::u16string(cache_.classKeyPath), kControlClassKey)
      << "no Services\\Class key exists, so the Control\\Class path is the one kept";
  ASSERT_NE(cache_.deviceKeyHandle, nullptr);
  EXPECT_NE(first, cache_.deviceKeyHandle);
  registry::CloseKey(&cache_, first);
  ASSERT_NE(cache_.deviceKeyHandle, nullptr) << "closing the class key leaves the cache";

  HANDLE second;
  ASSERT_EQ(OpenDeviceKey(&second), STATUS_SUCCESS);
  EXPECT_EQ(second, cache_.deviceKeyHandle);
  const ULONG value = 3;
  ASSERT_EQ(registry::SetValue(second, u"CameraStatus", REG_DWORD, &value, 4), STATUS_SUCCESS);
  EXPECT_TRUE(host::ReadRegistryValue(kControlClassKey, u"CameraStatus"));
  registry::CloseKey(&cache_, second);
  EXPECT_EQ(cache_.deviceKeyHandle, nullptr) << "closing the handle handed out ends the cache";

  HANDLE third;
  ASSERT_EQ(OpenDeviceKey(&third), STATUS_SUCCESS);
  EXPECT_NE(third, second) << "the key was opened again";
  EXPECT_EQ(third, cache_.deviceKeyHandle);
  registry::CloseKey(&cache_, third);
  EXPECT_EQ(host::OpenRegistryHandleCount(), 1u) << "only the test's own key is open";
}

TEST_F(RegistryAccess, ServicesClassPathIsPreferredWhenItExists) {
  host::SetDeviceDriverKeyName(kRealPdo, kDriverKeyName);
  ASSERT_TRUE(host::CreateRegistryKey(kServicesClassKey));
  HANDLE key;
  ASSERT_EQ(OpenDeviceKey(&key), STATUS_SUCCESS);
  EXPECT_EQ(std::u16string(cache_.classKeyPath), kServicesClassKey);
  registry::CloseKey(&cache_, key);
}

TEST_F(RegistryAccess, WithoutPlugAndPlayLaterCallsReopenTheClassPath) {
  host::SetDeviceDriverKeyName(kRealPdo, kDriverKeyName);
  host::RefuseDeviceRegistryKeyOpen(kRealPdo, true);
  HANDLE first;
  ASSERT_EQ(OpenDeviceKey(&first), STATUS_SUCCESS);
  EXPECT_EQ(cache_.deviceKeyHandle, nullptr);
  registry::CloseKey(&cache_, first);

  // The driver key name is no longer answered either: the path found once is what is left.
  host::ForgetDevice(kRealPdo);
  for (int round = 0; round < 2; ++round) {
    HANDLE again;
    ASSERT_EQ(OpenDeviceKey(&again), STATUS_SUCCESS);
    EXPECT_EQ(again, cache_.deviceKeyHandle);
    const ULONG value = 8;
    EXPECT_EQ(registry::SetValue(again, u"CameraStatus", REG_DWORD, &value, 4), STATUS_SUCCESS);
    registry::CloseKey(&cache_, again);
    EXPECT_EQ(cache_.deviceKeyHandle, nullptr);
  }
  EXPECT_TRUE(host::ReadRegistryValue(kControlClassKey, u"CameraStatus"));
}

TEST_F(RegistryAccess, FailsUntilAClassPathOpensButKeepsThePlugAndPlayKey) {
  // Plug and Play knows the device only through its physical device object; the real one has no
  // driver key name, so no class path can be formed.
  host::SetDeviceDriverKeyName(kPdo, kDriverKeyName);
  HANDLE key = nullptr;
  EXPECT_EQ(OpenDeviceKey(&key), STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(cache_.classKeyPathValid, 0);
  EXPECT_NE(cache_.deviceKeyHandle, nullptr);

  // Nothing can be opened at all.
  host::ResetRegistry();
  memset(&cache_, 0, sizeof cache_);
  key_ = MustOpen(kTestKey);
  EXPECT_FALSE(NT_SUCCESS(OpenDeviceKey(&key)));
  EXPECT_EQ(cache_.deviceKeyHandle, nullptr);
}

TEST_F(RegistryAccess, NestedOpensOfTheDeviceKeyShareOneHandleUntilTheLastClose) {
  host::SetDeviceDriverKeyName(kRealPdo, kDriverKeyName);
  HANDLE classKey;
  ASSERT_EQ(OpenDeviceKey(&classKey), STATUS_SUCCESS);
  registry::CloseKey(&cache_, classKey);

  HANDLE outer, inner;
  ASSERT_EQ(OpenDeviceKey(&outer), STATUS_SUCCESS);
  ASSERT_EQ(OpenDeviceKey(&inner), STATUS_SUCCESS);
  EXPECT_EQ(inner, outer);
  registry::CloseKey(&cache_, inner);
  const ULONG value = 1;
  EXPECT_EQ(registry::SetValue(outer, u"OpenFileFail", REG_DWORD, &value, 4), STATUS_SUCCESS)
      << "the outer caller's handle survives the inner close";
  registry::CloseKey(&cache_, outer);
  EXPECT_EQ(cache_.deviceKeyHandle, nullptr);
  EXPECT_EQ(host::OpenRegistryHandleCount(), 1u);
}

}  // namespace
