#pragma once
// Byte searches whose hits lie mostly a few bytes on: inline, with no call per search, and
// sixteen bytes at a time where the processor allows. Shared by the scanner and the writers.

#include <cstddef>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace byte_scan {

#ifdef __SSE2__
inline __m128i Load16(const void *p)
{
    return _mm_loadu_si128(static_cast<const __m128i *>(p));
}

// Lanes (0xFF) where the unsigned byte is at least / at most k, or equal to it.
inline __m128i AtLeast(__m128i v, int k)
{
    return _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(char(k))), v);
}
inline __m128i AtMost(__m128i v, int k)
{
    return _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(char(k))), v);
}
inline __m128i Equals(__m128i v, int k)
{
    return _mm_cmpeq_epi8(v, _mm_set1_epi8(char(k)));
}

// A bit for each byte of v that may end an XML name: a few more than do (any up to '\'', then
// '/', '<', '=', '>'), so each hit is looked up again.
inline unsigned NameEndHits(__m128i v)
{
    const __m128i angle = _mm_sub_epi8(v, _mm_set1_epi8('<'));  // '<' '=' '>' become 0 to 2
    const __m128i low = AtMost(v, '\'');
    const __m128i slash = Equals(v, '/');
    const __m128i marks = AtMost(angle, 2);
    return unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(low, slash), marks)));
}
#endif

// The first index in [from, len) of p holding a or b; len when none.
inline size_t FirstOfEither(const char *p, size_t from, size_t len, char a, char b)
{
    size_t i = from;
#ifdef __SSE2__
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    for (; i + 16 <= len; i += 16) {
        const __m128i chunk = Load16(p + i);
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

// Where in [from, len) of p the first sixteen-byte block starts that holds a '<', or a '&' that
// does not start "&lt;", "&gt;", "&amp;" or "&quot;"; at most len. Escaped markup is mostly those
// four: blocks of them are passed with one test each, and the rest is looked at byte by byte.
inline size_t PastCommonReferences(const char *p, size_t from, size_t len)
{
    size_t i = from;
#ifdef __SSE2__
    const auto eq = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    // Five bytes after a block's last '&' are looked at too: the block is read only when they stand.
    for (; i + 21 <= len; i += 16) {
        const __m128i c0 = Load16(p + i);
        if (_mm_movemask_epi8(eq(c0, '<')))
            break;
        const unsigned amps = unsigned(_mm_movemask_epi8(eq(c0, '&')));
        if (!amps)
            continue;
        const __m128i c1 = Load16(p + i + 1), c2 = Load16(p + i + 2), c3 = Load16(p + i + 3);
        const __m128i c4 = Load16(p + i + 4), c5 = Load16(p + i + 5);
        const __m128i ltGt =
            _mm_and_si128(_mm_or_si128(eq(c1, 'l'), eq(c1, 'g')), _mm_and_si128(eq(c2, 't'), eq(c3, ';')));
        const __m128i amp =
            _mm_and_si128(_mm_and_si128(eq(c1, 'a'), eq(c2, 'm')), _mm_and_si128(eq(c3, 'p'), eq(c4, ';')));
        const __m128i quot = _mm_and_si128(_mm_and_si128(eq(c1, 'q'), eq(c2, 'u')),
                                           _mm_and_si128(_mm_and_si128(eq(c3, 'o'), eq(c4, 't')), eq(c5, ';')));
        const unsigned known = unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(ltGt, amp), quot)));
        if (amps & ~known)
            break;
    }
#endif
    return i < len ? i : len;
}

