// What the property items are told when something they depend on changes: the format of a stream
// (their ranges may follow the frame size) or the value of another control.
#pragma once

#include "kernel_types.h"

inline constexpr ULONG kChangeNoticeFormat = 1;    // data: the KS_DATARANGE_VIDEO now selected
inline constexpr ULONG kChangeNoticeProperty = 2;  // data: the KSPROPERTY of a set that succeeded

struct ChangeNotice {
  ULONG size;  // sizeof(ChangeNotice) on the target: 12
  ULONG kind;  // kChangeNotice*
  PVOID data;
};
static_assert(sizeof(ChangeNotice) == (sizeof(void*) == 4 ? 12 : 16));
inline constexpr ULONG kChangeNoticeSize = 12;
