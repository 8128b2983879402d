// Loading the setting files at detection, and the file routines they and the firmware download use.
#include "config/setting_files.h"

#include <cstring>

#include "camera/camera.h"
#include "config/registry_access.h"
#include "hal.h"
#include "kernel.h"
#include "kernel_strings.h"

namespace settings {
namespace {

constexpr int kReadAttempts = 5;
constexpr LONGLONG kPendingPause100ns = -200000;  // 20 ms
constexpr ULONG kFileAccess = GENERIC_READ | SYNCHRONIZE;

template <size_t N>
constexpr ULONG NameLength(const WCHAR (&)[N]) {
  return static_cast<ULONG>(N * sizeof(WCHAR));
}

constexpr WCHAR kCameraSetting[] = u"CameraSetting";
constexpr WCHAR kFileList[] = u"CameraSetting\\CamSettingFiles";
constexpr WCHAR kFileDir[] = u"FileDir";
constexpr WCHAR kNonMmxFileDir[] = u"NonMMXFileDir";
constexpr WCHAR kLoadSettingOnce[] = u"LoadSettingOnce";
constexpr WCHAR kCpu[] = u"CPU";
constexpr WCHAR kSupportMmx[] = u"SupportMMX";
constexpr WCHAR kNotSupportMmx[] = u"NotSupportMMX";
constexpr WCHAR kOpenFileFail[] = u"OpenFileFail";

bool ProcessorHasMmx() {
  ULONG registers[4] = {};
  QueryCpuid(1, registers);
  return (registers[3] & CPUID_FEATURE_MMX) != 0;
}

// Reads a string value into a path buffer, always terminated; false when absent or empty.
bool ReadPath(ICamera* camera, HANDLE key, const WCHAR* name, ULONG nameLength, PWSTR path) {
  ULONG length = kRegistryPathBytes;
  memset(path, 0, kRegistryPathBytes + sizeof(WCHAR));
  NTSTATUS status = camera->QueryValue(key, name, nameLength, path, &length);
  if (!NT_SUCCESS(status)) memset(path, 0, kRegistryPathBytes);
  return NT_SUCCESS(status) && path[0] != 0;
}

// Reads one listed file into a scratch block and parses it.
void ApplyFile(ICamera* camera, IBufferPool* pool, StringTable* table, HANDLE file) {
  auto* text =
      static_cast<char*>(pool->Allocate(NonPagedPool, kMaxSettingFileBytes, kBufferScratch));
  if (text == nullptr) return;
  LARGE_INTEGER offset;
  offset.QuadPart = 0;
  ULONG bytesRead = 0;
  NTSTATUS status = ReadFile(file, text, kMaxSettingFileBytes, &bytesRead, &offset);
  if (NT_SUCCESS(status) && bytesRead <= kMaxSettingFileBytes) {
    ParseSettingFile(camera, pool, table, text, bytesRead);
  }
  pool->Free(text);
}

}  // namespace

NTSTATUS OpenFile(PCWSTR directory, ACCESS_MASK access, ULONG shareAccess, ULONG createOptions,
                  PCWSTR fileName, PHANDLE handle) {
  if (fileName == nullptr || handle == nullptr) return STATUS_INVALID_PARAMETER;
  WCHAR path[2 * kRegistryPathChars + 2];
  UNICODE_STRING name{0, static_cast<USHORT>(sizeof path - sizeof(WCHAR)), path};
  memset(path, 0, sizeof path);
  NTSTATUS status = STATUS_SUCCESS;
  if (directory != nullptr) {
    status = RtlAppendUnicodeToString(&name, directory);
    if (NT_SUCCESS(status)) status = RtlAppendUnicodeToString(&name, u"\\");
  }
  if (NT_SUCCESS(status)) status = RtlAppendUnicodeToString(&name, fileName);
  if (!NT_SUCCESS(status)) return STATUS_OBJECT_NAME_INVALID;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  IO_STATUS_BLOCK io = {};
  return ZwCreateFile(handle, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, shareAccess,
                      FILE_OPEN, createOptions, nullptr, 0);
}

NTSTATUS ReadFile(HANDLE handle, PVOID buffer, ULONG length, PULONG bytesRead,
                  PLARGE_INTEGER byteOffset) {
  NTSTATUS status = STATUS_PENDING;
  for (int attempt = 0; attempt < kReadAttempts && status == STATUS_PENDING; ++attempt) {
    if (attempt > 0) {
      LARGE_INTEGER pause;
      pause.QuadPart = kPendingPause100ns;
      KeDelayExecutionThread(KernelMode, FALSE, &pause);
    }
    IO_STATUS_BLOCK io = {};
    status =
        ZwReadFile(handle, nullptr, nullptr, nullptr, &io, buffer, length, byteOffset, nullptr);
    if (status != STATUS_PENDING && bytesRead != nullptr) {
      // A count larger than the buffer cannot be: none of it is believed.
      *bytesRead = io.Information <= length ? static_cast<ULONG>(io.Information) : 0;
    }
  }
  return status;
}

NTSTATUS LoadSettingFiles(ICamera* camera, IBufferPool* pool, StringTable* table) {
  HANDLE deviceKey = nullptr;
  NTSTATUS status = camera->OpenDeviceKey(&deviceKey);
  if (!NT_SUCCESS(status)) return status;

  WCHAR directory[kRegistryPathChars + 1];
  bool haveDirectory = false;
  ULONG loadOnce = 1;
  HANDLE settingKey = nullptr;
  if (NT_SUCCESS(camera->OpenKey(deviceKey, KEY_ALL_ACCESS, kCameraSetting, &settingKey))) {
    if (ProcessorHasMmx()) {
      camera->SetValue(settingKey, kCpu, REG_SZ, const_cast<PWSTR>(kSupportMmx),
                       sizeof kSupportMmx);
      haveDirectory = ReadPath(camera, settingKey, kFileDir, NameLength(kFileDir), directory);
    } else {
      camera->SetValue(settingKey, kCpu, REG_SZ, const_cast<PWSTR>(kNotSupportMmx),
                       sizeof kNotSupportMmx);
      haveDirectory =
          ReadPath(camera, settingKey, kNonMmxFileDir, NameLength(kNonMmxFileDir), directory) ||
          ReadPath(camera, settingKey, kFileDir, NameLength(kFileDir), directory);
    }
    ULONG value = loadOnce;
    ULONG length = sizeof value;
    if (NT_SUCCESS(camera->QueryValue(settingKey, kLoadSettingOnce, NameLength(kLoadSettingOnce),
                                      &value, &length))) {
      loadOnce = value & 0xFF;
    }
    camera->CloseKey(settingKey);
  }

  HANDLE listKey = nullptr;
  status = camera->OpenKey(deviceKey, KEY_ALL_ACCESS, kFileList, &listKey);
  if (!NT_SUCCESS(status)) {
    camera->CloseKey(deviceKey);
    return status;
  }
  bool lastFileLoaded = false;
  WCHAR valueName[kRegistryPathChars];
  WCHAR fileName[kRegistryPathChars + 1];
  for (ULONG index = 0;; ++index) {
    status = camera->EnumerateValueName(listKey, index, valueName, sizeof valueName);
    if (status == STATUS_NO_MORE_ENTRIES) break;
    if (!NT_SUCCESS(status)) continue;
    memset(fileName, 0, sizeof fileName);
    ULONG length = kRegistryPathBytes;
    ULONG nameLength = 0;
    while (valueName[nameLength] != 0) ++nameLength;
    status =
        camera->QueryValue(listKey, valueName, (nameLength + 1) * sizeof(WCHAR), fileName, &length);
    if (!NT_SUCCESS(status)) continue;
    HANDLE file = nullptr;
    status = OpenFile(haveDirectory ? directory : nullptr, kFileAccess, FILE_SHARE_READ,
                      FILE_SYNCHRONOUS_IO_NONALERT, fileName, &file);
    if (!NT_SUCCESS(status)) {
      ULONG chars = 0;
      while (fileName[chars] != 0) ++chars;
      status =
          camera->SetValue(deviceKey, kOpenFileFail, REG_SZ, fileName, (chars + 1) * sizeof(WCHAR));
      lastFileLoaded = false;
      continue;
    }
    ApplyFile(camera, pool, table, file);
    status = camera->CloseKey(file);
    lastFileLoaded = true;
  }
  if (status == STATUS_NO_MORE_ENTRIES) status = STATUS_SUCCESS;
  // Once applied, the registry holds the result and the files are not read again.
  if (loadOnce != 0 && lastFileLoaded) status = camera->DeleteKey(listKey);
  camera->CloseKey(listKey);
  camera->CloseKey(deviceKey);
  return status;
}

}  // namespace settings