// The first index in [from, len) of p holding stop, or holding skipped where over(i) gives 0;
// each skipped byte over(i) gives a length n for is passed with its n bytes. For text dense with
// them (references in escaped markup): those of a sixteen-byte block come from one mask.
template <typename Over>
inline size_t FirstStopOver(const char *p, size_t from, size_t len, char stop, char skipped, Over over)
{
    size_t i = from;
#ifdef __SSE2__
    while (i + 16 <= len) {
        const __m128i chunk = Load16(p + i);
        const unsigned stops = unsigned(_mm_movemask_epi8(Equals(chunk, stop)));
        const unsigned firstStop = stops ? unsigned(__builtin_ctz(stops)) : 16u;
        unsigned marks = unsigned(_mm_movemask_epi8(Equals(chunk, skipped))) & ((1u << firstStop) - 1);
        size_t resume = 0;
        while (marks) {
            const size_t at = i + size_t(__builtin_ctz(marks));
            const size_t n = over(at);
            if (n == 0)
                return at;
            const size_t past = at + n - i;
            if (past >= firstStop) {
                resume = at + n;
                break;
            }
            marks &= ~((1u << past) - 1);
        }
        if (resume) {
            i = resume;
            continue;
        }
        if (stops)
            return i + firstStop;
        i += 16;
    }
#endif
    while (i < len) {
        if (p[i] == stop)
            return i;
        if (p[i] != skipped) {
            ++i;
            continue;
        }
        const size_t n = over(i);
        if (n == 0)
            return i;
        i += n;
    }
    return len;
}

// The first index in [from, len) of p holding a byte up to top (unsigned); len when none. For
// bytes that text seldom holds: they are crossed sixty-four at a time with one test each, then
// sixteen.
inline int64_t FirstAtMost(const char *p, int64_t from, int64_t len, unsigned char top)
{
    int64_t i = from;
#ifdef __SSE2__
    const auto marks = [&](int64_t at) { return AtMost(Load16(p + at), top); };
    for (; i + 64 <= len; i += 64) {
        const __m128i low = _mm_or_si128(marks(i), marks(i + 16));
        const __m128i high = _mm_or_si128(marks(i + 32), marks(i + 48));
        if (_mm_movemask_epi8(_mm_or_si128(low, high)))
            break;
    }
    for (; i + 16 <= len; i += 16) {
        if (const int mask = _mm_movemask_epi8(marks(i)))
            return i + __builtin_ctz(unsigned(mask));
    }
#endif
    for (; i < len; ++i) {
        if (static_cast<unsigned char>(p[i]) <= top)
            return i;
    }
    return len;
}

// The first index in [from, size) of p whose byte ends a name (isEnd, a subset of the bytes
// NameEndHits finds); size when none.
template <typename IsEnd>
inline size_t FirstNameEnd(const char *p, size_t from, size_t size, IsEnd isEnd)
{
    size_t i = from;
#ifdef __SSE2__
    for (; i + 16 <= size; i += 16) {
        for (unsigned mask = NameEndHits(Load16(p + i)); mask; mask &= mask - 1) {
            const size_t at = i + size_t(__builtin_ctz(mask));
            if (isEnd(p[at]))
                return at;
        }
    }
#endif
    while (i < size && !isEnd(p[i]))
        ++i;
    return i;
}

// Where the name at b ends when it is the name at a (which stands before it in p), else npos
// (SIZE_MAX): the two are compared and b's end looked for in one pass.
template <typename IsEnd>
inline size_t SameNameEnd(const char *p, size_t size, size_t a, size_t b, IsEnd isEnd)
{
    constexpr size_t npos = SIZE_MAX;
    const auto ends = [&](size_t k) { return isEnd(p[a + k]) && isEnd(p[b + k]) ? b + k : npos; };
    size_t k = 0;
#ifdef __SSE2__
    for (; b + k + 16 <= size; k += 16) {
        const __m128i vb = Load16(p + b + k);
        const unsigned differ = ~unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(Load16(p + a + k), vb))) & 0xFFFFu;
        for (unsigned mask = differ | NameEndHits(vb); mask; mask &= mask - 1) {
            const size_t at = k + size_t(__builtin_ctz(mask));
            if (p[a + at] != p[b + at] || isEnd(p[b + at]))
                return ends(at);
        }
    }
#endif
    for (; b + k < size; ++k) {
        if (p[a + k] != p[b + k] || isEnd(p[b + k]))
            return ends(k);
    }
    // The text ends in b's name.
    return isEnd(p[a + k]) ? size : npos;
}

}  // namespace byte_scan
