#include "platform/FreedMemory.h"

#include <cstdlib>  // defines __GLIBC__ on the GNU C library

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void SetUpAllocator()
{
#if defined(__GLIBC__)
    // A thread's arena gives the free end of its heap back only when a free there merges into
    // that end and the end is past the trim threshold; malloc_trim does not reach it. The small
    // blocks of a closed archive's records are freed into fast bins, which merge with nothing, and
    // the C library raises the threshold as large blocks come and go (up to 64 MiB): after a large
    // archive tens of MiB its scan's threads held stayed resident. Without fast bins (the
    // per-thread cache still takes small blocks) and with a fixed threshold, each free that
    // reaches the end trims it, leaving at most 4 MiB an arena.
    // A fixed trim threshold also fixes the mmap threshold, at 128 KiB unless set: every larger
    // block (an attachment's bytes, its encoded text) was mapped and unmapped at each use, and
    // saves with attachments took twice as long. Blocks up to 4 MiB come from the heap; larger
    // ones (a large folder's tables) are still mapped, so they leave no holes among small blocks
    // that the end of a large folder could not give back.
    static const bool done = [] {
        mallopt(M_MXFAST, 0);
        mallopt(M_TRIM_THRESHOLD, 4 << 20);
        mallopt(M_MMAP_THRESHOLD, 4 << 20);
        return true;
    }();
    (void)done;
#endif
}

void ReturnFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}
