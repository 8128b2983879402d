// The low-light control: watches the brightness of the video frames and, when the picture stays
// dark with the exposure at its limit, clocks the camera down with register lists of the model's
// "CamAdjust" key, and back up when it brightens. The image processor feeds it one call per raw
// frame; the format modes tell it the frame rate, which sets how many frames make up its window.
//
// One per camera, made while the camera is prepared and aggregated under the device root. In this
// form the control keeps its disabled defaults: the "CamAdjust" settings and lists that enable it,
// and the brightness and chroma steps that act on them, are not read yet.
#pragma once

#include "core/buffer_pool.h"
#include "core/component.h"
#include "kernel.h"

class ICaptureControl;

class ILowLightControl : public IUnknown {
 public:
  // The frame rate of the mode now in force, in thousandths of a frame per second: sizes the
  // brightness window and starts it empty.
  virtual NTSTATUS SetFrameRate(ULONG frameRate) = 0;
  // A raw frame begins.
  virtual NTSTATUS BeginFrame() = 0;
  // The frame of width x height at bits per pixel in data (length bytes) is complete.
  virtual NTSTATUS AnalyseFrame(ULONG width, ULONG height, ULONG bits, const UCHAR* data,
                                ULONG length) = 0;

 protected:
  ~ILowLightControl() = default;
};

// Brightness values the window can hold; a longer window is cut to this.
inline constexpr ULONG kLowLightRingSize = 250;
// Frames between two chroma checks after a rate change or a correction.
inline constexpr ULONG kUvCheckInterval = 4;

class LowLightControl final : public Delegating<ILowLightControl, LowLightControl>,
                              public UnknownPart<LowLightControl> {
 public:
  // path: the "CamAdjust" key below the device key; owner: the camera, uncounted.
  LowLightControl(PCWSTR path, ICaptureControl* owner, IUnknown* outerUnknown);
  ~LowLightControl() = default;

  NTSTATUS QueryClassInterface(REFGUID iid, void** result);

  // ILowLightControl
  NTSTATUS SetFrameRate(ULONG frameRate) override;
  NTSTATUS BeginFrame() override;
  NTSTATUS AnalyseFrame(ULONG width, ULONG height, ULONG bits, const UCHAR* data,
                        ULONG length) override;

  ICaptureControl* owner;  // no reference
  IBufferPool* pool;       // no reference
  WCHAR path[260];
  UCHAR lowLightEnabled = 0;
  UCHAR uvAdjustEnabled = 0;
  ULONG checkTime = 30;
  ULONG clockUpThreshold = 100;
  ULONG clockDownThreshold = 75;
  UCHAR lightnessRegister = 0;
  UCHAR exposureRegister = 0x10;
  UCHAR exposureLimit = 0x7F;
  ULONG windowFrames = 30;
  ULONG upLimit = 100 * 30;
  ULONG downLimit = 75 * 30;
  ULONG ring[kLowLightRingSize] = {};
  ULONG oldest = 0;
  ULONG newest = 0;
  ULONG count = 0;
  ULONG sum = 0;
  UCHAR clockedDown = 0;
  UCHAR newFrame = 0;
  ULONG uvCountdown = 0;
};
