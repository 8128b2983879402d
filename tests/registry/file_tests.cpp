// Files by NT path: both spellings of drive C:, names matched case-insensitively inside the chosen
// folder and never outside it, reads at an offset to the end of the file, and pending answers.
#include <gtest/gtest.h>

#include <fstream>

#include "kernel_files.h"
#include "kernel_strings.h"
#include "registry_control.h"

namespace {

class Files : public testing::Test {
 protected:
  void SetUp() override {
    // One folder per test: ctest runs the tests of this program in parallel processes.
    root_ = std::filesystem::path(testing::TempDir()) / "file_tests" /
            testing::UnitTest::GetInstance()->current_test_info()->name() / "root";
    std::filesystem::create_directories(root_ / "Vmr");
    std::ofstream(root_ / "Vmr" / "Firmware.FRW", std::ios::binary) << "0123456789";
    std::ofstream(root_.parent_path() / "outside.txt") << "secret";
    host::SetFileRoot(root_);
  }
  void TearDown() override {
    host::AnswerReadsPending(0);
    EXPECT_EQ(host::OpenFileHandleCount(), 0u) << "a test left file handles open";
  }

  static NTSTATUS OpenFile(const std::u16string& path, HANDLE* handle) {
    UNICODE_STRING name{static_cast<USHORT>(path.size() * 2), static_cast<USHORT>(path.size() * 2),
                        const_cast<PWSTR>(path.data())};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    IO_STATUS_BLOCK io{};
    NTSTATUS status = ZwCreateFile(handle, GENERIC_READ | SYNCHRONIZE, &attributes, &io, nullptr,
                                   FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, FILE_OPEN,
                                   FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (NT_SUCCESS(status)) {
      EXPECT_EQ(io.Information, FILE_OPENED);
    }
    return status;
  }

  std::filesystem::path root_;
};

TEST_F(Files, NtPathsOpenInsideTheRootOnly) {
  struct Case {
    std::u16string path;
    NTSTATUS expected;
  } cases[] = {
      {u"\\DosDevices\\C:\\vmr\\firmware.frw", STATUS_SUCCESS},
      {u"\\??\\c:\\VMR\\FIRMWARE.FRW", STATUS_SUCCESS},
      {u"\\??\\C:\\vmr\\missing.frw", STATUS_OBJECT_NAME_NOT_FOUND},
      {u"\\??\\C:\\nodir\\firmware.frw", STATUS_OBJECT_PATH_NOT_FOUND},
      {u"\\??\\C:\\vmr\\firmware.frw\\x", STATUS_OBJECT_PATH_NOT_FOUND},
      {u"\\??\\C:\\vmr", STATUS_FILE_IS_A_DIRECTORY},
      {u"\\??\\C:\\..\\outside.txt", STATUS_OBJECT_NAME_INVALID},
      {u"\\??\\C:\\vmr\\..\\..\\outside.txt", STATUS_OBJECT_NAME_INVALID},
      {u"\\??\\C:\\vmr/../../outside.txt", STATUS_OBJECT_NAME_INVALID},
      {u"\\??\\C:\\vmr\\\\firmware.frw", STATUS_OBJECT_NAME_INVALID},
      {u"\\??\\D:\\vmr\\firmware.frw", STATUS_OBJECT_PATH_NOT_FOUND},
      {u"C:\\vmr\\firmware.frw", STATUS_OBJECT_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    HANDLE handle = nullptr;
    EXPECT_EQ(OpenFile(c.path, &handle), c.expected) << host::Utf8FromUtf16(c.path);
    if (NT_SUCCESS(c.expected)) {
      EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
    }
  }
}

TEST_F(Files, ReadsAtAnOffsetToTheEndAndAnswersPendingOnRequest) {
  HANDLE file;
  ASSERT_EQ(OpenFile(u"\\??\\C:\\vmr\\firmware.frw", &file), STATUS_SUCCESS);
  char buffer[16] = {};
  IO_STATUS_BLOCK io;
  LARGE_INTEGER offset;
  offset.QuadPart = 4;
  host::AnswerReadsPending(2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(ZwReadFile(file, nullptr, nullptr, nullptr, &io, buffer, 4, &offset, nullptr),
              STATUS_PENDING);
    EXPECT_EQ(io.Information, 0u);
  }
  ASSERT_EQ(ZwReadFile(file, nullptr, nullptr, nullptr, &io, buffer, 4, &offset, nullptr),
            STATUS_SUCCESS);
  EXPECT_EQ(std::string(buffer, io.Information), "4567");
  // Without an offset the read goes on where the last one ended, and stops at the end.
  ASSERT_EQ(
      ZwReadFile(file, nullptr, nullptr, nullptr, &io, buffer, sizeof buffer, nullptr, nullptr),
      STATUS_SUCCESS);
  EXPECT_EQ(std::string(buffer, io.Information), "89");
  EXPECT_EQ(
      ZwReadFile(file, nullptr, nullptr, nullptr, &io, buffer, sizeof buffer, nullptr, nullptr),
      STATUS_END_OF_FILE);
  EXPECT_EQ(io.Information, 0u);
  EXPECT_EQ(ZwClose(file), STATUS_SUCCESS);
  EXPECT_EQ(ZwReadFile(file, nullptr, nullptr, nullptr, &io, buffer, 1, nullptr, nullptr),
            STATUS_INVALID_HANDLE);
}

}  // namespace
