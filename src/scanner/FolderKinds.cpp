#include "scanner/FolderKinds.h"

#include "scanner/FolderAttributes.h"
#include "scanner/ScanGlobals.h"

namespace {

struct KindMarker {
    const char *marker;
    quint32 kind;
    const char *icon;
};

// Kind test order: contacts, calendar, tasks, notes (first match wins).
const KindMarker kKindMarkers[] = {
    {"notmailcontact", FolderKindContacts, ":/images/img_AddressBookIcon.png"},
    {"notmailcalender", FolderKindCalendar, ":/images/img_CalendarIcon.png"},
    {"notmailtask", FolderKindTasks, ":/images/img_TaskIcon.png"},
    {"notmailnotes", FolderKindNotes, ":/images/img_NotesIcon.png"},
};

// Marker removal order for the shown name: notes, task, calender, contact; one marker word only.
const char *const kRemovalOrder[] = {"notmailnotes", "notmailtask", "notmailcalender", "notmailcontact"};

const struct {
    const char *name;
    const char *icon;
} kStandardFolders[] = {
    {"Deleted Items", ":/images/img_DeletedFolderIcon.png"},
    {"Sent Items", ":/images/img_SentFolderIcon.png"},
    {"Drafts", ":/images/img_DraftsFolderIcon.png"},
    {"Inbox", ":/images/img_InboxFolderIcon.png"},
};

const char kPlainFolderIcon[] = ":/images/img_Folder.png";

template <typename T>
bool anyInDummyFolder(const T *head)
{
    for (const T *r = head; r; r = r->pNext) {
        if (r->llFolderId == llFolder1Id)
            return true;
    }
    return false;
}

}  // namespace

QString FolderIconForKind(quint32 kind)
{
    for (const KindMarker &m : kKindMarkers) {
        if (m.kind == kind)
            return QLatin1String(m.icon);
    }
    return QLatin1String(kPlainFolderIcon);
}

FolderLook FolderLookFor(const QString &key, qint64 parentId)
{
    FolderLook look;
    look.icon = QLatin1String(kPlainFolderIcon);
    bool standard = false;
    if (parentId == llRootId) {
        for (const auto &f : kStandardFolders) {
            if (key == QLatin1String(f.name)) {
                look.icon = QLatin1String(f.icon);
                standard = true;
                break;
            }
        }
    }
    if (!standard) {
        for (const KindMarker &m : kKindMarkers) {
            if (key.contains(QLatin1String(m.marker))) {
                look.kind = m.kind;
                look.icon = QLatin1String(m.icon);
                break;
            }
        }
    }
    look.shownName = key;
    for (const char *marker : kRemovalOrder) {
        if (key.contains(QLatin1String(marker))) {
            look.shownName.remove(QLatin1String(marker));
            break;
        }
    }
    return look;
}

qint64 Folder1IdForKind(quint32 kind)
{
    if (kind >= FolderKindContacts && kind <= FolderKindNotes)
        return llFolder1Id - 4 + qint64(kind - FolderKindContacts);
    return llFolder1Id;
}

bool IsKindFolder1Id(qint64 id)
{
    return id >= llFolder1Id - 4 && id < llFolder1Id;
}

qint64 RecordFolderId(qint64 folderId)
{
    return IsKindFolder1Id(folderId) ? llFolder1Id : folderId;
}

QVector<quint32> KindsRecoveredWithoutFolder()
{
    QVector<quint32> kinds;
    if (anyInDummyFolder(TmpCTRCPtrStart))
        kinds << FolderKindContacts;
    if (anyInDummyFolder(TmpCLRCPtrStart))
        kinds << FolderKindCalendar;
    if (anyInDummyFolder(TmpTSRCPtrStart))
        kinds << FolderKindTasks;
    if (anyInDummyFolder(TmpNTRCPtrStart))
        kinds << FolderKindNotes;
    return kinds;
}

void CheckEveryScannedFolder()
{
    FreeFolderAttributes();
    AppendFolderAttribute(1, 0, llRootId, FolderKindMail);
    for (auto it = objMapFID_PID.cbegin(); it != objMapFID_PID.cend(); ++it)
        AppendFolderAttribute(1, it.value(), it.key(), FolderLookFor(objMapFID_Name.value(it.key()), it.value()).kind);
    AppendFolderAttribute(1, llRootId, Folder1IdForKind(FolderKindMail), FolderKindMail);
    for (quint32 kind : KindsRecoveredWithoutFolder())
        AppendFolderAttribute(1, llRootId, Folder1IdForKind(kind), kind);
}
