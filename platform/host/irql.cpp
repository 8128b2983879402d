// IRQL is tracked per thread; raising below or lowering above the current level is a verifier
// failure, as on the target.
#include "host_control.h"
#include "kernel.h"

namespace {
thread_local KIRQL t_irql = PASSIVE_LEVEL;
}

extern "C" KIRQL NTAPI KeGetCurrentIrql() { return t_irql; }

extern "C" VOID NTAPI KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql) {
  if (newIrql < t_irql) {
    host::VerifierFailure("KeRaiseIrql to %u below the current IRQL %u", newIrql, t_irql);
  }
  *oldIrql = t_irql;
  t_irql = newIrql;
}

extern "C" VOID NTAPI KeLowerIrql(KIRQL newIrql) {
  if (newIrql > t_irql) {
    host::VerifierFailure("KeLowerIrql to %u above the current IRQL %u", newIrql, t_irql);
  }
  t_irql = newIrql;
}

namespace host {
ScopedIrql::ScopedIrql(KIRQL irql) { KeRaiseIrql(irql, &previous_); }
ScopedIrql::~ScopedIrql() { KeLowerIrql(previous_); }
}  // namespace host
