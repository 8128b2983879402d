// Interface and class identifiers of the driver's object model. Private interfaces share the tail
// -3DF9-11D3-83FC-0050047A963E and differ in their first word; classes share -3DFA-....
#pragma once

#include "kernel_types.h"

namespace identifiers_detail {
constexpr GUID Private(ULONG first, USHORT second) {
  return GUID{first, second, 0x11D3, {0x83, 0xFC, 0x00, 0x50, 0x04, 0x7A, 0x96, 0x3E}};
}
}  // namespace identifiers_detail

inline constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                                      {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_ICameraDevice = identifiers_detail::Private(0xE00EE560, 0x3DF9);
inline constexpr GUID IID_ICameraInfo = identifiers_detail::Private(0xE00EE561, 0x3DF9);
inline constexpr GUID IID_ICamera = identifiers_detail::Private(0xE00EE562, 0x3DF9);
inline constexpr GUID IID_IRegisterAccess = identifiers_detail::Private(0xE00EE563, 0x3DF9);
inline constexpr GUID IID_ICaptureControl = identifiers_detail::Private(0xE00EE564, 0x3DF9);
inline constexpr GUID IID_IImageProcessor = identifiers_detail::Private(0xE00EE565, 0x3DF9);
inline constexpr GUID IID_ICaptureStream = identifiers_detail::Private(0xE00EE566, 0x3DF9);
inline constexpr GUID IID_IVideoFormat = identifiers_detail::Private(0xE00EE567, 0x3DF9);
inline constexpr GUID IID_IFormatMode = identifiers_detail::Private(0xE00EE568, 0x3DF9);
inline constexpr GUID IID_IPropertySetList = identifiers_detail::Private(0xE00EE569, 0x3DF9);
inline constexpr GUID IID_IPropertySet = identifiers_detail::Private(0xE00EE56A, 0x3DF9);
inline constexpr GUID IID_IPropertyItem = identifiers_detail::Private(0xE00EE56B, 0x3DF9);
inline constexpr GUID IID_IEventNotifier = identifiers_detail::Private(0xE00EE56C, 0x3DF9);
inline constexpr GUID IID_ILowLightControl = identifiers_detail::Private(0xE00EE56D, 0x3DF9);
inline constexpr GUID IID_IBufferPool = identifiers_detail::Private(0xE00EE56E, 0x3DF9);
inline constexpr GUID IID_IFileReader = identifiers_detail::Private(0xE00EE56F, 0x3DF9);

inline constexpr GUID CLSID_Camera = identifiers_detail::Private(0xBFA8B7A1, 0x3DFA);
inline constexpr GUID CLSID_ImageProcessor = identifiers_detail::Private(0xBFA8B7A5, 0x3DFA);
inline constexpr GUID CLSID_BufferPool = identifiers_detail::Private(0xBFA8B7A6, 0x3DFA);

// True when the two identifiers are equal, compared as four 32-bit words.
bool IsEqualGuid(const GUID& first, const GUID& second);
