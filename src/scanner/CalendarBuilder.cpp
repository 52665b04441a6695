#include "platform/WorkerGlobals.h"
#include "scanner/BuilderCommon.h"
#include "scanner/FolderMaps.h"
#include "scanner/QFolderInformationThread.h"

void QFolderInformationThread::InitializeCLRC(const QString &path, qint64 end, qint64 size)
{
    const std::string_view itemEnd = "</appointment>";
    treeCreator(path, true, QStringLiteral("calender"));
    const qint64 folderId = recordFolderId(path);
    if (!bStopFlag) {
        SplitStoreItems(currentText(), itemEnd, end - size, [&](const ItemPiece &item) {
            CalenderInformation *rec = appendRecord(TmpCLRCPtrStart, TmpCLRCPtrEnd, CalendarItemCount);
            if (!rec)
                return false;
            status(QStringLiteral("Scanning: Calender Events..."));
            progressAt(item.start);
            rec->llFolderId = folderId;
            MakeRecordUuid(rec->szUuid, item);
            rec->llItemOffset = item.start;
            rec->dwItemLength = clamp32(item.length);
            const SoundElements sound(item, "<appointment",
                                      {"<OPFCalendarEventCopyDescriptionPlain", "<OPFCalendarEventCopyLocation",
                                       "<OPFCalendarEventCopySummary"});
            const ItemElements &elements = sound.elements();
            sound.longText("<OPFCalendarEventCopyDescriptionPlain", item.start, &rec->dwDescriptionLength,
                           &rec->dwDescriptionOffset);
            // Calendar texts have no length bound.
            rec->pLocation = MakeShortText(elements, "<OPFCalendarEventCopyLocation", 0);
            rec->pSummary = MakeShortText(elements, "<OPFCalendarEventCopySummary", 0);
            return !bStopFlag;
        });
    }
    llParentIdRunning = 0;
}
