#include "platform/WorkerGlobals.h"
#include "scanner/BuilderCommon.h"
#include "scanner/FolderMaps.h"
#include "scanner/QFolderInformationThread.h"

void QFolderInformationThread::InitializeCTRC(const QString &path, qint64 end, qint64 size)
{
    const std::string_view itemEnd = "</contact>";
    treeCreator(path, true, QStringLiteral("contact"));
    const qint64 folderId = recordFolderId(path);
    if (!bStopFlag) {
        SplitStoreItems(currentText(), itemEnd, end - size, [&](const ItemPiece &item) {
            ContactInformation *rec = appendRecord(TmpCTRCPtrStart, TmpCTRCPtrEnd, ContactItemCount);
            if (!rec)
                return false;
            status(QStringLiteral("Scanning: Contacts..."));
            progressAt(item.start);
            rec->llFolderId = folderId;
            MakeRecordUuid(rec->szUuid, item);
            rec->llItemOffset = item.start;
            rec->dwItemLength = clamp32(item.length);
            const SoundElements sound(item, "<contact",
                                      {"<OPFContactCopyFirstName", "<OPFContactCopyLastName",
                                       "<OPFContactCopyNotesPlain", "<OPFContactAddPicture"});
            const ItemElements &elements = sound.elements();
            rec->pFirstName = MakeShortText(elements, "<OPFContactCopyFirstName", 255);
            rec->pLastName = MakeShortText(elements, "<OPFContactCopyLastName", 255);
            sound.longText("<OPFContactCopyNotesPlain", item.start, &rec->dwNotesLength, &rec->dwNotesOffset);
            sound.longText("<OPFContactAddPicture", item.start, &rec->dwPictureLength, &rec->dwPictureOffset);
            return !bStopFlag;
        });
    }
    llParentIdRunning = 0;
}
