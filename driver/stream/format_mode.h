// FormatMode: one way of delivering a video format, a subkey of the format key. It names the USB
// alternate setting it needs (and so its bandwidth), its frame rate, the bridge and sensor
// registers and quantisation tables that set the camera up for it, what the image pipeline must
// expect of its raw frames, and the processor speed it needs.
#pragma once

#include "stream/camera_link.h"

class IVideoFormat;

inline constexpr ULONG kQuantTableBytes = 64;
// The tables used when neither the mode nor the camera gives one.
extern const UCHAR kBuiltInYQuantTable[kQuantTableBytes];
extern const UCHAR kBuiltInUvQuantTable[kQuantTableBytes];

// The two quantisation tables are written to bridge registers 0x80 (Y) and 0xA0 (UV) onwards, two
// 4-bit entries per register.
inline constexpr USHORT kYQuantRegisters = 0x80;
inline constexpr USHORT kUvQuantRegisters = 0xA0;

class FormatMode final : public Delegating<IFormatMode, FormatMode>,
                         public UnknownPart<FormatMode> {
 public:
  // Reads the mode key (path relative to the device key) and its tables.
  FormatMode(PCWSTR keyPath, ICaptureControl* owner, IVideoFormat* format);
  ~FormatMode();

  NTSTATUS QueryClassInterface(REFGUID iid, void** result);

  // IFormatMode
  ULONG GetRawFrameLength() override;
  NTSTATUS Apply() override;
  NTSTATUS ClearApplied() override;
  UCHAR IsApplied() override;
  ULONG GetFrameRate() override;
  ULONG GetBitCount() override;
  UCHAR GetAlternateSetting() override;
  ULONG GetQualityLevel() override;
  ULONG GetCameraDataType() override;
  BOOLEAN GetQuantTables(UCHAR* yTable, UCHAR* uvTable) override;
  UCHAR GetRawDataFlags() override;
  BOOLEAN IsSupported() override;
  NTSTATUS Load() override;
  NTSTATUS LoadQuantTables() override;

  // Fields, in order.
  ICaptureControl* owner;  // uncounted
  IVideoFormat* format;
  UCHAR applied;
  UCHAR alternateSetting;             // "AlternateSetting", 7
  StreamRegisterList usbSettings;     // "UsbSetting": bridge registers
  StreamRegisterList cameraSettings;  // "CameraSetting": sensor registers
  WCHAR keyPath[kStreamPathChars];
  ULONG frameRate;          // "FrameRate", 0; thousandths of a frame per second
  ULONG qualityLevel;       // "QualityLevel", the camera's default
  ULONG rawFrameLength;     // "RawFrameLength", 0: sensor width x height x 2
  ULONG cameraDataType;     // "CameraDataType", 0
  UCHAR* yTable;            // 64 bytes, persistent pool
  UCHAR* uvTable;           // 64 bytes, persistent pool
  ULONG* commandBlock;      // "UsbCBR": total length (value length + 4), then the value's bytes
  UCHAR ownYTable;          // 1: the Y table came from the mode key
  UCHAR ownUvTable;         // 1: the UV table came from the mode key
  UCHAR rawDataFlags;       // "RawData", kRawDataOneLine, kRawDataDownSample
  ULONG minCpuSpeed;        // "MinCpuSpeed", 0; MHz
  ULONG bitCount;           // "BitCount", 8; bits per raw sample
  IBufferPool* bufferPool;  // uncounted

 private:
  // Points *table at a persistent copy of source; null when no memory can be had.
  void CopyTable(UCHAR** table, const UCHAR* source);
};

// The byte of a quantisation register: two 4-bit table entries, the first in the low half.
constexpr UCHAR PackQuantPair(UCHAR low, UCHAR high) {
  return static_cast<UCHAR>((low & 0x0F) | (high << 4));
}
