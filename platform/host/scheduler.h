// Internal links between the clock, the timer queue, the dispatcher objects and the deferred-work
// threads of the host implementation.
#pragma once

#include <condition_variable>
#include <mutex>

#include "kernel.h"

namespace host::internal {

// The dispatcher lock guards every dispatcher object's state; waiters sleep on the condition.
std::mutex& DispatcherLock();
std::condition_variable& DispatcherCondition();
// Marks an object signalled (timers); called with the dispatcher lock held.
void SignalTimerLocked(KTIMER* timer);

// Virtual mode: the due time of the earliest queued timer, if it is at or before the limit.
bool EarliestTimerDue(LONGLONG limit, LONGLONG* due);
// Virtual mode: fires every timer due at or before the target, in order, then sets the clock there.
void AdvanceVirtualTo(LONGLONG target);
// Sets the virtual clock (never backwards).
void SetVirtualNow(LONGLONG value);

// Waits until the DPC queue is empty and no DPC runs (no-op on the DPC thread itself).
void DrainDpcs();
bool OnDeferredThread();

// Verifier aid: reports queued timers, DPCs or work items that live inside a block being freed.
void CheckNoQueuedObjectsIn(const void* begin, size_t size);

}  // namespace host::internal

namespace host::internal {
// Converts an absolute system time (positive due times) to the clock's own scale.
LONGLONG AbsoluteFromSystemTime(LONGLONG systemTime);
}  // namespace host::internal

namespace host::internal {
void CheckNoQueuedTimersIn(const void* begin, size_t size);
}  // namespace host::internal
