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
// descendants (own rows included) and up its ancestors, an own row's up its ancestors; then
// SetRecoverSelectedState.
void ApplyFolderBoxChange(QTreeWidgetItem *item);
// Every node and box to state (1 checked, anything else unchecked).
void MarkAllFolders(QTreeWidget *tree, quint8 state);
// The descendants' boxes and nodes to state, breadth first over the node list's parent ids.
void MarkChildrenLikeParent(QTreeWidgetItem *item, quint8 state);
// Each ancestor below the root follows its children.
void MarkParentsFromChildren(QTreeWidgetItem *item);
// Brings every column-7 code and node state in line with the boxes, parents following their
// children (own rows included); also after boxes were set without propagation. Then
// FoldersKeepingOwnItems is made afresh from the own rows of partly checked folders.
void SetRecoverSelectedState(QTreeWidget *tree);

// Every folder below the root that has subfolders shows its own items as a row of its own, its
// first child, named OwnRowName(folder's name): a box shown checked saves the folder's own items
// and all below it, a box shown empty nothing of it, and a partly checked folder's own row shows
// whether its own items are saved. The row carries the folder's id and kind; it has no node.
QString OwnRowName(const QString &folderName);
bool IsOwnRow(const QTreeWidgetItem *item);
bool HasOwnRow(const QTreeWidgetItem *folder);
// Boxes set one by one (as the kind views do): a folder checked or unchecked whole sets its own
// row the same, so its own items follow its box.
void TakeFolderBoxesAsChosen(QTreeWidget *tree);
