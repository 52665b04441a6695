#pragma once
// One pass over an entry's text for the bytes that change how it is taken: a NUL, which the
// builders must know of, and a ZIP signature, which stored XML never holds (sizes were damaged).

#include <QtGlobal>

#include <vector>

namespace olm {

// Looks at text[from, len) for a NUL byte and, when signatures, for the first "PK\3\4" or
// "PK\1\2" whose third byte lies at index 2 or later. Sets *nul when a NUL lies before the
// signature found (never clears it). Returns where that signature starts, or -1. *resume is
// where a call over more of the same text starts: a third byte that ends the bytes given is
// looked at again once its fourth is there.
qint64 ScanEntryText(const char *text, qint64 from, qint64 len, bool signatures, bool *nul, qint64 *resume);

// As ScanEntryText from 0, where the bytes up to 3 of text (which stands at origin) are known:
// marks[0, count) holds where each stands, in ascending order (more past it do no harm).
qint64 ScanEntryTextMarked(const char *text, qint64 len, qint64 origin, const qint64 *marks, size_t count,
                           bool signatures, bool *nul, qint64 *resume);

// Appends origin + i for every byte up to 3 at bytes[i], in ascending order.
void FindLowBytes(const char *bytes, qint64 len, qint64 origin, std::vector<qint64> *at);

}  // namespace olm
