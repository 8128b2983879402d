#include "stream/format_mode.h"

#include <cstring>

#include "camera/camera.h"
#include "core/held_interface.h"

const UCHAR kBuiltInYQuantTable[kQuantTableBytes] = {
    0, 1, 1, 2, 2, 3, 3, 4,  //
    1, 1, 1, 2, 2, 3, 4, 4,  //
    1, 1, 2, 2, 3, 4, 4, 4,  //
    2, 2, 2, 3, 4, 4, 4, 4,  //
    2, 2, 3, 4, 4, 5, 5, 5,  //
    3, 3, 4, 4, 5, 5, 5, 5,  //
    3, 4, 4, 4, 5, 5, 5, 5,  //
    4, 4, 4, 4, 5, 5, 5, 5,  //
};
const UCHAR kBuiltInUvQuantTable[kQuantTableBytes] = {
    0, 2, 2, 3, 4, 4, 4, 4,  //
    2, 2, 2, 4, 4, 4, 4, 4,  //
    2, 2, 3, 4, 4, 4, 4, 4,  //
    3, 4, 4, 4, 4, 4, 4, 4,  //
    4, 4, 4, 4, 4, 4, 4, 4,  //
    4, 4, 4, 4, 4, 4, 4, 4,  //
    4, 4, 4, 4, 4, 4, 4, 4,  //
    4, 4, 4, 4, 4, 4, 4, 4,  //
};

namespace {

constexpr UCHAR kDefaultAlternateSetting = 7;
constexpr ULONG kDefaultBitCount = 8;
constexpr ULONG kFallbackQualityLevel = 2;

}  // namespace

FormatMode::FormatMode(PCWSTR path, ICaptureControl* ownerControl, IVideoFormat* ownerFormat)
    : UnknownPart<FormatMode>(nullptr),
      owner(ownerControl),
      format(ownerFormat),
      applied(0),
      alternateSetting(kDefaultAlternateSetting),
      usbSettings{},
      cameraSettings{},
      keyPath{},
      frameRate(0),
      qualityLevel(0),
      rawFrameLength(0),
      cameraDataType(0),
      yTable(nullptr),
      uvTable(nullptr),
      commandBlock(nullptr),
      ownYTable(0),
      ownUvTable(0),
      rawDataFlags(0),
      minCpuSpeed(0),
      bitCount(0),
      bufferPool(BufferPoolOf(ownerControl)) {
  CopyStreamPath(keyPath, path);
  Load();
  LoadQuantTables();
}

FormatMode::~FormatMode() {
  if (bufferPool == nullptr) return;
  FreeStreamList(bufferPool, &usbSettings);
  FreeStreamList(bufferPool, &cameraSettings);
  if (yTable != nullptr) bufferPool->Free(yTable);
  if (uvTable != nullptr) bufferPool->Free(uvTable);
  if (commandBlock != nullptr) bufferPool->Free(commandBlock);
}

NTSTATUS FormatMode::QueryClassInterface(REFGUID iid, void** result) {
  if (IsEqualGuid(iid, IID_IFormatMode)) return AnswerInterface<IFormatMode>(this, result);
  return UnknownBase::QueryInterface(iid, result);
}

NTSTATUS FormatMode::ClearApplied() {
  applied = 0;
  return STATUS_SUCCESS;
}
UCHAR FormatMode::IsApplied() { return applied; }
ULONG FormatMode::GetFrameRate() { return frameRate; }
ULONG FormatMode::GetBitCount() { return bitCount; }
UCHAR FormatMode::GetAlternateSetting() { return alternateSetting; }
ULONG FormatMode::GetQualityLevel() { return qualityLevel; }
ULONG FormatMode::GetCameraDataType() { return cameraDataType; }
UCHAR FormatMode::GetRawDataFlags() { return rawDataFlags; }

BOOLEAN FormatMode::GetQuantTables(UCHAR* yDestination, UCHAR* uvDestination) {
  if (yTable == nullptr || uvTable == nullptr) return FALSE;
  memcpy(yDestination, yTable, kQuantTableBytes);
  memcpy(uvDestination, uvTable, kQuantTableBytes);
  return TRUE;
}

ULONG FormatMode::GetRawFrameLength() {
  if (rawFrameLength == 0) {
    HeldInterface<ICameraInfo> info(owner, IID_ICameraInfo);
    if (info) {
      ULONG width = 0;
      ULONG height = 0;
      info->GetSensorSize(&width, &height);
      rawFrameLength = width * height * 2;
    }
  }
  return rawFrameLength;
}

