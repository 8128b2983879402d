// Setting files: the files listed under "CameraSetting\CamSettingFiles" of the device key, read at
// every detection until a load with "LoadSettingOnce" set deletes the list, and applied to the
// registry by the setting-file parser. Also the camera's file reading (IFileReader).
#pragma once

#include "config/setting_file_parser.h"
#include "kernel_files.h"

namespace settings {

// Every file is read once into a block of this size; a longer file is cut there.
inline constexpr ULONG kMaxSettingFileBytes = 0x40000;

// Opens directory\name (the name alone, a full NT path, without a directory) for reading.
NTSTATUS OpenFile(PCWSTR directory, ACCESS_MASK access, ULONG shareAccess, ULONG createOptions,
                  PCWSTR fileName, PHANDLE handle);
// Reads up to length bytes; a read that answers STATUS_PENDING is tried again after 20 ms, up to
// five times in all.
NTSTATUS ReadFile(HANDLE handle, PVOID buffer, ULONG length, PULONG bytesRead,
                  PLARGE_INTEGER byteOffset);

// Applies the listed files. A file that cannot be opened is named in "OpenFileFail" of the device
// key and skipped; one that cannot be read is skipped.
NTSTATUS LoadSettingFiles(ICamera* camera, IBufferPool* pool, StringTable* table);

}  // namespace settings
