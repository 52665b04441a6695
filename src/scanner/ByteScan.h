#pragma once
// Byte searches whose hits lie mostly a few bytes on: inline, with no call per search, and
// sixteen bytes at a time where the processor allows. Not for use outside src/scanner/.

#include <cstddef>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace byte_scan {

// The first index in [from, len) of p holding a or b; len when none.
inline size_t FirstOfEither(const char *p, size_t from, size_t len, char a, char b)
{
    size_t i = from;
#ifdef __SSE2__
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    for (; i + 16 <= len; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(chunk, va), _mm_cmpeq_epi8(chunk, vb)));
        if (mask)
            return i + size_t(__builtin_ctz(unsigned(mask)));
    }
#endif
    for (; i < len; ++i) {
        if (p[i] == a || p[i] == b)
            return i;
    }
    return len;
}

}  // namespace byte_scan