NTSTATUS FormatMode::Load() {
  bitCount = kDefaultBitCount;
  qualityLevel = kFallbackQualityLevel;
  {
    HeldInterface<ICameraInfo> info(owner, IID_ICameraInfo);
    if (info) qualityLevel = info->GetDefaultQualityLevel();
  }
  if (bufferPool == nullptr) return STATUS_INVALID_PARAMETER;
  CameraKey key(owner, keyPath);
  if (!key.IsOpen()) return key.status();

  ULONG value = 0;
  if (key.ReadNumber(u"RawData", &value)) rawDataFlags = static_cast<UCHAR>(value);
  if (rawDataFlags != 0) {
    value = 0;
    if (key.ReadNumber(u"OneLine", &value) && value == 1) rawDataFlags |= kRawDataOneLine;
    value = 0;
    if (key.ReadNumber(u"DownSample", &value) && value == 1) rawDataFlags |= kRawDataDownSample;
  }
  key.ReadNumber(u"FrameRate", &frameRate);
  key.ReadNumber(u"MinCpuSpeed", &minCpuSpeed);
  key.ReadNumber(u"BitCount", &bitCount);
  value = alternateSetting;
  if (key.ReadNumber(u"AlternateSetting", &value)) alternateSetting = static_cast<UCHAR>(value);
  key.ReadNumber(u"CameraDataType", &cameraDataType);
  key.ReadNumber(u"QualityLevel", &qualityLevel);
  key.ReadNumber(u"RawFrameLength", &rawFrameLength);
  key.ReadList(bufferPool, u"UsbSetting", &usbSettings);
  key.ReadList(bufferPool, u"CameraSetting", &cameraSettings);

  // The command block keeps its total length, these 4 bytes included, before the script.
  auto* script =
      static_cast<UCHAR*>(bufferPool->Allocate(NonPagedPool, kMaxListBytes, kBufferScratch));
  if (script == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  ULONG length = 0;
  if (NT_SUCCESS(key.ReadBytes(u"UsbCBR", script, kMaxListBytes, &length)) && length != 0) {
    commandBlock = static_cast<ULONG*>(
        bufferPool->Allocate(NonPagedPool, length + sizeof(ULONG), kBufferPersistent));
    if (commandBlock != nullptr) {
      commandBlock[0] = length + sizeof(ULONG);
      memcpy(commandBlock + 1, script, length);
    }
  }
  bufferPool->Free(script);
  return STATUS_SUCCESS;
}

void FormatMode::CopyTable(UCHAR** table, const UCHAR* source) {
  if (*table == nullptr) {
    *table = static_cast<UCHAR*>(
        bufferPool->Allocate(NonPagedPool, kQuantTableBytes, kBufferPersistent));
  }
  if (*table != nullptr) memcpy(*table, source, kQuantTableBytes);
}

NTSTATUS FormatMode::LoadQuantTables() {
  if (bufferPool == nullptr) return STATUS_INVALID_PARAMETER;
  UCHAR defaultY[kQuantTableBytes];
  UCHAR defaultUv[kQuantTableBytes];
  memcpy(defaultY, kBuiltInYQuantTable, kQuantTableBytes);
  memcpy(defaultUv, kBuiltInUvQuantTable, kQuantTableBytes);
  {
    HeldInterface<ICameraInfo> info(owner, IID_ICameraInfo);
    if (info) info->GetDefaultQuantTables(defaultY, defaultUv);
  }
  // A table of the mode key counts only with exactly 64 bytes.
  CameraKey key(owner, keyPath);
  UCHAR table[kQuantTableBytes];
  ULONG length = 0;
  ownYTable = NT_SUCCESS(key.ReadBytes(u"YQuanTable", table, sizeof table, &length)) &&
              length == kQuantTableBytes;
  CopyTable(&yTable, ownYTable != 0 ? table : defaultY);
  if (yTable == nullptr) ownYTable = 0;
  ownUvTable = NT_SUCCESS(key.ReadBytes(u"UVQuanTable", table, sizeof table, &length)) &&
               length == kQuantTableBytes;
  CopyTable(&uvTable, ownUvTable != 0 ? table : defaultUv);
  if (uvTable == nullptr) ownUvTable = 0;
  return STATUS_SUCCESS;
}

NTSTATUS FormatMode::Apply() {
  if (applied != 0) return STATUS_SUCCESS;
  RunStreamList(owner, usbSettings, TRUE);
  RunStreamList(owner, cameraSettings, FALSE);
  // Only tables of the mode's own are written: the camera's defaults are already in force.
  if (yTable != nullptr && uvTable != nullptr && (ownYTable != 0 || ownUvTable != 0)) {
    HeldInterface<IRegisterAccess> access(owner, IID_IRegisterAccess);
    for (USHORT i = 0; access && i < kQuantTableBytes / 2; ++i) {
      if (ownYTable != 0) {
        access->WriteBridge(kYQuantRegisters + i, PackQuantPair(yTable[2 * i], yTable[2 * i + 1]));
      }
      if (ownUvTable != 0) {
        access->WriteBridge(kUvQuantRegisters + i,
                            PackQuantPair(uvTable[2 * i], uvTable[2 * i + 1]));
      }
    }
  }
  if (commandBlock != nullptr) RunStreamCommandBlock(owner, commandBlock);
  const NTSTATUS status = TellLowLightFrameRate(owner, frameRate);
  if (!NT_SUCCESS(status)) return status;
  applied = 1;
  return status;
}

BOOLEAN FormatMode::IsSupported() {
  ULONG cpuSpeed = 0;
  {
    HeldInterface<ICameraInfo> info(owner, IID_ICameraInfo);
    DeviceContext* context = info ? info->GetUsbcamdContext() : nullptr;
    if (context != nullptr) cpuSpeed = context->cpuSpeed;
  }
  // Recorded in the mode key, so that an installer can see what the gate compared.
  CameraKey key(owner, keyPath);
  key.WriteNumber(u"CpuSpeed", cpuSpeed);
  return cpuSpeed >= minCpuSpeed;
}
