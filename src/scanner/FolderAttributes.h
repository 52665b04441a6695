#pragma once
// The folder attribute list: one node per folder-tree item, the root first, null before a tree
// is built. Built and changed by the browsing side on the GUI thread; read by the save start and
// by the saving thread while a save runs (nothing rebuilds it then).

#include <QtGlobal>

struct FldrAtribNode {
    quint8 bState;      // 1 checked, 2 partly checked, 3 unchecked
    qint64 llParentId;  // the parent folder's id from the folder maps (0 for the root)
    qint64 llFolderId;  // the folder's id (501 for the root)
    quint32 dwKind;     // a FolderKind; any other value is mail
    FldrAtribNode *pNext;
};

extern FldrAtribNode *StartFldrAtrib;
extern FldrAtribNode *EndFldrAtrib;

// Appends a node made with new (the only allocation FreeFolderAttributes knows how to free).
FldrAtribNode *AppendFolderAttribute(quint8 bState, qint64 llParentId, qint64 llFolderId, quint32 dwKind);
// The same with parent id 0, for lists built without a tree.
FldrAtribNode *AppendFolderAttribute(quint8 bState, qint64 llFolderId, quint32 dwKind);
// The first node of the folder, or null.
FldrAtribNode *FindFolderAttribute(qint64 llFolderId);
// Frees every node and nulls both ends.
void FreeFolderAttributes();
