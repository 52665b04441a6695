#pragma once
// The folder tree: its columns and roles, building it from the scan's folder maps, and the
// three-state check propagation that keeps each folder's box, column-7 code and attribute node
// in step. GUI thread only. The widget-free folder data is in FolderKinds.h.

#include "browse/ItemRoles.h"
#include "scanner/FolderKinds.h"

#include <QMap>
#include <QString>
#include <QtGlobal>

class QTreeWidget;
class QTreeWidgetItem;

// Columns of the folder tree's items.
enum FolderColumn {
    FolderColumnName = 0,    // shown name, icon, check box
    FolderColumnId = 1,      // folder id in decimal
    FolderColumnParent = 2,  // parent id in decimal ("500" on the root)
    FolderColumnPath = 3,    // "/Main Identity.rge/Folder1" on the mail "Folder1"
    FolderColumnKind = 6,    // the FolderKind in decimal on contacts, calendar, tasks and notes folders
    FolderColumnCheck = 7,   // check code "1", "2" or "3"
};

// The tree item of a folder's nearest ancestor: the walk goes up parents (value() of a missing
// id is 0) until an id in placed, and ends without one at id 0 or after parents.size() + 1
// steps, so a cycle or a self-parent in damaged maps ends the walk instead of hanging it.
QTreeWidgetItem *NearestPlacedAncestor(qint64 id, const QMap<qint64, qint64> &parents,
                                       const QMap<qint64, QTreeWidgetItem *> &placed);

// Folder id -> tree item for the root and every scanned folder while the tree is built (not the
// "Folder1" items). Points into the folder tree; emptied before each build and by the clean-up.
extern QMap<qint64, QTreeWidgetItem *> objMapFileIdTreeItem;

// The scan's folder maps the tree is built from: id -> parent id, id -> folder key.
struct FolderMaps {
    const QMap<qint64, qint64> &parents;
    const QMap<qint64, QString> &names;
};

// Builds the tree afresh: the root named rootName, every folder of the maps whose ancestors are
// placed, then a "Folder1" for mail and for each kind recovered without a folder. The folder
// attribute list and objMapFileIdTreeItem are made afresh with it, every box checked.
void GenerateFolderTree(QTreeWidget *tree, const QString &rootName, const FolderMaps &maps);
// Places one folder under its nearest placed ancestor (left out when there is none).
void AddFolderToTree(qint64 folderId, const FolderMaps &maps);

// The same check state lives in the box, in column 7 ("1", "2", "3") and in the node (1, 2, 3).
quint8 FolderStateCode(Qt::CheckState box);
Qt::CheckState FolderBoxFor(quint8 state);
qint64 FolderIdOf(const QTreeWidgetItem *item);
// Checked when every child is, unchecked when none is (partly or fully), else partly checked.
Qt::CheckState StateFromChildren(const QTreeWidgetItem *parent);

// Carries a changed box through the tree: the root's to every folder, another's to its
// descendants and up its ancestors; then SetRecoverSelectedState.
void ApplyFolderBoxChange(QTreeWidgetItem *item);
// Every node and box to state (1 checked, anything else unchecked).
void MarkAllFolders(QTreeWidget *tree, quint8 state);
// The descendants' boxes and nodes to state, breadth first over the node list's parent ids.
void MarkChildrenLikeParent(QTreeWidgetItem *item, quint8 state);
// Each ancestor below the root follows its children.
void MarkParentsFromChildren(QTreeWidgetItem *item);
// Brings every column-7 code and node state in line with the boxes, parents following their
// children; also after boxes were set without propagation. A checked box puts its folder's own
// items back into the save, an unchecked box without subfolders takes them out; then
// FoldersKeepingOwnItems and FoldersLeavingOwnItems are made afresh from the tree.
void SetRecoverSelectedState(QTreeWidget *tree);

// Whether the user left the folder's own items out of the save (kFolderOwnLeftOutRole).
bool FolderOwnLeftOut(const QTreeWidgetItem *item);
void SetFolderOwnLeftOut(QTreeWidgetItem *item, bool leftOut);
// Every folder's own items follow its box as it stands (boxes set one by one, as the kind views
// do): unchecked leaves them out, checked or partly checked keeps them.
void TakeFolderBoxesAsChosen(QTreeWidget *tree);
