#include "platform/WorkerGlobals.h"
#include "scanner/BuilderCommon.h"
#include "scanner/FolderMaps.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/XmlEntities.h"

namespace {

// Entities undone first, then at most 255 units; line breaks stay.
char *noteTitle(const ItemElements &item)
{
    const QString value = trimmedValue(item, "<OPFNoteCopyTitle");
    if (value.isEmpty())
        return nullptr;
    const QString title = UnescapeXmlEntities(value, EntityForm::Scanned);
    return title.size() > 255 ? nullptr : MakeCString(title.toUtf8());
}

}  // namespace

void QFolderInformationThread::InitializeNTRC(const QString &path, qint64 end, qint64 size)
{
    const std::string_view itemEnd = "</note>";
    treeCreator(path, true, QStringLiteral("notes"));
    const qint64 folderId = recordFolderId(path);
    if (!bStopFlag) {
        SplitStoreItems(currentText(), itemEnd, end - size, [&](const ItemPiece &item) {
            NotesInformation *rec = appendRecord(TmpNTRCPtrStart, TmpNTRCPtrEnd, NotesItemCount);
            if (!rec)
                return false;
            rec->llFolderId = folderId;
            rec->llItemOffset = item.start;
            rec->dwItemLength = clamp32(item.length);
            status(QStringLiteral("Scanning: Notes..."));
            MakeRecordUuid(rec->szUuid, item);
            const SoundElements sound(item, "<note", {"<OPFNoteCopyTitle", "<OPFNoteCopyText"});
            rec->pTitle = noteTitle(sound.elements());
            sound.longText("<OPFNoteCopyText", item.start, &rec->dwTextLength, &rec->dwTextOffset);
            return !bStopFlag;
        });
    }
    llParentIdRunning = 0;
}
