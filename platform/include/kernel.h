// The kernel routines a driver of this project may call: pool, IRQL, interlocked operations,
// dispatcher objects (events, semaphores, timers), waits and delays, deferred procedure calls and
// work items. Declared with the platform's names; the host implementation is in platform/host.
#pragma once

#include <cstring>

#include "kernel_types.h"

// ---- IRQL ---------------------------------------------------------------------------------------
constexpr KIRQL PASSIVE_LEVEL = 0;
constexpr KIRQL APC_LEVEL = 1;
constexpr KIRQL DISPATCH_LEVEL = 2;

extern "C" {
KIRQL NTAPI KeGetCurrentIrql();
VOID NTAPI KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql);
VOID NTAPI KeLowerIrql(KIRQL newIrql);
}

// ---- Pool ---------------------------------------------------------------------------------------
enum POOL_TYPE : int {
  NonPagedPool = 0,
  PagedPool = 1,
  NonPagedPoolMustSucceed = 2,
  NonPagedPoolCacheAligned = 4,
  PagedPoolCacheAligned = 5,
};

extern "C" {
PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE poolType, SIZE_T numberOfBytes, ULONG tag);
VOID NTAPI ExFreePool(PVOID block);
VOID NTAPI ExFreePoolWithTag(PVOID block, ULONG tag);
}

inline VOID RtlZeroMemory(PVOID destination, SIZE_T length) { memset(destination, 0, length); }
inline VOID RtlCopyMemory(PVOID destination, const void* source, SIZE_T length) {
  memcpy(destination, source, length);
}
inline VOID RtlMoveMemory(PVOID destination, const void* source, SIZE_T length) {
  memmove(destination, source, length);
}
inline VOID RtlFillMemory(PVOID destination, SIZE_T length, UCHAR fill) {
  memset(destination, fill, length);
}

