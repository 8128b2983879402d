// Dispatcher objects (events, semaphores, timers) and waits on them. A wait with a timeout at
// DISPATCH_LEVEL (other than a poll) and any wait above it are verifier failures.
#include <chrono>

#include "host_control.h"
#include "kernel.h"
#include "scheduler.h"

namespace host::internal {

std::mutex& DispatcherLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::condition_variable& DispatcherCondition() {
  static std::condition_variable* condition = new std::condition_variable;
  return *condition;
}

void SignalTimerLocked(KTIMER* timer) {
  timer->Header.SignalState = 1;
  DispatcherCondition().notify_all();
}

}  // namespace host::internal

namespace {

using host::internal::DispatcherCondition;
using host::internal::DispatcherLock;

// Consumes the object's signal where its type says so; true when the wait is satisfied.
bool TrySatisfyLocked(DISPATCHER_HEADER* header) {
  if (header->SignalState <= 0) return false;
  switch (header->Type) {
    case EventSynchronizationObject:
    case TimerSynchronizationObject:
      header->SignalState = 0;
      break;
    case SemaphoreObject:
      --header->SignalState;
      break;
    default:
      break;
  }
  return true;
}

}  // namespace

extern "C" VOID NTAPI KeInitializeEvent(PKEVENT event, EVENT_TYPE type, BOOLEAN state) {
  memset(event, 0, sizeof *event);
  event->Header.Type = type == NotificationEvent ? EventNotificationObject : EventSynchronizationObject;
  event->Header.SignalState = state ? 1 : 0;
}

extern "C" LONG NTAPI KeSetEvent(PKEVENT event, LONG, BOOLEAN) {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  LONG previous = event->Header.SignalState;
  event->Header.SignalState = 1;
  DispatcherCondition().notify_all();
  return previous;
}

extern "C" LONG NTAPI KeResetEvent(PKEVENT event) {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  LONG previous = event->Header.SignalState;
  event->Header.SignalState = 0;
  return previous;
}

extern "C" VOID NTAPI KeClearEvent(PKEVENT event) { KeResetEvent(event); }

extern "C" LONG NTAPI KeReadStateEvent(PKEVENT event) {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  return event->Header.SignalState;
}

extern "C" VOID NTAPI KeInitializeSemaphore(PKSEMAPHORE semaphore, LONG count, LONG limit) {
  memset(semaphore, 0, sizeof *semaphore);
  semaphore->Header.Type = SemaphoreObject;
  semaphore->Header.SignalState = count;
  semaphore->Limit = limit;
}

extern "C" LONG NTAPI KeReleaseSemaphore(PKSEMAPHORE semaphore, LONG, LONG adjustment, BOOLEAN) {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  LONG previous = semaphore->Header.SignalState;
  if (adjustment <= 0 || previous + adjustment > semaphore->Limit) {
    host::VerifierFailure("KeReleaseSemaphore(%p) by %d past its limit %d (count %d)",
                          static_cast<void*>(semaphore), adjustment, semaphore->Limit, previous);
    return previous;
  }
  semaphore->Header.SignalState = previous + adjustment;
  DispatcherCondition().notify_all();
  return previous;
}

extern "C" LONG NTAPI KeReadStateSemaphore(PKSEMAPHORE semaphore) {
  std::lock_guard<std::mutex> guard(DispatcherLock());
  return semaphore->Header.SignalState;
}

extern "C" NTSTATUS NTAPI KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                                                PLARGE_INTEGER timeout) {
  auto* header = static_cast<DISPATCHER_HEADER*>(object);
  KIRQL irql = KeGetCurrentIrql();
  bool poll = timeout != nullptr && timeout->QuadPart == 0;
  if (irql > DISPATCH_LEVEL || (irql == DISPATCH_LEVEL && !poll)) {
    host::VerifierFailure("KeWaitForSingleObject(%p) %s at IRQL %u", object,
                          timeout == nullptr ? "without timeout" : "with a timeout", irql);
    return STATUS_INVALID_PARAMETER;
  }
  if (timeout == nullptr) {
    std::unique_lock<std::mutex> guard(DispatcherLock());
    DispatcherCondition().wait(guard, [&] { return TrySatisfyLocked(header); });
    return STATUS_SUCCESS;
  }
  LONGLONG deadline = timeout->QuadPart < 0
                          ? host::Now100ns() - timeout->QuadPart
                          : host::internal::AbsoluteFromSystemTime(timeout->QuadPart);
  if (host::GetClockMode() == host::ClockMode::Real) {
    std::unique_lock<std::mutex> guard(DispatcherLock());
    LONGLONG remaining = deadline - host::Now100ns();
    bool satisfied = DispatcherCondition().wait_for(
        guard, std::chrono::nanoseconds(remaining > 0 ? remaining * 100 : 0),
        [&] { return TrySatisfyLocked(header); });
    return satisfied ? STATUS_SUCCESS : STATUS_TIMEOUT;
  }
  // Virtual mode: only timers can signal the object before the deadline in virtual time. Fire them
  // one by one; if none does, the wait times out at the deadline.
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(DispatcherLock());
      if (TrySatisfyLocked(header)) return STATUS_SUCCESS;
    }
    if (poll) return STATUS_TIMEOUT;
    LONGLONG due = 0;
    if (!host::internal::EarliestTimerDue(deadline, &due)) break;
    host::internal::AdvanceVirtualTo(due);
  }
  host::internal::AdvanceVirtualTo(deadline);
  std::lock_guard<std::mutex> guard(DispatcherLock());
  return TrySatisfyLocked(header) ? STATUS_SUCCESS : STATUS_TIMEOUT;
}
