// Kernel timers. In virtual mode they fire only as virtual time is advanced, strictly in due-time
// order (ties in the order they were set), each timer's DPC completing before the next fires. In
// real mode a host thread fires them as the monotonic clock reaches their due time.
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "host_control.h"
#include "kernel.h"
#include "scheduler.h"

namespace {

struct TimerQueue {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<KTIMER*> timers;
  ULONG nextSequence = 1;
  bool realThreadStarted = false;
};

TimerQueue& Queue() {
  static TimerQueue* queue = new TimerQueue;
  return *queue;
}

// Earliest first; the caller holds the queue lock.
std::vector<KTIMER*>::iterator EarliestLocked(TimerQueue& queue) {
  return std::min_element(queue.timers.begin(), queue.timers.end(), [](KTIMER* a, KTIMER* b) {
    return a->DueTime.QuadPart != b->DueTime.QuadPart ? a->DueTime.QuadPart < b->DueTime.QuadPart
                                                      : a->Sequence < b->Sequence;
  });
}

// Takes the timer out of the queue (re-inserting a periodic one) and returns its DPC.
KDPC* ExpireLocked(TimerQueue& queue, std::vector<KTIMER*>::iterator position) {
  KTIMER* timer = *position;
  queue.timers.erase(position);
  timer->Header.Inserted = 0;
  if (timer->Period > 0) {
    timer->DueTime.QuadPart += static_cast<LONGLONG>(timer->Period) * 10000;
    timer->Sequence = queue.nextSequence++;
    timer->Header.Inserted = 1;
    queue.timers.push_back(timer);
  }
  {
    std::lock_guard<std::mutex> guard(host::internal::DispatcherLock());
    host::internal::SignalTimerLocked(timer);
  }
  return timer->Dpc;
}

void QueueDpcOf(KDPC* dpc, const KTIMER* timer) {
  if (dpc == nullptr) return;
  LARGE_INTEGER due = timer->DueTime;
  KeInsertQueueDpc(dpc, reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(due.u.LowPart)),
                   reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(static_cast<ULONG>(due.u.HighPart))));
}

void RealTimerThread() {
  TimerQueue& queue = Queue();
  std::unique_lock<std::mutex> guard(queue.lock);
  for (;;) {
    if (host::GetClockMode() != host::ClockMode::Real || queue.timers.empty()) {
      queue.changed.wait_for(guard, std::chrono::milliseconds(50));
      continue;
    }
    auto earliest = EarliestLocked(queue);
    LONGLONG wait = (*earliest)->DueTime.QuadPart - host::Now100ns();
    if (wait > 0) {
      queue.changed.wait_for(guard, std::chrono::nanoseconds(wait * 100));
      continue;
    }
    KTIMER* timer = *earliest;
    KDPC* dpc = ExpireLocked(queue, earliest);
    guard.unlock();
    QueueDpcOf(dpc, timer);
    guard.lock();
  }
}

void EnsureRealThreadLocked(TimerQueue& queue) {
  if (queue.realThreadStarted || host::GetClockMode() != host::ClockMode::Real) return;
  queue.realThreadStarted = true;
  std::thread(RealTimerThread).detach();
}

}  // namespace

extern "C" VOID NTAPI KeInitializeTimerEx(PKTIMER timer, TIMER_TYPE type) {
  memset(timer, 0, sizeof *timer);
  timer->Header.Type = type == NotificationTimer ? TimerNotificationObject : TimerSynchronizationObject;
}

extern "C" VOID NTAPI KeInitializeTimer(PKTIMER timer) { KeInitializeTimerEx(timer, NotificationTimer); }