// ---- Interlocked operations (full barriers, as on the target) -----------------------------------
inline LONG InterlockedIncrement(LONG volatile* addend) {
  return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* addend) {
  return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile* addend, LONG value) {
  return __atomic_fetch_add(addend, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}

// ---- Dispatcher objects -------------------------------------------------------------------------
enum KOBJECTS : UCHAR {
  EventNotificationObject = 0,
  EventSynchronizationObject = 1,
  SemaphoreObject = 5,
  TimerNotificationObject = 8,
  TimerSynchronizationObject = 9,
};

struct DISPATCHER_HEADER {
  UCHAR Type;
  UCHAR Inserted;  // timers: 1 while in the timer queue
  UCHAR Size;
  UCHAR Reserved;
  LONG SignalState;
};

enum EVENT_TYPE { NotificationEvent = 0, SynchronizationEvent = 1 };
enum TIMER_TYPE { NotificationTimer = 0, SynchronizationTimer = 1 };
enum KWAIT_REASON { Executive = 0, UserRequest = 6 };
enum MODE : KPROCESSOR_MODE { KernelMode = 0, UserMode = 1 };

struct KEVENT {
  DISPATCHER_HEADER Header;
};
using PKEVENT = KEVENT*;

struct KSEMAPHORE {
  DISPATCHER_HEADER Header;
  LONG Limit;
};
using PKSEMAPHORE = KSEMAPHORE*;

struct KDPC;
using PKDPC = KDPC*;
using PKDEFERRED_ROUTINE = VOID(NTAPI*)(PKDPC dpc, PVOID deferredContext, PVOID systemArgument1,
                                         PVOID systemArgument2);

struct KDPC {
  UCHAR Type;
  UCHAR Importance;
  UCHAR Inserted;  // 1 while queued
  UCHAR Reserved;
  LIST_ENTRY DpcListEntry;
  PKDEFERRED_ROUTINE DeferredRoutine;
  PVOID DeferredContext;
  PVOID SystemArgument1;
  PVOID SystemArgument2;
};

struct KTIMER {
  DISPATCHER_HEADER Header;
  LARGE_INTEGER DueTime;  // absolute, in 100 ns units of the platform clock
  LIST_ENTRY TimerListEntry;
  PKDPC Dpc;
  LONG Period;            // milliseconds; 0 for a one-shot timer
  ULONG Sequence;         // orders timers that fall due at the same time
};
using PKTIMER = KTIMER*;

extern "C" {
VOID NTAPI KeInitializeEvent(PKEVENT event, EVENT_TYPE type, BOOLEAN state);
LONG NTAPI KeSetEvent(PKEVENT event, LONG increment, BOOLEAN wait);
LONG NTAPI KeResetEvent(PKEVENT event);
VOID NTAPI KeClearEvent(PKEVENT event);
LONG NTAPI KeReadStateEvent(PKEVENT event);

VOID NTAPI KeInitializeSemaphore(PKSEMAPHORE semaphore, LONG count, LONG limit);
LONG NTAPI KeReleaseSemaphore(PKSEMAPHORE semaphore, LONG increment, LONG adjustment,
                              BOOLEAN wait);
LONG NTAPI KeReadStateSemaphore(PKSEMAPHORE semaphore);

// Timeout: null waits for ever; negative is relative, positive absolute, in 100 ns units.
NTSTATUS NTAPI KeWaitForSingleObject(PVOID object, KWAIT_REASON waitReason, KPROCESSOR_MODE waitMode,
                                     BOOLEAN alertable, PLARGE_INTEGER timeout);
NTSTATUS NTAPI KeDelayExecutionThread(KPROCESSOR_MODE waitMode, BOOLEAN alertable,
                                      PLARGE_INTEGER interval);

VOID NTAPI KeInitializeDpc(PKDPC dpc, PKDEFERRED_ROUTINE deferredRoutine, PVOID deferredContext);
BOOLEAN NTAPI KeInsertQueueDpc(PKDPC dpc, PVOID systemArgument1, PVOID systemArgument2);
BOOLEAN NTAPI KeRemoveQueueDpc(PKDPC dpc);

VOID NTAPI KeInitializeTimer(PKTIMER timer);
VOID NTAPI KeInitializeTimerEx(PKTIMER timer, TIMER_TYPE type);
BOOLEAN NTAPI KeSetTimer(PKTIMER timer, LARGE_INTEGER dueTime, PKDPC dpc);
BOOLEAN NTAPI KeSetTimerEx(PKTIMER timer, LARGE_INTEGER dueTime, LONG period, PKDPC dpc);
BOOLEAN NTAPI KeCancelTimer(PKTIMER timer);
BOOLEAN NTAPI KeReadStateTimer(PKTIMER timer);

VOID NTAPI KeQuerySystemTime(PLARGE_INTEGER currentTime);
}

// ---- Work items ---------------------------------------------------------------------------------
enum WORK_QUEUE_TYPE { CriticalWorkQueue = 0, DelayedWorkQueue = 1 };
using PWORKER_THREAD_ROUTINE = VOID(NTAPI*)(PVOID parameter);

struct WORK_QUEUE_ITEM {
  LIST_ENTRY List;
  PWORKER_THREAD_ROUTINE WorkerRoutine;
  PVOID Parameter;
};
using PWORK_QUEUE_ITEM = WORK_QUEUE_ITEM*;

inline VOID ExInitializeWorkItem(PWORK_QUEUE_ITEM item, PWORKER_THREAD_ROUTINE routine,
                                 PVOID parameter) {
  item->List.Flink = nullptr;
  item->WorkerRoutine = routine;
  item->Parameter = parameter;
}

extern "C" VOID NTAPI ExQueueWorkItem(PWORK_QUEUE_ITEM workItem, WORK_QUEUE_TYPE queueType);

// ---- Fatal errors -------------------------------------------------------------------------------
extern "C" [[noreturn]] VOID NTAPI KeBugCheckEx(ULONG bugCheckCode, ULONG_PTR parameter1,
                                                ULONG_PTR parameter2, ULONG_PTR parameter3,
                                                ULONG_PTR parameter4);
