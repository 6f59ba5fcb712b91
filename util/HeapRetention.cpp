#include "util/HeapRetention.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace perchlight {

void retainFreedHeap() {
#if defined(__GLIBC__)
    mallopt(M_TRIM_THRESHOLD, kRetainedHeapBytes);
#endif
}

}  // namespace perchlight
