#include "save/CompressedEntries.h"

#include "save/mail/MailWriter.h"
#include "scanner/ArchiveWalk.h"
#include "scanner/ScanGlobals.h"

namespace {

// Store items nothing could be read of are items no save writes, whatever its type: they count
// as not saved, so the save's end never says all was saved while the report names a loss. A
// store written from a copy that is not whole counts as saved incomplete.
void noteStoreItemsLost(MailSaveContext &context)
{
    if (StoreItemsLost > 0) {
        context.failed += StoreItemsLost;
        context.failures << QStringLiteral("%1 store item%2 of which nothing could be read: the line of their "
                                           "damaged store names what was lost")
                                .arg(StoreItemsLost)
                                .arg(StoreItemsLost == 1 ? "" : "s");
    }
    // Items written from a store no copy of which is whole may hold changed text: saved, not whole.
    for (const QString &name : qAsConst(StoresNotWhole)) {
        ++context.incomplete;
        context.incompletes << QStringLiteral("Store \"%1\": its items were written from a copy that is not whole; "
                                              "the line of the damaged store names the damage")
                                   .arg(name);
    }
}

}  // namespace

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
    noteStoreItemsLost(context);
}
