// Deferred procedure calls run one at a time on a host thread at DISPATCH_LEVEL; work items run on
// a worker thread at PASSIVE_LEVEL. Queueing an item that is already queued is refused (DPCs) or a
// verifier failure (work items), as on the target.
#include <deque>
#include <thread>

#include "host_control.h"
#include "kernel.h"
#include "scheduler.h"

namespace {

struct DeferredQueues {
  std::mutex lock;
  std::condition_variable work;  // something was queued
  std::condition_variable idle;  // something finished
  std::deque<KDPC*> dpcs;
  std::deque<WORK_QUEUE_ITEM*> items;
  bool dpcRunning = false;
  bool itemRunning = false;
  bool threadsStarted = false;
};

DeferredQueues& Queues() {
  static DeferredQueues* queues = new DeferredQueues;
  return *queues;
}

enum class DeferredThread { None, Dpc, Worker };
thread_local DeferredThread t_thread = DeferredThread::None;

void DpcThread() {
  t_thread = DeferredThread::Dpc;
  KIRQL previous;
  KeRaiseIrql(DISPATCH_LEVEL, &previous);
  DeferredQueues& queues = Queues();
  std::unique_lock<std::mutex> guard(queues.lock);
  for (;;) {
    queues.work.wait(guard, [&] { return !queues.dpcs.empty(); });
    KDPC* dpc = queues.dpcs.front();
    queues.dpcs.pop_front();
    dpc->Inserted = 0;
    queues.dpcRunning = true;
    PKDEFERRED_ROUTINE routine = dpc->DeferredRoutine;
    PVOID context = dpc->DeferredContext;
    PVOID argument1 = dpc->SystemArgument1;
    PVOID argument2 = dpc->SystemArgument2;
    guard.unlock();
    routine(dpc, context, argument1, argument2);
    if (KeGetCurrentIrql() != DISPATCH_LEVEL) {
      host::VerifierFailure("DPC routine %p returned at IRQL %u", reinterpret_cast<void*>(routine),
                            KeGetCurrentIrql());
    }
    guard.lock();
    queues.dpcRunning = false;
    queues.idle.notify_all();
  }
}

void WorkerThread() {
  t_thread = DeferredThread::Worker;
  DeferredQueues& queues = Queues();
  std::unique_lock<std::mutex> guard(queues.lock);
  for (;;) {
    queues.work.wait(guard, [&] { return !queues.items.empty(); });
    WORK_QUEUE_ITEM* item = queues.items.front();
    queues.items.pop_front();
    item->List.Flink = nullptr;
    queues.itemRunning = true;
    PWORKER_THREAD_ROUTINE routine = item->WorkerRoutine;
    PVOID parameter = item->Parameter;
    guard.unlock();
    routine(parameter);
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
      host::VerifierFailure("work item %p returned at IRQL %u", reinterpret_cast<void*>(routine),
                            KeGetCurrentIrql());
    }
    guard.lock();
    queues.itemRunning = false;
    queues.idle.notify_all();
  }
}

void EnsureThreadsLocked(DeferredQueues& queues) {
  if (queues.threadsStarted) return;
  queues.threadsStarted = true;
  std::thread(DpcThread).detach();
  std::thread(WorkerThread).detach();
}

// Marks a queued work item; the list link is otherwise unused by the host.
LIST_ENTRY g_queuedMark;

}  // namespace

extern "C" VOID NTAPI KeInitializeDpc(PKDPC dpc, PKDEFERRED_ROUTINE deferredRoutine,
                                      PVOID deferredContext) {
  memset(dpc, 0, sizeof *dpc);
  dpc->Type = 0x13;
  dpc->DeferredRoutine = deferredRoutine;
  dpc->DeferredContext = deferredContext;
}

extern "C" BOOLEAN NTAPI KeInsertQueueDpc(PKDPC dpc, PVOID systemArgument1, PVOID systemArgument2) {
  DeferredQueues& queues = Queues();
  std::lock_guard<std::mutex> guard(queues.lock);
  if (dpc->Inserted) return FALSE;
  dpc->Inserted = 1;
  dpc->SystemArgument1 = systemArgument1;
  dpc->SystemArgument2 = systemArgument2;
  queues.dpcs.push_back(dpc);
  EnsureThreadsLocked(queues);
  queues.work.notify_all();
  return TRUE;
}

extern "C" BOOLEAN NTAPI KeRemoveQueueDpc(PKDPC dpc) {
  DeferredQueues& queues = Queues();
  std::lock_guard<std::mutex> guard(queues.lock);
  for (auto it = queues.dpcs.begin(); it != queues.dpcs.end(); ++it) {
    if (*it == dpc) {
      queues.dpcs.erase(it);
      dpc->Inserted = 0;
      return TRUE;
    }
  }
  return FALSE;
}

extern "C" VOID NTAPI ExQueueWorkItem(PWORK_QUEUE_ITEM workItem, WORK_QUEUE_TYPE) {
  if (KeGetCurrentIrql() > DISPATCH_LEVEL) {
    host::VerifierFailure("ExQueueWorkItem at IRQL %u", KeGetCurrentIrql());
  }
  DeferredQueues& queues = Queues();
  std::lock_guard<std::mutex> guard(queues.lock);
  if (workItem->List.Flink == &g_queuedMark) {
    host::VerifierFailure("work item %p queued while already queued", static_cast<void*>(workItem));
    return;
  }
  workItem->List.Flink = &g_queuedMark;
  queues.items.push_back(workItem);
  EnsureThreadsLocked(queues);
  queues.work.notify_all();
}

namespace host {

void DrainDeferredWork() {
  if (t_thread == DeferredThread::Dpc) return;
  DeferredQueues& queues = Queues();
  std::unique_lock<std::mutex> guard(queues.lock);
  bool onWorker = t_thread == DeferredThread::Worker;
  queues.idle.wait(guard, [&] {
    bool dpcsIdle = queues.dpcs.empty() && !queues.dpcRunning;
    return onWorker ? dpcsIdle : dpcsIdle && queues.items.empty() && !queues.itemRunning;
  });
}

namespace internal {

void DrainDpcs() {
  if (t_thread == DeferredThread::Dpc) return;
  DeferredQueues& queues = Queues();
  std::unique_lock<std::mutex> guard(queues.lock);
  queues.idle.wait(guard, [&] { return queues.dpcs.empty() && !queues.dpcRunning; });
}

bool OnDeferredThread() { return t_thread != DeferredThread::None; }

void CheckNoQueuedObjectsIn(const void* begin, size_t size) {
  CheckNoQueuedTimersIn(begin, size);
  DeferredQueues& queues = Queues();
  std::lock_guard<std::mutex> guard(queues.lock);
  auto start = reinterpret_cast<uintptr_t>(begin);
  auto inside = [&](const void* object) {
    auto address = reinterpret_cast<uintptr_t>(object);
    return address >= start && address < start + size;
  };
  for (KDPC* dpc : queues.dpcs) {
    if (inside(dpc)) VerifierFailure("freeing pool at %p that holds a queued DPC", begin);
  }
  for (WORK_QUEUE_ITEM* item : queues.items) {
    if (inside(item)) VerifierFailure("freeing pool at %p that holds a queued work item", begin);
  }
}

}  // namespace internal
}  // namespace host
