// Named kernel objects reached through handles: the object attributes that name them, the access
// rights that open them, and the close that every handle of a driver ends with (registry keys and
// files alike).
#pragma once

#include "kernel_types.h"

// ---- Access rights ------------------------------------------------------------------------------
constexpr ACCESS_MASK DELETE = 0x00010000;
constexpr ACCESS_MASK READ_CONTROL = 0x00020000;
constexpr ACCESS_MASK SYNCHRONIZE = 0x00100000;
constexpr ACCESS_MASK STANDARD_RIGHTS_REQUIRED = 0x000F0000;
constexpr ACCESS_MASK STANDARD_RIGHTS_ALL = 0x001F0000;
constexpr ACCESS_MASK GENERIC_READ = 0x80000000;
constexpr ACCESS_MASK GENERIC_WRITE = 0x40000000;
constexpr ACCESS_MASK GENERIC_EXECUTE = 0x20000000;
constexpr ACCESS_MASK GENERIC_ALL = 0x10000000;

// ---- Object attributes --------------------------------------------------------------------------
constexpr ULONG OBJ_INHERIT = 0x00000002;
constexpr ULONG OBJ_CASE_INSENSITIVE = 0x00000040;
constexpr ULONG OBJ_OPENIF = 0x00000080;
constexpr ULONG OBJ_KERNEL_HANDLE = 0x00000200;

// The name of an object to open: absolute ("\Registry\Machine\...", "\??\C:\...") when
// RootDirectory is null, otherwise relative to the object that RootDirectory refers to.
struct OBJECT_ATTRIBUTES {
  ULONG Length;
  HANDLE RootDirectory;
  PUNICODE_STRING ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
};
using POBJECT_ATTRIBUTES = OBJECT_ATTRIBUTES*;
static_assert(sizeof(OBJECT_ATTRIBUTES) == (sizeof(void*) == 4 ? 24 : 48));

inline VOID InitializeObjectAttributes(POBJECT_ATTRIBUTES attributes, PUNICODE_STRING name,
                                       ULONG flags, HANDLE root, PVOID securityDescriptor) {
  attributes->Length = sizeof(OBJECT_ATTRIBUTES);
  attributes->RootDirectory = root;
  attributes->ObjectName = name;
  attributes->Attributes = flags;
  attributes->SecurityDescriptor = securityDescriptor;
  attributes->SecurityQualityOfService = nullptr;
}

// Closes a registry key or file handle. A handle that is not open (never handed out, or closed
// already) gives STATUS_INVALID_HANDLE.
extern "C" NTSTATUS NTAPI ZwClose(HANDLE handle);
