// The kernel stand-in's behaviour that drivers rely on: deterministic virtual time, timers and DPCs
// in due-time order, the IRQL rules caught by the verifier, pool accounting and fault injection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hal.h"
#include "host_control.h"
#include "kernel.h"

namespace {

struct FiredTimer {
  int id;
  LONGLONG at;
  KIRQL irql;
  bool operator==(const FiredTimer&) const = default;
};

struct TimerProbe {
  KTIMER timer;
  KDPC dpc;
  int id;
  std::vector<FiredTimer>* log;
};

VOID NTAPI RecordFiring(PKDPC, PVOID context, PVOID, PVOID) {
  auto* probe = static_cast<TimerProbe*>(context);
  probe->log->push_back({probe->id, host::Now100ns(), KeGetCurrentIrql()});
}

// Sets three one-shot timers and a periodic one, advances 1 s of virtual time, and returns the
// firings relative to the start.
std::vector<FiredTimer> RunTimerScenario() {
  std::vector<FiredTimer> log;
  TimerProbe probes[4];
  const LONGLONG dues[] = {-3000000, -1000000, -1000000, -2500000};  // 300, 100, 100, 250 ms
  for (int i = 0; i < 4; ++i) {
    probes[i].id = i;
    probes[i].log = &log;
    KeInitializeTimerEx(&probes[i].timer, NotificationTimer);
    KeInitializeDpc(&probes[i].dpc, RecordFiring, &probes[i]);
  }
  LONGLONG start = host::Now100ns();
  for (int i = 0; i < 3; ++i) {
    LARGE_INTEGER due{};
    due.QuadPart = dues[i];
    KeSetTimer(&probes[i].timer, due, &probes[i].dpc);
  }
  LARGE_INTEGER periodicDue{};
  periodicDue.QuadPart = dues[3];
  KeSetTimerEx(&probes[3].timer, periodicDue, 250, &probes[3].dpc);
  host::AdvanceVirtualTime(10000000);
  KeCancelTimer(&probes[3].timer);
  for (FiredTimer& fired : log) fired.at -= start;
  return log;
}

TEST(VirtualClock, TimersAndDpcsFireInDueOrderAtTheSameTimesOnEveryRun) {
  const std::vector<FiredTimer> expected = {
      {1, 1000000, DISPATCH_LEVEL}, {2, 1000000, DISPATCH_LEVEL}, {3, 2500000, DISPATCH_LEVEL},
      {0, 3000000, DISPATCH_LEVEL}, {3, 5000000, DISPATCH_LEVEL}, {3, 7500000, DISPATCH_LEVEL},
      {3, 10000000, DISPATCH_LEVEL}};
  for (int run = 0; run < 3; ++run) EXPECT_EQ(RunTimerScenario(), expected) << "run " << run;
  EXPECT_EQ(host::QueuedTimerCount(), 0u);
}

struct EventSetter {
  KTIMER timer;
  KDPC dpc;
  KEVENT event;
};

VOID NTAPI SetEventFromDpc(PKDPC, PVOID context, PVOID, PVOID) {
  KeSetEvent(&static_cast<EventSetter*>(context)->event, 0, FALSE);
}

TEST(VirtualClock, TimedWaitIsSatisfiedByATimerBeforeItsDeadlineAndTimesOutOtherwise) {
  EventSetter setter;
  KeInitializeEvent(&setter.event, SynchronizationEvent, FALSE);
  KeInitializeTimerEx(&setter.timer, NotificationTimer);
  KeInitializeDpc(&setter.dpc, SetEventFromDpc, &setter);
  LARGE_INTEGER due{};
  due.QuadPart = -400000;  // 40 ms
  KeSetTimer(&setter.timer, due, &setter.dpc);

  LONGLONG start = host::Now100ns();
  LARGE_INTEGER timeout{};
  timeout.QuadPart = -1000000;  // 100 ms
  EXPECT_EQ(KeWaitForSingleObject(&setter.event, Executive, KernelMode, FALSE, &timeout),
            STATUS_SUCCESS);
  EXPECT_EQ(host::Now100ns() - start, 400000);
  // A synchronization event was consumed by the wait: the next one times out at its deadline.
  EXPECT_EQ(KeWaitForSingleObject(&setter.event, Executive, KernelMode, FALSE, &timeout),
            STATUS_TIMEOUT);
  EXPECT_EQ(host::Now100ns() - start, 1400000);
}

TEST(Verifier, WaitsAndDelaysAtDispatchLevelAreCaught) {
  KSEMAPHORE semaphore;
  KeInitializeSemaphore(&semaphore, 0, 1);
  LARGE_INTEGER timeout{};
  timeout.QuadPart = -10000;
  host::ScopedVerifierCapture capture;
  {
    host::ScopedIrql dispatch(DISPATCH_LEVEL);
    EXPECT_EQ(KeWaitForSingleObject(&semaphore, Executive, KernelMode, FALSE, &timeout),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(KeDelayExecutionThread(KernelMode, FALSE, &timeout), STATUS_INVALID_PARAMETER);
    // A poll is allowed at DISPATCH_LEVEL.
    LARGE_INTEGER poll{};
    EXPECT_EQ(KeWaitForSingleObject(&semaphore, Executive, KernelMode, FALSE, &poll), STATUS_TIMEOUT);
  }
  std::vector<std::string> messages = capture.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_NE(messages[0].find("KeWaitForSingleObject"), std::string::npos);
  EXPECT_NE(messages[1].find("KeDelayExecutionThread"), std::string::npos);
}

TEST(Verifier, SemaphorePastItsLimitAndDoubleFreeAreCaught) {
  KSEMAPHORE semaphore;
  KeInitializeSemaphore(&semaphore, 1, 1);
  void* block = ExAllocatePoolWithTag(NonPagedPool, 8, host::TagFromMemoryOrder("Test"));
  host::ScopedVerifierCapture capture;
  KeReleaseSemaphore(&semaphore, 0, 1, FALSE);
  ExFreePool(block);
  ExFreePool(block);
  EXPECT_EQ(capture.Messages().size(), 2u);
}

TEST(Pool, ReportGroupsOutstandingBlocksByTagAndSize) {
  constexpr ULONG tag = host::TagFromMemoryOrder("Leak");
  void* a = ExAllocatePoolWithTag(NonPagedPool, 24, tag);
  void* b = ExAllocatePoolWithTag(NonPagedPool, 24, tag);
  bool seen = false;
  for (const host::PoolUsage& usage : host::PoolReport()) {
    if (usage.tag == tag) {
      EXPECT_EQ(usage.size, 24u);
      EXPECT_EQ(usage.count, 2u);
      seen = true;
    }
  }
  EXPECT_TRUE(seen);
  EXPECT_EQ(host::FormatTag(tag), "Leak");
  ExFreePool(a);
  ExFreePool(b);
}

TEST(Pool, FaultInjectionFailsTheNthAllocationOrATag) {
  host::FailAllocationNumber(2);
  void* first = ExAllocatePoolWithTag(NonPagedPool, 8, 'A');
  void* second = ExAllocatePoolWithTag(NonPagedPool, 8, 'A');
  void* third = ExAllocatePoolWithTag(NonPagedPool, 8, 'A');
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  host::FailAllocationsWithTag('B');
  EXPECT_EQ(ExAllocatePoolWithTag(NonPagedPool, 8, 'B'), nullptr);
  void* otherTag = ExAllocatePoolWithTag(NonPagedPool, 8, 'A');
  EXPECT_NE(otherTag, nullptr);
  host::ClearAllocationFaults();
  void* afterClear = ExAllocatePoolWithTag(NonPagedPool, 8, 'B');
  EXPECT_NE(afterClear, nullptr);
  for (void* block : {first, third, otherTag, afterClear}) ExFreePool(block);
}

TEST(Processor, TimeStampCounterRunsAtTheConfiguredClockInVirtualTime) {
  host::SetProcessorClockMhz(733);
  ULONGLONG before = ReadTimeStampCounter();
  host::AdvanceVirtualTime(10000000);  // 1 s
  EXPECT_EQ(ReadTimeStampCounter() - before, 733000000u);
  host::SetProcessorClockMhz(1000);
  ULONG registers[4];
  host::SetMmxPresent(false);
  QueryCpuid(1, registers);
  EXPECT_EQ(registers[3] & CPUID_FEATURE_MMX, 0u);
  host::ClearCpuidOverride();
}

}  // namespace
