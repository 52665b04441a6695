#pragma once
// The folder tree's columns and roles, the bounded walk up the folder maps, and the map from
// folder id to tree item. GUI thread only. The widget-free folder data is in FolderKinds.h.

#include "browse/ItemRoles.h"
#include "scanner/FolderKinds.h"

#include <QMap>
#include <QtGlobal>

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
