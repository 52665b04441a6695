#include "platform/FreedMemory.h"

#include <cstdlib>  // defines __GLIBC__ on the GNU C library

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void SetUpAllocator()
{
#if defined(__GLIBC__)
    // The C library raises its trim threshold as large blocks come and go (up to 64 MiB), and a
    // heap's free end below it stays resident: a fixed 4 MiB holds instead. A fixed trim
    // threshold also fixes the mmap threshold, at 128 KiB unless set: every larger block (an
    // attachment's bytes, its encoded text) was mapped and unmapped at each use, and saves with
    // attachments took twice as long. Blocks up to 4 MiB come from the heap; larger ones (a large
    // folder's tables) are still mapped, so they leave no holes among small blocks that the end
    // of a large folder could not give back. The fast bins stay: scans make and free small blocks
    // all the time and were 10 to 15% slower without them.
    static const bool done = [] {
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
