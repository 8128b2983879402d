// The configuration registry as a driver reaches it: keys opened by name or through Plug and Play,
// values read, written and enumerated through the information classes, keys deleted. Names are
// case-insensitive; subkeys enumerate in the order of their upper-cased names, values in the order
// in which they were created. Every routine runs at PASSIVE_LEVEL.
#pragma once

#include "kernel_objects.h"
#include "kernel_types.h"

struct DEVICE_OBJECT;

// Status codes that only the registry routines give.
constexpr NTSTATUS STATUS_KEY_DELETED = static_cast<NTSTATUS>(0xC000017C);
constexpr NTSTATUS STATUS_CANNOT_DELETE = static_cast<NTSTATUS>(0xC0000121);

// ---- Key access rights --------------------------------------------------------------------------
constexpr ACCESS_MASK KEY_QUERY_VALUE = 0x0001;
constexpr ACCESS_MASK KEY_SET_VALUE = 0x0002;
constexpr ACCESS_MASK KEY_CREATE_SUB_KEY = 0x0004;
constexpr ACCESS_MASK KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr ACCESS_MASK KEY_NOTIFY = 0x0010;
constexpr ACCESS_MASK KEY_CREATE_LINK = 0x0020;
constexpr ACCESS_MASK KEY_READ = 0x00020019;
constexpr ACCESS_MASK KEY_WRITE = 0x00020006;
constexpr ACCESS_MASK KEY_ALL_ACCESS = 0x000F003F;

// ---- Value types --------------------------------------------------------------------------------
constexpr ULONG REG_NONE = 0;
constexpr ULONG REG_SZ = 1;
constexpr ULONG REG_EXPAND_SZ = 2;
constexpr ULONG REG_BINARY = 3;
constexpr ULONG REG_DWORD = 4;
constexpr ULONG REG_DWORD_LITTLE_ENDIAN = 4;
constexpr ULONG REG_DWORD_BIG_ENDIAN = 5;
constexpr ULONG REG_LINK = 6;
constexpr ULONG REG_MULTI_SZ = 7;
constexpr ULONG REG_RESOURCE_LIST = 8;
constexpr ULONG REG_FULL_RESOURCE_DESCRIPTOR = 9;
constexpr ULONG REG_RESOURCE_REQUIREMENTS_LIST = 10;
constexpr ULONG REG_QWORD = 11;

// ---- Create options and dispositions ------------------------------------------------------------
constexpr ULONG REG_OPTION_NON_VOLATILE = 0x0;
constexpr ULONG REG_OPTION_VOLATILE = 0x1;
constexpr ULONG REG_CREATED_NEW_KEY = 1;
constexpr ULONG REG_OPENED_EXISTING_KEY = 2;

// ---- Information classes ------------------------------------------------------------------------
// A buffer smaller than the fixed part of an answer gives STATUS_BUFFER_TOO_SMALL and nothing; one
// that holds the fixed part but not the name or data gives STATUS_BUFFER_OVERFLOW with the fixed
// part filled in. Either way the result length is the size of the whole answer.
enum KEY_VALUE_INFORMATION_CLASS {
  KeyValueBasicInformation = 0,
  KeyValueFullInformation = 1,
  KeyValuePartialInformation = 2,
};

enum KEY_INFORMATION_CLASS {
  KeyBasicInformation = 0,
  KeyNodeInformation = 1,
  KeyFullInformation = 2,
};

struct KEY_VALUE_BASIC_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG NameLength;  // bytes, no terminator
  WCHAR Name[1];
};
using PKEY_VALUE_BASIC_INFORMATION = KEY_VALUE_BASIC_INFORMATION*;
static_assert(offsetof(KEY_VALUE_BASIC_INFORMATION, Name) == 12);

// The data follows the name at DataOffset (from the start of the structure), 4-byte aligned.
struct KEY_VALUE_FULL_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG DataOffset;
  ULONG DataLength;
  ULONG NameLength;  // bytes, no terminator
  WCHAR Name[1];
};
using PKEY_VALUE_FULL_INFORMATION = KEY_VALUE_FULL_INFORMATION*;
static_assert(offsetof(KEY_VALUE_FULL_INFORMATION, Name) == 20);

struct KEY_VALUE_PARTIAL_INFORMATION {
  ULONG TitleIndex;
  ULONG Type;
  ULONG DataLength;
  UCHAR Data[1];
};
using PKEY_VALUE_PARTIAL_INFORMATION = KEY_VALUE_PARTIAL_INFORMATION*;
static_assert(offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) == 12);

