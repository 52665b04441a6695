#include "save/CompressedEntries.h"

#include <QDir>
#include <QHash>

#include "save/mail/MailWriter.h"
#include "scanner/ArchiveWalk.h"
#include "scanner/FolderKinds.h"
#include "scanner/ScanGlobals.h"

namespace {

// Store items nothing could be read of are items no save writes, whatever its type: they count
// as not saved, so the save's end never says all was saved while the report names a loss.
void noteStoreItemsLost(MailSaveContext &context)
{
    if (StoreItemsLost > 0) {
        context.failed += StoreItemsLost;
        context.failures << QStringLiteral("%1 store item%2 of which nothing could be read: the line of their "
                                           "damaged store names what was lost")
                                .arg(StoreItemsLost)
                                .arg(StoreItemsLost == 1 ? "" : "s");
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

void NoteStoresNotWhole(MailSaveContext &context, const QString &output, const QSet<quint32> &kindsSaved)
{
    // Held once and damaged, a store's failing checksum may lie in any item's text: the items
    // written from it are saved, but not whole.
    static const QHash<int, quint32> kinds = {{int(olm::EntryRole::Contacts), FolderKindContacts},
                                              {int(olm::EntryRole::Calendar), FolderKindCalendar},
                                              {int(olm::EntryRole::Tasks), FolderKindTasks},
                                              {int(olm::EntryRole::Notes), FolderKindNotes}};
    for (const QString &name : qAsConst(StoresNotWhole)) {
        const auto kind = kinds.find(int(olm::classifyEntry(name.toUtf8())));
        if (kind == kinds.end() || !kindsSaved.contains(kind.value()))
            continue;
        ++context.incomplete;
        context.incompletes << QStringLiteral("Store \"%1\" written to %2 incomplete: its items were written from a "
                                              "copy that is damaged, and no copy of it is whole (the store's line "
                                              "names the damage)")
                                   .arg(name, QDir::toNativeSeparators(output));
    }
}
