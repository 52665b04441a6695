#include "platform/WorkerGlobals.h"
#include "scanner/BuilderCommon.h"
#include "scanner/FolderMaps.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/XmlEntities.h"

namespace {

// 1..255 units counted before entities are undone; line breaks become blanks.
char *taskName(const ItemElements &item)
{
    const QString value = trimmedValue(item, "<OPFTaskCopyName");
    if (value.isEmpty() || value.size() > 255)
        return nullptr;
    QString name = UnescapeXmlEntities(value, EntityForm::Scanned);
    name.replace(QLatin1Char('\n'), QLatin1Char(' '));
    name.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return MakeCString(name.toUtf8());
}

}  // namespace

void QFolderInformationThread::InitializeTSRC(const QString &path, qint64 end, qint64 size)
{
    const std::string_view itemEnd = "</task>";
    treeCreator(path, true, QStringLiteral("task"));
    const qint64 folderId = recordFolderId(path);
    if (!bStopFlag) {
        SplitStoreItems(currentText(), itemEnd, end - size, [&](const ItemPiece &item) {
            TasksInformation *rec = appendRecord(TmpTSRCPtrStart, TmpTSRCPtrEnd, TaskItemCount);
            if (!rec)
                return false;
            rec->llFolderId = folderId;
            status(QStringLiteral("Scanning: Tasks..."));
            progressAt(item.start);
            rec->llItemOffset = item.start;
            rec->dwItemLength = clamp32(item.length);
            MakeRecordUuid(rec->szUuid, item);
            const SoundElements sound(item, "<task", {"<OPFTaskCopyName", "<OPFTaskCopyNote", "<OPFTaskGetPriority"});
            const ItemElements &elements = sound.elements();
            rec->pName = taskName(elements);
            sound.longText("<OPFTaskCopyNote", item.start, &rec->dwNoteLength, &rec->dwNoteOffset);
            rec->cPriority = priorityCode(trimmedValue(elements, "<OPFTaskGetPriority"));
            return !bStopFlag;
        });
    }
    llParentIdRunning = 0;
}
