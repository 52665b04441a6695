// The OLM archive writer of save type 0, called once after the walk. It walks the messages of the
// listed folders and the items of the selected kinds, honours the stop and reports each item; it
// writes no archive yet, and says so.

#include "save/QMailSavingThread.h"
#include "save/SaveGlobals.h"
#include "save/SaveRun.h"

namespace {

template <typename Record>
qint64 CountRecords(const Record *head)
{
    qint64 count = 0;
    for (; head; head = head->pNext)
        ++count;
    return count;
}

} // namespace

void QMailSavingThread::OLMSaving(QString folderIds)
{
    SaveRun *run = currentRun();
    if (!run)
        return;
    // The save's one output file is not made yet, whatever the selection holds.
    reportNotWritten(QStringLiteral("OLM file"), 1);
    const QString text = QStringLiteral("Saving Mail Folders...");
    if (mail) {
        for (const QString &part : folderIds.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            bool ok = false;
            const qulonglong id = part.toULongLong(&ok, 10);
            if (ok && !tickItems(run->messagesOf(qint64(id)).size(), text))
                return;
        }
    }
    // The kinds' entries go into the new archive whole, whichever of their folders is checked.
    const struct {
        bool selected;
        qint64 count;
    } kinds[] = {{cont, CountRecords(TmpCTRCPtrStart)}, {cal, CountRecords(TmpCLRCPtrStart)},
                 {task, CountRecords(TmpTSRCPtrStart)}, {note, CountRecords(TmpNTRCPtrStart)}};
    for (const auto &kind : kinds) {
        if (kind.selected && !tickItems(kind.count, text))
            return;
    }
}
