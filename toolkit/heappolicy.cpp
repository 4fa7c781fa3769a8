#include "toolkit/heappolicy.h"

#include <malloc.h>

void KeepMessageBuffers() {
  // Setting them fixes them: left to itself the library moves them with the blocks it frees,
  // and still gives the top of the heap back after every message.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  mallopt(M_TRIM_THRESHOLD, 8 << 20);
}
