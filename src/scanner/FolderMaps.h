#pragma once
// Folder paths to numeric folder ids. Ids grow from 502 per scan, so a parent's id is always
// smaller than its children's; the folder tree relies on that order.

#include <QString>
#include <QtGlobal>

// Kind markers appended to every folder key of a non-mail folder.
QString FolderKindMarker(const QString &kind);

// Looks among the ids stored under name (newest first) for one whose parent is parentId.
bool GetParentId(const QString &name, qint64 parentId, qint64 *id);

// Enters every component of path into the maps under its parent (creating missing folders) and
// leaves the last component's id in llParentIdRunning. An empty path does nothing.
void treeCreator(const QString &path, bool nonMail, const QString &kind);
