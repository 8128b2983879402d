// Files opened by NT path and read at an offset. Drive C: of the NT namespace is one host folder;
// each path component is matched case-insensitively, as the target's file system does, and a path
// can never climb out of that folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "kernel_files.h"
#include "kernel_strings.h"
#include "object_handles.h"
#include "registry_control.h"

namespace {

using host::internal::HandleKind;

struct OpenFile {
  explicit OpenFile(int descriptor) : fd(descriptor) {}
  ~OpenFile() { close(fd); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  int fd;
  std::mutex lock;
  LONGLONG position = 0;  // where the last read ended, for reads without an offset
};

struct FileSettings {
  std::mutex lock;
  std::filesystem::path root = std::filesystem::current_path();
};

FileSettings& Settings() {
  static auto* settings = new FileSettings;
  return *settings;
}

std::atomic<int> g_pendingReads{0};

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (RtlUpcaseUnicodeChar(text[i]) != RtlUpcaseUnicodeChar(prefix[i])) return false;
  }
  return true;
}

// The host file for an NT path, or the status that refuses the path.
NTSTATUS HostPathOf(std::u16string_view ntPath, std::filesystem::path* hostPath) {
  std::u16string_view rest;
  for (std::u16string_view prefix : {u"\\DosDevices\\", u"\\??\\"}) {
    if (StartsWithNoCase(ntPath, prefix)) rest = ntPath.substr(prefix.size());
  }
  if (rest.empty()) return STATUS_OBJECT_PATH_NOT_FOUND;
  if (!StartsWithNoCase(rest, u"C:\\")) return STATUS_OBJECT_PATH_NOT_FOUND;  // no other drives
  rest.remove_prefix(3);
  std::filesystem::path path;
  {
    std::lock_guard<std::mutex> guard(Settings().lock);
    path = Settings().root;
  }
  while (true) {
    size_t end = rest.find(u'\\');
    std::u16string_view component = rest.substr(0, end);
    bool last = end == std::u16string_view::npos;
    if (component.empty() || component == u"." || component == u".." ||
        component.find(u'/') != std::u16string_view::npos ||
        component.find(u'\0') != std::u16string_view::npos) {
      return STATUS_OBJECT_NAME_INVALID;
    }
    std::string name = host::Utf8FromUtf16(component);
    std::filesystem::path exact = path / name;
    std::error_code error;
    if (!std::filesystem::exists(exact, error)) {
      // The target's names are case-insensitive: look for the entry under another spelling.
      bool found = false;
      std::filesystem::directory_iterator entry(path, error);
      for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        std::u16string candidate = host::Utf16FromUtf8(entry->path().filename().string());
        if (candidate.size() == component.size() && StartsWithNoCase(candidate, component)) {
          exact = entry->path();
          found = true;
          break;
        }
      }
      if (!found) return last ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND;
    }
    path = exact;
    if (last) break;
    if (!std::filesystem::is_directory(path, error)) return STATUS_OBJECT_PATH_NOT_FOUND;
    rest = rest.substr(end + 1);
  }
  *hostPath = path;
  return STATUS_SUCCESS;
}

}  // namespace

namespace host {

void SetFileRoot(const std::filesystem::path& root) {
  std::lock_guard<std::mutex> guard(Settings().lock);
  Settings().root = root;
}

std::filesystem::path FileRoot() {
  std::lock_guard<std::mutex> guard(Settings().lock);
  return Settings().root;
}

void AnswerReadsPending(int count) { g_pendingReads = count; }

size_t OpenFileHandleCount() { return internal::OpenHandleCount(HandleKind::File); }

}  // namespace host

extern "C" {

NTSTATUS NTAPI ZwCreateFile(PHANDLE fileHandle, ACCESS_MASK, POBJECT_ATTRIBUTES objectAttributes,
                            PIO_STATUS_BLOCK ioStatusBlock, PLARGE_INTEGER, ULONG, ULONG,
                            ULONG createDisposition, ULONG createOptions, PVOID, ULONG) {
  host::internal::RequirePassiveLevel("ZwCreateFile");
  if (fileHandle == nullptr || ioStatusBlock == nullptr || objectAttributes == nullptr ||
      objectAttributes->ObjectName == nullptr || objectAttributes->RootDirectory != nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  if (createDisposition != FILE_OPEN || (createOptions & FILE_DIRECTORY_FILE) != 0) {
    return STATUS_NOT_SUPPORTED;  // the drivers only read existing files
  }
  const UNICODE_STRING* name = objectAttributes->ObjectName;
  if (name->Buffer == nullptr || (name->Length & 1) != 0) return STATUS_OBJECT_NAME_INVALID;
  std::filesystem::path hostPath;
  NTSTATUS status =
      HostPathOf(std::u16string_view(name->Buffer, name->Length / sizeof(WCHAR)), &hostPath);
  if (NT_SUCCESS(status)) {
    std::error_code error;
    if (std::filesystem::is_directory(hostPath, error)) status = STATUS_FILE_IS_A_DIRECTORY;
  }
  int fd = -1;
  if (NT_SUCCESS(status)) {
    fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) status = STATUS_ACCESS_DENIED;
  }
  ioStatusBlock->Status = status;
  ioStatusBlock->Information = 0;
  if (!NT_SUCCESS(status)) return status;
  *fileHandle = host::internal::InsertHandle(HandleKind::File, std::make_shared<OpenFile>(fd));
  ioStatusBlock->Information = FILE_OPENED;
  return STATUS_SUCCESS;
}

NTSTATUS NTAPI ZwReadFile(HANDLE fileHandle, HANDLE, PIO_APC_ROUTINE, PVOID,
                          PIO_STATUS_BLOCK ioStatusBlock, PVOID buffer, ULONG length,
                          PLARGE_INTEGER byteOffset, PULONG) {
  host::internal::RequirePassiveLevel("ZwReadFile");
  auto file = host::internal::ReferenceHandleAs<OpenFile>(fileHandle, HandleKind::File);
  if (!file) return STATUS_INVALID_HANDLE;
  if (ioStatusBlock == nullptr || (buffer == nullptr && length != 0)) {
    return STATUS_INVALID_PARAMETER;
  }
  if (byteOffset != nullptr && byteOffset->QuadPart < 0) return STATUS_INVALID_PARAMETER;
  ioStatusBlock->Information = 0;
  int pending = g_pendingReads.load();
  while (pending > 0 && !g_pendingReads.compare_exchange_weak(pending, pending - 1)) {
  }
  if (pending > 0) {
    ioStatusBlock->Status = STATUS_PENDING;
    return STATUS_PENDING;
  }
  std::lock_guard<std::mutex> guard(file->lock);
  LONGLONG offset = byteOffset != nullptr ? byteOffset->QuadPart : file->position;
  ssize_t count = pread(file->fd, buffer, length, static_cast<off_t>(offset));
  NTSTATUS status = STATUS_SUCCESS;
  if (count < 0) {
    status = STATUS_IO_DEVICE_ERROR;
    count = 0;
  } else if (count == 0 && length != 0) {
    status = STATUS_END_OF_FILE;
  }
  file->position = offset + count;
  ioStatusBlock->Status = status;
  ioStatusBlock->Information = static_cast<ULONG_PTR>(count);
  return status;
}

}  // extern "C"
