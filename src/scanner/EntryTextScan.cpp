#include "scanner/EntryTextScan.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace olm {

namespace {

// First index in [from, len) holding 0, 1 or 3 (a NUL, or a signature's third byte), or len.
// XML text holds none of them, so a hit is rare and the bytes are crossed sixteen at a time.
qint64 nextMark(const char *text, qint64 from, qint64 len, bool signatures)
{
    qint64 i = from;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(signatures ? 1 : 0);
    const __m128i three = _mm_set1_epi8(signatures ? 3 : 0);
    for (; i + 16 <= len; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i));
        const __m128i hit =
            _mm_or_si128(_mm_cmpeq_epi8(v, zero), _mm_or_si128(_mm_cmpeq_epi8(v, one), _mm_cmpeq_epi8(v, three)));
        if (const int mask = _mm_movemask_epi8(hit))
            return i + __builtin_ctz(unsigned(mask));
    }
#endif
    for (; i < len; ++i) {
        const char c = text[i];
        if (c == 0 || (signatures && (c == 1 || c == 3)))
            return i;
    }
    return len;
}

}  // namespace

qint64 ScanEntryText(const char *text, qint64 from, qint64 len, bool signatures, bool *nul, qint64 *resume)
{
    for (qint64 at = nextMark(text, from, len, signatures); at < len; at = nextMark(text, at + 1, len, signatures)) {
        const char c = text[at];
        if (c == 0) {
            *nul = true;
            continue;
        }
        if (at + 1 >= len) {
            *resume = at;
            return -1;
        }
        if (at >= 2 && text[at - 2] == 'P' && text[at - 1] == 'K' && text[at + 1] == (c == 3 ? 4 : 2)) {
            *resume = at - 2;
            return at - 2;
        }
    }
    *resume = len;
    return -1;
}

}  // namespace olm
