#pragma once
// What the folder tree is made of, apart from the widgets: a folder key's kind, icon and shown
// name, the ids of the per-kind "Folder1" items, the bounded walk up the folder maps, and the
// map from folder id to tree item. GUI thread only.

#include <QMap>
#include <QString>
#include <QVector>
#include <QtGlobal>
#include <qnamespace.h>

class QTreeWidgetItem;

// Folder kinds as column 6 and the attribute list hold them; any other value is mail.
enum FolderKind : quint32 {
    FolderKindMail = 0,
    FolderKindContacts = 41,
    FolderKindCalendar = 42,
    FolderKindTasks = 43,
    FolderKindNotes = 44,
};

// Columns of the folder tree's items.
enum FolderColumn {
    FolderColumnName = 0,      // shown name, icon, check box
    FolderColumnId = 1,        // folder id in decimal
    FolderColumnParent = 2,    // parent id in decimal ("500" on the root)
    FolderColumnPath = 3,      // "/Main Identity.rge/Folder1" on the mail "Folder1"
    FolderColumnKind = 6,      // "41".."44" on contacts, calendar, tasks and notes folders
    FolderColumnCheck = 7,     // check code "1", "2" or "3"
};

// Data role of column 0 that holds the icon's resource path, so the picture can be named.
constexpr int kFolderIconRole = Qt::UserRole + 1;

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

// The tree item of a folder's nearest ancestor: the walk goes up parents (value() of a missing
// id is 0) until an id in placed, and ends without one at id 0 or after parents.size() + 1
// steps, so a cycle or a self-parent in damaged maps ends the walk instead of hanging it.
QTreeWidgetItem *NearestPlacedAncestor(qint64 id, const QMap<qint64, qint64> &parents,
                                       const QMap<qint64, QTreeWidgetItem *> &placed);

// Folder id -> tree item for the root and every scanned folder while the tree is built (not the
// "Folder1" items). Points into the folder tree; emptied before each build and by the clean-up.
extern QMap<qint64, QTreeWidgetItem *> objMapFileIdTreeItem;
