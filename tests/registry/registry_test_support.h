// Helpers of the registry suites: counted strings over literals and a fixture that starts from an
// empty hive and fails a test that leaves key handles open.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "kernel_registry.h"
#include "kernel_strings.h"
#include "registry_control.h"

// A UNICODE_STRING over a text that outlives it (a literal, or a string the caller keeps).
inline UNICODE_STRING Counted(std::u16string_view text) {
  UNICODE_STRING result;
  result.Buffer = const_cast<PWSTR>(text.data());
  result.Length = static_cast<USHORT>(text.size() * 2);
  result.MaximumLength = result.Length;
  return result;
}

class FreshRegistry : public testing::Test {
 protected:
  void SetUp() override { host::ResetRegistry(); }
  void TearDown() override {
    EXPECT_EQ(host::OpenRegistryHandleCount(), 0u) << "a test left registry key handles open";
    host::ResetRegistry();
  }

  // Opens (or creates) one key; the path is absolute without a parent.
  static NTSTATUS Open(const std::u16string& path, HANDLE* key, HANDLE parent = nullptr,
                       bool create = false, ULONG* disposition = nullptr) {
    UNICODE_STRING name = Counted(path);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, parent, nullptr);
    return create ? ZwCreateKey(key, KEY_ALL_ACCESS, &attributes, 0, nullptr,
                                REG_OPTION_NON_VOLATILE, disposition)
                  : ZwOpenKey(key, KEY_ALL_ACCESS, &attributes);
  }
  // Opens an absolute path, creating every missing key on it first when create is set.
  static HANDLE MustOpen(const std::u16string& path, bool create = true) {
    if (create) host::CreateRegistryKey(path);
    HANDLE key = nullptr;
    EXPECT_EQ(Open(path, &key), STATUS_SUCCESS) << host::Utf8FromUtf16(path);
    return key;
  }
  static NTSTATUS Set(HANDLE key, const std::u16string& name, ULONG type, const void* data,
                      ULONG size) {
    UNICODE_STRING valueName = Counted(name);
    return ZwSetValueKey(key, &valueName, 0, type, const_cast<void*>(data), size);
  }
};

inline const std::u16string kTestKey = u"\\Registry\\Machine\\Software\\Test";
