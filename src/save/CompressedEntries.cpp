#include "save/CompressedEntries.h"

#include "save/mail/MailWriter.h"
#include "scanner/ArchiveWalk.h"
#include "scanner/ScanGlobals.h"

void NoteCompressedEntries(MailSaveContext &context)
{
    // Set, not added to: the count stays right however often a run asks.
    context.unreadEntries = 0;
    context.unread.clear();
    for (const FileOffsetNode *node = tmpAtFOStart; node; node = node->pNext) {
        if (!node->bCompressed)
            continue;
        ++context.unreadEntries;
        context.unread << olm::EntryLine(node->pEntryName ? node->pEntryName : "", node->llDataOffset,
                                         QStringLiteral(": compressed (method %1), not read").arg(node->wMethod));
    }
    // The entries the walk could not read as either of the archive's sources gives them, after
    // the compressed ones (whose lines the archive writer finds by their order).
    context.unreadEntries += EntriesNotRead.size();
    context.unread += EntriesNotRead;
    context.recovered += EntriesReadElsewhere;
}
