// The platform clock: virtual (deterministic; only delays, timed waits and tests move it) or real
// (the host's monotonic clock). The performance counter, the system time and the time-stamp counter
// all follow it.
#include <atomic>
#include <chrono>
#include <thread>

#include "hal.h"
#include "host_control.h"
#include "kernel.h"
#include "scheduler.h"

namespace {

// System time at "boot", in 100 ns units since 1601 (an afternoon in 2026).
constexpr LONGLONG kBootSystemTime = 134100000000000000LL;

std::atomic<host::ClockMode> g_mode{host::ClockMode::Virtual};
std::atomic<LONGLONG> g_virtualNow{0};
std::atomic<ULONG> g_processorMhz{1000};
const auto g_realEpoch = std::chrono::steady_clock::now();

LONGLONG RealNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              g_realEpoch)
             .count() /
         100;
}

}  // namespace

namespace host {

void SetClockMode(ClockMode mode) { g_mode = mode; }
ClockMode GetClockMode() { return g_mode; }

LONGLONG Now100ns() { return g_mode == ClockMode::Virtual ? g_virtualNow.load() : RealNow(); }

void AdvanceVirtualTime(LONGLONG delta100ns) {
  internal::AdvanceVirtualTo(g_virtualNow.load() + delta100ns);
}

void SetProcessorClockMhz(ULONG mhz) { g_processorMhz = mhz; }
ULONG ProcessorClockMhz() { return g_processorMhz; }

namespace internal {
void SetVirtualNow(LONGLONG value) {
  LONGLONG current = g_virtualNow.load();
  while (value > current && !g_virtualNow.compare_exchange_weak(current, value)) {
  }
}
}  // namespace internal

}  // namespace host

extern "C" LARGE_INTEGER NTAPI KeQueryPerformanceCounter(PLARGE_INTEGER performanceFrequency) {
  if (performanceFrequency != nullptr) performanceFrequency->QuadPart = host::kPerformanceFrequency;
  if (g_mode == host::ClockMode::Virtual) {
    // Reading the counter takes a moment, so that a driver busy-waiting on it makes progress.
    host::internal::SetVirtualNow(g_virtualNow.load() + 10);
  }
  LONGLONG now = host::Now100ns();
  LARGE_INTEGER counter;
  // now * f / 10^7 without overflow for any realistic uptime.
  counter.QuadPart = (now / 10000000) * host::kPerformanceFrequency +
                     (now % 10000000) * host::kPerformanceFrequency / 10000000;
  return counter;
}

extern "C" ULONGLONG NTAPI ReadTimeStampCounter() {
  if (g_mode == host::ClockMode::Real) return __builtin_ia32_rdtsc();
  // Virtual mode: the configured processor clock, in cycles (100 ns = mhz / 10 cycles).
  LONGLONG now = g_virtualNow.load();
  return static_cast<ULONGLONG>(now) * g_processorMhz.load() / 10;
}

extern "C" VOID NTAPI KeQuerySystemTime(PLARGE_INTEGER currentTime) {
  currentTime->QuadPart = kBootSystemTime + host::Now100ns();
}

namespace host::internal {
LONGLONG AbsoluteFromSystemTime(LONGLONG systemTime) { return systemTime - kBootSystemTime; }
}  // namespace host::internal

extern "C" NTSTATUS NTAPI KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval) {
  if (KeGetCurrentIrql() >= DISPATCH_LEVEL) {
    host::VerifierFailure("KeDelayExecutionThread at IRQL %u", KeGetCurrentIrql());
    return STATUS_INVALID_PARAMETER;
  }
  LONGLONG target = interval->QuadPart < 0
                        ? host::Now100ns() - interval->QuadPart
                        : host::internal::AbsoluteFromSystemTime(interval->QuadPart);
  if (g_mode == host::ClockMode::Virtual) {
    host::internal::AdvanceVirtualTo(target);
  } else {
    LONGLONG remaining = target - RealNow();
    if (remaining > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(remaining * 100));
  }
  return STATUS_SUCCESS;
}