struct KEY_BASIC_INFORMATION {
  LARGE_INTEGER LastWriteTime;
  ULONG TitleIndex;
  ULONG NameLength;  // bytes, no terminator
  WCHAR Name[1];
};
using PKEY_BASIC_INFORMATION = KEY_BASIC_INFORMATION*;
static_assert(offsetof(KEY_BASIC_INFORMATION, Name) == 16);

// Counts of a key (KeyFullInformation); the class name, never set here, is empty.
struct KEY_FULL_INFORMATION {
  LARGE_INTEGER LastWriteTime;
  ULONG TitleIndex;
  ULONG ClassOffset;
  ULONG ClassLength;
  ULONG SubKeys;
  ULONG MaxNameLen;
  ULONG MaxClassLen;
  ULONG Values;
  ULONG MaxValueNameLen;
  ULONG MaxValueDataLen;
  WCHAR Class[1];
};
using PKEY_FULL_INFORMATION = KEY_FULL_INFORMATION*;
static_assert(offsetof(KEY_FULL_INFORMATION, Class) == 44);

extern "C" {
NTSTATUS NTAPI ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                         POBJECT_ATTRIBUTES objectAttributes);
// Opens the key, or creates it when its parent exists; a missing parent is
// STATUS_OBJECT_NAME_NOT_FOUND. disposition (optional) tells which of the two happened.
NTSTATUS NTAPI ZwCreateKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                           POBJECT_ATTRIBUTES objectAttributes, ULONG titleIndex,
                           PUNICODE_STRING className, ULONG createOptions, PULONG disposition);
// An empty or null value name is the key's default value.
NTSTATUS NTAPI ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                               KEY_VALUE_INFORMATION_CLASS informationClass,
                               PVOID keyValueInformation, ULONG length, PULONG resultLength);
NTSTATUS NTAPI ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, ULONG titleIndex,
                             ULONG type, PVOID data, ULONG dataSize);
NTSTATUS NTAPI ZwDeleteValueKey(HANDLE keyHandle, PUNICODE_STRING valueName);
// Past the last value or subkey: STATUS_NO_MORE_ENTRIES.
NTSTATUS NTAPI ZwEnumerateValueKey(HANDLE keyHandle, ULONG index,
                                   KEY_VALUE_INFORMATION_CLASS informationClass,
                                   PVOID keyValueInformation, ULONG length, PULONG resultLength);
NTSTATUS NTAPI ZwEnumerateKey(HANDLE keyHandle, ULONG index, KEY_INFORMATION_CLASS informationClass,
                              PVOID keyInformation, ULONG length, PULONG resultLength);
NTSTATUS NTAPI ZwQueryKey(HANDLE keyHandle, KEY_INFORMATION_CLASS informationClass,
                          PVOID keyInformation, ULONG length, PULONG resultLength);
// Deletes the key that the handle refers to; a key with subkeys is STATUS_CANNOT_DELETE. Handles
// still open on a deleted key answer STATUS_KEY_DELETED until they are closed.
NTSTATUS NTAPI ZwDeleteKey(HANDLE keyHandle);
}

// ---- Plug and Play keys of a device -------------------------------------------------------------
constexpr ULONG PLUGPLAY_REGKEY_DEVICE = 1;
constexpr ULONG PLUGPLAY_REGKEY_DRIVER = 2;
constexpr ULONG PLUGPLAY_REGKEY_CURRENT_HWPROFILE = 4;

enum DEVICE_REGISTRY_PROPERTY {
  DevicePropertyDeviceDescription = 0,
  DevicePropertyHardwareID = 1,
  DevicePropertyClassName = 5,
  DevicePropertyClassGuid = 6,
  DevicePropertyDriverKeyName = 7,
  DevicePropertyManufacturer = 8,
  DevicePropertyFriendlyName = 9,
};

extern "C" {
// The device's software key ("driver key", PLUGPLAY_REGKEY_DRIVER), which lives at
// "\Registry\Machine\System\CurrentControlSet\Control\Class\" followed by its driver key name.
NTSTATUS NTAPI IoOpenDeviceRegistryKey(DEVICE_OBJECT* deviceObject, ULONG devInstKeyType,
                                       ACCESS_MASK desiredAccess, PHANDLE devInstRegKey);
// DevicePropertyDriverKeyName answers the zero-terminated name ("{class guid}\0000"); a buffer
// too small for it gives STATUS_BUFFER_TOO_SMALL with the needed size in resultLength.
NTSTATUS NTAPI IoGetDeviceProperty(DEVICE_OBJECT* deviceObject,
                                   DEVICE_REGISTRY_PROPERTY deviceProperty, ULONG bufferLength,
                                   PVOID propertyBuffer, PULONG resultLength);
}
