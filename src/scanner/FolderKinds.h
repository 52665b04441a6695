#pragma once
// What a folder is, apart from any widget: a folder key's kind, icon and shown name, the ids of
// the per-kind "Folder1" items, and the attribute list of a whole-archive save. Read by the
// folder tree, the save start and the saving thread.

#include <QString>
#include <QVector>
#include <QtGlobal>

// Folder kinds as column 6 and the attribute list hold them; any other value is mail.
enum FolderKind : quint32 {
    FolderKindMail = 0,
    FolderKindContacts = 41,
    FolderKindCalendar = 42,
    FolderKindTasks = 43,
    FolderKindNotes = 44,
};

// Icon, kind and shown name of one folder.
struct FolderLook {
    QString shownName;
    quint32 kind = FolderKindMail;
    QString icon;
};

// A folder's kind comes only from the kind marker the scan puts into the keys of contacts,
// calendar, tasks and notes folders; an unmarked key is a mail folder, whatever its words. The
// standard mail folders get their own icons directly under the root (parentId 501) only. The
// shown name is the key less its marker.
FolderLook FolderLookFor(const QString &key, qint64 parentId);
// The icon of a kind's folders (the plain folder for mail).
QString FolderIconForKind(quint32 kind);

// Items recovered without a folder carry the dummy id 4294967294 whatever their kind. The mail
// "Folder1" uses that id itself; contacts, calendar items, tasks and notes each get a "Folder1"
// of their own with a reserved id just below it (4294967290..4294967293), so a click and a save
// can tell the kinds apart. RecordFolderId maps such an id back to the id the records carry;
// every lister, counter and writer matches record folder ids through it.
qint64 Folder1IdForKind(quint32 kind);
bool IsKindFolder1Id(qint64 id);
qint64 RecordFolderId(qint64 folderId);
// The non-mail kinds that have records in the dummy folder, in kind order.
QVector<quint32> KindsRecoveredWithoutFolder();
// The folder attribute list of a whole-archive save without the window: every folder of the
// scan checked, in the order the tree makes its nodes (the root, the scanned folders by id, the
// mail "Folder1", then a "Folder1" per kind recovered without a folder).
void CheckEveryScannedFolder();
