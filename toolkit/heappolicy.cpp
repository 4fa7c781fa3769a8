#include "toolkit/heappolicy.h"

#include <malloc.h>

void KeepMessageBuffers() {
  // Both fixed: the library's own thresholds move with what is freed, and a freed block of
  // just over 128 KiB raises them only so far.
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
  mallopt(M_TRIM_THRESHOLD, 8 << 20);
}
