// Processor clock measurement and a 100 ns clock from the performance counter.
#pragma once

#include "kernel_types.h"

// The processor clock in whole MHz (to the nearest), measured against the performance counter over
// 100 ms of busy waiting. Runs once per device, at initialisation.
ULONG MeasureCpuSpeed();
// The performance counter in 100 ns units.
ULONGLONG QueryTime100ns();
