#include "scanner/EntryTextScan.h"

#include "scanner/ByteScan.h"

#include <algorithm>

namespace olm {

namespace {

// First index in [from, len) holding a byte up to 3 (a NUL, a signature's third byte, or a 2),
// or only a NUL when !signatures; len when none. XML text holds none of them, so a hit is rare.
qint64 nextMark(const char *text, qint64 from, qint64 len, bool signatures)
{
    return byte_scan::FirstAtMost(text, from, len, signatures ? 3 : 0);
}

// The scan over the marks next(at) gives in turn: the first at or after at, or len.
template <typename Next>
qint64 scanMarks(const char *text, qint64 from, qint64 len, bool *nul, qint64 *resume, Next next)
{
    for (qint64 at = next(from); at < len; at = next(at + 1)) {
        const char c = text[at];
        if (c == 0) {
            *nul = true;
            continue;
        }
        if (c == 2)
            continue;
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

}  // namespace

qint64 ScanEntryText(const char *text, qint64 from, qint64 len, bool signatures, bool *nul, qint64 *resume)
{
    return scanMarks(text, from, len, nul, resume, [&](qint64 at) { return nextMark(text, at, len, signatures); });
}

qint64 ScanEntryTextMarked(const char *text, qint64 len, qint64 origin, const qint64 *marks, size_t count,
                           bool signatures, bool *nul, qint64 *resume)
{
    const qint64 *mark = marks;
    const qint64 *const end = marks + count;
    return scanMarks(text, 0, len, nul, resume, [&](qint64 at) {
        mark = std::lower_bound(mark, end, origin + at);
        // Without signatures only a NUL counts.
        while (mark != end && *mark - origin < len && !signatures && text[*mark - origin] != 0)
            ++mark;
        return mark != end && *mark - origin < len ? *mark - origin : len;
    });
}

void FindLowBytes(const char *bytes, qint64 len, qint64 origin, std::vector<qint64> *at)
{
    for (qint64 i = nextMark(bytes, 0, len, true); i < len; i = nextMark(bytes, i + 1, len, true))
        at->push_back(origin + i);
}

}  // namespace olm
