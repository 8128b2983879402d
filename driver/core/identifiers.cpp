#include "core/identifiers.h"

#include <cstring>

bool IsEqualGuid(const GUID& first, const GUID& second) {
  ULONG a[4];
  ULONG b[4];
  memcpy(a, &first, sizeof a);
  memcpy(b, &second, sizeof b);
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && a[3] == b[3];
}
