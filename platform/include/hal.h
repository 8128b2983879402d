// Hardware abstraction layer and processor services: the performance counter, the time-stamp
// counter and the CPUID feature bits.
#pragma once

#include "kernel_types.h"

extern "C" {
// Returns the counter; stores its frequency in counts per second when the pointer is not null.
LARGE_INTEGER NTAPI KeQueryPerformanceCounter(PLARGE_INTEGER performanceFrequency);
}

// The processor's time-stamp counter (the RDTSC instruction on the target).
extern "C" ULONGLONG NTAPI ReadTimeStampCounter();

// The CPUID instruction: registers EAX, EBX, ECX, EDX of the given leaf.
extern "C" VOID NTAPI QueryCpuid(ULONG leaf, ULONG registers[4]);

// Leaf 1, EDX.
constexpr ULONG CPUID_FEATURE_MMX = 1u << 23;
constexpr ULONG CPUID_FEATURE_SSE2 = 1u << 26;
