// Controls of the host implementation of the platform, for the programs that embed it (tests, the
// camlab tool): the driver verifier, pool accounting and fault injection, the clock, and deferred
// work. Drivers never include this header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel_types.h"

namespace host {

// ---- Verifier -----------------------------------------------------------------------------------
// A verifier failure is a rule of the platform that a driver broke (a wait at DISPATCH_LEVEL, a
// double free, a request completed twice). By default it prints the message and aborts the process;
// a capture collects the messages instead so that a test can assert on them.
void VerifierFailure(const char* format, ...) __attribute__((format(printf, 1, 2)));

class ScopedVerifierCapture {
 public:
  ScopedVerifierCapture();
  ~ScopedVerifierCapture();
  ScopedVerifierCapture(const ScopedVerifierCapture&) = delete;
  ScopedVerifierCapture& operator=(const ScopedVerifierCapture&) = delete;
  std::vector<std::string> Messages() const;
};

// ---- Pool ---------------------------------------------------------------------------------------
struct PoolUsage {
  ULONG tag;
  size_t size;   // bytes of each block
  size_t count;  // blocks of this tag and size still allocated
};
// What is still allocated, grouped by tag and size, sorted by tag then size.
std::vector<PoolUsage> PoolReport();
size_t PoolOutstandingBlocks();
// "VMRI" for the tag whose bytes in memory read I, R, M, V: the tag as a pool dump shows it.
std::string FormatTag(ULONG tag);
std::string FormatPoolReport(const std::vector<PoolUsage>& report);
// A tag from the four characters as they stand in memory.
constexpr ULONG TagFromMemoryOrder(const char (&text)[5]) {
  return static_cast<ULONG>(static_cast<uint8_t>(text[0])) |
         static_cast<ULONG>(static_cast<uint8_t>(text[1])) << 8 |
         static_cast<ULONG>(static_cast<uint8_t>(text[2])) << 16 |
         static_cast<ULONG>(static_cast<uint8_t>(text[3])) << 24;
}

// Allocations counted since the process started (failed ones included).
uint64_t AllocationCount();
// The nth allocation from now (1 = the next one) fails; once.
void FailAllocationNumber(uint64_t n);
// Every allocation with this tag fails until the faults are cleared.
void FailAllocationsWithTag(ULONG tag);
void ClearAllocationFaults();

// ---- IRQL ---------------------------------------------------------------------------------------
// Raises the calling thread to the given IRQL for the scope (tests acting as the platform would).
class ScopedIrql {
 public:
  explicit ScopedIrql(KIRQL irql);
  ~ScopedIrql();
  ScopedIrql(const ScopedIrql&) = delete;
  ScopedIrql& operator=(const ScopedIrql&) = delete;

 private:
  KIRQL previous_;
};

// ---- Clock --------------------------------------------------------------------------------------
// Virtual time advances only when a thread delays, waits with a timeout that nothing satisfies
// sooner, or a test advances it; timers fire in due-time order, each DPC run before the next timer
// fires. Real time follows the host's monotonic clock.
enum class ClockMode { Virtual, Real };
void SetClockMode(ClockMode mode);
ClockMode GetClockMode();
// The platform clock in 100 ns units since the clock was set.
LONGLONG Now100ns();
// Virtual mode: moves time on by delta (100 ns units), firing every timer that falls due.
void AdvanceVirtualTime(LONGLONG delta100ns);
// The processor clock that the time-stamp counter runs at in virtual mode.
void SetProcessorClockMhz(ULONG mhz);
ULONG ProcessorClockMhz();
constexpr LONGLONG kPerformanceFrequency = 3579545;  // the ACPI timer's rate

// ---- Deferred work ------------------------------------------------------------------------------
// Waits until no DPC and no work item is queued or running.
void DrainDeferredWork();
// How many timers are queued (tests check that a driver cancelled its timers).
size_t QueuedTimerCount();

// ---- Processor ----------------------------------------------------------------------------------
// Makes CPUID report the MMX bit as given (to force the plain routines), or as the host has it.
void SetMmxPresent(bool present);
void ClearCpuidOverride();

}  // namespace host
