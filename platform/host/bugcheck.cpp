// A bug check stops the system; on the host it stops the process with the code.
#include <cstdio>
#include <cstdlib>

#include "kernel.h"

extern "C" [[noreturn]] VOID NTAPI KeBugCheckEx(ULONG bugCheckCode, ULONG_PTR parameter1,
                                                ULONG_PTR parameter2, ULONG_PTR parameter3,
                                                ULONG_PTR parameter4) {
  fprintf(stderr, "BUG CHECK 0x%08X (0x%zx, 0x%zx, 0x%zx, 0x%zx)\n", bugCheckCode,
          static_cast<size_t>(parameter1), static_cast<size_t>(parameter2),
          static_cast<size_t>(parameter3), static_cast<size_t>(parameter4));
  fflush(stderr);
  abort();
}
