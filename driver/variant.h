// The one place that decides which driver this translation unit is built for. Every driver file
// is compiled twice, once per variant; where ibexcam differs, code asks these constants rather than
// testing the macros itself.
#pragma once

enum class DriverVariant { Lynxcam, Ibexcam };

#if defined(CAM_VARIANT_LYNXCAM) == defined(CAM_VARIANT_IBEXCAM)
#error "build with exactly one of CAM_VARIANT_LYNXCAM and CAM_VARIANT_IBEXCAM"
#endif

#if defined(CAM_VARIANT_IBEXCAM)
inline constexpr DriverVariant kDriverVariant = DriverVariant::Ibexcam;
#else
inline constexpr DriverVariant kDriverVariant = DriverVariant::Lynxcam;
#endif

inline constexpr bool kIsIbexcam = kDriverVariant == DriverVariant::Ibexcam;
inline constexpr bool kIsLynxcam = kDriverVariant == DriverVariant::Lynxcam;
// lynxcam decodes its compressed modes; ibexcam rescales frames from a source size instead.
inline constexpr bool kHasDecoder = kIsLynxcam;
inline constexpr bool kHasSourceScaling = kIsIbexcam;
inline constexpr const char* kDriverName = kIsIbexcam ? "ibexcam" : "lynxcam";