extern "C" BOOLEAN NTAPI KeSetTimerEx(PKTIMER timer, LARGE_INTEGER dueTime, LONG period, PKDPC dpc) {
  if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
    host::VerifierFailure("KeSetTimerEx at IRQL %u", KeGetCurrentIrql());
  }
  TimerQueue& queue = Queue();
  std::lock_guard<std::mutex> guard(queue.lock);
  auto found = std::find(queue.timers.begin(), queue.timers.end(), timer);
  BOOLEAN wasQueued = found != queue.timers.end();
  if (wasQueued) queue.timers.erase(found);
  LONGLONG absolute = dueTime.QuadPart < 0
                          ? host::Now100ns() - dueTime.QuadPart
                          : host::internal::AbsoluteFromSystemTime(dueTime.QuadPart);
  timer->DueTime.QuadPart = absolute;
  timer->Period = period;
  timer->Dpc = dpc;
  timer->Sequence = queue.nextSequence++;
  timer->Header.Inserted = 1;
  {
    std::lock_guard<std::mutex> dispatcher(host::internal::DispatcherLock());
    timer->Header.SignalState = 0;
  }
  queue.timers.push_back(timer);
  EnsureRealThreadLocked(queue);
  queue.changed.notify_all();
  return wasQueued;
}

extern "C" BOOLEAN NTAPI KeSetTimer(PKTIMER timer, LARGE_INTEGER dueTime, PKDPC dpc) {
  return KeSetTimerEx(timer, dueTime, 0, dpc);
}

extern "C" BOOLEAN NTAPI KeCancelTimer(PKTIMER timer) {
  TimerQueue& queue = Queue();
  std::lock_guard<std::mutex> guard(queue.lock);
  auto found = std::find(queue.timers.begin(), queue.timers.end(), timer);
  if (found == queue.timers.end()) return FALSE;
  queue.timers.erase(found);
  timer->Header.Inserted = 0;
  return TRUE;
}

extern "C" BOOLEAN NTAPI KeReadStateTimer(PKTIMER timer) {
  std::lock_guard<std::mutex> guard(host::internal::DispatcherLock());
  return timer->Header.SignalState > 0;
}

namespace host {

size_t QueuedTimerCount() {
  TimerQueue& queue = Queue();
  std::lock_guard<std::mutex> guard(queue.lock);
  return queue.timers.size();
}

namespace internal {

bool EarliestTimerDue(LONGLONG limit, LONGLONG* due) {
  TimerQueue& queue = Queue();
  std::lock_guard<std::mutex> guard(queue.lock);
  if (queue.timers.empty()) return false;
  LONGLONG earliest = (*EarliestLocked(queue))->DueTime.QuadPart;
  if (earliest > limit) return false;
  *due = earliest;
  return true;
}

void AdvanceVirtualTo(LONGLONG target) {
  TimerQueue& queue = Queue();
  for (;;) {
    KTIMER* timer = nullptr;
    KDPC* dpc = nullptr;
    {
      std::lock_guard<std::mutex> guard(queue.lock);
      if (queue.timers.empty()) break;
      auto earliest = EarliestLocked(queue);
      if ((*earliest)->DueTime.QuadPart > target) break;
      timer = *earliest;
      SetVirtualNow(timer->DueTime.QuadPart);
      dpc = ExpireLocked(queue, earliest);
    }
    QueueDpcOf(dpc, timer);
    if (KeGetCurrentIrql() < DISPATCH_LEVEL) {
      DrainDpcs();
      if (!OnDeferredThread()) DrainDeferredWork();
    }
  }
  SetVirtualNow(target);
}

void CheckNoQueuedTimersIn(const void* begin, size_t size) {
  TimerQueue& queue = Queue();
  std::lock_guard<std::mutex> guard(queue.lock);
  auto start = reinterpret_cast<uintptr_t>(begin);
  for (KTIMER* timer : queue.timers) {
    auto address = reinterpret_cast<uintptr_t>(timer);
    if (address >= start && address < start + size) {
      VerifierFailure("freeing pool at %p that holds a queued timer %p", begin,
                      static_cast<void*>(timer));
    }
  }
}

}  // namespace internal
}  // namespace host
