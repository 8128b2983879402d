// Files as a driver reads them: opened by NT path ("\DosDevices\C:\dir\name", "\??\C:\dir\name")
// and read at a byte offset. Every routine runs at PASSIVE_LEVEL.
#pragma once

#include "kernel_io.h"  // IO_STATUS_BLOCK
#include "kernel_objects.h"
#include "kernel_types.h"

constexpr NTSTATUS STATUS_FILE_IS_A_DIRECTORY = static_cast<NTSTATUS>(0xC00000BA);

using PIO_APC_ROUTINE = VOID(NTAPI*)(PVOID apcContext, PIO_STATUS_BLOCK ioStatusBlock,
                                     ULONG reserved);

// File access rights.
constexpr ACCESS_MASK FILE_READ_DATA = 0x0001;
constexpr ACCESS_MASK FILE_READ_ATTRIBUTES = 0x0080;
constexpr ACCESS_MASK FILE_GENERIC_READ = 0x00120089;

// Share access.
constexpr ULONG FILE_SHARE_READ = 0x00000001;
constexpr ULONG FILE_SHARE_WRITE = 0x00000002;
constexpr ULONG FILE_SHARE_DELETE = 0x00000004;

// Create dispositions.
constexpr ULONG FILE_SUPERSEDE = 0;
constexpr ULONG FILE_OPEN = 1;
constexpr ULONG FILE_CREATE = 2;
constexpr ULONG FILE_OPEN_IF = 3;
constexpr ULONG FILE_OVERWRITE = 4;
constexpr ULONG FILE_OVERWRITE_IF = 5;

// Create options.
constexpr ULONG FILE_DIRECTORY_FILE = 0x00000001;
constexpr ULONG FILE_SYNCHRONOUS_IO_ALERT = 0x00000010;
constexpr ULONG FILE_SYNCHRONOUS_IO_NONALERT = 0x00000020;
constexpr ULONG FILE_NON_DIRECTORY_FILE = 0x00000040;

// File attributes.
constexpr ULONG FILE_ATTRIBUTE_READONLY = 0x00000001;
constexpr ULONG FILE_ATTRIBUTE_NORMAL = 0x00000080;

// IO_STATUS_BLOCK.Information of a successful create.
constexpr ULONG_PTR FILE_SUPERSEDED = 0;
constexpr ULONG_PTR FILE_OPENED = 1;
constexpr ULONG_PTR FILE_CREATED = 2;

extern "C" {
// Opens an existing file for reading (FILE_OPEN; other dispositions are STATUS_NOT_SUPPORTED). A
// missing file is STATUS_OBJECT_NAME_NOT_FOUND, a missing directory on the way
// STATUS_OBJECT_PATH_NOT_FOUND, a directory STATUS_FILE_IS_A_DIRECTORY.
NTSTATUS NTAPI ZwCreateFile(PHANDLE fileHandle, ACCESS_MASK desiredAccess,
                            POBJECT_ATTRIBUTES objectAttributes, PIO_STATUS_BLOCK ioStatusBlock,
                            PLARGE_INTEGER allocationSize, ULONG fileAttributes, ULONG shareAccess,
                            ULONG createDisposition, ULONG createOptions, PVOID eaBuffer,
                            ULONG eaLength);
// Reads up to length bytes at byteOffset (null: where the last read ended). Reading at or past the
// end is STATUS_END_OF_FILE with nothing read. The read may also answer STATUS_PENDING, having read
// nothing; a synchronous caller then tries again.
NTSTATUS NTAPI ZwReadFile(HANDLE fileHandle, HANDLE event, PIO_APC_ROUTINE apcRoutine,
                          PVOID apcContext, PIO_STATUS_BLOCK ioStatusBlock, PVOID buffer,
                          ULONG length, PLARGE_INTEGER byteOffset, PULONG key);
}
