// The in-memory registry through the kernel routines: names, order, information classes and their
// size rules, handle checks, deletion, and the Plug and Play view of a device's driver key.
#include <cstring>
#include <thread>
#include <vector>

#include "host_control.h"
#include "kernel.h"
#include "kernel_files.h"
#include "registry_test_support.h"

namespace {

using RegistryHive = FreshRegistry;

std::u16string EnumeratedKeyName(HANDLE key, ULONG index, NTSTATUS* status) {
  alignas(8) uint8_t buffer[600];
  ULONG result = 0;
  *status = ZwEnumerateKey(key, index, KeyBasicInformation, buffer, sizeof buffer, &result);
  if (!NT_SUCCESS(*status)) return {};
  auto* info = reinterpret_cast<KEY_BASIC_INFORMATION*>(buffer);
  return std::u16string(info->Name, info->NameLength / 2);
}

std::u16string EnumeratedValueName(HANDLE key, ULONG index, NTSTATUS* status) {
  alignas(8) uint8_t buffer[600];
  ULONG result = 0;
  *status =
      ZwEnumerateValueKey(key, index, KeyValueBasicInformation, buffer, sizeof buffer, &result);
  if (!NT_SUCCESS(*status)) return {};
  auto* info = reinterpret_cast<KEY_VALUE_BASIC_INFORMATION*>(buffer);
  return std::u16string(info->Name, info->NameLength / 2);
}

TEST_F(RegistryHive, NamesAreCaseInsensitiveSubkeysSortedValuesInCreationOrder) {
  HANDLE key = MustOpen(kTestKey);
  for (const char16_t* name : {u"zeta", u"Alpha", u"mid", u"BETA"}) {
    HANDLE subkey;
    ASSERT_EQ(Open(name, &subkey, key, true), STATUS_SUCCESS);
    ZwClose(subkey);
  }
  ULONG one = 1;
  for (const char16_t* name : {u"Zulu", u"alpha", u"Mike"}) {
    ASSERT_EQ(Set(key, name, REG_DWORD, &one, 4), STATUS_SUCCESS);
  }
  ULONG two = 2;
  ASSERT_EQ(Set(key, u"ALPHA", REG_DWORD, &two, 4), STATUS_SUCCESS);  // rewrites, keeps its place

  std::vector<std::u16string> subkeys, values;
  NTSTATUS status;
  for (ULONG i = 0;; ++i) {
    std::u16string name = EnumeratedKeyName(key, i, &status);
    if (status == STATUS_NO_MORE_ENTRIES) break;
    ASSERT_EQ(status, STATUS_SUCCESS);
    subkeys.push_back(name);
  }
  for (ULONG i = 0;; ++i) {
    std::u16string name = EnumeratedValueName(key, i, &status);
    if (status == STATUS_NO_MORE_ENTRIES) break;
    ASSERT_EQ(status, STATUS_SUCCESS);
    values.push_back(name);
  }
  EXPECT_EQ(subkeys, (std::vector<std::u16string>{u"Alpha", u"BETA", u"mid", u"zeta"}));
  EXPECT_EQ(values, (std::vector<std::u16string>{u"Zulu", u"alpha", u"Mike"}));

  HANDLE again;
  ASSERT_EQ(Open(u"\\REGISTRY\\machine\\SOFTWARE\\test\\ZETA", &again), STATUS_SUCCESS);
  ZwClose(again);
  EXPECT_EQ(host::ReadRegistryValue(kTestKey, u"ALPHA")->data, (std::vector<uint8_t>{2, 0, 0, 0}));
  ZwClose(key);
}

TEST_F(RegistryHive, CreateOpensExistingKeysAndNeedsTheParent) {
  HANDLE key;
  ULONG disposition = 0;
  ASSERT_EQ(Open(kTestKey, &key, nullptr, true, &disposition), STATUS_OBJECT_NAME_NOT_FOUND)
      << "Software does not exist yet";
  HANDLE software = MustOpen(u"\\Registry\\Machine\\Software");
  ASSERT_EQ(Open(u"Test", &key, software, true, &disposition), STATUS_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  ZwClose(key);
  ASSERT_EQ(Open(u"TEST", &key, software, true, &disposition), STATUS_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  HANDLE same;
  ASSERT_EQ(Open(u"", &same, key), STATUS_SUCCESS) << "an empty relative name is the key itself";
  ULONG seven = 7;
  ASSERT_EQ(Set(same, u"", REG_DWORD, &seven, 4), STATUS_SUCCESS);
  EXPECT_TRUE(host::ReadRegistryValue(kTestKey, u"").has_value());
  ZwClose(same);
  ZwClose(key);
  ZwClose(software);
}

TEST_F(RegistryHive, MalformedPathsAreRefused) {
  HANDLE machine = MustOpen(u"\\Registry\\Machine", false);
  struct Case {
    std::u16string path;
    HANDLE parent;
    NTSTATUS expected;
  } cases[] = {
      {u"Software\\Test", nullptr, STATUS_OBJECT_NAME_INVALID},       // relative without a parent
      {u"\\Registry\\Machine", machine, STATUS_OBJECT_NAME_INVALID},  // absolute with a parent
      {u"A\\\\B", machine, STATUS_OBJECT_NAME_INVALID},
      {u"A\\", machine, STATUS_OBJECT_NAME_INVALID},
      {std::u16string(256, u'k'), machine, STATUS_OBJECT_NAME_INVALID},
      {u"\\Device\\Harddisk0", nullptr, STATUS_OBJECT_PATH_NOT_FOUND},
      {u"\\Registry\\NewRoot", nullptr, STATUS_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    HANDLE key = nullptr;
    EXPECT_EQ(Open(c.path, &key, c.parent, true), c.expected) << host::Utf8FromUtf16(c.path);
  }
  ZwClose(machine);
}

TEST_F(RegistryHive, InformationClassesFollowTheSizeRules) {
  HANDLE key = MustOpen(kTestKey);
  const uint8_t data[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(Set(key, u"Bytes", REG_BINARY, data, 5), STATUS_SUCCESS);
  UNICODE_STRING name = Counted(u"bytes");
  alignas(8) uint8_t buffer[64];

  // Fixed part, name (10 bytes), padding to 4, data: 20 + 10 + 2 + 5.
  struct Case {
    KEY_VALUE_INFORMATION_CLASS informationClass;
    ULONG length;
    NTSTATUS expected;
    ULONG required;
  } cases[] = {
      {KeyValueFullInformation, 19, STATUS_BUFFER_TOO_SMALL, 37},
      {KeyValueFullInformation, 20, STATUS_BUFFER_OVERFLOW, 37},
      {KeyValueFullInformation, 36, STATUS_BUFFER_OVERFLOW, 37},
      {KeyValueFullInformation, 37, STATUS_SUCCESS, 37},
      {KeyValueBasicInformation, 11, STATUS_BUFFER_TOO_SMALL, 22},
      {KeyValueBasicInformation, 21, STATUS_BUFFER_OVERFLOW, 22},
      {KeyValuePartialInformation, 16, STATUS_BUFFER_OVERFLOW, 17},
      {KeyValuePartialInformation, 17, STATUS_SUCCESS, 17},
  };
  for (const Case& c : cases) {
    memset(buffer, 0xEE, sizeof buffer);
    ULONG result = 0;
    EXPECT_EQ(ZwQueryValueKey(key, &name, c.informationClass, buffer, c.length, &result),
              c.expected)
        << "class " << c.informationClass << " length " << c.length;
    EXPECT_EQ(result, c.required);
    EXPECT_EQ(buffer[c.length], 0xEE) << "wrote past the buffer";
    if (c.informationClass == KeyValueFullInformation && c.length >= 20) {
      auto* full = reinterpret_cast<KEY_VALUE_FULL_INFORMATION*>(buffer);
      EXPECT_EQ(full->Type, REG_BINARY);
      EXPECT_EQ(full->DataLength, 5u);
      EXPECT_EQ(full->DataOffset, 32u);
      EXPECT_EQ(full->NameLength, 10u);
      if (c.expected == STATUS_SUCCESS) {
        EXPECT_EQ(memcmp(buffer + 32, data, 5), 0);
      }
    }
  }
  UNICODE_STRING missing = Counted(u"Missing");
  ULONG result = 0;
  EXPECT_EQ(ZwQueryValueKey(key, &missing, KeyValueFullInformation, buffer, sizeof buffer, &result),
            STATUS_OBJECT_NAME_NOT_FOUND);
  ZwClose(key);
}

TEST_F(RegistryHive, StaleForeignAndDeletedHandlesAreErrorsNotCrashes) {
  HANDLE key = MustOpen(kTestKey);
  HANDLE child;
  ASSERT_EQ(Open(u"Child", &child, key, true), STATUS_SUCCESS);
  EXPECT_EQ(ZwDeleteKey(key), STATUS_CANNOT_DELETE) << "a key with subkeys stays";
  ASSERT_EQ(ZwDeleteKey(child), STATUS_SUCCESS);
  ULONG value = 1;
  EXPECT_EQ(Set(child, u"X", REG_DWORD, &value, 4), STATUS_KEY_DELETED);
  EXPECT_EQ(ZwDeleteKey(child), STATUS_KEY_DELETED);
  EXPECT_EQ(ZwClose(child), STATUS_SUCCESS) << "a handle to a deleted key still needs its close";
  EXPECT_FALSE(host::RegistryKeyExists(kTestKey + u"\\Child"));

  HANDLE garbage = reinterpret_cast<HANDLE>(0x1234);
  for (HANDLE bad : {child, garbage, static_cast<HANDLE>(nullptr)}) {
    EXPECT_EQ(Set(bad, u"X", REG_DWORD, &value, 4), STATUS_INVALID_HANDLE);
    NTSTATUS status;
    EnumeratedKeyName(bad, 0, &status);
    EXPECT_EQ(status, STATUS_INVALID_HANDLE);
    EXPECT_EQ(ZwClose(bad), STATUS_INVALID_HANDLE);
  }

  // A file handle is not a key, and a key handle not a file.
  std::filesystem::path folder = testing::TempDir() + "registry_foreign";
  std::filesystem::create_directories(folder);
  FILE* out = fopen((folder / "f.bin").c_str(), "wb");
  fputs("x", out);
  fclose(out);
  host::SetFileRoot(folder);
  std::u16string path = u"\\??\\C:\\f.bin";
  UNICODE_STRING fileName = Counted(path);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &fileName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  IO_STATUS_BLOCK io;
  HANDLE file;
  ASSERT_EQ(ZwCreateFile(&file, GENERIC_READ, &attributes, &io, nullptr, 0, FILE_SHARE_READ,
                         FILE_OPEN, 0, nullptr, 0),
            STATUS_SUCCESS);
  EXPECT_EQ(Set(file, u"X", REG_DWORD, &value, 4), STATUS_INVALID_HANDLE);
  char byte;
  EXPECT_EQ(ZwReadFile(key, nullptr, nullptr, nullptr, &io, &byte, 1, nullptr, nullptr),
            STATUS_INVALID_HANDLE);
  EXPECT_EQ(ZwClose(file), STATUS_SUCCESS);
  ZwClose(key);
}

TEST_F(RegistryHive, ResetMakesOpenHandlesStale) {
  HANDLE key = MustOpen(kTestKey);
  host::ResetRegistry();
  EXPECT_EQ(ZwClose(key), STATUS_INVALID_HANDLE);
  EXPECT_FALSE(host::RegistryKeyExists(kTestKey));
}

TEST_F(RegistryHive, RoutinesAbovePassiveLevelAreVerifierFailures) {
  HANDLE key = MustOpen(kTestKey);
  host::ScopedVerifierCapture capture;
  {
    host::ScopedIrql dispatch(DISPATCH_LEVEL);
    ULONG value = 1;
    Set(key, u"X", REG_DWORD, &value, 4);
  }
  ASSERT_EQ(capture.Messages().size(), 1u);
  EXPECT_NE(capture.Messages()[0].find("ZwSetValueKey"), std::string::npos);
  ZwClose(key);
}

TEST_F(RegistryHive, ThreadsWritingAndEnumeratingAtOnceSeeAConsistentHive) {
  // Work items run drivers on a worker thread while a request runs on another: both may use the
  // registry at passive level at the same time.
  HANDLE parent = MustOpen(kTestKey);
  constexpr int kWriters = 3;
  constexpr ULONG kValuesEach = 100;
  std::vector<std::thread> threads;
  for (int writer = 0; writer < kWriters; ++writer) {
    threads.emplace_back([parent, writer] {
      HANDLE own;
      std::u16string name = host::Utf16FromUtf8("Writer" + std::to_string(writer));
      ASSERT_EQ(Open(name, &own, parent, true), STATUS_SUCCESS);
      for (ULONG i = 0; i < kValuesEach; ++i) {
        std::u16string valueName = name + host::Utf16FromUtf8("_" + std::to_string(i));
        ASSERT_EQ(Set(own, valueName, REG_DWORD, &i, 4), STATUS_SUCCESS);
      }
      ZwClose(own);
    });
  }
  threads.emplace_back([parent] {
    for (int round = 0; round < 200; ++round) {
      NTSTATUS status = STATUS_SUCCESS;
      for (ULONG i = 0; status != STATUS_NO_MORE_ENTRIES; ++i) {
        EnumeratedKeyName(parent, i, &status);
        ASSERT_TRUE(status == STATUS_SUCCESS || status == STATUS_NO_MORE_ENTRIES);
      }
    }
  });
  for (std::thread& thread : threads) thread.join();
  for (int writer = 0; writer < kWriters; ++writer) {
    std::u16string name = host::Utf16FromUtf8("Writer" + std::to_string(writer));
    EXPECT_EQ(host::RegistryValues(kTestKey + u"\\" + name).size(), kValuesEach);
  }
  ZwClose(parent);
}

// Any distinct addresses stand for device objects: the registry never looks inside them.
DEVICE_OBJECT* const kDevice = reinterpret_cast<DEVICE_OBJECT*>(0x1000);
DEVICE_OBJECT* const kOtherDevice = reinterpret_cast<DEVICE_OBJECT*>(0x2000);
const std::u16string kDriverKeyName = u"{6BDD1FC6-810F-11D0-BEC7-08002BE2002F}\\0003";

TEST_F(RegistryHive, PlugAndPlayOpensTheDriverKeyBelowTheClassKeys) {
  host::SetDeviceDriverKeyName(kDevice, kDriverKeyName);
  WCHAR name[128];
  ULONG result = 0;
  ASSERT_EQ(IoGetDeviceProperty(kDevice, DevicePropertyDriverKeyName, sizeof name, name, &result),
            STATUS_SUCCESS);
  EXPECT_EQ(std::u16string(name), kDriverKeyName);
  EXPECT_EQ(result, (kDriverKeyName.size() + 1) * 2);
  EXPECT_EQ(IoGetDeviceProperty(kDevice, DevicePropertyDriverKeyName, 10, name, &result),
            STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(result, (kDriverKeyName.size() + 1) * 2);
  EXPECT_EQ(
      IoGetDeviceProperty(kOtherDevice, DevicePropertyDriverKeyName, sizeof name, name, &result),
      STATUS_OBJECT_NAME_NOT_FOUND);

  HANDLE key;
  ASSERT_EQ(IoOpenDeviceRegistryKey(kDevice, PLUGPLAY_REGKEY_DRIVER, STANDARD_RIGHTS_ALL, &key),
            STATUS_SUCCESS);
  ULONG value = 5;
  ASSERT_EQ(Set(key, u"Written", REG_DWORD, &value, 4), STATUS_SUCCESS);
  ZwClose(key);
  EXPECT_TRUE(
      host::ReadRegistryValue(std::u16string(host::kDriverKeyRoot) + kDriverKeyName, u"Written"));

  host::RefuseDeviceRegistryKeyOpen(kDevice, true);
  EXPECT_FALSE(NT_SUCCESS(
      IoOpenDeviceRegistryKey(kDevice, PLUGPLAY_REGKEY_DRIVER, STANDARD_RIGHTS_ALL, &key)));
  EXPECT_FALSE(NT_SUCCESS(
      IoOpenDeviceRegistryKey(kOtherDevice, PLUGPLAY_REGKEY_DRIVER, STANDARD_RIGHTS_ALL, &key)));
}

}  // namespace
