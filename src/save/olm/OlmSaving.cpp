// Save type 0: the checked folders into a new OLM archive, "RepairedOLMfile.olm" in the
// destination.

#include "platform/WorkerGlobals.h"
#include "save/OutputLayout.h"
#include "save/QMailSavingThread.h"
#include "save/SaveGlobals.h"
#include "save/SaveRun.h"
#include "save/olm/OlmArchiveWriter.h"

void QMailSavingThread::OLMSaving(QString folderIds)
{
    SaveRun *run = currentRun();
    if (!run)
        return;
    OlmSaveHooks hooks;
    hooks.stopRequested = &QMailSavingThread::stopRequested;
    hooks.reportItem = [this] { reportItem(QStringLiteral("Saving Mail Folders...")); };
    OlmSelection selection;
    selection.cont = cont;
    selection.cal = cal;
    selection.task = task;
    selection.note = note;
    selection.mail = mail;
    selection.folderIds = folderIds;
    OlmArchiveWriter writer(fileDescriptor, hooks);
    const bool ok = writer.write(WriterOutputFor(SaveTypeOLM, run->mail.saveDir, QString()), selection);
    // What the archive holds at the end: after a failed write none of it.
    run->mail.written += writer.itemsWritten();
    run->mail.incomplete += writer.incompletes().size();
    run->mail.incompletes += writer.incompletes();
    run->mail.failures += writer.failures();
    run->mail.failed += writer.failures().size();
    // The archive itself is named when no item line already says why it is missing.
    if (!ok && writer.itemsLost() == 0) {
        ++run->mail.failed;
        run->mail.failures << writer.error();
    }
}
