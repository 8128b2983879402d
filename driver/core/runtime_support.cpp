// The language runtime support a freestanding driver has to supply itself.
#include "kernel.h"

// Called through a pure virtual slot: a driver bug, fatal as on the target.
extern "C" void __cxa_pure_virtual() { KeBugCheckEx(0x20, 0, 0, 0, 0); }
