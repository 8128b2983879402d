#include "stream/camera_link.h"

#include "camera/camera.h"
#include "config/command_block.h"
#include "core/held_interface.h"
#include "core/image_processor_interface.h"
#include "image/low_light_control.h"
#include "props/change_notice.h"
#include "props/property_set_list.h"

namespace {

ULONG TextLength(PCWSTR text) {
  ULONG length = 0;
  while (text[length] != 0) ++length;
  return length;
}

// Bytes of a value name with its terminator, as the registry operations take it.

// Bytes of a value name with its terminator, as the registry operations take it.
ULONG NameBytes(PCWSTR name) { return (TextLength(name) + 1) * sizeof(WCHAR); }

}  // namespace

BOOLEAN ComposeStreamPath(PWSTR destination, PCWSTR prefix, PCWSTR name) {
  destination[0] = 0;
  if (prefix == nullptr || name == nullptr) return FALSE;
  const ULONG prefixLength = TextLength(prefix);
  const ULONG nameLength = TextLength(name);
  if (prefixLength + 1 + nameLength + 1 > kStreamPathChars) return FALSE;
  memcpy(destination, prefix, prefixLength * sizeof(WCHAR));
  destination[prefixLength] = u'\\';
  memcpy(destination + prefixLength + 1, name, nameLength * sizeof(WCHAR));
  destination[prefixLength + 1 + nameLength] = 0;
  return TRUE;
}

BOOLEAN CopyStreamPath(PWSTR destination, PCWSTR source) {
  destination[0] = 0;
  if (source == nullptr) return FALSE;
  const ULONG length = TextLength(source);
  if (length + 1 > kStreamPathChars) return FALSE;
  memcpy(destination, source, (length + 1) * sizeof(WCHAR));
  return TRUE;
}

// ---- Registry
// -------------------------------------------------------------------------------------
CameraKey::CameraKey(ICaptureControl* owner, PCWSTR path)
    : owner_(owner), deviceKey_(nullptr), key_(nullptr), status_(STATUS_INVALID_PARAMETER) {
  if (owner_ == nullptr || path == nullptr) return;
  HeldInterface<ICamera> camera(owner_, IID_ICamera);
  if (!camera) {
    status_ = camera.status();
    return;
  }
  status_ = camera->OpenDeviceKey(&deviceKey_);
  if (!NT_SUCCESS(status_)) {
    deviceKey_ = nullptr;
    return;
  }
  status_ = camera->OpenKey(deviceKey_, KEY_ALL_ACCESS, path, &key_);
  if (!NT_SUCCESS(status_)) key_ = nullptr;
}

CameraKey::~CameraKey() {
  if (owner_ == nullptr || deviceKey_ == nullptr) return;
  HeldInterface<ICamera> camera(owner_, IID_ICamera);
  if (!camera) return;
  if (key_ != nullptr) camera->CloseKey(key_);
  camera->CloseKey(deviceKey_);
}

NTSTATUS CameraKey::ReadBytes(PCWSTR name, void* data, ULONG capacity, ULONG* length) {
  if (!IsOpen()) return status_;
  HeldInterface<ICamera> camera(owner_, IID_ICamera);
  if (!camera) return camera.status();
  *length = capacity;
  return camera->QueryValue(key_, name, NameBytes(name), data, length);
}

bool CameraKey::ReadNumber(PCWSTR name, ULONG* value) {
  // Read into a copy, so that a short value cannot leave half of the default behind.
  ULONG read = *value;
  ULONG length = 0;
  if (!NT_SUCCESS(ReadBytes(name, &read, sizeof read, &length))) return false;
  *value = read;
  return true;
}

NTSTATUS CameraKey::ReadList(IBufferPool* pool, PCWSTR name, StreamRegisterList* list) {
  FreeStreamList(pool, list);
  if (!IsOpen()) return status_;
  return registers::ReadRegisterList(pool, key_, name, NameBytes(name), &list->entries,
                                     &list->count);
}

NTSTATUS CameraKey::WriteNumber(PCWSTR name, ULONG value) {
  if (!IsOpen()) return status_;
  HeldInterface<ICamera> camera(owner_, IID_ICamera);
  if (!camera) return camera.status();
  return camera->SetValue(key_, name, REG_DWORD, &value, sizeof value);
}

NTSTATUS CameraKey::EnumerateSubkey(ULONG index, PWSTR name, ULONG nameBytes) {
  if (!IsOpen()) return status_;
  HeldInterface<ICamera> camera(owner_, IID_ICamera);
  if (!camera) return camera.status();
  return camera->EnumerateSubkeyName(key_, index, name, nameBytes);
}

// ---- Registers
// ------------------------------------------------------------------------------------
void FreeStreamList(IBufferPool* pool, StreamRegisterList* list) {
  registers::FreeRegisterList(pool, &list->entries, &list->count);
}

NTSTATUS RunStreamList(ICaptureControl* owner, const StreamRegisterList& list, BOOLEAN toBridge) {
  if (list.count == 0 || list.entries == nullptr) return STATUS_SUCCESS;
  HeldInterface<IRegisterAccess> access(owner, IID_IRegisterAccess);
  if (!access) return access.status();
  return registers::RunRegisterList(access.get(), list.entries, list.count, toBridge);
}

NTSTATUS RunStreamCommandBlock(ICaptureControl* owner, const void* block) {
  HeldInterface<IRegisterAccess> access(owner, IID_IRegisterAccess);
  if (!access) return access.status();
  return access->RunCommandBlock(static_cast<const CommandBlock*>(block));
}

// ---- The camera's other parts -------------------------------------------------------------------
PCWSTR CameraKeyPathOf(ICaptureControl* owner) {
  HeldInterface<ICameraInfo> info(owner, IID_ICameraInfo);
  return info ? info->GetCameraKeyPath() : nullptr;
}

NTSTATUS NotifyFormatChange(ICaptureControl* owner, PKS_DATARANGE_VIDEO range) {
  HeldInterface<IPropertySetList> sets(owner, IID_IPropertySetList);
  if (!sets) return sets.status();
  ChangeNotice notice = {kChangeNoticeSize, kChangeNoticeFormat, range};
  return sets->NotifyChange(&notice);
}

// The query's status is the answer: the control only resets its window.
NTSTATUS TellLowLightFrameRate(ICaptureControl* owner, ULONG frameRate) {
  HeldInterface<ILowLightControl> lowLight(owner, IID_ILowLightControl);
  if (lowLight) lowLight->SetFrameRate(frameRate);
  return lowLight.status();
}

// The processor's format argument is the format object, which it asks for IVideoFormat itself.
NTSTATUS TellImageProcessorOpen(ICaptureControl* owner, IVideoFormat* format, ULONG streamNumber) {
  HeldInterface<IImageProcessor> processor(owner, IID_IImageProcessor);
  if (!processor) return processor.status();
  processor->OpenStream(owner, reinterpret_cast<PKSDATAFORMAT>(format), streamNumber);
  return STATUS_SUCCESS;
}

NTSTATUS TellImageProcessorClose(ICaptureControl* owner, IVideoFormat* format, ULONG streamNumber) {
  HeldInterface<IImageProcessor> processor(owner, IID_IImageProcessor);
  if (!processor) return processor.status();
  processor->CloseStream(owner, reinterpret_cast<PKSDATAFORMAT>(format), streamNumber);
  return STATUS_SUCCESS;
}

IBufferPool* BufferPoolOf(ICaptureControl* owner) {
  HeldInterface<IBufferPool> pool(owner, IID_IBufferPool);
  // The pool lives as long as the device: kept without a reference, like every owner pointer.
  return pool.get();
}
