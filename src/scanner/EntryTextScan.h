#pragma once
// One pass over an entry's text for the bytes that change how it is taken: a NUL, which the
// builders must know of, and a ZIP signature, which stored XML never holds (sizes were damaged).

#include <QtGlobal>

namespace olm {

// Looks at text[from, len) for a NUL byte and, when signatures, for the first "PK\3\4" or
// "PK\1\2" whose third byte lies at index 2 or later. Sets *nul when a NUL lies before the
// signature found (never clears it). Returns where that signature starts, or -1. *resume is
// where a call over more of the same text starts: a third byte that ends the bytes given is
// looked at again once its fourth is there.
qint64 ScanEntryText(const char *text, qint64 from, qint64 len, bool signatures, bool *nul, qint64 *resume);

}  // namespace olm
