// CPUID, with an override so that tests can take the plain (non-SIMD) routines.
#include <atomic>
#include <cpuid.h>

#include "hal.h"
#include "host_control.h"

namespace {
// 0: as the host has it; 1: MMX reported absent; 2: reported present.
std::atomic<int> g_mmxOverride{0};
}  // namespace

extern "C" VOID NTAPI QueryCpuid(ULONG leaf, ULONG registers[4]) {
  unsigned int a = 0, b = 0, c = 0, d = 0;
  __cpuid_count(leaf, 0, a, b, c, d);  // sub-leaf 0 for the leaves that have sub-leaves (7)
  if (leaf == 1) {
    if (g_mmxOverride == 1) d &= ~CPUID_FEATURE_MMX;
    if (g_mmxOverride == 2) d |= CPUID_FEATURE_MMX;
  }
  registers[0] = a;
  registers[1] = b;
  registers[2] = c;
  registers[3] = d;
}

namespace host {
void SetMmxPresent(bool present) { g_mmxOverride = present ? 2 : 1; }
void ClearCpuidOverride() { g_mmxOverride = 0; }
}  // namespace host
