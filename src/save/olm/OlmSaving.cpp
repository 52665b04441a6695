// Save type 0: the checked folders into a new OLM archive, "RepairedOLMfile.olm" in the
// destination.

#include "platform/WorkerGlobals.h"
#include "save/OutputLayout.h"
#include "save/QMailSavingThread.h"
#include "save/SaveGlobals.h"
#include "save/SaveRun.h"
#include "save/olm/OlmArchiveWriter.h"
#include "scanner/ScanGlobals.h"

namespace {

// The compressed entries the new archive holds are copied, not left unread: their lines and
// counts say so. The lines stand in the order of the compressed entries in the list.
void NoteCompressedEntriesCopied(SaveRun &run, const QSet<qint64> &copied)
{
    const QLatin1String notRead(", not read");
    int line = 0;
    for (const FileOffsetNode *node = tmpAtFOStart; node && line < run.mail.unread.size(); node = node->pNext) {
        if (!node->bCompressed)
            continue;
        QString &text = run.mail.unread[line++];
        if (!copied.contains(node->llDataOffset) || !text.endsWith(notRead))
            continue;
        text.chop(notRead.size());
        text += QStringLiteral(", copied as it is, unread");
        ++run.copiedEntries;
        --run.mail.unreadEntries;
    }
}

}  // namespace

void QMailSavingThread::OLMSaving(QString folderIds)
{
    SaveRun *run = currentRun();
    if (!run)
        return;
    OlmSaveHooks hooks;
    hooks.stopRequested = &QMailSavingThread::stopRequested;
    hooks.reportItem = [this] { reportItem(QStringLiteral("Saving Mail Folders...")); };
    hooks.addSteps = [this](qint64 count) { Q_EMIT moreSteps(count); };
    OlmSelection selection;
    selection.cont = cont;
    selection.cal = cal;
    selection.task = task;
    selection.note = note;
    selection.mail = mail;
    selection.folderIds = folderIds;
    OlmArchiveWriter writer(fileDescriptor, hooks);
    const qint64 ticksBefore = run->ticks;
    const bool ok = writer.write(WriterOutputFor(SaveTypeOLM, run->mail.saveDir, QString()), selection);
    // Any other item the archive counts beyond its ticks still gets its step, so steps, the
    // bar's maximum and the items written end equal.
    const qint64 unticked = writer.itemsWritten() - (run->ticks - ticksBefore);
    if (unticked > 0) {
        Q_EMIT moreSteps(unticked);
        for (qint64 i = 0; i < unticked; ++i)
            reportItem(QStringLiteral("Saving Mail Folders..."));
    }
    // What the archive holds at the end: after a failed write none of it.
    run->mail.written += writer.itemsWritten();
    run->mail.incomplete += writer.incompletes().size();
    run->mail.incompletes += writer.incompletes();
    run->mail.failures += writer.failures();
    run->mail.failed += writer.failures().size();
    // Renamed items lose nothing: saved, with a line of their own.
    run->mail.recovered += writer.renames();
    run->mail.removed += writer.leftoversRemoved();
    if (ok)
        NoteCompressedEntriesCopied(*run, writer.compressedCopied());
    // The archive itself is named when no item line already says why it is missing.
    if (!ok && writer.itemsLost() == 0) {
        ++run->mail.failed;
        run->mail.failures << writer.error();
    }
}
