#include "core/timing.h"

#include "hal.h"

ULONG MeasureCpuSpeed() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER start = KeQueryPerformanceCounter(&frequency);
  const ULONGLONG wanted = static_cast<ULONGLONG>(frequency.QuadPart) / 10;  // counts in 100 ms
  const ULONGLONG startCycles = ReadTimeStampCounter();
  ULONGLONG elapsed = 0;
  do {
    elapsed = static_cast<ULONGLONG>(KeQueryPerformanceCounter(nullptr).QuadPart - start.QuadPart);
  } while (elapsed < wanted);
  const ULONGLONG cycles = ReadTimeStampCounter() - startCycles;
  return static_cast<ULONG>((cycles * wanted / elapsed + 50000) / 100000);
}

ULONGLONG QueryTime100ns() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter = KeQueryPerformanceCounter(&frequency);
  const ULONGLONG f = static_cast<ULONGLONG>(frequency.QuadPart);
  const ULONGLONG high = static_cast<ULONG>(counter.u.HighPart);
  const ULONGLONG low = counter.u.LowPart;
  return ((high << 32) / f) * 10000000ull + (low * 10000000ull) / f;
}
