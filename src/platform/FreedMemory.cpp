#include "platform/FreedMemory.h"

#include <cstdlib>  // defines __GLIBC__ on the GNU C library

#if defined(__GLIBC__)
#include <malloc.h>

namespace {

// A thread's arena gives the free end of its heap back only when a free there merges into that
// end and the end is past the trim threshold; malloc_trim does not reach it. The small blocks
// of a closed archive's records are freed into fast bins, which merge with nothing, and the C
// library raises the threshold as large blocks come and go (up to 64 MiB): after a large archive
// tens of MiB its scan's threads held stayed resident. Without fast bins (the per-thread cache
// still takes small blocks) and with a fixed threshold, each free that reaches the end trims it.
const bool kFreedMemoryReturns = [] {
    mallopt(M_MXFAST, 0);
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
    return true;
}();

}  // namespace
#endif

void ReturnFreedMemory()
{
#if defined(__GLIBC__)
    (void)kFreedMemoryReturns;
    malloc_trim(0);
#endif
}
