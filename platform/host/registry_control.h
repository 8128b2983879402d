// Controls of the host registry and file system, for the programs that embed the platform (tests,
// the camlab tool) and for the other host stand-ins: the hive's load, save and reset, the devices'
// driver keys, direct access to keys and values by path, and the folder that NT file paths map to.
// Drivers never include this header.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kernel_types.h"

struct DEVICE_OBJECT;

namespace host {

// ---- The hive -----------------------------------------------------------------------------------
// Empties the hive, leaving "\Registry\Machine" and "\Registry\User", forgets every device's driver
// key and makes every open key handle stale.
void ResetRegistry();

// How a saved .reg file is encoded. Registry Editor 5.00 files are UTF-16LE with a byte-order mark;
// UTF-8 is easier to diff. Loading accepts both (and UTF-8 with a byte-order mark).
enum class RegFileEncoding { Utf16Le, Utf8 };

// Applies a .reg file ("Windows Registry Editor Version 5.00") to the hive, as an import does:
// keys are created, values written, "[-key]" deletes a key and its subtree, "name"=- a value. The
// file is checked whole first: on an error nothing is applied and the message names the line
// ("models/a.reg:12: ..."). Returns false with the message in *error.
bool LoadRegistryFile(const std::filesystem::path& file, std::string* error);
// The same from text already in memory (UTF-8); sourceName stands for the file in messages.
bool ImportRegistryText(std::string_view text, std::string_view sourceName, std::string* error);
// Writes the subtree at keyPath ("\Registry\Machine" by default: the whole machine hive) as a .reg
// file, keys in enumeration order, values in creation order. Every value type and byte survives a
// save and load.
bool SaveRegistryFile(const std::filesystem::path& file, std::string* error,
                      RegFileEncoding encoding = RegFileEncoding::Utf16Le,
                      std::u16string_view keyPath = u"\\Registry\\Machine");
std::string ExportRegistryText(std::u16string_view keyPath = u"\\Registry\\Machine");

// ---- Keys and values by absolute path ("\Registry\Machine\...") ---------------------------------
struct RegistryValue {
  std::u16string name;
  ULONG type = 0;
  std::vector<uint8_t> data;
};
bool RegistryKeyExists(std::u16string_view keyPath);
// Creates the key and every missing key above it.
bool CreateRegistryKey(std::u16string_view keyPath);
bool DeleteRegistryTree(std::u16string_view keyPath);
std::optional<RegistryValue> ReadRegistryValue(std::u16string_view keyPath,
                                               std::u16string_view valueName);
// Creates the key path when it is missing.
bool WriteRegistryValue(std::u16string_view keyPath, std::u16string_view valueName, ULONG type,
                        const std::vector<uint8_t>& data);
bool WriteRegistryString(std::u16string_view keyPath, std::u16string_view valueName,
                         std::u16string_view text);
bool WriteRegistryDword(std::u16string_view keyPath, std::u16string_view valueName, ULONG value);
std::vector<std::u16string> RegistrySubkeyNames(std::u16string_view keyPath);
std::vector<RegistryValue> RegistryValues(std::u16string_view keyPath);
// A kernel handle to the key, opened (or created with create set) as ZwOpenKey would; null on
// failure. For stand-ins that hand keys to drivers (device interface keys).
HANDLE OpenRegistryKeyHandle(std::u16string_view keyPath, bool create);
// Registry key handles open now (a test checks that a driver closed what it opened).
size_t OpenRegistryHandleCount();

// ---- Devices ------------------------------------------------------------------------------------
inline constexpr std::u16string_view kDriverKeyRoot =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\";
// Installs the device's driver key: IoGetDeviceProperty answers driverKeyName for it, and
// IoOpenDeviceRegistryKey opens kDriverKeyRoot + driverKeyName, which is created here when missing.
void SetDeviceDriverKeyName(DEVICE_OBJECT* device, std::u16string driverKeyName);
// With refuse set, IoOpenDeviceRegistryKey fails for the device while its driver key name is still
// answered (a device whose Plug and Play key cannot be opened).
void RefuseDeviceRegistryKeyOpen(DEVICE_OBJECT* device, bool refuse);
void ForgetDevice(DEVICE_OBJECT* device);

// ---- Files --------------------------------------------------------------------------------------
// The host folder that drive C: of NT paths stands for ("\DosDevices\C:\vmr\a.txt" is
// root/vmr/a.txt, matched case-insensitively). Other drives do not exist. By default the current
// directory.
void SetFileRoot(const std::filesystem::path& root);
std::filesystem::path FileRoot();
// The next count reads answer STATUS_PENDING without reading (a device that is slow to answer).
void AnswerReadsPending(int count);
// File handles open now.
size_t OpenFileHandleCount();

// ---- Text ---------------------------------------------------------------------------------------
std::u16string Utf16FromUtf8(std::string_view text);
std::string Utf8FromUtf16(std::u16string_view text);

}  // namespace host
